#include "platform/sync.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "tests/platform/helpers.h"

namespace {

using namespace platform;
using platform_test::onOtherThread;

TEST(SyncThreads, MutexIsCountedAndOnlyItsOwnerReleasesIt) {
    const SyncHandle mutex = createMutex(u"", false);
    ASSERT_NE(mutex, noSyncHandle);
    EXPECT_EQ(waitFor(mutex, 0), WaitResult::signaled);
    EXPECT_EQ(waitFor(mutex, 0), WaitResult::signaled) << "the owner takes it again";
    EXPECT_EQ(onOtherThread([&] { return waitFor(mutex, 0); }), WaitResult::timeout);
    EXPECT_EQ(onOtherThread([&] { return releaseMutex(mutex) ? errorSuccess : lastError(); }), errorNotOwner);

    EXPECT_TRUE(releaseMutex(mutex));
    EXPECT_EQ(onOtherThread([&] { return waitFor(mutex, 0); }), WaitResult::timeout) << "still taken once";
    EXPECT_TRUE(releaseMutex(mutex));
    EXPECT_FALSE(releaseMutex(mutex));
    EXPECT_EQ(lastError(), errorNotOwner);
    EXPECT_TRUE(onOtherThread([&] { return waitFor(mutex, 0) == WaitResult::signaled && releaseMutex(mutex); }));
    EXPECT_TRUE(closeHandle(mutex));
}

TEST(SyncThreads, WaitsEndWhenTheOwnerReleasesOrTheTimeRunsOut) {
    const SyncHandle mutex = createMutex(u"", true);
    // A finite wait for a mutex that stays taken runs out.
    EXPECT_EQ(onOtherThread([&] { return waitFor(mutex, 20); }), WaitResult::timeout);

    auto waiter = std::async(std::launch::async, [&] {
        const WaitResult result = waitFor(mutex, waitForever);
        releaseMutex(mutex);
        return result;
    });
    EXPECT_TRUE(releaseMutex(mutex));
    EXPECT_EQ(waiter.get(), WaitResult::signaled);
    EXPECT_EQ(waitFor(mutex, 0), WaitResult::signaled);
    EXPECT_TRUE(releaseMutex(mutex));
    closeHandle(mutex);
}

TEST(SyncThreads, NamedObjectsAreSharedWhileAHandleIsOpen) {
    const SyncHandle first = createMutex(u"FileOpWorker", false);
    EXPECT_EQ(lastError(), errorSuccess);
    const SyncHandle second = createMutex(u"FileOpWorker", true);
    EXPECT_EQ(lastError(), errorAlreadyExists);
    EXPECT_NE(first, second);
    EXPECT_EQ(onOtherThread([&] { return waitFor(first, 0) == WaitResult::signaled && releaseMutex(first); }), true)
        << "initial ownership is ignored for an existing mutex";

    ASSERT_EQ(waitFor(first, 0), WaitResult::signaled);
    EXPECT_EQ(onOtherThread([&] { return waitFor(second, 0); }), WaitResult::timeout);
    EXPECT_TRUE(releaseMutex(second)) << "any handle of the owner releases it";

    EXPECT_EQ(createEvent(u"FileOpWorker", false, false), noSyncHandle);
    EXPECT_EQ(lastError(), errorInvalidHandle);

    EXPECT_TRUE(closeHandle(first));
    EXPECT_EQ(waitFor(first, 0), WaitResult::failed);
    EXPECT_EQ(lastError(), errorInvalidHandle);
    EXPECT_FALSE(closeHandle(first));
    EXPECT_EQ(waitFor(second, 0), WaitResult::signaled);
    EXPECT_TRUE(releaseMutex(second));
    EXPECT_TRUE(closeHandle(second));

    const SyncHandle fresh = createMutex(u"FileOpWorker", false);
    EXPECT_EQ(lastError(), errorSuccess) << "the last close ended the object";
    closeHandle(fresh);
}

TEST(SyncThreads, AutoResetEventLetsOneWaitThroughPerSet) {
    const SyncHandle event = createEvent(u"FileOpEvent", false, false);
    EXPECT_EQ(waitFor(event, 0), WaitResult::timeout);
    EXPECT_TRUE(setEvent(event));
    EXPECT_TRUE(setEvent(event));
    EXPECT_EQ(waitFor(event, 0), WaitResult::signaled);
    EXPECT_EQ(waitFor(event, 0), WaitResult::timeout) << "two sets without a waiter count once";

    std::mutex lock;
    std::condition_variable woken;
    int wakeups = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            EXPECT_EQ(waitFor(event, waitForever), WaitResult::signaled);
            std::lock_guard guard(lock);
            ++wakeups;
            woken.notify_all();
        });
    }
    for (int round = 1; round <= 3; ++round) {
        setEvent(event);
        std::unique_lock guard(lock);
        woken.wait(guard, [&] { return wakeups >= round; });
    }
    for (auto& waiter : waiters) waiter.join();
    EXPECT_EQ(wakeups, 3);
    EXPECT_EQ(waitFor(event, 0), WaitResult::timeout) << "every set was used by one waiter";
    closeHandle(event);
}

int niceOfThisThread() { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); }

TEST(SyncThreads, StartedThreadsRunBelowNormalPriorityWhenAsked) {
    const int normal = niceOfThisThread();
    for (const bool belowNormal : {true, false}) {
        auto nice = std::make_shared<std::promise<int>>();
        std::future<int> result = nice->get_future();
        ASSERT_TRUE(startThread([nice] { nice->set_value(niceOfThisThread()); }, belowNormal));
        // At nice 19, the lowest priority, there is nothing below.
        if (belowNormal && normal < 19) {
            EXPECT_GT(result.get(), normal);
        } else {
            EXPECT_EQ(result.get(), normal);
        }
    }
}

}  // namespace
