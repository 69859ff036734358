#include "mirroring/sync_trees.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <thread>
#include <utility>

#include "ftp/listing_parser.h"
#include "ftp/machine_listing.h"
#include "platform/own_files.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace mirroring {
namespace {

constexpr const char* tooDeep = "more than 64 levels deep";

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// A reason from outside, as one line.
std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

int levelOf(const std::string& path) { return path.empty() ? 0 : 1 + int(std::count(path.begin(), path.end(), '/')); }

// The listing's time as seconds since 1970 UTC, and how far off it may be.
void takeTime(const ftp::RemoteEntry& listed, SyncEntry& entry) {
    switch (listed.timeKind) {
    case ftp::TimeKind::Second: entry.timePrecision = 0; break;
    case ftp::TimeKind::Minute: entry.timePrecision = 60; break;
    case ftp::TimeKind::Day: entry.timePrecision = 86400; break;
    case ftp::TimeKind::None: return;
    }
    entry.time = listed.time - ftp::localOffset();  // the parser gives device local time
}

// One name of a folder's listing: an entry, or why it is skipped.
struct Listed {
    SyncEntry entry;
    std::string why;
    int kind = 0;  // as the listing gave it: 1 a folder, 2 a file, 3 a link, 0 anything else
};

// What the line names, into `listed`; false for a line that names nothing.
bool readLine(std::string_view line, Listed& listed) {
    if (const std::optional<std::string> name = ftp::nameOfSkippedLine(line)) {
        const std::string_view why = platform::unusableName(*name);
        listed.entry.path = *name;
        listed.why = why.empty() ? "a name the server's listing could not carry" : why;
        listed.kind = -1;
        return true;
    }
    ftp::RemoteEntry entry;
    if (!ftp::parseListingLine(&entry, line.data(), int(line.size()))) return false;
    listed.entry.path.assign(entry.name, std::size_t(entry.nameLength));
    listed.why = platform::unusableName(listed.entry.path);
    listed.kind = (entry.mayBeFolder ? 1 : 0) | (entry.mayBeFile ? 2 : 0);
    if (!listed.why.empty()) return true;
    listed.entry.mode = entry.mode;
    switch (listed.kind) {
    case 1: listed.entry.folder = true; break;
    case 2:
        if (entry.sizeKind == ftp::SizeKind::Exact) listed.entry.size = entry.size;
        takeTime(entry, listed.entry);
        break;
    case 3: listed.why = "a link"; break;
    default: listed.why = "no file or folder"; break;
    }
    return true;
}

// One folder's listing (the file `listingPath`) into `tree`, its names below `folder`;
// the folders in it go to `next`. False when the file could not be read whole. A name
// listed twice as different kinds is skipped; "." and ".." and Farlink's own temporary
// files are left out.
bool readListedFolder(const std::string& listingPath, const std::string& folder, SyncTree& tree,
                      std::vector<std::string>& next) {
    std::vector<Listed> names;
    std::map<std::string, std::size_t> byName;
    std::ifstream file(listingPath, std::ios::binary);
    // Listing files end their lines with LF alone (an FTP listing's CR LF became LF as it
    // was read): a CR at a line's end belongs to the name.
    for (std::string line; std::getline(file, line);) {
        Listed listed;
        if (!readLine(line, listed) || listed.entry.path == "." || listed.entry.path == "..") continue;
        if (listed.why.empty() && platform::isOwnTemporaryName(listed.entry.path)) continue;
        const auto [at, added] = byName.emplace(listed.entry.path, names.size());
        if (added) names.push_back(std::move(listed));
        else if (names[at->second].kind != listed.kind) names[at->second].why = "listed twice as different kinds";
    }
    for (Listed& listed : names) {
        listed.entry.path = joined(folder, listed.entry.path);
        if (!listed.why.empty()) {
            tree.skipped.push_back({listed.entry.path, listed.why});
            continue;
        }
        if (listed.entry.folder) next.push_back(listed.entry.path);
        tree.entries.push_back(std::move(listed.entry));
    }
    return !file.bad();
}

// The device walk: what it met, and the folders it must not enter twice or at all.
struct DeviceWalk {
    SyncTree tree;
    std::set<std::pair<dev_t, ino_t>> read;  // the folders read, so that a loop is met once
    std::set<std::pair<dev_t, ino_t>> own;   // Farlink's settings and cache folders
};

std::string systemReason(int error) { return "cannot be read: " + std::string(std::strerror(error)); }

// Reads the folder open as `descriptor` (which it closes), `path` below the top, and the
// folders in it, each opened from this one without following a link.
void walkDevice(int descriptor, const std::string& path, DeviceWalk& walk) {
    SyncTree& tree = walk.tree;
    struct stat self {};
    if (fstat(descriptor, &self) != 0 || !walk.read.insert({self.st_dev, self.st_ino}).second) {
        tree.held.push_back({path, "read already as another folder (a loop)"});
        close(descriptor);
        return;
    }
    DIR* listing = fdopendir(descriptor);
    if (!listing) {
        tree.held.push_back({path, systemReason(errno)});
        close(descriptor);
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* found = readdir(listing);
        if (!found) {
            if (errno != 0) tree.held.push_back({path, systemReason(errno)});
            break;
        }
        const std::string name = found->d_name;
        if (name == "." || name == "..") continue;
        const std::string child = joined(path, name);
        struct stat info {};
        if (const std::string_view why = platform::unusableName(name); !why.empty()) {
            tree.skipped.push_back({child, std::string(why)});
        } else if (fstatat(dirfd(listing), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            tree.skipped.push_back({child, systemReason(errno)});
        } else if (S_ISREG(info.st_mode)) {
            if (platform::isOwnTemporaryName(name)) tree.temporaries.push_back(child);
            else
                tree.entries.push_back({.path = child,
                                        .size = info.st_size,
                                        .time = info.st_mtim.tv_sec,
                                        .mode = int(info.st_mode & 0777)});
        } else if (!S_ISDIR(info.st_mode)) {
            tree.skipped.push_back({child, S_ISLNK(info.st_mode) ? "a link" : "no file or folder"});
        } else if (walk.own.contains({info.st_dev, info.st_ino})) {
            tree.skipped.push_back({child, "Farlink's own folder"});
        } else {
            tree.entries.push_back({.path = child, .folder = true, .mode = int(info.st_mode & 0777)});
            const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            if (levelOf(child) >= deepestLevel) {
                tree.held.push_back({child, tooDeep});
            } else if (const int folder = openat(dirfd(listing), name.c_str(), flags); folder >= 0) {
                walkDevice(folder, child, walk);
            } else {
                tree.held.push_back({child, systemReason(errno)});
            }
        }
    }
    closedir(listing);
}

}  // namespace

std::vector<SyncAction> planTrees(const SyncTree& source, const SyncTree& target, SyncOptions options) {
    for (const SyncTree* tree : {&source, &target}) {
        for (const std::vector<SkippedEntry>* paths : {&tree->skipped, &tree->held}) {
            for (const SkippedEntry& path : *paths) options.held.push_back(path.path);
        }
    }
    return planSync(source.entries, target.entries, options);
}

namespace {

// One folder of the server's tree, and the folders it holds.
struct FolderRead {
    SyncTree part;
    std::vector<std::string> below;
};

FolderRead readServerFolder(const ListFolderBy& list, int lister, const std::string& top, const std::string& folder,
                            const std::string& listingPath) {
    FolderRead read;
    std::string reason;
    if (!list(lister, withSlash(top) + folder, listingPath, reason)) {
        read.part.held.push_back({folder, "cannot be listed: " + oneLine(reason)});
    } else if (!readListedFolder(listingPath, folder, read.part, read.below)) {
        read.part.held.push_back({folder, "its listing could not be read"});
    }
    return read;
}

}  // namespace

SyncTree readServerTree(const ListFolderBy& list, const std::string& top, const std::string& listingPath,
                        const ListerCount& listers) {
    SyncTree tree;
    std::set<std::string> listed;
    const auto pathOf = [&](int lister) {
        return lister == 0 ? listingPath : listingPath + "-" + std::to_string(lister);
    };
    int mostListers = 1;
    for (std::vector<std::string> level = {""}; !level.empty();) {
        // A folder too deep, or met again, is held rather than listed.
        std::erase_if(level, [&](const std::string& folder) {
            if (levelOf(folder) >= deepestLevel) tree.held.push_back({folder, tooDeep});
            else if (!listed.insert(folder).second) tree.held.push_back({folder, "listed already"});
            else return false;
            return true;
        });
        if (level.empty()) break;
        // Each lister takes the level's next folder until none is left; the parts join in
        // the level's order, so that the tree does not depend on who was quicker.
        std::vector<FolderRead> reads(level.size());
        std::atomic<std::size_t> next = 0;
        const auto listLevel = [&](int lister) {
            for (std::size_t index; (index = next++) < level.size();)
                reads[index] = readServerFolder(list, lister, top, level[index], pathOf(lister));
        };
        const int count = std::clamp(listers ? listers(level.size()) : 1, 1, int(level.size()));
        mostListers = std::max(mostListers, count);
        std::vector<std::thread> helpers;
        for (int lister = 1; lister < count; ++lister) helpers.emplace_back(listLevel, lister);
        listLevel(0);
        for (std::thread& helper : helpers) helper.join();
        level.clear();
        for (FolderRead& read : reads) {
            SyncTree& part = read.part;
            std::move(part.entries.begin(), part.entries.end(), std::back_inserter(tree.entries));
            std::move(part.skipped.begin(), part.skipped.end(), std::back_inserter(tree.skipped));
            std::move(part.held.begin(), part.held.end(), std::back_inserter(tree.held));
            std::move(read.below.begin(), read.below.end(), std::back_inserter(level));
        }
    }
    for (int lister = 1; lister < mostListers; ++lister) std::remove(pathOf(lister).c_str());
    return tree;
}

SyncTree readDeviceTree(const std::string& top) {
    DeviceWalk walk;
    for (const std::string& folder : platform::ownHostFolders()) {
        struct stat info {};
        if (stat(folder.c_str(), &info) == 0) walk.own.insert({info.st_dev, info.st_ino});
    }
    const int descriptor = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) walk.tree.held.push_back({"", systemReason(errno)});
    else walkDevice(descriptor, "", walk);
    return std::move(walk.tree);
}

EntryNow deviceEntryNow(const std::string& hostPath) {
    struct stat info {};
    if (lstat(hostPath.c_str(), &info) != 0) return {std::nullopt, errno == ENOENT ? "is gone" : systemReason(errno)};
    if (S_ISDIR(info.st_mode)) return {SyncEntry{hostPath, true}, {}};
    if (S_ISREG(info.st_mode)) return {SyncEntry{hostPath, false, info.st_size, info.st_mtim.tv_sec}, {}};
    return {std::nullopt, S_ISLNK(info.st_mode) ? "is a link now" : "is no file or folder now"};
}

bool serverEntryNow(const ListFolder& list, const std::string& path, const std::string& listingPath, EntryNow& now,
                    std::string& reason) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = path.substr(slash + 1);
    if (!list(folder, listingPath, reason)) return false;
    SyncTree listing;
    std::vector<std::string> next;
    if (!readListedFolder(listingPath, "", listing, next)) {
        reason = "The listing of " + folder + " could not be read.";
        return false;
    }
    now = {std::nullopt, "is gone"};
    for (const SyncEntry& entry : listing.entries) {
        if (entry.path == name) now.entry = entry;
    }
    for (const SkippedEntry& skipped : listing.skipped) {
        if (skipped.path == name) now.otherwise = "is " + skipped.why + " now";
    }
    return true;
}

std::string changedSincePlanned(const SyncEntry& planned, const EntryNow& now) {
    if (!now.entry) return now.otherwise;
    const SyncEntry& entry = *now.entry;
    if (entry.folder != planned.folder) return entry.folder ? "is a folder now" : "is a file now";
    if (planned.folder) return {};
    if (planned.size >= 0 && entry.size != planned.size) {
        return "changed since it was planned: " + std::to_string(entry.size) + " bytes, not " +
               std::to_string(planned.size);
    }
    const std::int64_t precision = std::max(planned.timePrecision, entry.timePrecision);
    if (planned.time >= 0 && (entry.time < 0 || std::abs(entry.time - planned.time) > precision)) {
        return "changed since it was planned: its time is another";
    }
    return {};
}

}  // namespace mirroring
