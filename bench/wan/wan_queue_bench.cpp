// The queue's row of bench/wan/run: a file downloaded from and uploaded to an SFTP server
// through the operation queue (its worker, a connection of its own, the engine's
// partial file), Farlink running on a headless screen meanwhile. Prints
// "get SECONDS" and "put SECONDS"; a copy that failed exits with 1.
//   wan_queue_bench HOST PORT USER HOME REMOTEFILE REMOTEUPLOAD
// HOME holds the client's key and known_hosts; HOST is the address to reach the server at.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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

// Seconds for one queued copy; -1 when it failed.
double queued(const std::u16string& source, const std::u16string& destination) {
    const Clock::time_point start = Clock::now();
    queue::queueCopyFile(source, destination);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: wan_queue_bench HOST PORT USER HOME REMOTEFILE REMOTEUPLOAD\n");
        return 1;
    }
    const std::string host = argv[1], port = argv[2], user = argv[3], home = argv[4];
    const std::string remoteFile = argv[5], remoteUpload = argv[6];
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
    const double get = queued(platform::toUtf16(remoteFile), u"file://" + platform::toUtf16(local));
    const double put = get < 0 ? -1 : queued(u"file://" + platform::toUtf16(local), platform::toUtf16(remoteUpload));
    std::printf("get %.3f\nput %.3f\n", get, put);
    platform::destroyWindow(main);
    queue::stopQueue();
    remote::shutdownRemote();
    remote::removeListingCache();
    return get < 0 || put < 0 ? 1 : 0;
}
