// Queued copies through the Remote view and the queue as the program binds them, against
// real servers and a scripted one (a failed copy keeps its source: operation_queue_test).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/queue_progress.h"
#include "explorer/provider.h"
#include "local/device.h"
#include "platform/own_files.h"
#include "platform/text.h"
#include "queue/operation_queue.h"
#include "queue/queue_view.h"
#include "remote/connect.h"
#include "remote/partial_downloads.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"
#include "remote/remote_view.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::toUtf16;
using platform::toUtf8;
using std::filesystem::perms;
using namespace test_support;

// The queue bound as the program binds it, on the Remote view's operations, with a device
// root of its own; the worker stopped and everything unbound at the end.
class QueuedCopy : public ::testing::Test {
protected:
    QueuedCopy() {
        local::setUpDeviceView();
        app::bindQueue(platform::Window{});
    }
    ~QueuedCopy() override {
        queue::stopQueue();
        remote::setCopyLogHook(nullptr);
        queue::bindQueue({});
        remote::shutdownRemote();
    }

    // Waits until nothing is pending or active, for at most two minutes.
    static bool queueDrains() {
        return eventually(
            [] {
                return queue::listRecords(queue::listPending).empty() && queue::listRecords(queue::listActive).empty();
            },
            std::chrono::minutes(2));
    }

    RemoteViewScope scope;
    DeviceRoot device;
};

class QueuedCopies : public QueuedCopy, public ::testing::WithParamInterface<ServerSetup> {};

// Run once the copy it waits for has ended whole, before the next record starts; under a
// lock, since the worker and the queueing thread both tell of changes.
std::mutex afterCopyLock;
std::function<void()> afterCopy;
std::u16string afterCopyOf;
void runAfterCopy() {
    const std::vector<queue::FileOperation> done = queue::listRecords(queue::listSuccessful);
    std::lock_guard held(afterCopyLock);
    if (afterCopy && !done.empty() && done.back().state == queue::stateSucceeded &&
        done.back().destination == afterCopyOf) {
        std::exchange(afterCopy, nullptr)();
    }
}
void setAfterCopy(std::u16string destination, std::function<void()> hook) {
    std::lock_guard held(afterCopyLock);
    afterCopyOf = std::move(destination);
    afterCopy = std::move(hook);
}

// A file that arrives in a moved folder between its copy and its delete, on either side,
// is never deleted: the move deletes what its copy copied and fails, saying what it kept.
TEST_P(QueuedCopies, AFolderMoveDeletesOnlyWhatItsCopyCopied) {
    TemporaryFolder root;
    RealFtpServer server(GetParam().kind, root.path());
    ASSERT_EQ(server.error(), "");
    addPlace(server.address(), {.user = server.user(), .password = server.password(), .passive = GetParam().passive});
    queue::bindQueue({.currentPlace = remote::currentPlaceToken,
                      .enterPlace = remote::enterPlaceToken,
                      .leavePlace = remote::leavePlaceToken,
                      .changed = runAfterCopy});
    for (const bool fromDevice : {true, false}) {
        SCOPED_TRACE(fromDevice ? "from the device" : "from the server");
        const std::string name = fromDevice ? "up" : "down";
        const auto at = [&](const std::string& path) { return fromDevice ? device.at(path) : server.hostPath(path); };
        std::filesystem::create_directories(at(name + "/sub"));
        for (const char* folder : {"", "/sub"}) std::filesystem::permissions(at(name + folder), perms::all);
        writeFile(at(name + "/one"), "1");
        writeFile(at(name + "/sub/two"), "2");
        const std::u16string onDevice = u"file://\\" + toUtf16(name);
        const std::u16string onServer = toUtf16(server.remotePath(name));
        setAfterCopy(fromDevice ? onServer : onDevice, [&] { writeFile(at(name + "/sub/late"), "late"); });
        queue::queueMove(fromDevice ? onDevice : onServer, fromDevice ? onServer : onDevice, true);
        ASSERT_TRUE(queueDrains());
        EXPECT_EQ(treeText(fromDevice ? server.hostPath(name) : device.at(name)), "one 1\nsub/\nsub/two 2\n");
        EXPECT_EQ(treeText(at(name)), "sub/\nsub/late late\n");
        EXPECT_NE(toUtf8(queue::listRecords(queue::listFailed).at(0).why).find("late', which its copy did not"),
                  std::string::npos);
        queue::clearQueue();

        // A moved file changed after its copy stays too.
        writeFile(at(name + ".txt"), "1");
        std::filesystem::permissions(at(name + ".txt"), perms::all);
        setAfterCopy(fromDevice ? onServer + u".txt" : onDevice + u".txt",
                     [&] { writeFile(at(name + ".txt"), "changed"); });
        queue::queueMove(fromDevice ? onDevice + u".txt" : onServer + u".txt",
                         fromDevice ? onServer + u".txt" : onDevice + u".txt", false);
        ASSERT_TRUE(queueDrains());
        EXPECT_EQ(readFile(at(name + ".txt")), "changed");
        EXPECT_EQ(queue::listRecords(queue::listFailed).size(), 1u);
        queue::clearQueue();
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, QueuedCopies,
                         ::testing::Values(ServerSetup{FtpServerKind::Pyftpdlib, true},
                                           ServerSetup{FtpServerKind::Vsftpd, false}),
                         setupParamName);

// A queued download reports its bytes and the size the server gave while it runs; Stop
// ends it half-way through the engine's short waits, and what arrived stays only as the
// hidden partial file, never as the user's file.
using QueuedDownload = QueuedCopy;

TEST_F(QueuedDownload, ShowsItsProgressAndAStopKeepsOnlyItsPartial) {
    using namespace conversation;
    ScriptedFtpServer server(login() + ask("TYPE I", "200 ok") + ask("SIZE /pub/big", "213 1000000") + expect("PASV") +
                             replyPassive() + acceptData() + expect("RETR /pub/big") + send("150 here\r\n") +
                             sendData(std::string(100 * 1024, 'n')) + expect("QUIT"));
    addPlace(server.address());

    queue::queueCopyFile(u"/pub/big", u"file://\\big");
    queue::QueueProgress progress;
    eventually([&] { return (progress = queue::queueProgress()).done >= 64 * 1024; }, std::chrono::seconds(10));
    EXPECT_TRUE(progress.active);
    EXPECT_GE(progress.done, 64 * 1024);
    EXPECT_EQ(progress.total, 1000000);
    EXPECT_EQ(toUtf8(progress.destination), "file://\\big");

    queue::stopQueue();
    remote::shutdownRemote();
    const std::vector<std::string> left = names(device.path());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(platform::isOwnTemporaryName(left[0])) << left[0];
    EXPECT_EQ(server.finish(), "");
}

// A server without SIZE that cuts a download short and still says 226: the size its
// folder lists tells, and no file takes the user's name.
TEST_F(QueuedDownload, WithoutSizeTheListedSizeTellsACutDownload) {
    using namespace conversation;
    ScriptedFtpServer server(login() + ask("TYPE I", "200 ok") + ask("SIZE /pub/big", "500 unknown command") +
                             listing("/pub/", unixLine('-', "big", "100000")) + ask("TYPE I", "200 ok") +
                             expect("PASV") + replyPassive() + acceptData() + expect("RETR /pub/big") +
                             send("150 here\r\n") + sendData(std::string(40000, 'n')) + closeData() +
                             send("226 done\r\n") + expect("QUIT"));
    addPlace(server.address());
    queue::queueCopyFile(u"/pub/big", u"file://\\big");
    ASSERT_TRUE(queueDrains());
    EXPECT_EQ(queue::listRecords(queue::listFailed).size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(device.at("big")));
    queue::stopQueue();
    EXPECT_EQ(server.finish(), "");
}

// A download cut at 40% fails and keeps what arrived beside the target; Retry on the
// Failed list queues it again, and it goes on from there (the server sees REST).
TEST_F(QueuedDownload, ACutDownloadRetriedGoesOnFromItsPartial) {
    using namespace conversation;
    const std::string bytes = patternBytes(100000);
    // The worker's own connection: dropped after the cut, made anew for the retry, and
    // kept after it until the worker ends.
    const Script transferStart = login() + ask("TYPE I", "200 ok") + ask("SIZE /pub/big", "213 100000");
    ScriptedFtpServer server(
        transferStart + expect("PASV") + replyPassive() + acceptData() + expect("RETR /pub/big") +
        send("150 here\r\n") + sendData(bytes.substr(0, 40000)) + resetData() + send("426 cut\r\n") + expect("QUIT") +
        acceptControl() + transferStart + ask("REST 40000", "350 ok") + expect("PASV") + replyPassive() +
        ask("REST 40000", "350 ok") + acceptData() + expect("RETR /pub/big") + send("150 here\r\n") +
        sendData(bytes.substr(40000)) + closeData() + send("226 done\r\n") + expect("QUIT"));
    addPlace(server.address());

    queue::queueCopyFile(u"/pub/big", u"file://\\big");
    ASSERT_TRUE(queueDrains());
    const std::vector<queue::FileOperation> failed = queue::listRecords(queue::listFailed);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(device.at("big")));  // never a half file

    ASSERT_EQ(queue::retryRow(queue::rowNameOf(failed[0].destination), failed[0].started), 1);
    ASSERT_TRUE(queueDrains());
    EXPECT_TRUE(queue::listRecords(queue::listFailed).empty());
    EXPECT_EQ(queue::listRecords(queue::listSuccessful).size(), 1u);
    EXPECT_TRUE(device.read("big") == bytes);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(device.path()), {}), 1);  // the partial is gone

    queue::stopQueue();
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// A download whose server stops sending gives up once the silence reaches its limit (not
// at the place's shorter time-out, nor when the server hangs up): the data connection's
// silence and the final reply's are one, and the failure names it.
TEST_F(QueuedDownload, AStalledDownloadGivesUpAtTheSilenceItNames) {
    using namespace conversation;
    remote::setSilenceLimit(1500);
    ScriptedFtpServer server(login() + ask("TYPE I", "200 ok") + ask("SIZE /pub/big", "213 1000000") + expect("PASV") +
                             replyPassive() + acceptData() + expect("RETR /pub/big") + send("150 here\r\n") +
                             sendData(std::string(1000, 'n')) + expect("never sent"));
    PlaceLogin login;
    login.timeout = 1000;
    addPlace(server.address(), login);
    const auto started = std::chrono::steady_clock::now();
    queue::queueCopyFile(u"/pub/big", u"file://\\big");
    ASSERT_TRUE(queueDrains());
    const auto took = std::chrono::steady_clock::now() - started;
    remote::setSilenceLimit(remote::defaultSilenceLimitMs);
    EXPECT_GE(took, std::chrono::milliseconds(1500));
    EXPECT_NE(placeError(0).find("did not answer within 1500 ms"), std::string::npos) << placeError(0);
}

// The progress line: bytes, share, rate and time left while copies run, "stalled" once
// their bytes stand still, and how many run and wait. The looks at one copy come every
// half second.
TEST(QueueProgress, TheStatusSaysWhatRunsAndWhatWaits) {
    struct Case {
        bool active;
        std::int64_t done, total;
        std::uint32_t elapsedMs;
        int pending;
        const char* text;
        int running = 1;
    };
    const Case cases[] = {
        {false, 0, -1, 0, 0, ""},
        {false, 0, -1, 0, 2, "2 waiting"},
        {true, 512, -1, 200, 0, "512 B"},
        {true, 3 * 1048576, 12 * 1048576, 3000, 1, "3.00 MB of 12.00 MB 25% 1.00 MB/s 0:09 left, 1 waiting"},
        {true, 3 * 1048576, 12 * 1048576, 7500, 1, "3.00 MB of 12.00 MB 25% 409.6 KB/s 0:22 left, 1 waiting"},
        {true, 3 * 1048576, 12 * 1048576, 8000, 1, "3.00 MB of 12.00 MB 25% stalled, 1 waiting"},
        {true, 1048576, 5368709120, 1000, 0, "1.00 MB of 5.000 GB 0% 1.00 MB/s 1:25:19 left"},
        // Several running copies: the sums of their bytes, and how many run.
        {true, 2 * 1048576, 8 * 1048576, 2000, 12, "2.00 MB of 8.00 MB 25% 1.00 MB/s 0:06 left, 3 running, 12 waiting",
         3},
        {true, 1048576, -1, 1000, 0, "1.00 MB 1.00 MB/s, 2 running", 2},
    };
    app::ProgressLook seen;
    for (const Case& c : cases) {
        queue::QueueProgress progress;
        progress.active = c.active;
        progress.done = c.done;
        progress.total = c.total;
        progress.elapsedMs = c.elapsedMs;
        progress.pending = c.pending;
        progress.running = c.active ? c.running : 0;
        const std::uint32_t still = app::stillFor(seen, progress);
        EXPECT_EQ(toUtf8(app::progressText(progress, still)), c.text) << c.elapsedMs;
    }
}

}  // namespace
