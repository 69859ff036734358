// Times a 256 MiB download queued through the operation queue (the worker, its own
// connection, the engine's temporary file) against curl fetching the same file from the
// same pyftpdlib on loopback, best of a few rounds. Meanwhile a stand-in for the UI
// thread asks the queue for its progress every 10 ms, as the progress line does, and the
// longest of those calls is reported: the UI must never wait for a transfer.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/queue_progress.h"
#include "explorer/provider.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Round {
    double seconds = 1e9;
    double longestUiWait = 0;  // seconds
};

Round queuedDownload(const std::string& remotePath, const std::string& target) {
    std::remove(target.c_str());
    Round round;
    const Clock::time_point start = Clock::now();
    queue::queueCopyFile(platform::toUtf16(remotePath), u"file://" + platform::toUtf16(target));
    for (;;) {
        const Clock::time_point asked = Clock::now();
        const queue::QueueProgress progress = queue::queueProgress();
        round.longestUiWait = std::max(round.longestUiWait, since(asked));
        if (!progress.active && progress.pending == 0 && !queue::listRecords(queue::listSuccessful).empty()) break;
        if (!queue::listRecords(queue::listFailed).empty()) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    round.seconds = since(start);
    queue::clearQueue();
    return round;
}

double curlDownload(const std::string& url, const std::string& target) {
    const Clock::time_point start = Clock::now();
    const std::string command = "curl -s -S -o '" + target + "' " + url;
    if (std::system(command.c_str()) != 0) return 1e9;
    return since(start);
}

}  // namespace

int main() {
    test_support::TemporaryFolder home;
    setenv("FARLINK_HOME", home.path().c_str(), 1);
    setenv("XDG_CACHE_HOME", home.path().c_str(), 1);
    platform::useRegistryFile(home / "registry.reg");
    const int rounds = std::getenv("FARLINK_BENCH_ROUNDS") ? std::atoi(std::getenv("FARLINK_BENCH_ROUNDS")) : 3;

    test_support::TemporaryFolder root;
    test_support::RealFtpServer server(test_support::FtpServerKind::Pyftpdlib, root.path());
    if (!server.error().empty()) {
        std::fprintf(stderr, "bench/queue: %s\n", server.error().c_str());
        return 1;
    }
    const std::string name = "big.bin";
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7919 % 251);
    if (std::FILE* file = std::fopen(server.hostPath(name).c_str(), "wb")) {
        for (int i = 0; i < 256; ++i) std::fwrite(block.data(), 1, block.size(), file);
        std::fclose(file);
    }

    remote::startNetworkClock();
    remote::bindRemoteListing(explorer::remoteProvider);
    remote::bindRemoteFiles(explorer::remoteProvider);
    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    const std::string address = server.address();
    platform::copyBounded(data.host, 128, u"127.0.0.1");
    data.port = std::uint32_t(std::stoul(address.substr(address.rfind(':') + 1)));
    platform::copyBounded(data.userName, 64, platform::toUtf16(server.user()));
    platform::copyBounded(data.password, 64, platform::toUtf16(server.password()));
    remote::applyPlaceDialogData(0, data);
    app::bindQueue(platform::Window{});

    test_support::TemporaryFolder device;
    Round farlink;
    double curl = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const Round queued = queuedDownload(server.remotePath(name), device / "queued.bin");
        if (queued.seconds < farlink.seconds) farlink.seconds = queued.seconds;
        farlink.longestUiWait = std::max(farlink.longestUiWait, queued.longestUiWait);
        curl = std::min(curl, curlDownload(server.url(server.remotePath(name)), device / "curl.bin"));
    }
    std::printf("256 MiB download, pyftpdlib on loopback, passive mode, best of %d rounds\n", rounds);
    std::printf("%-16s %10s %10s\n", "client", "seconds", "MiB/s");
    std::printf("%-16s %10.3f %10.1f\n", "farlink (queue)", farlink.seconds, 256 / farlink.seconds);
    std::printf("%-16s %10.3f %10.1f\n", "curl", curl, 256 / curl);
    std::printf("farlink ÷ curl: %.2f; longest UI-thread call into the queue meanwhile: %.2f ms\n",
                farlink.seconds / curl, farlink.longestUiWait * 1000);
    queue::stopQueue();
    remote::shutdownRemote();
    remote::removeListingCache();
    return 0;
}
