#include "mirroring/sync_trees.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ftp/listing_parser.h"

namespace mirroring {
namespace {

namespace fs = std::filesystem;

std::string joined(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

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

}  // namespace

std::vector<SyncAction> planTrees(const SyncTree& source, const SyncTree& target, SyncOptions options) {
    options.mirror = options.mirror && source.complete && target.complete;
    for (const SyncTree* tree : {&source, &target}) {
        for (const SkippedEntry& skipped : tree->skipped) options.held.push_back(skipped.path);
    }
    return planSync(source.entries, target.entries, options);
}

bool isUsableName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || static_cast<unsigned char>(c) < 0x20;
    });
}

SyncTree readServerTree(const ListFolder& list, const std::string& top, const std::string& listingPath) {
    SyncTree tree;
    std::vector<std::string> folders = {""};
    while (!folders.empty()) {
        const std::string folder = folders.back();
        folders.pop_back();
        std::string reason;
        if (!list(withSlash(top) + folder, listingPath, reason)) {
            tree.problems.push_back("cannot list " + withSlash(top) + folder + ": " + reason);
            tree.complete = false;
            continue;
        }
        std::ifstream file(listingPath, std::ios::binary);
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            ftp::RemoteEntry listed;
            if (!ftp::parseListingLine(&listed, line.data(), int(line.size()))) continue;
            const std::string name(listed.name, std::size_t(listed.nameLength));
            if (name == "." || name == "..") continue;
            const std::string path = joined(folder, name);
            if (!isUsableName(name)) {
                tree.skipped.push_back({path, "no name the other side can use"});
            } else if (listed.mayBeFolder && listed.mayBeFile) {
                tree.skipped.push_back({path, "a link"});
            } else if (listed.mayBeFolder) {
                tree.entries.push_back({.path = path, .folder = true, .mode = listed.mode});
                folders.push_back(path);
            } else if (listed.mayBeFile) {
                SyncEntry entry{.path = path,
                                .size = listed.sizeKind == ftp::SizeKind::Exact ? listed.size : -1,
                                .mode = listed.mode};
                takeTime(listed, entry);
                tree.entries.push_back(entry);
            }
        }
        if (file.bad()) {
            tree.problems.push_back("cannot read the listing of " + withSlash(top) + folder);
            tree.complete = false;
        }
    }
    return tree;
}

SyncTree readDeviceTree(const std::string& top) {
    SyncTree tree;
    std::error_code error;
    fs::recursive_directory_iterator walk(top, error), end;
    for (; !error && walk != end; walk.increment(error)) {
        const std::string path = walk->path().lexically_relative(top).generic_string();
        const std::string name = walk->path().filename().string();
        struct stat info {};
        if (lstat(walk->path().c_str(), &info) != 0) {
            tree.problems.push_back("cannot read " + walk->path().string());
            tree.complete = false;
            continue;
        }
        if (!isUsableName(name)) {
            tree.skipped.push_back({path, "no name the other side can use"});
            if (S_ISDIR(info.st_mode)) walk.disable_recursion_pending();
        } else if (S_ISDIR(info.st_mode)) {
            tree.entries.push_back({.path = path, .folder = true, .mode = int(info.st_mode & 0777)});
        } else if (S_ISREG(info.st_mode)) {
            tree.entries.push_back({path, false, info.st_size, info.st_mtim.tv_sec, 0, int(info.st_mode & 0777)});
        } else {
            tree.skipped.push_back({path, S_ISLNK(info.st_mode) ? "a link" : "no file or folder"});
        }
    }
    if (error) {
        tree.problems.push_back("cannot read " + top + ": " + error.message());
        tree.complete = false;
    }
    return tree;
}

}  // namespace mirroring
