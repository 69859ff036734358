// The operation queue with fake copies and an injected wait: the worker's life, the records
// and their order, several at once (these also run under ThreadSanitizer).
#include "queue/operation_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "explorer/provider.h"
#include "local/device.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "queue/queue_view.h"
#include "session/server_session.h"
#include "tests/support/plan_rules.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::toUtf16;
using platform::toUtf8;
using namespace queue;

// What the fakes saw, and how they answer.
struct Fakes {
    std::mutex lock;
    std::vector<std::string> calls;  // "copy SRC>DST@PLACE", "box CAPTION", "delete PATH"
    std::vector<std::uint32_t> waits;
    std::atomic<int> idles{0};  // the worker let go of its connections
    std::string currentPlace = "A";
    bool copiesSucceed = true;
    bool logFailedFile = false;  // a folder copy logs one file as not copied
    std::atomic<bool> holdCopies{false};
    bool fastWaits = true;  // the idle wait returns at once, as a time-out
    std::atomic<int> simultaneous{1};
    int joined = 0;   // copies that joined a batch after its first
    int running = 0;  // fake server operations running now, and at most
    int mostRunning = 0;
    // When set, gives the outcome of each server operation on its target, as it starts.
    std::function<bool(std::u16string_view target)> decide;
};
Fakes* fakes = nullptr;
thread_local std::string placeOfThread;

void note(const std::string& call) {
    std::lock_guard guard(fakes->lock);
    fakes->calls.push_back(call);
}

// A server operation that runs while copies are held, until the watch asks it to stop,
// as a transfer does; false when it fails.
bool serverOperation(const std::string& call, std::u16string_view target) {
    {
        std::lock_guard guard(fakes->lock);
        fakes->calls.push_back(call);
        fakes->mostRunning = std::max(fakes->mostRunning, ++fakes->running);
    }
    const bool succeeds = !fakes->decide || fakes->decide(target);
    while (fakes->holdCopies && !session::threadTransferWatch()->stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::lock_guard guard(fakes->lock);
    --fakes->running;
    return succeeds;
}

// A copy of a batch names its own resume and times; others take the watch's.
int fakeCopy(std::u16string_view source, std::u16string_view destination, bool folder,
             const explorer::FileCopyOrder* order = nullptr) {
    const bool resume = order ? order->resume : session::threadTransferWatch()->resume.load();
    const std::string call = std::string(folder ? "folder " : "copy ") + toUtf8(source) + ">" + toUtf8(destination) +
                             "@" + placeOfThread + (resume ? " resumed" : "") +
                             (order && order->keepTimes ? " keeping times" : "") +
                             (order && order->size >= 0 ? " of " + std::to_string(order->size) : "");
    const bool succeeds = serverOperation(call, destination);
    if (folder && fakes->logFailedFile) addOperation(kindCopyFile, u"in/one", u"out/one", listFailed);
    return succeeds && fakes->copiesSucceed && !session::threadTransferWatch()->stop ? 1 : 0;
}

class OperationQueue : public ::testing::Test {
protected:
    void SetUp() override {
        fakes = &seen;
        saved = explorer::remoteProvider;
        explorer::ViewProvider& remote = explorer::remoteProvider;
        remote.CopyFile = [](std::u16string_view s, std::u16string_view d, int) { return fakeCopy(s, d, false); };
        remote.CopyFolder = [](std::u16string_view s, std::u16string_view d, int) { return fakeCopy(s, d, true); };
        remote.CopyFiles = [](const explorer::NextCopyOrder& next, const explorer::CopyOrderEnded& ended) {
            for (std::size_t copy = 0; const std::optional<explorer::FileCopyOrder> order = next(); ++copy) {
                if (copy > 0) {
                    std::lock_guard guard(fakes->lock);
                    ++fakes->joined;
                }
                ended(copy, fakeCopy(order->source, order->destination, false, &*order) != 0, u"(fake) it failed");
            }
        };
        remote.ShowError = [](std::u16string_view caption) {
            note("box " + toUtf8(caption));
            return 1;
        };
        // The server holds the files the tests move from it, unchanged between copy and delete.
        remote.GetAttributes = [](std::u16string_view path, int, platform::FileAttributeData& data) {
            data = {};
            data.sizeLow = 5;
            return path.starts_with(u"/remote") ? 1 : 0;
        };
        remote.DeleteFile = [](std::u16string_view path) {
            return serverOperation("delete " + toUtf8(path) + "@" + placeOfThread, path) ? 1 : 0;
        };
        remote.CreateFolder = [](std::u16string_view path) {
            return serverOperation("mkdir " + toUtf8(path), path) ? 1 : 0;
        };
        remote.RemoveFolder = [](std::u16string_view path) {
            return serverOperation("rmdir " + toUtf8(path), path) ? 1 : 0;
        };
        remote.GetLastErrorText = [] { return std::u16string(u"(fake) it failed"); };
        QueueBindings bindings;
        bindings.currentPlace = [] { return PlaceToken(std::make_shared<const std::string>(fakes->currentPlace)); };
        bindings.enterPlace = [](const PlaceToken& token, const PlaceToken&, std::u16string& reason) {
            placeOfThread = *static_cast<const std::string*>(token.get());
            if (placeOfThread != "gone") return true;
            reason = u"The place was deleted.";
            return false;
        };
        bindings.samePlace = [](const PlaceToken& one, const PlaceToken& other) {
            return *static_cast<const std::string*>(one.get()) == *static_cast<const std::string*>(other.get());
        };
        bindings.leavePlace = [] { placeOfThread.clear(); };
        bindings.idle = [] { ++fakes->idles; };
        bindings.waitForWork = [](platform::SyncHandle event, std::uint32_t milliseconds) {
            {
                std::lock_guard guard(fakes->lock);
                fakes->waits.push_back(milliseconds);
            }
            return fakes->fastWaits ? platform::waitFor(event, 0) : platform::waitFor(event, milliseconds);
        };
        bindings.now = [] { return std::uint64_t(1000); };
        bindings.simultaneousCopies = [] { return fakes->simultaneous.load(); };
        // The server's entries stand as planned: the folders are named d and e.
        bindings.serverEntryNow = [](const std::string& path, mirroring::EntryNow& now, std::string&) {
            now.entry = mirroring::SyncEntry{path, path.ends_with("/d") || path.ends_with("/e")};
            return true;
        };
        bindQueue(bindings);
        bound = bindings;
    }
    void TearDown() override {
        stopQueue();
        bindQueue({});
        explorer::remoteProvider = saved;
        fakes = nullptr;
    }

    // Waits (bounded) until nothing is pending or active.
    static bool queueDrains() {
        return test_support::eventually(
            [] { return listRecords(listPending).empty() && listRecords(listActive).empty(); });
    }
    static std::vector<std::string> destinations(int list) {
        std::vector<std::string> names;
        for (const FileOperation& record : listRecords(list)) {
            names.push_back(toUtf8(record.destination) + " " + std::to_string(record.kind) + "/" +
                            std::to_string(record.state));
        }
        return names;
    }
    // The failed record of `destination`; an empty one (state 0) when there is none.
    static FileOperation failed(const std::string& destination) {
        for (const FileOperation& record : listRecords(listFailed)) {
            if (toUtf8(record.destination) == destination) return record;
        }
        return {};
    }
    std::vector<std::string> calls() {
        std::lock_guard guard(seen.lock);
        return seen.calls;
    }

    Fakes seen;
    explorer::ViewProvider saved;
    QueueBindings bound;
};

TEST_F(OperationQueue, AnIdleWorkerWaitsLongerEachTimeAndEndsOnItsThirtiethEmptyWakeUp) {
    // A log record straight into Successful starts the worker and keeps state 1, zero times.
    ASSERT_EQ(addOperation(kindCopyFile, u"/a", u"file://\\a", listSuccessful), 1);
    EXPECT_TRUE(workerRunning());
    platform::setLastError(0);
    platform::closeHandle(platform::createMutex(u"FileOpWorker", false));
    EXPECT_EQ(platform::lastError(), platform::errorAlreadyExists);  // the worker's mutex

    ASSERT_TRUE(test_support::eventually([] { return !workerRunning(); }));
    EXPECT_GT(seen.idles.load(), 0);  // before it ended: nothing it kept outlives it
    std::vector<std::uint32_t> expected;
    for (std::uint32_t wait = 100; wait <= 29100; wait += 1000) expected.push_back(wait);
    EXPECT_EQ(seen.waits, expected);
    platform::setLastError(0);
    platform::closeHandle(platform::createMutex(u"FileOpWorker", false));
    EXPECT_EQ(platform::lastError(), 0u);  // released with the worker

    const std::vector<FileOperation> logged = listRecords(listSuccessful);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].state, statePending);
    EXPECT_EQ(logged[0].queued, 1000u);
    EXPECT_EQ(logged[0].started, 0u);
    EXPECT_EQ(logged[0].finished, 0u);
    // Clear works once the worker has idled out too; a new record starts a fresh worker.
    EXPECT_EQ(clearQueue(), 1);
    EXPECT_TRUE(listRecords(listSuccessful).empty());
    EXPECT_EQ(clearQueue(), 0);
    seen.fastWaits = false;
    ASSERT_EQ(queueCopyFile(u"/b", u"file://\\b"), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_TRUE(workerRunning());
    EXPECT_EQ(clearQueue(), 1);
    EXPECT_TRUE(listRecords(listSuccessful).empty());
}

// A worker that idles out while a record it cannot start is pending (a move's delete
// waits for its held copy) lets its connections go before it ends.
TEST_F(OperationQueue, AWorkerLetsItsConnectionsGoBeforeItEndsWhileOthersWait) {
    seen.simultaneous = 2;
    seen.holdCopies = true;
    ASSERT_EQ(queueMove(u"/remote.txt", u"file://\\remote.txt", false), 1);
    seen.currentPlace = "gone";
    ASSERT_EQ(queueCopyFile(u"/g", u"file://\\g"), 1);  // a second worker fails it, and idles out
    EXPECT_TRUE(test_support::eventually([] { return fakes->idles > 0; }));
}

TEST_F(OperationQueue, EachRecordRunsOnThePlaceItWasQueuedForAndEndsInItsList) {
    seen.fastWaits = false;
    seen.holdCopies = true;  // both are queued before the first runs
    ASSERT_EQ(queueCopyFile(u"/x.txt", u"file://\\x.txt"), 1);
    seen.currentPlace = "B";
    ASSERT_EQ(queueCopyFolder(u"file://\\tree", u"/tree"), 1);
    seen.currentPlace = "gone";
    ASSERT_EQ(queueCopyFile(u"/y.txt", u"file://\\y.txt"), 1);
    // A path that a record would have to cut is refused, not shortened.
    EXPECT_EQ(queueCopyFile(u"/" + std::u16string(300, u'n'), u"file://\\n"), 0);
    seen.holdCopies = false;
    ASSERT_TRUE(queueDrains());

    // The record of the deleted place never reached a copy (its box tells the reason).
    EXPECT_EQ(calls(), (std::vector<std::string>{"copy /x.txt>file://\\x.txt@A", "folder file://\\tree>/tree@B"}));
    EXPECT_EQ(destinations(listSuccessful), (std::vector<std::string>{"file://\\x.txt 1/3", "/tree 6/3"}));
    EXPECT_EQ(destinations(listFailed), std::vector<std::string>{"file://\\y.txt 1/4"});
    EXPECT_EQ(toUtf8(failed("file://\\y.txt").why), "The place was deleted.");

    // A copy that fails shows one box under its caption and ends in Failed.
    seen.copiesSucceed = false;
    seen.currentPlace = "A";
    seen.calls.clear();
    ASSERT_EQ(queueCopyFolder(u"/z", u"file://\\z"), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_EQ(calls(), (std::vector<std::string>{"folder /z>file://\\z@A", "box Copy Folder Error"}));
}

// A move deletes its source only when its copy succeeded whole: a failed copy, or a folder
// copy that logged one file as not copied, keeps it.
TEST_F(OperationQueue, AMoveDeletesItsSourceOnlyAfterAWholeCopy) {
    test_support::DeviceRoot device;
    test_support::TemporaryRegistry registry;
    local::setUpDeviceView();
    seen.fastWaits = false;
    device.file("kept/one", "1");
    device.folder("moved");  // the fake copy logs nothing it copied: only an empty folder goes

    seen.logFailedFile = true;
    ASSERT_EQ(queueMove(u"file://\\kept", u"/kept", true), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_TRUE(std::filesystem::exists(device.at("kept/one")));
    seen.logFailedFile = false;
    seen.copiesSucceed = false;
    ASSERT_EQ(queueMove(u"/remote.txt", u"file://\\remote.txt", false), 1);
    ASSERT_TRUE(queueDrains());
    seen.copiesSucceed = true;
    ASSERT_EQ(queueMove(u"file://\\moved", u"/moved", true), 1);
    ASSERT_EQ(queueMove(u"/remote.txt", u"file://\\remote.txt", false), 1);
    ASSERT_TRUE(queueDrains());

    EXPECT_FALSE(std::filesystem::exists(device.at("moved")));
    EXPECT_EQ(destinations(listFailed), (std::vector<std::string>{"out/one 1/1", "file://\\kept 3/4",
                                                                  "file://\\remote.txt 1/4", "/remote.txt 3/4"}));
    EXPECT_EQ(destinations(listSuccessful), (std::vector<std::string>{"/kept 6/3", "/moved 6/3", "file://\\moved 3/3",
                                                                      "file://\\remote.txt 1/3", "/remote.txt 3/3"}));
    const std::vector<std::string> seenCalls = calls();
    EXPECT_EQ(std::count(seenCalls.begin(), seenCalls.end(), "delete /remote.txt@A"), 1);  // on its place
    EXPECT_EQ(toUtf8(listRecords(listFailed)[1].why), "The source was kept: its copy did not succeed whole.");

    // A file in the way is never replaced unasked (here no one answers the question).
    seen.calls.clear();
    ASSERT_EQ(queueCopyFile(u"/one", u"file://\\kept\\one"), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(toUtf8(listRecords(listFailed).back().why), "The file already exists and was kept.");
}

// Retry puts a failed record back in Pending as a retry; a move's copy and delete go back
// together and in order, whichever of the two is chosen, and a file a folder copy logged
// runs on that copy's place.
TEST_F(OperationQueue, RetryQueuesAFailedRecordAgainWithTheRestOfItsMove) {
    seen.copiesSucceed = false;
    seen.logFailedFile = true;
    ASSERT_EQ(queueMove(u"/remote.txt", u"file://\\remote.txt", false), 1);
    ASSERT_EQ(queueCopyFolder(u"/tree", u"file://\\tree"), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_EQ(destinations(listFailed), (std::vector<std::string>{"file://\\remote.txt 1/4", "/remote.txt 3/4",
                                                                  "out/one 1/1", "file://\\tree 6/4"}));
    EXPECT_EQ(retryFailed(u"/remote.txt", 999), 0);  // no such record

    seen.copiesSucceed = true;
    seen.calls.clear();
    seen.currentPlace = "B";  // a retry runs where the record was queued, not where the view is now
    ASSERT_EQ(retryFailed(u"/remote.txt", failed("/remote.txt").started), 1);
    ASSERT_TRUE(queueDrains());
    ASSERT_EQ(retryFailed(u"out/one", failed("out/one").started), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_EQ(calls(), (std::vector<std::string>{"copy /remote.txt>file://\\remote.txt@A resumed",
                                                 "delete /remote.txt@A", "copy in/one>out/one@A resumed"}));
    EXPECT_EQ(destinations(listFailed), (std::vector<std::string>{"file://\\tree 6/4"}));
    const std::vector<FileOperation> done = listRecords(listSuccessful);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_TRUE(done[0].retried && done[0].why.empty());
}

// A record added just as the worker decides to end is never lost: it is taken by that
// worker or starts the next one, even when no other record follows it. Each round adds
// one record on the worker's last empty wake-up, while its slow notice of changes
// widens the moment.
TEST_F(OperationQueue, AnAddRacingTheWorkersEndIsNeverLost) {
    static constexpr int rounds = 40;
    static std::atomic<int> added{0};
    static std::mutex addersLock;
    static std::vector<std::thread> adders;
    added = 0;
    QueueBindings bindings = bound;
    bindings.changed = [] { std::this_thread::sleep_for(std::chrono::microseconds(100)); };
    bindings.waitForWork = [](platform::SyncHandle event, std::uint32_t milliseconds) {
        // The wake-up after which an idle worker ends.
        if (milliseconds == 29100 && added < rounds) {
            std::lock_guard guard(addersLock);
            adders.emplace_back([] {
                std::this_thread::sleep_for(std::chrono::microseconds(20 * (added % 10)));
                queueCopyFile(u"/f", u"file://\\f" + toUtf16(std::to_string(++added)));
            });
        }
        return platform::waitFor(event, 0);
    };
    bindQueue(bindings);
    ASSERT_EQ(queueCopyFile(u"/f", u"file://\\f0"), 1);
    test_support::eventually([] { return listRecords(listSuccessful).size() >= std::size_t(rounds + 1); },
                             std::chrono::seconds(10));
    EXPECT_EQ(listRecords(listSuccessful).size(), std::size_t(rounds + 1))
        << "pending " << listRecords(listPending).size() << ", added " << added;
    askQueueToStop();
    ASSERT_TRUE(waitForQueue(std::chrono::seconds(5)));
    std::lock_guard guard(addersLock);
    for (std::thread& adder : adders) adder.join();
    adders.clear();
    bindQueue(bound);
}

TEST_F(OperationQueue, TheQueueViewListsARecordsDestinationAndTimes) {
    initQueueView();
    explorer::ViewProvider& view = explorer::queueProvider;
    EXPECT_FALSE(view.GetItem(4));  // the Failed list is the last
    for (const char16_t* name : {u"/pub/a.txt", u"/pub/b.txt", u"/pub/c.txt"}) {
        addOperation(kindCopyFile, u"file://\\x", name, listSuccessful);
    }
    view.filterIndex = 2;
    platform::FindData data;
    const platform::FindHandle handle = view.FindFirst(u"*", data);
    ASSERT_NE(handle, platform::invalidFindHandle);
    std::vector<std::u16string> names{data.name};
    while (view.FindNext(handle, data)) names.push_back(data.name);
    EXPECT_EQ(platform::lastError(), platform::errorNoMoreFiles);
    view.FindClose(handle);
    // A row's name holds no separator: it cannot name another entry.
    EXPECT_EQ(names,
              (std::vector<std::u16string>{u"\u2215pub\u2215a.txt", u"\u2215pub\u2215b.txt", u"\u2215pub\u2215c.txt"}));
    EXPECT_EQ(platform::toUint64(data.creationTime), 1000u);
    EXPECT_EQ(platform::toUint64(data.lastWriteTime), 0u);  // logged, never started
    // Delete removes the row's log record and queues nothing; a waiting row stays.
    EXPECT_EQ(view.DeleteFile(u"Queue\\\u2215pub\u2215b.txt"), 1);
    EXPECT_EQ(destinations(listSuccessful), (std::vector<std::string>{"/pub/a.txt 1/1", "/pub/c.txt 1/1"}));
    view.filterIndex = 0;
    EXPECT_EQ(view.DeleteFile(u"Queue\\\u2215pub\u2215a.txt"), 0);
    EXPECT_TRUE(listRecords(listPending).empty());
    EXPECT_EQ(view.FindFirst(u"*", data), platform::invalidFindHandle);
}

// Up to the limit records run at once, each on a worker of its own; what arrives while
// they run (an Add, a Retry) waits for a free one, a lower limit holds for the records
// that start after it, and Stop ends them all, showing no box and starting no other.
TEST_F(OperationQueue, UpToTheLimitRecordsRunAtOnceEachOnAWorkerOfItsOwn) {
    seen.fastWaits = false;
    seen.currentPlace = "gone";
    ASSERT_EQ(queueCopyFile(u"/gone", u"file://\\gone"), 1);
    ASSERT_TRUE(queueDrains());
    seen.currentPlace = "A";
    seen.simultaneous = 4;
    seen.holdCopies = true;
    const auto queueFiles = [](int first, int last) {
        for (int i = first; i <= last; ++i) {
            const std::u16string name = toUtf16(std::to_string(i));
            queueCopyFile(u"/f" + name, u"file://\\f" + name);
        }
    };
    // Once `count` run, time enough for one more to start wrongly.
    const auto running = [](std::size_t count) {
        test_support::eventually([count] { return listRecords(listActive).size() == count; });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return listRecords(listActive).size();
    };
    queueFiles(1, 5);
    ASSERT_EQ(retryFailed(u"file://\\gone", 1000), 1);
    queueFiles(6, 6);
    EXPECT_EQ(running(4), 4u);
    EXPECT_EQ(queueProgress().running, 4);
    EXPECT_EQ(queueProgress().pending, 3);

    seen.simultaneous = 2;
    seen.holdCopies = false;
    ASSERT_TRUE(queueDrains());
    EXPECT_EQ(seen.mostRunning, 4);
    EXPECT_EQ(listRecords(listSuccessful).size(), 6u);
    EXPECT_EQ(destinations(listFailed), std::vector<std::string>{"file://\\gone 1/4"});

    seen.holdCopies = true;
    seen.calls.clear();
    queueFiles(7, 10);
    EXPECT_EQ(running(2), 2u);
    EXPECT_EQ(stopQueue(), 1);
    EXPECT_FALSE(workerRunning());
    const std::vector<std::string> stopped = calls();
    EXPECT_EQ(std::set<std::string>(stopped.begin(), stopped.end()),
              (std::set<std::string>{"copy /f7>file://\\f7@A", "copy /f8>file://\\f8@A"}));
    for (int list = listPending; list <= listFailed; ++list) EXPECT_TRUE(listRecords(list).empty());
}

// With room for every record, one still waits while an earlier unfinished record touches
// one of its entries: the same path, or one a folder above the other, on the same side,
// and a move's delete waits for its copy (the rest of the order: TheOrdersRulesHoldInRandomRounds).
TEST_F(OperationQueue, ARecordWaitsWhileAnEarlierOneTouchesItsEntries) {
    seen.fastWaits = false;
    seen.simultaneous = 8;
    seen.holdCopies = true;
    const std::uint64_t run = newRun();
    // Each record, and the destination of the one that starts at once (none: it waits).
    const struct Case {
        const char* record;
        int (*queue)(std::uint64_t run);
        const char* starts;
    } cases[] = {
        {"copy", [](std::uint64_t) { return queueCopyFile(u"/a/x", u"file://\\d\\xy"); }, "file://\\d\\xy"},
        {"same target", [](std::uint64_t) { return queueCopyFile(u"/b", u"file://\\d\\xy"); }, nullptr},
        {"folder above", [](std::uint64_t) { return queueCopyFile(u"/a/", u"file://\\e"); }, nullptr},
        {"entry below", [](std::uint64_t) { return queueCopyFile(u"/a/x/y", u"file://\\k"); }, nullptr},
        {"names alike", [](std::uint64_t) { return queueCopyFile(u"/ab", u"file://\\d\\x"); }, "file://\\d\\x"},
        {"device folder above", [](std::uint64_t) { return queueCopyFile(u"file://\\d", u"/g"); }, nullptr},
        {"other side", [](std::uint64_t) { return queueCopyFile(u"file://\\a\\x", u"/h"); }, "/h"},
        {"move", [](std::uint64_t) { return queueMove(u"/remote.txt", u"file://\\remote.txt", false); },
         "file://\\remote.txt"},
    };
    std::multiset<std::string> started;
    for (const Case& c : cases) {
        ASSERT_EQ(c.queue(run), 1) << c.record;
        if (c.starts) started.insert(c.starts);
    }
    ASSERT_TRUE(test_support::eventually([&] { return listRecords(listActive).size() == started.size(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // time for a waiting one to start wrongly
    std::multiset<std::string> active;
    for (const FileOperation& record : listRecords(listActive)) active.insert(toUtf8(record.destination));
    EXPECT_EQ(active, started);

    seen.holdCopies = false;
    ASSERT_TRUE(queueDrains());
    EXPECT_TRUE(listRecords(listFailed).empty());
    const std::vector<std::string> order = calls();
    const auto at = [&](const std::string& call) {
        return std::find(order.begin(), order.end(), call) - order.begin();
    };
    EXPECT_LT(at("copy /remote.txt>file://\\remote.txt@A"), at("delete /remote.txt@A"));
}

// A run's removals go only when every other record of the run succeeded; else each fails
// saying so (Retry: TheOrdersRulesHoldInRandomRounds). A run's failures show no box. Its
// copies for one place go as one batch, each record ending as its copy does; another
// place's copy goes on its own.
TEST_F(OperationQueue, ARunRemovesOnlyOnceAllItsOtherRecordsSucceeded) {
    seen.fastWaits = false;
    seen.decide = [](std::u16string_view target) { return target != u"/a"; };
    const std::uint64_t run = newRun();
    seen.holdCopies = true;  // all queued before a ends, as a synchronisation queues them
    ASSERT_EQ(queueRunCopy(run, u"file://\\a", u"/a"), 1);
    ASSERT_EQ(queueRunCopy(run, u"file://\\b", u"/b", {.path = "b", .size = 7}), 1);  // its size as planned
    seen.currentPlace = "B";
    ASSERT_EQ(queueRunCopy(run, u"file://\\c", u"/c"), 1);
    ASSERT_EQ(queueRunRemove(run, u"/old", {"old"}), 1);
    seen.holdCopies = false;
    ASSERT_TRUE(queueDrains());
    EXPECT_EQ(toUtf8(failed("/a").why), "(fake) it failed");
    EXPECT_EQ(failed("/b").state, 0u) << "b succeeded";
    EXPECT_EQ(seen.joined, 1) << "b joins a's batch";
    EXPECT_EQ(toUtf8(failed("/old").why), "Kept: another record of the same synchronisation failed.");
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"copy file://\\a>/a@A keeping times", "copy file://\\b>/b@A keeping times of 7",
                                        "copy file://\\c>/c@B keeping times"}));
}

// On the device a run's folder that exists counts as made and a file in the way does
// not; a removal takes one file or one empty folder that is still as planned, and never
// a link; a run's copy replaces its target unasked and keeps the source's time, the next
// record not.
TEST_F(OperationQueue, ARunMakesFoldersAndRemovesSingleEntriesOnTheDevice) {
    test_support::DeviceRoot device;
    test_support::TemporaryRegistry registry;
    local::setUpDeviceView();
    seen.fastWaits = false;
    for (const char* file : {"have/one", "afile", "full/inner", "target/inner", "kept.txt", "old.txt", "changed"}) {
        device.file(file, "1");
    }
    device.folder("empty");
    std::filesystem::create_directory_symlink(device.at("target"), device.at("link"));
    std::filesystem::create_symlink(device.at("kept.txt"), device.at("flink"));
    // Each in a run of its own, so that no removal waits for the others.
    for (const char16_t* folder : {u"file://\\have", u"file://\\afile", u"file://\\new"}) {
        ASSERT_EQ(queueRunMakeFolder(newRun(), folder), 1);
    }
    for (const char16_t* folder : {u"file://\\full", u"file://\\link", u"file://\\empty"}) {
        ASSERT_EQ(queueRunRemove(newRun(), folder, {"", true}), 1);
    }
    for (const auto& [file, size] :
         {std::pair{u"file://\\flink", 1}, {u"file://\\old.txt", 1}, {u"file://\\changed", 5}})
        ASSERT_EQ(queueRunRemove(newRun(), file, {"", false, size}), 1);
    ASSERT_EQ(queueRunCopy(newRun(), u"/one", u"file://\\have\\one"), 1);
    ASSERT_TRUE(queueDrains());
    ASSERT_EQ(queueCopyFile(u"/two", u"file://\\two"), 1);
    ASSERT_TRUE(queueDrains());

    EXPECT_EQ(destinations(listFailed),
              (std::vector<std::string>{"file://\\afile 7/4", "file://\\full 8/4", "file://\\link 8/4",
                                        "file://\\flink 3/4", "file://\\changed 3/4"}));
    EXPECT_EQ(toUtf8(listRecords(listFailed).at(0).why), "A file of that name is in the way.");
    EXPECT_EQ(toUtf8(listRecords(listFailed).at(2).why), "Kept: it is a link now.");
    EXPECT_EQ(toUtf8(listRecords(listFailed).at(4).why), "Kept: it changed since it was planned: 1 bytes, not 5.");
    const auto there = [&](const char* path) {
        return std::filesystem::exists(std::filesystem::symlink_status(device.at(path)));
    };
    for (const char* kept :
         {"afile", "full/inner", "link", "target/inner", "kept.txt", "new", "have/one", "flink", "changed"}) {
        EXPECT_TRUE(there(kept)) << kept;
    }
    for (const char* gone : {"old.txt", "empty"}) EXPECT_FALSE(there(gone)) << gone;
    EXPECT_TRUE(std::filesystem::is_symlink(device.at("link")));
    EXPECT_EQ(calls(),
              (std::vector<std::string>{"copy /one>file://\\have\\one@A keeping times", "copy /two>file://\\two@A"}));
}

// The order's rules (tests/support/plan_rules.h) hold whenever a record is carried out, in
// random rounds with Retry, Delete and Clear between the adds; each round drains, and
// Retry of what failed leaves only the removals of runs whose failed copy it did not retry.
TEST_F(OperationQueue, TheOrdersRulesHoldInRandomRounds) {
    static std::atomic<std::uint64_t> clock{0};
    QueueBindings bindings = bound;
    bindings.now = [] { return ++clock; };
    bindQueue(bindings);
    seen.fastWaits = false;
    seen.simultaneous = 4;
    for (unsigned seed = 1; seed <= 2000 && !HasFailure(); ++seed) {
        std::mt19937 random(seed);
        const std::vector<test_support::RuleStep> round = test_support::ruleRound(random);
        test_support::RuleBook book;
        const std::uint64_t runs[] = {0, newRun(), newRun(), newRun()};
        std::map<std::pair<std::uint64_t, std::u16string>, const test_support::RuleStep*> steps;
        for (const auto& step : round) steps[{runs[step.run], u"/" + toUtf16(step.path)}] = &step;
        const auto stepOf = [&](const FileOperation& record) { return steps.at({record.run, record.destination}); };
        seen.decide = [&](std::u16string_view target) {
            std::vector<test_support::UnfinishedStep> unfinished, carried;
            for (const int list : {listActive, listPending}) {
                for (const FileOperation& record : listRecords(list)) {
                    unfinished.push_back(
                        {stepOf(record), record.queued, record.started, list == listActive, record.retried});
                    if (list == listActive && target == record.destination) carried.push_back(unfinished.back());
                }
            }
            const bool succeeds = book.carryOut(carried.at(0), unfinished);
            std::this_thread::sleep_for(std::chrono::microseconds(200));  // so that others wait meanwhile
            return succeeds;
        };
        const auto retry = [&](const FileOperation& record) {
            book.retrying(*stepOf(record));
            retryFailed(record.destination, record.started);
        };
        for (const auto& step : round) {
            const std::u16string target = u"/" + toUtf16(step.path), source = u"file://\\" + toUtf16(step.path);
            const bool folder = step.path == "d" || step.path == "e";
            const std::uint64_t run = runs[step.run];
            if (step.run == 0) ASSERT_EQ(folder ? queueCopyFolder(source, target) : queueCopyFile(source, target), 1);
            else if (step.removal) ASSERT_EQ(queueRunRemove(run, target, {step.path, folder}), 1);
            else ASSERT_EQ(folder ? queueRunMakeFolder(run, target) : queueRunCopy(run, source, target), 1);
            const std::vector<FileOperation> failed = listRecords(listFailed);
            const unsigned action = random() % 16;
            if (action == 0 && !failed.empty()) retry(failed[0]);
            if (action == 1) removeLogRecord(listFailed, [](const FileOperation&) { return true; });
            if (action == 2) clearQueue();
            if (action == 3) std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        for (int pass = 0, retried = 1; retried > 0; ++pass) {
            ASSERT_TRUE(queueDrains() && pass < 5) << "seed " << seed << ", pass " << pass;
            retried = 0;
            for (const FileOperation& record : listRecords(listFailed)) {
                const test_support::RuleStep& step = *stepOf(record);
                if (step.removal && book.runFailed(step.run)) {
                    EXPECT_EQ(toUtf8(record.why), "Kept: another record of the same synchronisation failed.");
                } else {
                    ++retried;
                    retry(record);
                }
            }
        }
        EXPECT_EQ(book.broken(), "") << "seed " << seed;
        clearQueue();
    }
}

}  // namespace
