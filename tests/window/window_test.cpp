#include "platform/window/window.h"

#include "support.h"

namespace windowtest {
namespace {

using WindowCoreTest = WindowTest;

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
    createMainWithList();
    setTimer(main, 112, 600);
    setTimer(main, 7, 250);
    terminal.advanceTime(1300);
    terminal.atIdle([&] { killTimer(main, 7); });
    terminal.advanceTime(1000);
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"timer 7", "timer 7", "timer 112", "timer 7", "timer 7",
                                                      "timer 112", "timer 7", "timer 112"}));
    destroyWindow(main);
    EXPECT_FALSE(killTimer(main, 112));  // went with its window
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
    // A program lent the terminal leaves a screen of its own: every cell is drawn again.
    lendTerminal([] {});
    runUntilIdle();
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink             [wait]");
    setWaitCursor(false);
    setWindowText(window, u"Device - Farlink");
    runUntilIdle();
    EXPECT_EQ(terminal.rowText(0), " Device - Farlink");
}

TEST_F(WindowCoreTest, AResizedTerminalResizesTheTopLevelWindows) {
    createMainWithList();
    hook = [this](Window, MessageId message, WParam wParam, LParam lParam) -> LResult {
        if (message == MessageId::size)
            events.push_back("size " + std::to_string(wParam) + "x" + std::to_string(lParam));
        return 0;
    };
    terminal.resize(30, 8);
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"size 30x6"}));
    EXPECT_EQ(getClientRect(main), (Rect{0, 0, 30, 6}));
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

}  // namespace
}  // namespace windowtest
