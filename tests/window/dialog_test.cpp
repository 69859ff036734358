#include "platform/window/dialog.h"

#include "platform/window/message_box.h"
#include "platform/window/soft_keys.h"
#include "support.h"

namespace windowtest {
namespace {

constexpr int nameId = 18109;
constexpr int typesId = 5001;
constexpr int trackId = 1010;

const SoftKeyBarResource doneCancel{700, {1, u"Done"}, {2, u"Cancel"}};
const MenuResource mainMenu{18072, u"Menu", {{u"Refresh", 32855}}};
const SoftKeyBarResource mainBar{501, {34001, u"Remote"}, {0, u"Menu", &mainMenu}};

const DialogTemplate filterDialog{
    137,
    u"File Filter",
    {
        {.text = u"Filter Name:", .row = 0, .column = 1, .width = 20},
        {.id = nameId,
         .kind = ControlKind::edit,
         .text = u"My Filter",
         .row = 1,
         .column = 1,
         .width = 20,
         .limit = 127},
        {.text = u"File Types:", .row = 2, .column = 1, .width = 20},
        {.id = typesId, .kind = ControlKind::selector, .row = 3, .column = 1, .width = 20},
        {.id = typesId + 1, .kind = ControlKind::spinner},
        {.id = trackId,
         .kind = ControlKind::checkBox,
         .text = u"Track Last Folder",
         .row = 4,
         .column = 1,
         .width = 20},
        {.text = u"Use ; between types.", .row = 6, .column = 12, .width = 10},
    }};

// What the dialog read back when it was confirmed.
struct Answers {
    std::u16string name;
    int types = -1;
    bool track = false;
};

class DialogTest : public WindowTest {
protected:
    void SetUp() override {
        createMainWithList();
        createSoftKeyBar(main, mainBar);
    }

    int runFilterDialog(bool overrideBack = false) {
        return dialogBox(filterDialog, main,
                         [&, overrideBack](Window dialog, MessageId message, WParam wParam, LParam lParam) -> LResult {
                             if (std::string line = describe(message, wParam, lParam); !line.empty())
                                 dialogEvents.push_back(line);
                             switch (message) {
                             case MessageId::initDialog: {
                                 dialogEvents.push_back("init");
                                 Window bar = createSoftKeyBar(dialog, doneCancel);
                                 if (!bar) {
                                     endDialog(dialog, -10);
                                     return 1;
                                 }
                                 if (overrideBack)
                                     softKeyBarOverrideKey(bar, Key::back, overrideNoDefault | overrideNotify);
                                 Window types = getDialogItem(dialog, typesId);
                                 for (auto text : {u"Any File", u"Standard Files", u"Hidden Files"})
                                     selectorAddString(types, text);
                                 selectorSetSelection(types, 0);
                                 layoutDialogControls(dialog);
                                 return 1;
                             }
                             case MessageId::activate:
                                 dialogEvents.push_back("activate " + std::to_string(wParam));
                                 return 1;
                             case MessageId::hotKey:
                                 if (static_cast<Key>(wParam) == Key::back && lParam == hotKeyRelease)
                                     sendBackToFocusWindow();
                                 return 1;
                             case MessageId::command:
                                 if (commandId(wParam) == 1) {
                                     answers.name = getWindowText(getDialogItem(dialog, nameId));
                                     answers.types = selectorGetSelection(getDialogItem(dialog, typesId));
                                     answers.track = checkBoxIsChecked(getDialogItem(dialog, trackId));
                                     endDialog(dialog, 1);
                                     return 1;
                                 }
                                 return 0;
                             default: return 0;
                             }
                         });
    }

    Answers answers;
    std::vector<std::string> dialogEvents;
};

TEST_F(DialogTest, ScriptedKeysEndTheDialog) {
    struct Case {
        std::vector<Key> keys;
        int result;
        std::u16string name;
        int types;
        bool track;
        bool overrideBack = false;
    };
    const Case cases[] = {
        {{Key::leftSoft}, 1, u"My Filter", 0, false},
        {{Key::backspace, Key::down, Key::right, Key::right, Key::down, Key::action, Key::leftSoft},
         1,
         u"My Filte",
         2,
         true},
        {{Key::down, Key::up, Key::up, Key::action, Key::leftSoft}, 1, u"My Filter", 0, true},  // Up wraps to the last
        {{Key::rightSoft}, 2, u"", -1, false},
        {{Key::down, Key::back}, 2, u"", -1, false},                             // Back outside an edit cancels
        {{Key::back, Key::leftSoft}, 1, u"My Filte", 0, false},                  // in an edit it erases
        {{Key::back, Key::back, Key::leftSoft}, 1, u"My Filt", 0, false, true},  // overridden: handed to the edit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(keyNames(c.keys) + (c.overrideBack ? " with Back overridden" : ""));
        answers = {};
        script(c.keys);
        EXPECT_EQ(runFilterDialog(c.overrideBack), c.result);
        EXPECT_EQ(answers.name, c.name);
        EXPECT_EQ(answers.types, c.types);
        EXPECT_EQ(answers.track, c.track);
    }
}

TEST_F(DialogTest, AFailingSoftKeyBarEndsTheDialogAtOnceAndLeavesTheOldBar) {
    Window bar = findSoftKeyBar(main);
    setSoftKeyBarCreationFails(true);
    int result = runFilterDialog();
    EXPECT_FALSE(createSoftKeyBar(main, mainBar));
    setSoftKeyBarCreationFails(false);
    EXPECT_EQ(result, -10);
    EXPECT_EQ(dialogEvents, (std::vector<std::string>{"init"}));  // never shown
    EXPECT_EQ(getForegroundWindow(), main);
    EXPECT_EQ(getFocus(), list);
    EXPECT_EQ(findSoftKeyBar(main), bar);

    Window replacement = createSoftKeyBar(main, mainBar);
    EXPECT_TRUE(replacement);
    EXPECT_FALSE(isWindow(bar));
    EXPECT_EQ(findSoftKeyBar(main), replacement);
}

TEST_F(DialogTest, ABoxOverTheDialogGivesItBackItsFocusAndActivation) {
    terminal.atIdle([&] {
        Window dialog = getForegroundWindow();
        Window name = getFocus();
        terminal.pressKey(Key::action);
        EXPECT_EQ(messageBox(dialog, u"Sure?", u"Filter", MessageBoxButtons::ok, MessageBoxIcon::none),
                  MessageBoxResult::ok);
        EXPECT_EQ(getFocus(), name);
        terminal.pressKey(Key::rightSoft);
    });
    runFilterDialog();
    EXPECT_EQ(dialogEvents,
              (std::vector<std::string>{"init", "activate 1", "activate 0", "activate 1", "command 2", "activate 0"}));
}

}  // namespace
}  // namespace windowtest
