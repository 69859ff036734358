#include "tools/farlink-ftp/mirror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <utility>
#include <vector>

#include "mirroring/sync_plan.h"
#include "mirroring/sync_trees.h"
#include "platform/text.h"

namespace mirror {
namespace {

namespace fs = std::filesystem;

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The server's tree below `top`; what could not be read is said on stderr.
mirroring::SyncTree serverTree(Server& server, const std::string& top) {
    const std::string listing = temporaryListingFile();
    if (listing.empty()) return {{}, {}, {"cannot make a temporary file for listings"}, false};
    mirroring::SyncTree tree = mirroring::readServerTree(
        [&](const std::string& folder, const std::string& listingPath, std::string& reason) {
            if (server.listToFile(folder, listingPath)) return true;
            reason = server.reason();
            return false;
        },
        top, listing);
    unlink(listing.c_str());
    return tree;
}

// After a copy the target takes the source's time to the second, so that the next run
// finds the two alike: a downloaded file the server's (asked when the listing's is not to
// the second, the listing's when the server gives none), an uploaded one the local
// file's. A server that cannot set a time leaves the target its own; the copy stands.
void keepSourceTime(Server& server, bool upload, const std::string& local, const std::string& remote,
                    const mirroring::SyncEntry& source) {
    if (upload) {
        if (source.time >= 0) server.setModificationTime(remote, source.time);
        return;
    }
    const std::int64_t exact = source.timePrecision == 0 ? source.time : server.modificationTime(remote);
    const std::int64_t time = exact >= 0 ? exact : source.time;
    if (time < 0) return;
    const timespec times[2] = {{0, UTIME_OMIT}, {time, 0}};
    utimensat(AT_FDCWD, local.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

const char* verb(mirroring::SyncActionKind kind, bool reverse) {
    switch (kind) {
    case mirroring::SyncActionKind::copy: return reverse ? "put" : "get";
    case mirroring::SyncActionKind::makeFolder: return "mkdir";
    case mirroring::SyncActionKind::removeFile: return "rm";
    case mirroring::SyncActionKind::removeFolder: return "rmdir";
    case mirroring::SyncActionKind::skip: return "skip";
    }
    return "";
}

}  // namespace

std::string temporaryListingFile() {
    const char* folder = std::getenv("TMPDIR");
    std::string path = std::string(folder && *folder ? folder : "/tmp") + "/farlink-ftp-XXXXXX";
    const int descriptor = mkostemp(path.data(), O_CLOEXEC);
    if (descriptor < 0) return "";
    close(descriptor);
    return path;
}

int run(Server& server, const std::string& remoteFolder, const std::string& localFolder, const Options& options) {
    // The server folder to mirror into is made when missing (an existing one refuses, as
    // a failure there would: its listing then tells).
    if (options.reverse && !options.dryRun) server.makeFolder(remoteFolder);
    mirroring::SyncTree remote = serverTree(server, remoteFolder);
    const mirroring::SyncTree local = mirroring::readDeviceTree(localFolder);
    mirroring::confirmListedTimes(
        remote.entries, local.entries, !options.reverse, {.sizeOnly = options.sizeOnly},
        [&](const std::string& path) { return server.modificationTime(withSlash(remoteFolder) + path); });
    for (const mirroring::SyncTree* tree : {&std::as_const(remote), &local}) {
        for (const std::string& problem : tree->problems) std::cerr << "farlink-ftp: " << problem << '\n';
    }
    const mirroring::SyncTree& source = options.reverse ? local : remote;
    const mirroring::SyncTree& target = options.reverse ? remote : local;
    const std::vector<mirroring::SyncAction> actions = mirroring::planTrees(
        source, target, {.mirror = options.remove, .sizeOnly = options.sizeOnly});

    // What is skipped is said, and is no failure: it was never to be acted on.
    int failures = int(!source.complete || !target.complete);
    for (const mirroring::SyncTree* tree : {&source, &target}) {
        for (const mirroring::SkippedEntry& skipped : tree->skipped)
            std::cout << "skip " << platform::printableText(skipped.path) << ": " << skipped.why << '\n';
    }
    std::map<std::string, const mirroring::SyncEntry*> sourceEntries;
    for (const mirroring::SyncEntry& entry : source.entries) sourceEntries[entry.path] = &entry;
    bool copiesFailed = false;
    int done = 0;
    for (const mirroring::SyncAction& action : actions) {
        const std::string line = std::string(verb(action.kind, options.reverse)) + " " + action.path;
        if (action.kind == mirroring::SyncActionKind::skip) {
            std::cout << line << ": " << action.reason << '\n';
            continue;
        }
        if (options.dryRun) {
            std::cout << line << '\n';
            continue;
        }
        const bool removal = action.kind == mirroring::SyncActionKind::removeFile ||
                             action.kind == mirroring::SyncActionKind::removeFolder;
        if (removal && copiesFailed) {
            std::cerr << "farlink-ftp: not done, since a copy failed: " << line << '\n';
            ++failures;
            continue;
        }
        const std::string remotePath = withSlash(remoteFolder) + action.path;
        const std::string localPath = (fs::path(localFolder) / action.path).string();
        std::error_code error;
        int result = 0;
        switch (action.kind) {
        case mirroring::SyncActionKind::copy:
            result = options.reverse ? server.put(localPath, remotePath) : server.get(remotePath, localPath);
            if (result) keepSourceTime(server, options.reverse, localPath, remotePath, *sourceEntries[action.path]);
            break;
        case mirroring::SyncActionKind::makeFolder:
            result = options.reverse ? server.makeFolder(remotePath) : fs::create_directory(localPath, error) ? 1 : 0;
            break;
        case mirroring::SyncActionKind::removeFile:
            result = options.reverse ? server.removeFile(remotePath) : unlink(localPath.c_str()) == 0;
            break;
        case mirroring::SyncActionKind::removeFolder:
            result = options.reverse ? server.removeFolder(remotePath) : rmdir(localPath.c_str()) == 0;
            break;
        case mirroring::SyncActionKind::skip: break;
        }
        if (result) {
            std::cout << line << std::endl;
            ++done;
            continue;
        }
        const bool serverSide = options.reverse || action.kind == mirroring::SyncActionKind::copy;
        std::cerr << "farlink-ftp: failed: " << line << ": "
                  << (serverSide ? server.reason()
                      : error    ? error.message()
                                 : std::string(std::strerror(errno)))
                  << '\n';
        copiesFailed |= !removal;
        ++failures;
    }
    std::cout << (options.dryRun ? "planned " + std::to_string(actions.size()) : "done " + std::to_string(done))
              << ", failed " << failures << '\n';
    return failures == 0 ? 0 : 1;
}

}  // namespace mirror
