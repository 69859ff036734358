// Calls from other threads: marshalled to the UI thread, in order, and answered.
#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/counted_lock.h"
#include "platform/window/message_box.h"
#include "support.h"

namespace windowtest {
namespace {

constexpr int waitMs = 10000;  // a worker that has not called by then has failed

class ThreadsTest : public WindowTest {
protected:
    void SetUp() override { createMainWithList(); }

    // Runs the UI thread's loop until the workers have finished; the last one posts after
    // setting `finished`, so that the wait ends.
    void pumpUntil(const std::atomic<bool>& finished) {
        while (!finished.load()) {
            ASSERT_TRUE(waitForMessage(waitMs));
            runUntilIdle();
        }
    }
    void finish(std::atomic<bool>& finished) {
        finished = true;
        postMessage(main, userMessage(99));
    }
};

TEST_F(ThreadsTest, AMessageBoxAskedOnAWorkerIsAnsweredByTheUser) {
    std::optional<MessageBoxResult> answer;
    std::thread worker([&] {
        answer = messageBox(Window{}, u"The connection to Home has been disconnected.\r\rRe-connect?",
                            u"Connect - Farlink", MessageBoxButtons::yesNo, MessageBoxIcon::question);
    });
    terminal.atIdle([&] {
        EXPECT_EQ(terminal.rowText(3), " | (?) The connection to Home has     |");
        EXPECT_EQ(terminal.rowText(11), " Yes                                 No");
    });
    terminal.pressKey(Key::leftSoft);
    ASSERT_TRUE(waitForMessage(waitMs));
    runUntilIdle();
    worker.join();
    EXPECT_EQ(answer, MessageBoxResult::yes);
    EXPECT_EQ(getFocus(), list);
}

TEST_F(ThreadsTest, ASendFromAWorkerWaitsUntilTheUiThreadHandledIt) {
    std::atomic<bool> handled{false};
    hook = [&](Window, MessageId message, WParam wParam, LParam) -> LResult {
        if (message != userMessage(1)) return 0;
        handled = true;
        return static_cast<LResult>(wParam) * 2;
    };
    LResult result = 0;
    bool handledBeforeReturn = false;
    std::thread worker([&] {
        result = sendMessage(main, userMessage(1), 21);
        handledBeforeReturn = handled.load();
    });
    ASSERT_TRUE(waitForMessage(waitMs));
    EXPECT_FALSE(handled.load());  // waiting for the UI thread
    runUntilIdle();
    worker.join();
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(handledBeforeReturn);
}

TEST_F(ThreadsTest, CallsFromAWorkerTakeEffectInTheOrderMade) {
    rows.assign(3, {u"row", IconId::file});
    std::vector<std::string> seen;
    hook = [&](Window window, MessageId message, WParam wParam, LParam) -> LResult {
        if (message == userMessage(1) || message == userMessage(2)) {
            std::string title = toUtf8(getWindowText(window));
            seen.push_back("user " + std::to_string(wParam) + ": count " + std::to_string(listViewGetItemCount(list)) +
                           ", focused " + std::to_string(listViewGetNextItem(list, -1, nextFocused)) + ", title " +
                           title);
        }
        return 0;
    };
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        // The population thread's calls: count, selection, title, between two posts.
        postMessage(main, userMessage(1), 1);
        listViewSetItemCount(list, 0);
        setWindowText(main, u"\\a\\ - Farlink");
        listViewSetItemCount(list, 3, countNoInvalidate);
        listViewSetItemState(list, 2, itemSelected | itemFocused, itemSelected | itemFocused);
        postMessage(main, userMessage(2), 2);
        setWindowText(main, u"\\a\\ D:0 F:3 - Farlink");
        finish(finished);
    });
    pumpUntil(finished);
    worker.join();
    runUntilIdle();
    EXPECT_EQ(seen, (std::vector<std::string>{"user 1: count 0, focused -1, title Main",
                                              "user 2: count 3, focused 2, title \\a\\ - Farlink"}));
    EXPECT_EQ(terminal.rowText(0), " \\a\\ D:0 F:3 - Farlink");
}

TEST_F(ThreadsTest, PostsFromManyThreadsAllArrive) {
    std::atomic<int> received{0};
    hook = [&](Window, MessageId message, WParam, LParam) -> LResult {
        if (message == userMessage(7)) ++received;
        return 0;
    };
    std::atomic<int> running{4};
    std::atomic<bool> finished{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) postMessage(main, userMessage(7));
            setWaitCursor(true);  // a marshalled call among the posts
            if (--running == 0) finish(finished);
        });
    }
    pumpUntil(finished);
    for (std::thread& worker : workers) worker.join();
    runUntilIdle();
    EXPECT_EQ(received.load(), 400);
}

TEST(ThreadsShutdown, CallsStillWaitingAreAnsweredWhenTheWindowSystemStops) {
    HeadlessTerminal terminal(20, 6);
    auto scope = std::make_optional<WindowSystemScope>(terminal, terminal.clock());
    Window window = createWindow({.text = u"Main"});
    LResult result = -1;
    std::thread worker([&] { result = sendMessage(window, userMessage(1)); });
    ASSERT_TRUE(waitForMessage(waitMs));
    scope.reset();  // the UI thread never ran the loop
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(postMessage(window, userMessage(1)));
}

// A program that leaves while a thread still calls in keeps the state that thread may be
// reaching: under ASan a call that reached a freed state fails.
TEST(ThreadsShutdown, AStateKeptAfterTheEndOutlivesTheCallsOnTheirWay) {
    std::atomic<bool> done{false};
    std::thread caller([&] {
        while (!done) postMessage(Window{1}, userMessage(1));
    });
    for (int round = 0; round < 3000; ++round) {
        HeadlessTerminal terminal(20, 6);
        WindowSystemScope scope(terminal, terminal.clock());
        scope.keepStateAfterEnd();
    }
    done = true;
    caller.join();
}

// A thread that waits for the UI thread while it holds a lock that the UI thread may
// want deadlocks: debug builds stop at the first such call, naming it.
TEST(ThreadsLockCheck, AWindowCallMadeUnderACountedLockAbortsNamingTheCall) {
#ifdef NDEBUG
    GTEST_SKIP() << "checked in debug builds";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            HeadlessTerminal terminal(20, 6);
            WindowSystemScope scope(terminal, terminal.clock());
            platform::CountedMutex placeLock;
            std::thread([&] {
                std::lock_guard held(placeLock);
                setWaitCursor(false);
            }).join();
        },
        "setWaitCursor.* waits for the UI thread while its thread holds 1 lock");
#endif
}

}  // namespace
}  // namespace windowtest
