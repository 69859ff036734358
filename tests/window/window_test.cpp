#include "platform/window/window.h"

#include "support.h"

namespace windowtest {
namespace {

// A window that records every message it gets, by name.
struct Journal {
    std::vector<std::string> lines;
    WindowProcedure procedure(const std::string& name) {
        return [this, name](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
            static const char* const names[] = {"",         "create", "destroy",   "close",     "size",
                                                "activate", "enable", "paint",     "setFocus",  "killFocus",
                                                "keyDown",  "keyUp",  "character", "command",   "notify",
                                                "hotKey",   "timer",  "help",      "initDialog"};
            auto id = static_cast<std::size_t>(message);
            std::string line = name + " " + (id < std::size(names) ? names[id] : "user");
            if (message == MessageId::size || message == MessageId::activate || message == MessageId::enable ||
                message == MessageId::timer || message >= MessageId::user)
                line.append(" ").append(std::to_string(wParam));
            if (message == MessageId::size) line.append("x").append(std::to_string(lParam));
            if (message != MessageId::paint) lines.push_back(line);
            return defaultWindowProcedure(window, message, wParam, lParam);
        };
    }
    std::vector<std::string> take() { return std::exchange(lines, {}); }
};

class WindowCoreTest : public WindowTest {
protected:
    Journal journal;
};

TEST_F(WindowCoreTest, CreateSizeActivateAndDestroyInOrder) {
    Window first = createWindow({.text = u"First", .procedure = journal.procedure("first")});
    Window child = createWindow({.rect = {0, 0, 10, 2}, .parent = first, .procedure = journal.procedure("child")});
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"first create", "first size 40x10", "first setFocus",
                                                        "first activate 1", "child create", "child size 10x2"}));
    setFocus(child);
    Window second = createWindow({.text = u"Second", .procedure = journal.procedure("second")});
    EXPECT_EQ(getForegroundWindow(), second);
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"first killFocus", "child setFocus", "second create",
                                                        "second size 40x10", "child killFocus", "second setFocus",
                                                        "first activate 0", "second activate 1"}));
    destroyWindow(second);
    EXPECT_EQ(getFocus(), child);  // the focus comes back where it was
    journal.take();
    destroyWindow(first);
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"child destroy", "first activate 0", "first destroy"}));
    EXPECT_FALSE(isWindow(child));
    EXPECT_FALSE(getForegroundWindow());
}

TEST_F(WindowCoreTest, RectanglesAreCellsOfTheParentsClientArea) {
    Window top = createWindow({.text = u"Top"});
    Window child = createWindow({.rect = {2, 3, 12, 5}, .parent = top});
    EXPECT_EQ(getWindowRect(top), (Rect{0, 1, 40, 11}));  // below the title, above the soft keys
    EXPECT_EQ(getWindowRect(child), (Rect{2, 4, 12, 6}));
    EXPECT_EQ(getClientRect(child), (Rect{0, 0, 10, 2}));
    EXPECT_TRUE(moveWindow(child, {0, 0, 4, 1}));
    EXPECT_EQ(getWindowRect(child), (Rect{0, 1, 4, 2}));
    EXPECT_FALSE(moveWindow(top, {0, 0, 4, 1}));
}

TEST_F(WindowCoreTest, APostedRecordLivesUntilItIsHandled) {
    struct Gesture {
        int id;
        Point point;
    };
    std::weak_ptr<const void> watch;
    int seen = 0;
    Window window = createWindow({.procedure = [&](Window, MessageId message, WParam wParam, LParam lParam) -> LResult {
        if (message == MessageId::command && commandId(wParam) == 1000) {
            seen = reinterpret_cast<const Gesture*>(lParam)->point.x;
            EXPECT_FALSE(watch.expired());
        }
        return 0;
    }});
    {
        auto record = std::make_shared<const Gesture>(Gesture{1000, {20, 11}});
        watch = record;
        postMessage(window, MessageId::command, makeCommandParam(1000), record);
    }
    EXPECT_FALSE(watch.expired());
    runUntilIdle();
    EXPECT_EQ(seen, 20);
    EXPECT_TRUE(watch.expired());

    postRecord(window, MessageId::command, makeCommandParam(1000), Gesture{1000, {5, 5}});
    destroyWindow(window);
    runUntilIdle();  // dropped with its window, record and all
    EXPECT_EQ(seen, 20);
    EXPECT_FALSE(postMessage(window, MessageId::command, 1));
}

TEST_F(WindowCoreTest, TimersFireOnTheInjectedClock) {
    Window window = createWindow({.procedure = journal.procedure("w")});
    journal.take();
    setTimer(window, 112, 600);
    setTimer(window, 7, 250);
    terminal.advanceTime(1300);
    terminal.atIdle([&] { killTimer(window, 7); });
    terminal.advanceTime(1000);
    runUntilIdle();
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"w timer 7", "w timer 7", "w timer 112", "w timer 7",
                                                        "w timer 7", "w timer 112", "w timer 7", "w timer 112"}));
    destroyWindow(window);
    EXPECT_FALSE(killTimer(window, 112));  // went with its window
}

TEST_F(WindowCoreTest, QuitEndsTheLoopWithItsCode) {
    Window window = createWindow(
        {.procedure = [](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
            if (message == MessageId::destroy) postQuitMessage(3);
            return defaultWindowProcedure(window, message, wParam, lParam);
        }});
    terminal.atIdle([&] { postMessage(window, MessageId::close); });
    EXPECT_EQ(runMessageLoop(), 3);
    EXPECT_FALSE(isWindow(window));
}

TEST_F(WindowCoreTest, TheTitleLineShowsTheTextAndTheWaitSign) {
    Window window = createWindow({.text = u"\\home\\me\\ - Farlink"});
    setWaitCursor(true);
    runUntilIdle();
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink             [wait]");
    EXPECT_EQ(terminal.styleAt(0, 39), CellStyle::title);
    setWaitCursor(false);
    setWindowText(window, u"Device - Farlink");
    runUntilIdle();
    EXPECT_EQ(terminal.rowText(0), " Device - Farlink");
}

TEST_F(WindowCoreTest, AResizedTerminalResizesTheTopLevelWindows) {
    Window window = createWindow({.text = u"Main", .procedure = journal.procedure("main")});
    journal.take();
    terminal.resize(30, 8);
    runUntilIdle();
    EXPECT_EQ(journal.take(), (std::vector<std::string>{"main size 30x6"}));
    EXPECT_EQ(getClientRect(window), (Rect{0, 0, 30, 6}));
    EXPECT_EQ(terminal.screenText(), " Main\n\n\n\n\n\n\n");
}

TEST_F(WindowCoreTest, HiddenAndDisabledWindowsGetNoKeys) {
    rows = {{u"a", IconId::file}};
    createMainWithList();
    takeEvents();
    enableWindow(list, false);
    play({Key::down});
    EXPECT_EQ(takeEvents(), std::vector<std::string>{});
    enableWindow(list, true);
    showWindow(list, false);
    EXPECT_EQ(getFocus(), main);
    runUntilIdle();
    EXPECT_EQ(terminal.rowText(1), "");
}

TEST_F(WindowCoreTest, AReplacedProcedureSeesMessagesFirst) {
    rows = {{u"a", IconId::file}, {u"b", IconId::file}};
    createMainWithList();
    auto previous = std::make_shared<WindowProcedure>();
    *previous = setWindowProcedure(
        list, [this, previous](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
            if (message == MessageId::keyDown && static_cast<Key>(wParam) == Key::up) {
                events.push_back("swallowed up");
                return 0;
            }
            return (*previous)(window, message, wParam, lParam);
        });
    takeEvents();
    play({Key::up, Key::down});
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"swallowed up", "notify 11 keyDown down"}));
}

}  // namespace
}  // namespace windowtest
