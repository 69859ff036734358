#include "platform/window/keys.h"

#include "platform/window/soft_keys.h"
#include "support.h"

namespace windowtest {
namespace {

constexpr int remoteCommand = 34001;

const MenuResource viewMenu{18072, u"Device Menu", {{u"Refresh", 32855}}};
const SoftKeyBarResource deviceBar{501, {remoteCommand, u"Remote"}, {0, u"Menu", &viewMenu}};

// A list under a soft-key bar; the long press of the left soft key is the main window's
// (tests/app/main_window_test.cpp).
class KeysTest : public WindowTest {
protected:
    void SetUp() override {
        rows = {{u"a", IconId::file}, {u"b", IconId::file}};
        createMainWithList();
        bar = createSoftKeyBar(main, deviceBar);
    }

    Window bar;
};

TEST_F(KeysTest, AnOverrideDecidesWhoGetsTheKey) {
    struct Case {
        Key key;
        unsigned flags;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {Key::back, 0, {"notify 11 keyDown back"}},
        {Key::back,
         overrideNoDefault | overrideNotify,
         {"hotKey back press", "hotKey back release"}},  // the owner only
        {Key::down, overrideNotify, {"hotKey down press", "notify 11 keyDown down", "hotKey down release"}},
        {Key::leftSoft, 0, {"command 34001"}},  // without notify: the command alone
        {Key::help, 0, {"help"}},               // to the foreground window
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(keyName(c.key) + " with override flags " + std::to_string(c.flags));
        softKeyBarOverrideKey(bar, c.key, c.flags);
        play({c.key});
        EXPECT_EQ(takeEvents(), c.expected);
    }
}

TEST_F(KeysTest, AcceleratorsTurnKeysIntoCommandsExceptInAnEdit) {
    const Accelerator accelerators[] = {{keyFor('X'), keyControl, 18060},
                                        {keyFor('C'), keyControl, 18061},
                                        {keyFor('V'), keyControl, 18062},
                                        {Key::del, 0, 18064},
                                        {keyFor('A'), keyControl, 40002}};
    for (const Accelerator& accelerator : accelerators) {
        SCOPED_TRACE(keyName(accelerator.key) + (accelerator.modifiers ? " with Ctrl" : ""));
        terminal.pressKey(accelerator.key, accelerator.modifiers);
        EXPECT_EQ(runMessageLoop(accelerators), 0);
        EXPECT_EQ(takeEvents(), std::vector<std::string>{"command " + std::to_string(accelerator.command)});
    }
    terminal.pressKey(keyFor('A'));  // without Ctrl it is the list's
    runMessageLoop(accelerators);
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"notify 11 keyDown A", "notify 11 findItem a digit none"}));
    Window edit = createWindow(
        {.kind = ControlKind::edit, .text = u"abc", .rect = {0, 0, 10, 1}, .parent = main, .id = 7});
    setFocus(edit);
    terminal.pressKeys({Key::home, Key::del});
    runMessageLoop(accelerators);
    EXPECT_EQ(takeEvents(), std::vector<std::string>{"command 7 code 2"});  // the edit changed
    EXPECT_EQ(getWindowText(edit), u"bc");
}

}  // namespace
}  // namespace windowtest
