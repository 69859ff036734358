#include "tools/farlink-ftp/mirror.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
#include "platform/stop_flag.h"
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

// Set by SIGINT and SIGTERM: every session operation of the run hears it, so that a
// copy under way fails and its temporary file goes, and nothing more is started.
std::atomic<bool> stopAsked{false};

extern "C" void askToStop(int) { stopAsked.store(true); }

// The handlers for the run; a second signal ends the program at once.
void stopOnSignals() {
    struct sigaction action {};
    action.sa_handler = askToStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
}

mirroring::ListFolder listerOver(session::ServerSession& server, int timeoutSeconds) {
    return [&server, timeoutSeconds](const std::string& folder, const std::string& listingPath, std::string& reason) {
        if (server.listExactToFile(folder, listingPath)) return true;
        reason = tool::failureOf(server, timeoutSeconds);
        return false;
    };
}

// The server's tree below `top`.
mirroring::SyncTree serverTree(session::ServerSession& server, const std::string& top, int timeoutSeconds) {
    const std::string listing = temporaryListingFile();
    mirroring::SyncTree tree;
    if (listing.empty()) {
        tree.held.push_back({"", "cannot make a temporary file for listings"});
        return tree;
    }
    tree = mirroring::readServerTree(listerOver(server, timeoutSeconds), top, listing);
    unlink(listing.c_str());
    return tree;
}

// Says on stderr which folders were held, each by its path on its side and with the
// system's or the server's reason; returns how many.
int sayHeld(const mirroring::SyncTree& tree, const std::string& top, char separator) {
    for (const mirroring::SkippedEntry& held : tree.held) {
        const std::string path = held.path.empty()
                                     ? top
                                     : top + (top.ends_with(separator) ? "" : std::string(1, separator)) + held.path;
        std::cerr << "farlink-ftp: held " << platform::printableText(path) << ": " << platform::printableText(held.why)
                  << '\n';
    }
    return int(tree.held.size());
}

// The temporary files an earlier run left (killed, or its machine stopped): only this
// user's, and only those older than this run, so that another run's are left alone.
void removeStaleTemporaries(const std::string& top, const std::vector<std::string>& temporaries, std::time_t runStart) {
    for (const std::string& temporary : temporaries) {
        const std::string path = (fs::path(top) / temporary).string();
        struct stat info {};
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            info.st_mtim.tv_sec < runStart && unlink(path.c_str()) == 0) {
            std::cerr << "farlink-ftp: removed " << platform::printableText(path) << ", left by an earlier run\n";
        }
    }
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
    const std::map<std::string, const mirroring::SyncEntry*>& targetEntries;
};

// Right before a removal: whether the entry is still what the plan saw (on the device
// by lstat, on the server by a listing of its folder); false with the reason when not,
// or when it could not be looked at.
bool stillAsPlanned(session::ServerSession& server, const mirroring::SyncAction& action, const RunContext& run,
                    const std::string& remotePath, std::string& reason) {
    mirroring::EntryNow now;
    if (!run.options.reverse) {
        now = mirroring::deviceEntryNow((fs::path(run.localFolder) / action.path).string());
    } else {
        const std::string listing = temporaryListingFile();
        const bool listed = !listing.empty() &&
                            mirroring::serverEntryNow(listerOver(server, run.options.timeoutSeconds), remotePath,
                                                      listing, now, reason);
        unlink(listing.c_str());
        if (!listed) {
            reason = "kept, since it could not be looked at: " + (listing.empty() ? "no temporary file" : reason);
            return false;
        }
    }
    reason = mirroring::changedSincePlanned(*run.targetEntries.at(action.path), now);
    if (reason.empty()) return true;
    reason = "kept: it " + reason;
    return false;
}

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
        if (!stillAsPlanned(server, action, run, remotePath, reason)) return false;
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
    const std::time_t runStart = std::time(nullptr);
    stopOnSignals();
    platform::setThreadStopFlag(&stopAsked);
    // The server folder to mirror into is made when missing (an existing one refuses, as
    // a failure there would: its listing then tells).
    if (options.reverse && !options.dryRun) lister.makeFolder(remoteFolder, -1);
    mirroring::SyncTree remote = serverTree(lister, remoteFolder, options.timeoutSeconds);
    const mirroring::SyncTree local = mirroring::readDeviceTree(localFolder);
    mirroring::confirmListedTimes(
        remote.entries, local.entries, !options.reverse, {.sizeOnly = options.sizeOnly},
        [&](const std::string& path) { return lister.modificationTime(withSlash(remoteFolder) + path); });
    if (!options.dryRun) removeStaleTemporaries(localFolder, local.temporaries, runStart);
    // A held folder is a failure of the run: what is in it was neither copied nor removed.
    const int held = sayHeld(remote, withSlash(remoteFolder), '/') + sayHeld(local, localFolder, '/');
    const mirroring::SyncTree& source = options.reverse ? local : remote;
    const mirroring::SyncTree& target = options.reverse ? remote : local;
    const std::vector<mirroring::SyncAction> actions = mirroring::planTrees(
        source, target, {.mirror = options.remove, .sizeOnly = options.sizeOnly});

    // What is skipped is said, and is no failure: it was never to be acted on.
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
        std::cout << "planned " << actions.size() << ", failed " << held << '\n';
        return held == 0 ? 0 : 1;
    }
    std::map<std::string, const mirroring::SyncEntry*> sourceEntries, targetEntries;
    for (const mirroring::SyncEntry& entry : source.entries) sourceEntries[entry.path] = &entry;
    for (const mirroring::SyncEntry& entry : target.entries) targetEntries[entry.path] = &entry;
    // More connections only for actions that can use them: an unchanged tree costs one login.
    std::vector<session::ServerSession*> servers{&lister};
    if (const int more = std::min(parallel, int(work.size())) - 1; more > 0 && !stopAsked) {
        for (session::ServerSession* server : openMore(more)) servers.push_back(server);
    }
    // The plan's order decides which action may start on a free connection; each line is
    // printed as its action ends.
    const RunContext context{options, remoteFolder, localFolder, sourceEntries, targetEntries};
    std::vector<mirroring::PlanStep> steps;
    for (const mirroring::SyncAction& action : work) steps.push_back({{action.path}, 1, isRemoval(action.kind)});
    std::mutex printing;
    int done = 0;
    int failures = held;
    int notStarted = 0;  // once stopped
    mirroring::carryOut(
        steps, int(servers.size()),
        [&](std::size_t step, int connection) {
            platform::setThreadStopFlag(&stopAsked);
            std::string reason;
            const bool stopped = stopAsked;
            const bool succeeded = !stopped && perform(*servers[std::size_t(connection)], work[step], context, reason);
            std::lock_guard guard(printing);
            if (succeeded) {
                std::cout << line(work[step]) << std::endl;
                ++done;
            } else if (stopped) {
                ++notStarted;
            } else {
                std::cerr << "farlink-ftp: failed: " << line(work[step]) << ": " << printableReason(reason) << '\n';
                ++failures;
            }
            return succeeded;
        },
        [&](std::size_t step) {
            std::lock_guard guard(printing);
            if (stopAsked) {
                ++notStarted;
                return;
            }
            std::cerr << "farlink-ftp: not done, since a copy failed: " << line(work[step]) << '\n';
            ++failures;
        });
    if (stopAsked) std::cerr << "farlink-ftp: stopped; " << notStarted << " actions not started\n";
    std::cout << "done " << done << ", failed " << failures + (stopAsked ? notStarted : 0) << '\n';
    return failures == 0 && !stopAsked ? 0 : 1;
}

}  // namespace mirror
