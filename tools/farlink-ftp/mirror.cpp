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

// The connections of a run: the first, and up to `parallel` in all once there is work for
// them (folders of a level to list, actions to carry out); one that cannot be opened is
// not asked for again.
struct Connections {
    std::vector<session::ServerSession*> servers;
    int parallel;
    const OpenServers& openMore;
    int asked = 1;

    // As many as `work` can use, and no more than `parallel`; returns how many there are.
    int widen(std::size_t work) {
        const int more = int(std::min<std::size_t>(work, std::size_t(parallel))) - asked;
        if (more > 0) {
            asked += more;
            for (session::ServerSession* server : openMore(more)) servers.push_back(server);
        }
        return int(servers.size());
    }
};

// The server's tree below `top`, the folders of a level listed over all connections at
// once, through listing files in a folder of the run's own.
mirroring::SyncTree serverTree(Connections& connections, const std::string& top, int timeoutSeconds) {
    const char* temporary = std::getenv("TMPDIR");
    std::string folder = std::string(temporary && *temporary ? temporary : "/tmp") + "/farlink-ftp-XXXXXX";
    mirroring::SyncTree tree;
    if (!mkdtemp(folder.data())) {
        tree.held.push_back({"", "cannot make a temporary folder for listings"});
        return tree;
    }
    tree = mirroring::readServerTree(
        [&](int lister, const std::string& listed, const std::string& listingPath, std::string& reason) {
            platform::setThreadStopFlag(&stopAsked);  // a lister may run on a thread of its own
            return listerOver(*connections.servers[std::size_t(lister)], timeoutSeconds)(listed, listingPath, reason);
        },
        top, folder + "/listing", [&](std::size_t folders) { return connections.widen(folders); });
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return tree;
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

// A copy as one file of a batch. Once whole, the target takes the source's time to the
// second, so that the next run finds the two alike: a downloaded file the listing's when
// it is exact, else the server's, else the listing's after all; an uploaded one the
// local file's. A server that cannot set a time leaves the target its own; the copy
// stands. A download checks the size the listing gave and takes its permission bits.
session::FileTransfer transferOf(const RunContext& run, const mirroring::SyncAction& action) {
    const mirroring::SyncEntry& source = *run.sourceEntries.at(action.path);
    session::FileTransfer file{.remotePath = withSlash(run.remoteFolder) + action.path,
                               .keepTime = true,
                               .time = source.time,
                               .timeExact = source.timePrecision == 0};
    const platform::AnchoredPath local{run.localFolder, action.path};
    if (run.options.reverse) {
        file.local = local;
        return file;
    }
    if (source.size < 0) {
        std::cerr << "farlink-ftp: the listing gives no size for " << platform::printableText(action.path)
                  << ": the length of what arrives is unchecked\n";
    }
    file.target = {.file = local, .expectedSize = source.size, .sourceMode = source.mode};
    return file;
}

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

// Carries out one action other than a copy over `server`; false with the reason in
// `reason`. Everything done in the local folder goes through folder handles from its top.
bool perform(session::ServerSession& server, const mirroring::SyncAction& action, const RunContext& run,
             std::string& reason) {
    const Options& options = run.options;
    const std::string remotePath = withSlash(run.remoteFolder) + action.path;
    const platform::AnchoredPath local{run.localFolder, action.path};
    const auto source = run.sourceEntries.find(action.path);
    const int sourceMode = source == run.sourceEntries.end() ? -1 : source->second->mode;
    int result = 0;
    switch (action.kind) {
    case mirroring::SyncActionKind::copy: break;
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
    Connections connections{{&lister}, options.dryRun ? 1 : parallel, openMore};
    mirroring::SyncTree remote = serverTree(connections, remoteFolder, options.timeoutSeconds);
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
    // More connections only for actions that can use them: an unchanged tree costs no more
    // than its listing.
    const std::vector<session::ServerSession*>& servers = connections.servers;
    if (!stopAsked) connections.widen(work.size());
    // The plan's order decides which action may start on a free connection, and which
    // copies join a batch on it; each line is printed as its action ends.
    const RunContext context{options, remoteFolder, localFolder, sourceEntries, targetEntries};
    std::vector<mirroring::PlanStep> steps;
    for (const mirroring::SyncAction& action : work) steps.push_back({{action.path}, 1, isRemoval(action.kind)});
    std::mutex printing;
    int done = 0;
    int failures = held;
    int notStarted = 0;  // once stopped
    const auto report = [&](std::size_t step, bool succeeded, const std::string& reason) {
        std::lock_guard guard(printing);
        if (succeeded) {
            std::cout << line(work[step]) << std::endl;
            ++done;
        } else {
            std::cerr << "farlink-ftp: failed: " << line(work[step]) << ": " << printableReason(reason) << '\n';
            ++failures;
        }
    };
    const auto isCopy = [&](std::size_t step) { return work[step].kind == mirroring::SyncActionKind::copy; };
    mirroring::carryOut(
        steps, int(servers.size()), isCopy,
        [&](std::size_t first, const mirroring::MoreSteps& more, const mirroring::StepEnded& ended, int connection) {
            platform::setThreadStopFlag(&stopAsked);
            session::ServerSession& server = *servers[std::size_t(connection)];
            if (stopAsked) {
                std::lock_guard guard(printing);
                ++notStarted;
                ended(first, false);
                return;
            }
            if (!isCopy(first)) {
                std::string reason;
                const bool succeeded = perform(server, work[first], context, reason);
                report(first, succeeded, reason);
                ended(first, succeeded);
                return;
            }
            // The batch's steps, by file; once stopped no more join it.
            std::vector<std::size_t> given;
            const session::NextTransfer next = [&]() -> std::optional<session::FileTransfer> {
                const std::optional<std::size_t> step = given.empty() ? first : stopAsked ? std::nullopt : more();
                if (!step) return std::nullopt;
                given.push_back(*step);
                return transferOf(context, work[*step]);
            };
            const session::TransferEnded end = [&](std::size_t file, const session::TransferOutcome& outcome) {
                report(given[file], outcome.done, tool::failureOf(outcome, server, options.timeoutSeconds));
                ended(given[file], outcome.done);
            };
            if (options.reverse) server.uploadFiles(next, end);
            else server.downloadFiles(next, end);
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
