// Times a 256 MiB download queued through the operation queue (the worker, its own
// connection, the engine's temporary file) against curl fetching the same file from the
// same pyftpdlib on loopback, best of a few rounds. Meanwhile Farlink runs on a headless
// screen and gets a key press every 10 ms: the time each takes to be handled (the loop
// run until idle) is reported, the longest and the median, beside the same with no
// transfer running. The UI must never wait for a transfer.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "explorer/provider.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"
#include "resources/menus.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Round {
    double seconds = 1e9;
    std::vector<double> keyMs;  // how long each key press took to be handled
};

platform::HeadlessTerminal* screen = nullptr;

// One key press on the headless Farlink, handled until the loop is idle.
double pressKeyMs(platform::Key key) {
    const Clock::time_point pressed = Clock::now();
    screen->pressKey(key);
    platform::runMessageLoop(resources::mainAccelerators());
    return since(pressed) * 1000;
}

Round queuedDownload(const std::string& remotePath, const std::string& target) {
    std::remove(target.c_str());
    Round round;
    const Clock::time_point start = Clock::now();
    queue::queueCopyFile(platform::toUtf16(remotePath), u"file://" + platform::toUtf16(target));
    for (int i = 0;; ++i) {
        round.keyMs.push_back(pressKeyMs(i % 2 ? platform::Key::up : platform::Key::down));
        const queue::QueueProgress progress = queue::queueProgress();
        if (!progress.active && progress.pending == 0 && !queue::listRecords(queue::listSuccessful).empty()) break;
        if (!queue::listRecords(queue::listFailed).empty()) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    round.seconds = since(start);
    queue::clearQueue();
    return round;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
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

    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    const std::string address = server.address();
    platform::copyBounded(data.host, 128, u"127.0.0.1");
    data.port = std::uint32_t(std::stoul(address.substr(address.rfind(':') + 1)));
    platform::copyBounded(data.userName, 64, platform::toUtf16(server.user()));
    platform::copyBounded(data.password, 64, platform::toUtf16(server.password()));
    remote::applyPlaceDialogData(0, data);
    remote::savePlaces();

    // Farlink on a headless screen, in a device folder of 1,000 files.
    test_support::TemporaryFolder device;
    setenv("HOME", device.path().c_str(), 1);
    for (int i = 0; i < 1000; ++i) test_support::writeFile(device / ("file-" + std::to_string(i) + ".txt"), "x");
    platform::HeadlessTerminal terminal(80, 24);
    screen = &terminal;
    platform::WindowSystemScope scope(terminal, terminal.clock());
    const platform::Window main = app::createMainWindow();
    platform::runMessageLoop(resources::mainAccelerators());

    std::vector<double> idleKeys;
    for (int i = 0; i < 200; ++i) idleKeys.push_back(pressKeyMs(i % 2 ? platform::Key::up : platform::Key::down));
    Round farlink;
    double curl = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const Round queued = queuedDownload(server.remotePath(name), device / "queued.bin");
        farlink.seconds = std::min(farlink.seconds, queued.seconds);
        farlink.keyMs.insert(farlink.keyMs.end(), queued.keyMs.begin(), queued.keyMs.end());
        curl = std::min(curl, curlDownload(server.url(server.remotePath(name)), device / "curl.bin"));
    }
    std::printf("256 MiB download, pyftpdlib on loopback, passive mode, best of %d rounds\n", rounds);
    std::printf("%-16s %10s %10s\n", "client", "seconds", "MiB/s");
    std::printf("%-16s %10.3f %10.1f\n", "farlink (queue)", farlink.seconds, 256 / farlink.seconds);
    std::printf("%-16s %10.3f %10.1f\n", "curl", curl, 256 / curl);
    std::printf("farlink / curl: %.2f\n", farlink.seconds / curl);
    std::printf("key press handled (ms)  %8s %8s %8s\n", "presses", "median", "longest");
    std::printf("  during the transfer   %8zu %8.2f %8.2f\n", farlink.keyMs.size(), percentile(farlink.keyMs, 0.5),
                percentile(farlink.keyMs, 1));
    std::printf("  with nothing running  %8zu %8.2f %8.2f\n", idleKeys.size(), percentile(idleKeys, 0.5),
                percentile(idleKeys, 1));
    platform::destroyWindow(main);
    queue::stopQueue();
    remote::shutdownRemote();
    remote::removeListingCache();
    return 0;
}
