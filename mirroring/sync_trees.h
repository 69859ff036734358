// The two trees a synchronisation compares, read into the plan's entries: a server
// folder's tree through listings in the form ftp::parseListingLine reads, and a device
// folder's tree from the file system, never through a link. A tree is what was seen
// whole: a folder that could not be read whole is held, with its reason; links, names
// that cannot stand for one entry (platform::unusableName) and names listed twice as
// different kinds are skipped; Farlink's own temporary files and folders are never
// part of it. And, right before a removal, the entry as the tree would read it now.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mirroring/sync_plan.h"

namespace mirroring {

// A path that is never acted on, and why.
struct SkippedEntry {
    std::string path;
    std::string why;
};

struct SyncTree {
    std::vector<SyncEntry> entries;
    // Entries never acted on, with all below them, on either side.
    std::vector<SkippedEntry> skipped;
    // Folders not read whole (the top itself: ""), with the system's or the server's
    // reason: nothing is copied into, over or out of them, nor removed in them.
    std::vector<SkippedEntry> held;
    // Farlink's own temporary files met (see platform::isOwnTemporaryName): never planned.
    std::vector<std::string> temporaries;
};

// How deep a walk reads: a folder this many levels below the top is held, so that a
// server with folders without end (or a loop) cannot keep a walk reading.
inline constexpr int deepestLevel = 64;

// Writes the listing of the server folder `folder` into the file `listingPath`; false
// with the reason in `reason`.
using ListFolder = std::function<bool(const std::string& folder, const std::string& listingPath, std::string& reason)>;
// The same, as the lister numbered `lister` (0 to the number of listers - 1).
using ListFolderBy =
    std::function<bool(int lister, const std::string& folder, const std::string& listingPath, std::string& reason)>;
// How many listers list a level of the tree that holds `folders` folders, at once (asked
// before each level, so that a caller opens connections only once a level has work for
// them). Null: one.
using ListerCount = std::function<int(std::size_t folders)>;

// The server's tree below `top` ('/' between names), listed level by level: the folders
// of a level are shared among the listers, each lister on a thread of its own (lister 0
// on the caller's) with a temporary file of its own: `listingPath` for lister 0,
// `listingPath` + "-" + its number for the others (removed at the end).
SyncTree readServerTree(const ListFolderBy& list, const std::string& top, const std::string& listingPath,
                        const ListerCount& listers = nullptr);
// The device's tree below `top`; Farlink's settings and cache folders are skipped.
SyncTree readDeviceTree(const std::string& top);

// The plan that brings `target` to what `source` holds (see planSync): nothing on or
// below what either tree skipped or held.
std::vector<SyncAction> planTrees(const SyncTree& source, const SyncTree& target, SyncOptions options);

// What stands at a path now, as a tree would read it: the entry, or why there is none
// ("is gone", "is a link now", ...).
struct EntryNow {
    std::optional<SyncEntry> entry;
    std::string otherwise;
};
// The device entry at `hostPath` (lstat).
EntryNow deviceEntryNow(const std::string& hostPath);
// The server entry at `path` ('/' between names), from a listing of its folder; false
// with the reason when the folder could not be listed.
bool serverEntryNow(const ListFolder& list, const std::string& path, const std::string& listingPath, EntryNow& now,
                    std::string& reason);

// A removal's check, right before it acts (for the queue's runs, farlink-ftp mirror and
// Retry alike): why what stands at its path now is not what the plan saw, or empty when
// it is: the same kind, and for a file the same size and time (within their precision).
// Anything else is kept, and the removal fails saying so.
std::string changedSincePlanned(const SyncEntry& planned, const EntryNow& now);

}  // namespace mirroring
