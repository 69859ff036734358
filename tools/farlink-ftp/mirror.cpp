#include "tools/farlink-ftp/mirror.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

#include "ftp/listing_parser.h"
#include "mirroring/sync_plan.h"
#include "platform/text.h"

namespace mirror {
namespace {

namespace fs = std::filesystem;

struct Tree {
    std::vector<mirroring::SyncEntry> entries;
    std::vector<std::string> skipped;  // "PATH: why"
    bool complete = true;
};

// A name a command can act on as this entry and no other.
bool isUsableName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || static_cast<unsigned char>(c) < 0x20;
    });
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// The listing's time as seconds since 1970 UTC, and how far off it may be.
void takeTime(const ftp::RemoteEntry& listed, mirroring::SyncEntry& entry) {
    switch (listed.timeKind) {
    case ftp::TimeKind::Second: entry.timePrecision = 0; break;
    case ftp::TimeKind::Minute: entry.timePrecision = 60; break;
    case ftp::TimeKind::Day: entry.timePrecision = 86400; break;
    case ftp::TimeKind::None: return;
    }
    entry.time = listed.time - ftp::localOffset();  // the parser gives device local time
}

// The server's tree below `top`, folder by folder. A folder whose listing fails makes
// the tree incomplete: nothing may then be removed on the strength of it.
Tree serverTree(Server& server, const std::string& top) {
    Tree tree;
    const std::string listing = temporaryListingFile();
    if (listing.empty()) return {{}, {}, false};
    std::vector<std::string> folders = {""};
    while (!folders.empty()) {
        const std::string folder = folders.back();
        folders.pop_back();
        if (!server.listToFile(withSlash(top) + folder, listing)) {
            std::cerr << "farlink-ftp: cannot list " << withSlash(top) + folder << ": " << server.reason() << '\n';
            tree.complete = false;
            continue;
        }
        std::ifstream file(listing, std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ftp::RemoteEntry listed;
            if (!ftp::parseListingLine(&listed, line.data(), int(line.size()))) continue;
            const std::string name(listed.name, std::size_t(listed.nameLength));
            if (name == "." || name == "..") continue;
            const std::string path = joined(folder, name);
            if (!isUsableName(name)) {
                tree.skipped.push_back(platform::printableText(path) + ": no name the other side can use");
            } else if (listed.mayBeFolder && listed.mayBeFile) {
                tree.skipped.push_back(path + ": a link");
            } else if (listed.mayBeFolder) {
                tree.entries.push_back({path, true});
                folders.push_back(path);
            } else if (listed.mayBeFile) {
                mirroring::SyncEntry entry{path, false, listed.sizeKind == ftp::SizeKind::Exact ? listed.size : -1};
                takeTime(listed, entry);
                tree.entries.push_back(entry);
            }
        }
    }
    unlink(listing.c_str());
    return tree;
}

// The local tree below `top`; links and what is neither file nor folder are left alone.
Tree localTree(const std::string& top) {
    Tree tree;
    std::error_code error;
    fs::recursive_directory_iterator walk(top, error), end;
    for (; !error && walk != end; walk.increment(error)) {
        const std::string path = fs::relative(walk->path(), top).generic_string();
        const std::string name = walk->path().filename().string();
        struct stat info {};
        if (lstat(walk->path().c_str(), &info) != 0) {
            tree.complete = false;
            continue;
        }
        if (!isUsableName(name)) {
            tree.skipped.push_back(platform::printableText(path) + ": no name the other side can use");
            if (S_ISDIR(info.st_mode)) walk.disable_recursion_pending();
        } else if (S_ISDIR(info.st_mode)) {
            tree.entries.push_back({path, true});
        } else if (S_ISREG(info.st_mode)) {
            tree.entries.push_back({path, false, info.st_size, info.st_mtim.tv_sec, 0});
        } else {
            tree.skipped.push_back(path + (S_ISLNK(info.st_mode) ? ": a link" : ": no file or folder"));
        }
    }
    if (error) {
        std::cerr << "farlink-ftp: cannot read " << top << ": " << error.message() << '\n';
        tree.complete = false;
    }
    return tree;
}

// The downloaded file takes the server's time, so that the next run finds the two alike.
void takeServerTime(const std::string& local, const mirroring::SyncEntry& entry) {
    if (entry.time < 0) return;
    const timespec times[2] = {{0, UTIME_OMIT}, {entry.time, 0}};
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
    const Tree remote = serverTree(server, remoteFolder);
    const Tree local = localTree(localFolder);
    const Tree& source = options.reverse ? local : remote;
    const Tree& target = options.reverse ? remote : local;
    // A tree not read whole may not be the reason of any removal.
    const bool mayRemove = options.remove && source.complete && target.complete;
    const std::vector<mirroring::SyncAction> actions = mirroring::planSync(
        source.entries, target.entries, {.mirror = mayRemove, .sizeOnly = options.sizeOnly});

    // What is skipped is said, and is no failure: it was never to be acted on.
    int failures = int(!source.complete || !target.complete);
    for (const std::string& skipped : source.skipped) std::cout << "skip " << skipped << '\n';
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
            if (result && !options.reverse) takeServerTime(localPath, *sourceEntries[action.path]);
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
