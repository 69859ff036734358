// The two trees a synchronisation compares, read into the plan's entries: a server
// folder's tree through listings in the form ftp::parseListingLine reads, and a device
// folder's tree from the file system. Links, and names the other side could not use as
// that entry alone, are listed as skipped and never entered.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mirroring/sync_plan.h"

namespace mirroring {

// An entry that is never acted on, and why.
struct SkippedEntry {
    std::string path;
    std::string why;
};

struct SyncTree {
    std::vector<SyncEntry> entries;
    std::vector<SkippedEntry> skipped;
    std::vector<std::string> problems;  // what could not be read, a sentence each
    // Every folder was read whole: only then may anything be removed on its strength.
    bool complete = true;
};

// Writes the listing of the server folder `folder` into the file `listingPath`, as the
// lister numbered `lister` (0 to the number of listers - 1); false with the reason in
// `reason`.
using ListFolder =
    std::function<bool(int lister, const std::string& folder, const std::string& listingPath, std::string& reason)>;
// How many listers list a level of the tree that holds `folders` folders, at once (asked
// before each level, so that a caller opens connections only once a level has work for
// them). Null: one.
using ListerCount = std::function<int(std::size_t folders)>;

// The server's tree below `top` ('/' between names), listed level by level: the folders
// of a level are shared among the listers, each lister on a thread of its own (lister 0
// on the caller's) with a temporary file of its own: `listingPath` for lister 0,
// `listingPath` + "-" + its number for the others (removed at the end).
SyncTree readServerTree(const ListFolder& list, const std::string& top, const std::string& listingPath,
                        const ListerCount& listers = nullptr);
// The device's tree below `top`.
SyncTree readDeviceTree(const std::string& top);

// The plan that brings `target` to what `source` holds (see planSync): removals only when
// both trees were read whole, and nothing on or below what either tree skipped.
std::vector<SyncAction> planTrees(const SyncTree& source, const SyncTree& target, SyncOptions options);

// A name a command can act on as this entry and no other.
bool isUsableName(std::string_view name);

}  // namespace mirroring
