// Times the Remote view's listing of folders of 1,000 and 10,000 entries on a pyftpdlib
// server on loopback: to the first entry and to the final count, through find first /
// next, beside curl and lftp listing the same folders in the same run. Prints the best
// of a few rounds and the ratios to the Remote view.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "explorer/provider.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_listing.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timing {
    double first = 1e9;  // seconds to the first entry
    double all = 1e9;    // seconds to the final count
    long count = 0;
};

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void keepBest(Timing& best, const Timing& round) {
    best.first = std::min(best.first, round.first);
    best.all = std::min(best.all, round.all);
    best.count = round.count;
}

Timing farlinkListing(const std::string& folder) {
    Timing timing;
    platform::FindData data;
    const Clock::time_point start = Clock::now();
    const platform::FindHandle handle = remote::remoteFindFirst(platform::toUtf16(folder) + u"*", data);
    if (handle == platform::invalidFindHandle) return timing;
    timing.first = since(start);
    do ++timing.count;
    while (remote::remoteFindNext(handle, data));
    timing.all = since(start);
    remote::remoteFindClose(handle);
    return timing;
}

// A peer's listing: the time to its first line and to its last.
Timing peerListing(const std::string& command) {
    Timing timing;
    const Clock::time_point start = Clock::now();
    std::FILE* output = popen(command.c_str(), "r");
    if (!output) return timing;
    char line[4096];
    while (std::fgets(line, sizeof line, output)) {
        if (timing.count++ == 0) timing.first = since(start);
    }
    timing.all = since(start);
    if (pclose(output) != 0) timing.count = -1;
    return timing;
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
        std::fprintf(stderr, "bench/remote: %s\n", server.error().c_str());
        return 1;
    }
    const int sizes[] = {1000, 10000, 100000};
    for (const int size : sizes) {
        const std::string folder = server.hostPath("n" + std::to_string(size));
        mkdir(folder.c_str(), 0755);
        for (int i = 0; i < size; ++i) test_support::writeFile(folder + "/file-" + std::to_string(i) + ".txt", "x");
    }

    remote::startNetworkClock();
    remote::bindRemoteListing(explorer::remoteProvider);
    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    const std::string address = server.address();
    const std::string port = address.substr(address.rfind(':') + 1);
    platform::copyBounded(data.host, 128, u"127.0.0.1");
    data.port = std::uint32_t(std::stoul(port));
    platform::copyBounded(data.userName, 64, platform::toUtf16(server.user()));
    platform::copyBounded(data.password, 64, platform::toUtf16(server.password()));
    remote::applyPlaceDialogData(0, data);

    std::printf("pyftpdlib on loopback, passive mode, best of %d rounds (seconds)\n", rounds);
    std::printf("%-8s %-8s %8s %10s %10s %12s %12s\n", "entries", "client", "count", "first", "all", "farlink÷ first",
                "farlink÷ all");
    for (const int size : sizes) {
        const std::string path = server.remotePath("n" + std::to_string(size) + "/");
        const std::string login = server.user() + "," + server.password();
        const std::pair<const char*, std::function<Timing()>> clients[] = {
            {"farlink", [&] { return farlinkListing(path); }},
            {"curl", [&] { return peerListing("curl -s -S " + server.url(path)); }},
            {"lftp",
             [&] {
                 return peerListing("lftp -c 'open -u " + login + " -p " + port + " 127.0.0.1; cls -1 " + path + "'");
             }},
        };
        Timing farlink;
        for (const auto& [name, list] : clients) {
            Timing best;
            for (int round = 0; round < rounds; ++round) keepBest(best, list());
            if (std::string(name) == "farlink") farlink = best;
            std::printf("%-8d %-8s %8ld %10.4f %10.4f %12.2f %12.2f\n", size, name, best.count, best.first, best.all,
                        farlink.first / best.first, farlink.all / best.all);
        }
    }
    remote::shutdownRemote();
    remote::removeListingCache();
    return 0;
}
