// Times a 256 MiB download and upload queued through the operation queue (the worker,
// a connection of its own, the engine's temporary file on download) against curl and
// lftp moving the same file with the same pyftpdlib on loopback, best of a few rounds;
// and a Copy To Device of a folder of 1,000 files of 4 KiB in 20 folders beside lftp's
// mirror of it.
// Meanwhile Farlink runs on a headless screen and gets a key press every 10 ms: the
// time each takes to be handled (the loop run until idle) is reported, the median and
// the longest, beside the same with nothing running. The UI must never wait for a copy.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
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
#include "remote/remote_listing.h"
#include "resources/menus.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

platform::HeadlessTerminal* screen = nullptr;
std::vector<double> busyKeyMs;  // key presses handled while a queued copy ran

// One key press on the headless Farlink, handled until the loop is idle.
double pressKeyMs(platform::Key key) {
    const Clock::time_point pressed = Clock::now();
    screen->pressKey(key);
    platform::runMessageLoop(resources::mainAccelerators());
    return since(pressed) * 1000;
}

// Seconds for one queued copy, pressing keys meanwhile; a large number when it failed.
double queued(const std::u16string& source, const std::u16string& destination, bool folder = false) {
    const Clock::time_point start = Clock::now();
    folder ? queue::queueCopyFolder(source, destination) : queue::queueCopyFile(source, destination);
    for (int i = 0;; ++i) {
        busyKeyMs.push_back(pressKeyMs(i % 2 ? platform::Key::up : platform::Key::down));
        const queue::QueueProgress progress = queue::queueProgress();
        if (!progress.active && progress.pending == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double seconds = since(start);
    const bool failed = !queue::listRecords(queue::listFailed).empty();
    queue::clearQueue();
    return failed ? 1e9 : seconds;
}

double command(const std::string& line) {
    const Clock::time_point start = Clock::now();
    if (std::system((line + " > /dev/null 2>&1").c_str()) != 0) return 1e9;
    return since(start);
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
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
    test_support::TemporaryFolder device;
    const std::string local = device / "big.bin";
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char(i * 7919 % 251);
    const std::string tree = server.hostPath("tree");
    const std::string small = std::string(4096, 'x');
    for (int file = 0; file < 1000; ++file) {
        const std::string folder = tree + "/folder-" + std::to_string(file % 20);
        std::filesystem::create_directories(folder);
        test_support::writeFile(folder + "/file-" + std::to_string(file), small);
    }
    for (const std::string& path : {server.hostPath("big.bin"), local}) {
        if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
            for (int i = 0; i < 256; ++i) std::fwrite(block.data(), 1, block.size(), file);
            std::fclose(file);
        }
    }

    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    const std::string address = server.address();
    const std::string port = address.substr(address.rfind(':') + 1);
    platform::copyBounded(data.host, 128, u"127.0.0.1");
    data.port = std::uint32_t(std::stoul(port));
    platform::copyBounded(data.userName, 64, platform::toUtf16(server.user()));
    platform::copyBounded(data.password, 64, platform::toUtf16(server.password()));
    remote::applyPlaceDialogData(0, data);
    remote::savePlaces();

    // Farlink on a headless screen, in a device folder of 1,000 files.
    setenv("HOME", device.path().c_str(), 1);
    for (int i = 0; i < 1000; ++i) test_support::writeFile(device / ("file-" + std::to_string(i) + ".txt"), "x");
    platform::HeadlessTerminal terminal(80, 24);
    screen = &terminal;
    platform::WindowSystemScope scope(terminal, terminal.clock());
    const platform::Window main = app::createMainWindow();
    platform::runMessageLoop(resources::mainAccelerators());
    std::vector<double> idleKeyMs;
    for (int i = 0; i < 200; ++i) idleKeyMs.push_back(pressKeyMs(i % 2 ? platform::Key::up : platform::Key::down));

    const std::string remoteBig = server.remotePath("big.bin");
    int copies = 0;  // each folder copy goes to a folder of its own
    const std::string lftp = "lftp -c 'open -u " + server.user() + "," + server.password() + " -p " + port +
                             " 127.0.0.1; ";
    const std::pair<const char*, std::function<double()>> clients[] = {
        {"farlink download",
         [&] { return queued(platform::toUtf16(remoteBig), u"file://" + platform::toUtf16(device / "got.bin")); }},
        {"curl download",
         [&] { return command("curl -s -S -o '" + device / "curl.bin" + "' " + server.url(remoteBig)); }},
        {"lftp download", [&] { return command(lftp + "get " + remoteBig + " -o " + device / "lftp.bin" + "'"); }},
        {"farlink upload",
         [&] { return queued(u"file://" + platform::toUtf16(local), platform::toUtf16(server.remotePath("up.bin"))); }},
        {"curl upload",
         [&] { return command("curl -s -S -T '" + local + "' " + server.url(server.remotePath("up2.bin"))); }},
        {"lftp upload", [&] { return command(lftp + "put " + local + " -o " + server.remotePath("up3.bin") + "'"); }},
        {"farlink folder",
         [&] {
             return queued(platform::toUtf16(server.remotePath("tree")),
                           u"file://" + platform::toUtf16(device / ("tree-" + std::to_string(++copies))), true);
         }},
        {"lftp mirror",
         [&] {
             return command(lftp + "mirror " + server.remotePath("tree") + " " + device / "lftp-tree-" +
                            std::to_string(++copies) + "'");
         }},
    };
    std::printf(
        "256 MiB (a folder: 1,000 files of 4 KiB in 20 folders) over loopback, pyftpdlib, passive mode, "
        "best of %d rounds\n",
        rounds);
    std::printf("%-18s %10s %10s %14s\n", "client", "seconds", "MiB/s", "farlink / it");
    double farlink = 0;
    for (const auto& [name, run] : clients) {
        double best = 1e9;
        for (int round = 0; round < rounds; ++round) {
            // The writes of the rows before are flushed first, not during this one.
            sync();
            best = std::min(best, run());
        }
        if (std::string(name).starts_with("farlink")) farlink = best;
        const double mib = std::string(name).ends_with("download") || std::string(name).ends_with("upload")
                               ? 256
                               : 1000 * 4096 / double(1 << 20);
        std::printf("%-18s %10.3f %10.1f %14.2f\n", name, best, mib / best, farlink / best);
    }
    std::printf("key press handled (ms)  %8s %8s %8s\n", "presses", "median", "longest");
    std::printf("  during the copies     %8zu %8.2f %8.2f\n", busyKeyMs.size(), percentile(busyKeyMs, 0.5),
                percentile(busyKeyMs, 1));
    std::printf("  with nothing running  %8zu %8.2f %8.2f\n", idleKeyMs.size(), percentile(idleKeyMs, 0.5),
                percentile(idleKeyMs, 1));
    platform::destroyWindow(main);
    queue::stopQueue();
    remote::shutdownRemote();
    remote::removeListingCache();
    return 0;
}
