#include "platform/window/controls.h"

#include "support.h"

namespace windowtest {
namespace {

class ControlsTest : public WindowTest {
protected:
    void SetUp() override { createMainWithList(); }

    Window control(ControlKind kind, int row, int id, std::u16string_view text = u"", unsigned options = 0,
                   int width = 30) {
        return createWindow({.kind = kind,
                             .text = text,
                             .options = options,
                             .rect = {0, row, width, row + 1},
                             .parent = main,
                             .id = id});
    }
};

// A text longer than its field scrolls to keep the caret in view; only the focused field
// looks focused, and a label looks like one.
TEST_F(ControlsTest, ALongTextScrollsToTheCaretAndEachControlKeepsItsLook) {
    destroyWindow(list);
    Window edit = control(ControlKind::edit, 0, 4, u"ftp.example.com/pub/mirrors/debian");
    control(ControlKind::edit, 1, 5, u"secret");
    setWindowFont(control(ControlKind::staticText, 2, 6, u"Host:"), Font::label);
    setFocus(edit);
    runUntilIdle();
    EXPECT_EQ(terminal.rowText(1), " mple.com/pub/mirrors/debian");
    EXPECT_EQ(terminal.styleAt(1, 29), CellStyle::focusedField);
    EXPECT_EQ(terminal.styleAt(2, 29), CellStyle::field);
    EXPECT_EQ(terminal.styleAt(3, 0), CellStyle::label);
}

TEST_F(ControlsTest, SpinnerStepsTheSelectorAndTellsTheParent) {
    Window selector = control(ControlKind::selector, 0, 18503);
    Window spinner = control(ControlKind::spinner, 0, 2);
    for (auto text : {u"All Files", u"Media Files", u"Audio Files"}) selectorAddString(selector, text);
    selectorSetSelection(selector, 0);
    setFocus(selector);
    struct Case {
        bool attached;
        unsigned options;
        std::vector<Key> keys;
        int selection;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {false, 0, {Key::right}, 0, {}},
        {true, 0, {Key::right, Key::right}, 2, {"command 18503 code 1", "command 18503 code 1"}},
        {true, 0, {Key::right}, 2, {}},  // the last entry without wrap
        {true, spinnerWrap, {Key::right}, 0, {"command 18503 code 1"}},
        {true, spinnerWrap, {Key::left}, 2, {"command 18503 code 1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(keyNames(c.keys) + (c.attached ? " with a spinner" : "") + (c.options ? " wrapping" : ""));
        destroyWindow(spinner);
        spinner = control(ControlKind::spinner, 0, 2, u"", c.options);
        if (c.attached) spinnerSetBuddy(spinner, selector);
        takeEvents();
        play(c.keys);
        EXPECT_EQ(selectorGetSelection(selector), c.selection);
        EXPECT_EQ(takeEvents(), c.expected);
    }
}

TEST_F(ControlsTest, SelectorRefusesIndexesOutsideItsEntries) {
    Window selector = control(ControlKind::selector, 0, 1);
    for (auto text : {u"a", u"b", u"c"}) selectorAddString(selector, text);
    EXPECT_EQ(selectorSetSelection(selector, 1), 1);
    EXPECT_EQ(selectorSetSelection(selector, 3), -1);  // the selection stays
    EXPECT_EQ(selectorGetSelection(selector), 1);
    EXPECT_EQ(selectorInsertString(selector, 9, u"y"), -1);
    EXPECT_EQ(selectorDeleteString(selector, 3), -1);
    EXPECT_EQ(selectorGetText(selector, 3), u"");
    EXPECT_EQ(selectorGetCount(selector), 3);
}

TEST_F(ControlsTest, DropDownOpensAListBelowAndChoosesFromIt) {
    Window dropDown = control(ControlKind::dropDown, 0, 5001);
    for (auto text : {u"Any File", u"Standard Files", u"Hidden Files"}) selectorAddString(dropDown, text);
    selectorSetSelection(dropDown, 0);
    setFocus(dropDown);
    terminal.pressKey(Key::action);
    terminal.atIdle([&] {
        EXPECT_EQ(terminal.screenText(),
                  " Main\n"
                  " Any File                   v\n"
                  "+----------------------------+\n"
                  "| Any File                   |\n"
                  "| Standard Files             |\n"
                  "| Hidden Files               |\n"
                  "+----------------------------+\n"
                  "\n\n\n\n"
                  " Select                          Cancel");
    });
    terminal.pressKeys({Key::down, Key::down, Key::action});
    runUntilIdle();
    EXPECT_EQ(selectorGetSelection(dropDown), 2);
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"command 5001 code 1"}));
    EXPECT_EQ(getFocus(), dropDown);
}

// Each row prepares a new focused edit, types and presses keys, and reads the text back.
TEST_F(ControlsTest, EditInputWithinItsOptions) {
    struct Case {
        unsigned options;
        std::u16string text;
        std::function<void(Window edit)> prepare;
        std::u16string typed;
        std::vector<Key> keys;
        std::u16string expected;
        int bells = 0;
    };
    const Case cases[] = {
        {0, u"abc", [](Window edit) { editSetLimit(edit, 5); }, u"defg", {}, u"abcde", 2},  // a bell for each refused
        {0,
         u"",
         [](Window edit) {
             editSetLimit(edit, 3);
             setWindowText(edit, u"abcde");
         },
         u"",
         {},
         u"abc"},                                                                              // the program's text too
        {0, u"abcde", [](Window edit) { editSetSelection(edit, 1, 4); }, u"XY", {}, u"aXYe"},  // typing replaces the
                                                                                               // selection
        {editDigits, u"", {}, u"2a1", {}, u"21", 1},
        {editReadOnly, u"21", {}, u"3", {Key::backspace}, u"21"},
        {0, u"ab\U0001F600", {}, u"", {Key::backspace}, u"ab"},  // a surrogate pair at once
        {0, u"ab", {}, u"", {Key::home, Key::del}, u"b"},
        {0, u"ab", {}, u"", {Key::home, Key::back}, u"ab"},  // nothing before the caret
        {0, u"hello", {}, u"", {Key::back, Key::back}, u"hel"},
        {editClearOnBackHeld, u"hello", {}, u"", {Key::back, Key::back}, u""},  // the second within the repeat gap:
                                                                                // held
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("options " + std::to_string(c.options) + " on \"" + toUtf8(c.text) + "\": typed \"" +
                     toUtf8(c.typed) + "\", keys " + keyNames(c.keys));
        Window edit = control(ControlKind::edit, 0, 1, c.text, c.options);
        setFocus(edit);
        if (c.prepare) c.prepare(edit);
        int bellsBefore = terminal.bellCount();
        terminal.typeText(c.typed);
        play(c.keys);
        EXPECT_EQ(getWindowText(edit), c.expected);
        EXPECT_EQ(terminal.bellCount() - bellsBefore, c.bells);
        destroyWindow(edit);
    }
}

TEST_F(ControlsTest, CheckBoxTogglesOnEnterAndSpace) {
    Window check = control(ControlKind::checkBox, 0, 150, u"Anonymous");
    setFocus(check);
    play({Key::action});
    EXPECT_TRUE(checkBoxIsChecked(check));
    terminal.typeText(u" ");
    runUntilIdle();
    EXPECT_FALSE(checkBoxIsChecked(check));
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"command 150", "command 150"}));
}

}  // namespace
}  // namespace windowtest
