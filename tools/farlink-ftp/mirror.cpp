#include "tools/farlink-ftp/mirror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "mirroring/plan_executor.h"
#include "mirroring/sync_plan.h"
#include "mirroring/sync_trees.h"
#include "platform/folder_handles.h"
#include "platform/text.h"
#include "tools/farlink-ftp/sessions.h"

namespace mirror {
namespace {

namespace fs = std::filesystem;

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// A reason for the end of a line, from a server or the system: without its line end (the
// line has its own), and with control characters as '?'.
std::string printableReason(std::string_view reason) {
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.remove_suffix(1);
    return platform::printableText(reason);
}

// The server's tree below `top`; what could not be read is said on stderr.
mirroring::SyncTree serverTree(session::ServerSession& server, const std::string& top, int timeoutSeconds) {
    const std::string listing = temporaryListingFile();
    if (listing.empty()) return {{}, {}, {"cannot make a temporary file for listings"}, false};
    mirroring::SyncTree tree = mirroring::readServerTree(
        [&](const std::string& folder, const std::string& listingPath, std::string& reason) {
            if (server.listExactToFile(folder, listingPath)) return true;
            reason = tool::failureOf(server, timeoutSeconds);
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
void keepSourceTime(session::ServerSession& server, bool upload, const platform::AnchoredPath& local,
                    const std::string& remote, const mirroring::SyncEntry& source) {
    if (upload) {
        if (source.time >= 0) server.setModificationTime(remote, source.time);
        return;
    }
    const std::int64_t exact = source.timePrecision == 0 ? source.time : server.modificationTime(remote);
    const std::int64_t time = exact >= 0 ? exact : source.time;
    std::string unused;
    if (time >= 0) platform::setModificationTimeAt(local, time, unused);
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

bool isRemoval(mirroring::SyncActionKind kind) {
    return kind == mirroring::SyncActionKind::removeFile || kind == mirroring::SyncActionKind::removeFolder;
}

// What every action of a run reads.
struct RunContext {
    const Options& options;
    const std::string& remoteFolder;
    const std::string& localFolder;
    const std::map<std::string, const mirroring::SyncEntry*>& sourceEntries;
};

// Carries out one action over `server`; false with the reason in `reason`. Everything
// done in the local folder goes through folder handles from its top.
bool perform(session::ServerSession& server, const mirroring::SyncAction& action, const RunContext& run,
             std::string& reason) {
    const Options& options = run.options;
    const std::string remotePath = withSlash(run.remoteFolder) + action.path;
    const platform::AnchoredPath local{run.localFolder, action.path};
    const auto source = run.sourceEntries.find(action.path);
    const int sourceMode = source == run.sourceEntries.end() ? -1 : source->second->mode;
    int result = 0;
    switch (action.kind) {
    case mirroring::SyncActionKind::copy: {
        const mirroring::SyncEntry& entry = *source->second;
        if (!options.reverse && entry.size < 0) {
            std::cerr << "farlink-ftp: the listing gives no size for " << platform::printableText(action.path)
                      << ": the length of what arrives is unchecked\n";
        }
        result = options.reverse
                     ? server.upload(local, remotePath)
                     : server.download(remotePath,
                                       {.file = local, .expectedSize = entry.size, .sourceMode = entry.mode});
        if (result) keepSourceTime(server, options.reverse, local, remotePath, entry);
        break;
    }
    case mirroring::SyncActionKind::makeFolder:
        if (options.reverse) result = server.makeFolder(remotePath, sourceMode);
        else if (!platform::makeFolderAt(local, sourceMode, reason)) return false;
        else result = 1;
        break;
    case mirroring::SyncActionKind::removeFile:
    case mirroring::SyncActionKind::removeFolder: {
        const bool folder = action.kind == mirroring::SyncActionKind::removeFolder;
        if (!options.reverse) return platform::removeAt(local, folder, reason);
        result = folder ? server.removeFolder(remotePath) : server.deleteFile(remotePath);
        break;
    }
    case mirroring::SyncActionKind::skip: break;
    }
    if (result) return true;
    reason = tool::failureOf(server, options.timeoutSeconds);
    return false;
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

int run(session::ServerSession& lister, int parallel, const OpenServers& openMore, const std::string& remoteFolder,
        const std::string& localFolder, const Options& options) {
    // The server folder to mirror into is made when missing (an existing one refuses, as
    // a failure there would: its listing then tells).
    if (options.reverse && !options.dryRun) lister.makeFolder(remoteFolder, -1);
    mirroring::SyncTree remote = serverTree(lister, remoteFolder, options.timeoutSeconds);
    const mirroring::SyncTree local = mirroring::readDeviceTree(localFolder);
    mirroring::confirmListedTimes(
        remote.entries, local.entries, !options.reverse, {.sizeOnly = options.sizeOnly},
        [&](const std::string& path) { return lister.modificationTime(withSlash(remoteFolder) + path); });
    for (const mirroring::SyncTree* tree : {&std::as_const(remote), &local}) {
        for (const std::string& problem : tree->problems)
            std::cerr << "farlink-ftp: " << printableReason(problem) << '\n';
    }
    const mirroring::SyncTree& source = options.reverse ? local : remote;
    const mirroring::SyncTree& target = options.reverse ? remote : local;
    const std::vector<mirroring::SyncAction> actions = mirroring::planTrees(
        source, target, {.mirror = options.remove, .sizeOnly = options.sizeOnly});

    // What is skipped is said, and is no failure: it was never to be acted on.
    const int unread = int(!source.complete || !target.complete);
    for (const mirroring::SyncTree* tree : {&source, &target}) {
        for (const mirroring::SkippedEntry& skipped : tree->skipped)
            std::cout << "skip " << platform::printableLine(skipped.path) << ": " << skipped.why << '\n';
    }
    // An action's line: a name may hold what would command the terminal, or start a line.
    const auto line = [&](const mirroring::SyncAction& action) {
        return std::string(verb(action.kind, options.reverse)) + " " + platform::printableLine(action.path);
    };
    std::vector<mirroring::SyncAction> work;
    for (const mirroring::SyncAction& action : actions) {
        if (action.kind == mirroring::SyncActionKind::skip) {
            std::cout << line(action) << ": " << action.reason << '\n';
        } else if (options.dryRun) {
            std::cout << line(action) << '\n';
        } else {
            work.push_back(action);
        }
    }
    if (options.dryRun) {
        std::cout << "planned " << actions.size() << ", failed " << unread << '\n';
        return unread == 0 ? 0 : 1;
    }
    std::map<std::string, const mirroring::SyncEntry*> sourceEntries;
    for (const mirroring::SyncEntry& entry : source.entries) sourceEntries[entry.path] = &entry;
    // More connections only for actions that can use them: an unchanged tree costs one login.
    std::vector<session::ServerSession*> servers{&lister};
    if (const int more = std::min(parallel, int(work.size())) - 1; more > 0) {
        for (session::ServerSession* server : openMore(more)) servers.push_back(server);
    }
    // The plan's order decides which action may start on a free connection; each line is
    // printed as its action ends.
    const RunContext context{options, remoteFolder, localFolder, sourceEntries};
    std::vector<mirroring::PlanStep> steps;
    for (const mirroring::SyncAction& action : work) steps.push_back({{action.path}, 1, isRemoval(action.kind)});
    std::mutex printing;
    int done = 0;
    int failures = unread;
    mirroring::carryOut(
        steps, int(servers.size()),
        [&](std::size_t step, int connection) {
            std::string reason;
            const bool succeeded = perform(*servers[std::size_t(connection)], work[step], context, reason);
            std::lock_guard held(printing);
            if (succeeded) {
                std::cout << line(work[step]) << std::endl;
                ++done;
            } else {
                std::cerr << "farlink-ftp: failed: " << line(work[step]) << ": " << printableReason(reason) << '\n';
                ++failures;
            }
            return succeeded;
        },
        [&](std::size_t step) {
            std::lock_guard held(printing);
            std::cerr << "farlink-ftp: not done, since a copy failed: " << line(work[step]) << '\n';
            ++failures;
        });
    std::cout << "done " << done << ", failed " << failures << '\n';
    return failures == 0 ? 0 : 1;
}

}  // namespace mirror
