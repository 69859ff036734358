#include "mirroring/sync_trees.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

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

namespace {

// One folder of the server's tree, and the folders it holds.
struct FolderRead {
    SyncTree part;
    std::vector<std::string> below;
};

FolderRead readServerFolder(const ListFolder& list, int lister, const std::string& top, const std::string& folder,
                            const std::string& listingPath) {
    FolderRead read;
    SyncTree& tree = read.part;
    std::string reason;
    if (!list(lister, withSlash(top) + folder, listingPath, reason)) {
        tree.problems.push_back("cannot list " + withSlash(top) + folder + ": " + reason);
        tree.complete = false;
        return read;
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
            tree.entries.push_back({path, true});
            read.below.push_back(path);
        } else if (listed.mayBeFile) {
            SyncEntry entry{path, false, listed.sizeKind == ftp::SizeKind::Exact ? listed.size : -1};
            takeTime(listed, entry);
            tree.entries.push_back(entry);
        }
    }
    if (file.bad()) {
        tree.problems.push_back("cannot read the listing of " + withSlash(top) + folder);
        tree.complete = false;
    }
    return read;
}

}  // namespace

SyncTree readServerTree(const ListFolder& list, const std::string& top, const std::string& listingPath,
                        const ListerCount& listers) {
    SyncTree tree;
    const auto pathOf = [&](int lister) {
        return lister == 0 ? listingPath : listingPath + "-" + std::to_string(lister);
    };
    int mostListers = 1;
    for (std::vector<std::string> level = {""}; !level.empty();) {
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
            std::move(part.problems.begin(), part.problems.end(), std::back_inserter(tree.problems));
            tree.complete = tree.complete && part.complete;
            std::move(read.below.begin(), read.below.end(), std::back_inserter(level));
        }
    }
    for (int lister = 1; lister < mostListers; ++lister) std::remove(pathOf(lister).c_str());
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
            tree.entries.push_back({path, true});
        } else if (S_ISREG(info.st_mode)) {
            tree.entries.push_back({path, false, info.st_size, info.st_mtim.tv_sec, 0});
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
