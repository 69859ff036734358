#include "platform/window/keys.h"

#include "platform/window/soft_keys.h"
#include "support.h"

namespace windowtest {
namespace {

constexpr int remoteCommand = 34001;
constexpr int contextCommand = 32839;
constexpr int longPressTimer = 112;

const MenuResource viewMenu{18072, u"Device Menu", {{u"Refresh", 32855}}};
const SoftKeyBarResource deviceBar{501, {remoteCommand, u"Remote"}, {0, u"Menu", &viewMenu}};

// The main window's long press: the left soft key's press starts a timer; if the key is
// still down when it fires, the press was long: release it and open the context menu,
// and ignore the soft key's command that the release brings.
class KeysTest : public WindowTest {
protected:
    void SetUp() override {
        rows = {{u"a", IconId::file}, {u"b", IconId::file}};
        createMainWithList();
        bar = createSoftKeyBar(main, deviceBar);
        softKeyBarOverrideKey(bar, Key::leftSoft, overrideNotify);
        hook = [this](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
            if (message == MessageId::hotKey && static_cast<Key>(wParam) == Key::leftSoft && lParam == hotKeyPress)
                setTimer(window, longPressTimer, 600);
            if (message == MessageId::timer && wParam == longPressTimer) {
                killTimer(window, longPressTimer);
                if (isKeyDown(Key::leftSoft)) {
                    longPress = true;
                    releaseKey(Key::leftSoft);
                    postMessage(window, MessageId::command, makeCommandParam(contextCommand));
                }
            }
            if (message == MessageId::command && commandId(wParam) == remoteCommand && longPress) {
                longPress = false;
                events.push_back("long press: command ignored");
            }
            return 0;
        };
    }

    Window bar;
    bool longPress = false;
};

TEST_F(KeysTest, HoldingTheLeftSoftKeyIsALongPress) {
    struct Case {
        const char* input;
        std::function<void(HeadlessTerminal&)> play;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> longPressEvents = {
        "hotKey leftSoft press", "timer 112", "hotKey leftSoft release", "command 34001",
        "long press: command ignored", "command 32839"};
    const Case cases[] = {
        {"F1 tapped", [](HeadlessTerminal& t) { t.pressKey(Key::leftSoft); t.advanceTime(1000); },
         {"hotKey leftSoft press", "hotKey leftSoft release", "command 34001", "timer 112"}},
        {"F1 held 800 ms", [](HeadlessTerminal& t) { t.holdKey(Key::leftSoft, 800); t.advanceTime(1000); }, longPressEvents},
        {"Shift+F1", [](HeadlessTerminal& t) { t.pressKey(Key::leftSoft, keyShift); t.advanceTime(1000); }, longPressEvents},
        {"F1 held 300 ms", [](HeadlessTerminal& t) { t.holdKey(Key::leftSoft, 300, 200); t.advanceTime(1000); },
         {"hotKey leftSoft press", "hotKey leftSoft release", "command 34001", "timer 112"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        takeEvents();
        c.play(terminal);
        runUntilIdle();
        EXPECT_EQ(takeEvents(), c.expected);
        EXPECT_FALSE(isKeyDown(Key::leftSoft));
        EXPECT_FALSE(longPress);
    }
}

TEST_F(KeysTest, TheLeftSoftKeyIsDownWhileHeld) {
    terminal.holdKey(Key::leftSoft, 500, 400, 50);
    terminal.atIdle([] { EXPECT_TRUE(isKeyDown(Key::leftSoft)); });
    terminal.advanceTime(200);  // the repeats stopped: released
    terminal.atIdle([] { EXPECT_FALSE(isKeyDown(Key::leftSoft)); });
    runUntilIdle();
    EXPECT_TRUE(terminal.scriptDone());
}

TEST_F(KeysTest, OverriddenBackReachesTheBarOwnerOnly) {
    script({Key::back});
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"notify 11 keyDown back"}));

    softKeyBarOverrideKey(bar, Key::back, overrideNoDefault | overrideNotify);
    script({Key::back});
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"hotKey back press", "hotKey back release"}));

    softKeyBarOverrideKey(bar, Key::down, overrideNotify);  // and still reaches the list
    script({Key::down});
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"hotKey down press", "notify 11 keyDown down", "hotKey down release"}));
}

TEST_F(KeysTest, SoftKeysWithoutNotifyActOnPress) {
    softKeyBarOverrideKey(bar, Key::leftSoft, 0);
    softKeyBarSetKey(bar, SoftKey::right, u"Refresh", 32855);
    script({Key::leftSoft, Key::rightSoft});
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"command 34001", "command 32855"}));
    EXPECT_FALSE(softKeyBarGetMenu(bar, SoftKey::right));  // the command replaced the menu
    EXPECT_EQ(terminal.rowText(11), " Remote                         Refresh");
}

TEST_F(KeysTest, AcceleratorsTurnKeysIntoCommandsExceptInAnEdit) {
    const Accelerator accelerators[] = {{keyFor('X'), keyControl, 18060}, {keyFor('C'), keyControl, 18061},
                                        {keyFor('V'), keyControl, 18062}, {Key::del, 0, 18064},
                                        {keyFor('A'), keyControl, 40002}};
    struct Case {
        Key key;
        unsigned modifiers;
        std::string expected;
    };
    const Case cases[] = {{keyFor('X'), keyControl, "command 18060"}, {keyFor('C'), keyControl, "command 18061"},
                          {keyFor('V'), keyControl, "command 18062"}, {Key::del, 0, "command 18064"},
                          {keyFor('A'), keyControl, "command 40002"}, {keyFor('A'), 0, "notify 11 keyDown A"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(keyName(c.key) + (c.modifiers ? " with Ctrl" : ""));
        terminal.pressKey(c.key, c.modifiers);
        EXPECT_EQ(runMessageLoop(accelerators), 0);
        std::vector<std::string> got = takeEvents();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front(), c.expected);
    }
    Window edit = createWindow({.kind = ControlKind::edit, .text = u"abc", .rect = {0, 0, 10, 1}, .parent = main, .id = 7});
    setFocus(edit);
    terminal.pressKeys({Key::home, Key::del});
    runMessageLoop(accelerators);
    EXPECT_EQ(takeEvents(), std::vector<std::string>{"command 7 code 2"});  // the edit changed
    EXPECT_EQ(getWindowText(edit), u"bc");
}

TEST_F(KeysTest, HelpKeyGoesToTheForegroundWindow) {
    script({Key::help});
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"help"}));
}

TEST_F(KeysTest, BarCreationCanBeMadeToFail) {
    setSoftKeyBarCreationFails(true);
    EXPECT_FALSE(createSoftKeyBar(main, deviceBar));
    setSoftKeyBarCreationFails(false);
    EXPECT_EQ(findSoftKeyBar(main), bar);  // the old bar stays
    Window replacement = createSoftKeyBar(main, deviceBar);
    EXPECT_TRUE(replacement);
    EXPECT_FALSE(isWindow(bar));
    EXPECT_EQ(findSoftKeyBar(main), replacement);
}

}  // namespace
}  // namespace windowtest
