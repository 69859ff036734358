// The queue's rows of bench/wan/run: a file downloaded from and uploaded to an SFTP server
// through the operation queue (its worker, a connection of its own, the engine's
// partial file), and a tree brought down as Synchronize queues its run (its folders, then
// a copy per file, which the worker takes as a batch), Farlink running on a headless
// screen meanwhile. Prints "get SECONDS", "put SECONDS" and "sync SECONDS"; a copy that
// failed exits with 1.
//   wan_queue_bench HOST PORT USER HOME REMOTEFILE REMOTEUPLOAD REMOTETREE LOCALTREE
// HOME holds the client's key and known_hosts; HOST is the address to reach the server at;
// REMOTETREE is on this host too, LOCALTREE a new folder.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_listing.h"
#include "resources/menus.h"
#include "tests/support/temporary_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds until what `add` queues has run; -1 when a record failed.
double queued(const std::function<void()>& add) {
    const Clock::time_point start = Clock::now();
    add();
    for (;;) {
        platform::runMessageLoop(resources::mainAccelerators());
        const queue::QueueProgress progress = queue::queueProgress();
        if (!progress.active && progress.pending == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const bool failed = !queue::listRecords(queue::listFailed).empty();
    for (const queue::FileOperation& record : queue::listRecords(queue::listFailed))
        std::fprintf(stderr, "wan_queue_bench: failed: %s\n", platform::toUtf8(record.why).c_str());
    queue::clearQueue();
    return failed ? -1 : seconds;
}

double queuedCopy(const std::u16string& source, const std::u16string& destination) {
    return queued([&] { queue::queueCopyFile(source, destination); });
}

// The tree below `remoteTree` brought into `localTree` as a synchronisation's run.
double queuedRun(const std::string& remoteTree, const std::string& localTree) {
    return queued([&] {
        const std::uint64_t run = queue::newRun();
        const auto device = [](const std::string& path) { return u"file://" + platform::toDevicePath(path); };
        queue::queueRunMakeFolder(run, device(localTree));
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(remoteTree)) {
            const std::string below = entry.path().lexically_relative(remoteTree).string();
            if (entry.is_directory()) queue::queueRunMakeFolder(run, device(localTree + "/" + below));
            else files.push_back(below);
        }
        for (const std::string& file : files)
            queue::queueRunCopy(run, platform::toUtf16(remoteTree + "/" + file), device(localTree + "/" + file));
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 9) {
        std::fprintf(stderr,
                     "usage: wan_queue_bench HOST PORT USER HOME REMOTEFILE REMOTEUPLOAD REMOTETREE LOCALTREE\n");
        return 1;
    }
    const std::string host = argv[1], port = argv[2], user = argv[3], home = argv[4];
    const std::string remoteFile = argv[5], remoteUpload = argv[6], remoteTree = argv[7], localTree = argv[8];
    test_support::TemporaryFolder settings;
    setenv("FARLINK_HOME", settings.path().c_str(), 1);
    setenv("XDG_CACHE_HOME", settings.path().c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    setenv("SSH_AUTH_SOCK", "", 1);
    platform::useRegistryFile(settings / "registry.reg");

    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    platform::copyBounded(data.host, 128, u"sftp://" + platform::toUtf16(host));
    data.port = std::uint32_t(std::stoul(port));
    platform::copyBounded(data.userName, 64, platform::toUtf16(user));
    remote::applyPlaceDialogData(0, data);
    remote::savePlaces();

    test_support::TemporaryFolder device;
    platform::HeadlessTerminal terminal(80, 24);
    platform::WindowSystemScope scope(terminal, terminal.clock());
    const platform::Window main = app::createMainWindow();
    platform::runMessageLoop(resources::mainAccelerators());

    const std::string local = device / "got.bin";
    const double get = queuedCopy(platform::toUtf16(remoteFile), u"file://" + platform::toUtf16(local));
    const double put = get < 0 ? -1
                               : queuedCopy(u"file://" + platform::toUtf16(local), platform::toUtf16(remoteUpload));
    const double sync = put < 0 ? -1 : queuedRun(remoteTree, localTree);
    std::printf("get %.3f\nput %.3f\nsync %.3f\n", get, put, sync);
    platform::destroyWindow(main);
    queue::stopQueue();
    remote::shutdownRemote();
    remote::removeListingCache();
    return get < 0 || put < 0 || sync < 0 ? 1 : 0;
}
