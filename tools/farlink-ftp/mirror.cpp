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
#include "platform/text.h"
#include "tools/farlink-ftp/sessions.h"

namespace mirror {
namespace {

namespace fs = std::filesystem;

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
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
// once, through listing files in a folder of the run's own; what could not be read is
// said on stderr.
mirroring::SyncTree serverTree(Connections& connections, const std::string& top, int timeoutSeconds) {
    const char* temporary = std::getenv("TMPDIR");
    std::string folder = std::string(temporary && *temporary ? temporary : "/tmp") + "/farlink-ftp-XXXXXX";
    if (!mkdtemp(folder.data())) return {{}, {}, {"cannot make a temporary folder for listings"}, false};
    mirroring::SyncTree tree = mirroring::readServerTree(
        [&](int lister, const std::string& listed, const std::string& listingPath, std::string& reason) {
            session::ServerSession& server = *connections.servers[std::size_t(lister)];
            if (server.listExactToFile(listed, listingPath)) return true;
            reason = tool::failureOf(server, timeoutSeconds);
            return false;
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
};

std::string remotePathOf(const RunContext& run, const mirroring::SyncAction& action) {
    return withSlash(run.remoteFolder) + action.path;
}
std::string localPathOf(const RunContext& run, const mirroring::SyncAction& action) {
    return (fs::path(run.localFolder) / action.path).string();
}

// A copy as one file of a batch. Once whole, the target takes the source's time to the
// second, so that the next run finds the two alike: a downloaded file the listing's when
// it is exact, else the server's, else the listing's after all; an uploaded one the
// local file's. A server that cannot set a time leaves the target its own; the copy
// stands. A download checks the size the listing gave.
session::FileTransfer transferOf(const RunContext& run, const mirroring::SyncAction& action) {
    const mirroring::SyncEntry& source = *run.sourceEntries.at(action.path);
    session::FileTransfer file{remotePathOf(run, action), localPathOf(run, action)};
    if (!run.options.reverse) {
        file.partialPath = tool::partialFor(file.localPath);
        file.expectedSize = source.size;
    }
    file.keepTime = true;
    file.time = source.time;
    file.timeExact = source.timePrecision == 0;
    return file;
}

// Carries out one action other than a copy over `server`; false with the reason in
// `reason`.
bool perform(session::ServerSession& server, const mirroring::SyncAction& action, const RunContext& run,
             std::string& reason) {
    const Options& options = run.options;
    const std::string remotePath = remotePathOf(run, action);
    const std::string localPath = localPathOf(run, action);
    std::error_code error;
    int result = 0;
    switch (action.kind) {
    case mirroring::SyncActionKind::copy: break;
    case mirroring::SyncActionKind::makeFolder:
        result = options.reverse ? server.makeFolder(remotePath) : fs::create_directory(localPath, error) ? 1 : 0;
        break;
    case mirroring::SyncActionKind::removeFile:
        result = options.reverse ? server.deleteFile(remotePath) : unlink(localPath.c_str()) == 0;
        break;
    case mirroring::SyncActionKind::removeFolder:
        result = options.reverse ? server.removeFolder(remotePath) : rmdir(localPath.c_str()) == 0;
        break;
    case mirroring::SyncActionKind::skip: break;
    }
    if (result) return true;
    reason = options.reverse ? tool::failureOf(server, options.timeoutSeconds)
             : error         ? error.message()
                             : std::string(std::strerror(errno));
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
    if (options.reverse && !options.dryRun) lister.makeFolder(remoteFolder);
    Connections connections{{&lister}, options.dryRun ? 1 : parallel, openMore};
    mirroring::SyncTree remote = serverTree(connections, remoteFolder, options.timeoutSeconds);
    const mirroring::SyncTree local = mirroring::readDeviceTree(localFolder);
    mirroring::confirmListedTimes(
        remote.entries, local.entries, !options.reverse, {.sizeOnly = options.sizeOnly},
        [&](const std::string& path) { return lister.modificationTime(withSlash(remoteFolder) + path); });
    for (const mirroring::SyncTree* tree : {&std::as_const(remote), &local}) {
        for (const std::string& problem : tree->problems)
            std::cerr << "farlink-ftp: " << platform::printableText(problem) << '\n';
    }
    const mirroring::SyncTree& source = options.reverse ? local : remote;
    const mirroring::SyncTree& target = options.reverse ? remote : local;
    const std::vector<mirroring::SyncAction> actions = mirroring::planTrees(
        source, target, {.mirror = options.remove, .sizeOnly = options.sizeOnly});

    // What is skipped is said, and is no failure: it was never to be acted on.
    const int unread = int(!source.complete || !target.complete);
    for (const mirroring::SyncTree* tree : {&source, &target}) {
        for (const mirroring::SkippedEntry& skipped : tree->skipped)
            std::cout << "skip " << platform::printableText(skipped.path) << ": " << skipped.why << '\n';
    }
    std::vector<mirroring::SyncAction> work;
    for (const mirroring::SyncAction& action : actions) {
        if (action.kind == mirroring::SyncActionKind::skip) {
            std::cout << verb(action.kind, options.reverse) << " " << action.path << ": " << action.reason << '\n';
        } else if (options.dryRun) {
            std::cout << verb(action.kind, options.reverse) << " " << action.path << '\n';
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
    // More connections only for actions that can use them: an unchanged tree costs no more
    // than its listing.
    const std::vector<session::ServerSession*>& servers = connections.servers;
    connections.widen(work.size());
    // The plan's order decides which action may start on a free connection, and which
    // copies join a batch on it; each line is printed as its action ends.
    const RunContext context{options, remoteFolder, localFolder, sourceEntries};
    std::vector<mirroring::PlanStep> steps;
    for (const mirroring::SyncAction& action : work) steps.push_back({{action.path}, 1, isRemoval(action.kind)});
    const auto line = [&](std::size_t step) {
        return std::string(verb(work[step].kind, options.reverse)) + " " + work[step].path;
    };
    std::mutex printing;
    int done = 0;
    int failures = unread;
    const auto report = [&](std::size_t step, bool succeeded, const std::string& reason) {
        std::lock_guard held(printing);
        if (succeeded) {
            std::cout << line(step) << std::endl;
            ++done;
        } else {
            std::cerr << "farlink-ftp: failed: " << line(step) << ": " << platform::printableText(reason) << '\n';
            ++failures;
        }
    };
    const auto isCopy = [&](std::size_t step) { return work[step].kind == mirroring::SyncActionKind::copy; };
    mirroring::carryOut(
        steps, int(servers.size()), isCopy,
        [&](std::size_t first, const mirroring::MoreSteps& more, const mirroring::StepEnded& ended, int connection) {
            session::ServerSession& server = *servers[std::size_t(connection)];
            if (!isCopy(first)) {
                std::string reason;
                const bool succeeded = perform(server, work[first], context, reason);
                report(first, succeeded, reason);
                ended(first, succeeded);
                return;
            }
            // The batch's steps and their partial files, by file.
            std::vector<std::pair<std::size_t, std::string>> given;
            const session::NextTransfer next = [&]() -> std::optional<session::FileTransfer> {
                const std::optional<std::size_t> step = given.empty() ? first : more();
                if (!step) return std::nullopt;
                session::FileTransfer file = transferOf(context, work[*step]);
                given.emplace_back(*step, file.partialPath);
                return file;
            };
            const session::TransferEnded end = [&](std::size_t file, const session::TransferOutcome& outcome) {
                const auto& [step, partial] = given[file];
                if (!outcome.done && !partial.empty()) tool::dropPartial(partial);
                report(step, outcome.done, tool::failureOf(outcome, server, options.timeoutSeconds));
                ended(step, outcome.done);
            };
            if (options.reverse) server.uploadFiles(next, end);
            else server.downloadFiles(next, end);
        },
        [&](std::size_t step) {
            std::lock_guard held(printing);
            std::cerr << "farlink-ftp: not done, since a copy failed: " << line(step) << '\n';
            ++failures;
        });
    std::cout << "done " << done << ", failed " << failures << '\n';
    return failures == 0 ? 0 : 1;
}

}  // namespace mirror
