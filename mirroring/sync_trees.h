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

// Writes the listing of the server folder `folder` into the file `listingPath`; false
// with the reason in `reason`.
using ListFolder = std::function<bool(const std::string& folder, const std::string& listingPath, std::string& reason)>;

// The server's tree below `top` ('/' between names), listed folder by folder through the
// temporary file `listingPath`.
SyncTree readServerTree(const ListFolder& list, const std::string& top, const std::string& listingPath);
// The device's tree below `top`.
SyncTree readDeviceTree(const std::string& top);

// The plan that brings `target` to what `source` holds (see planSync): removals only when
// both trees were read whole, and nothing on or below what either tree skipped.
std::vector<SyncAction> planTrees(const SyncTree& source, const SyncTree& target, SyncOptions options);

// A name a command can act on as this entry and no other.
bool isUsableName(std::string_view name);

}  // namespace mirroring
