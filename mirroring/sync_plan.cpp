#include "mirroring/sync_plan.h"

#include <algorithm>
#include <map>

namespace mirroring {
namespace {

bool sizeDiffers(const SyncEntry& from, const SyncEntry& to) { return from.size != to.size || from.size < 0; }

// Unless sizes alone count: the source is newer by more than both times may be off.
bool newer(const SyncEntry& from, const SyncEntry& to, const SyncOptions& options) {
    if (options.sizeOnly || from.time < 0 || to.time < 0) return false;
    return from.time > to.time + std::max(from.timePrecision, to.timePrecision);
}

// A file must be copied when its size differs, or when the source is newer.
const char* copyReason(const SyncEntry& from, const SyncEntry& to, const SyncOptions& options) {
    if (sizeDiffers(from, to)) return "size differs";
    return newer(from, to, options) ? "newer" : nullptr;
}

// The empty path is the top: everything is at or below it.
bool isAtOrBelow(const std::string& path, const std::vector<std::string>& folders) {
    return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
        return folder.empty() || path == folder || isBelow(path, folder);
    });
}

}  // namespace

bool isBelow(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

std::vector<SyncAction> planSync(const std::vector<SyncEntry>& source, const std::vector<SyncEntry>& target,
                                 const SyncOptions& options) {
    std::map<std::string, const SyncEntry*> sourceByPath;
    std::map<std::string, const SyncEntry*> targetByPath;
    for (const SyncEntry& entry : source) sourceByPath[entry.path] = &entry;
    for (const SyncEntry& entry : target) targetByPath[entry.path] = &entry;

    // By path, a folder comes before what is in it. Nothing below a skipped name is
    // touched on either side.
    std::vector<SyncAction> actions;
    std::vector<std::string> skipped = options.held;
    for (const auto& [path, from] : sourceByPath) {
        if (isAtOrBelow(path, skipped)) continue;
        const auto found = targetByPath.find(path);
        const SyncEntry* to = found == targetByPath.end() ? nullptr : found->second;
        if (to && to->folder != from->folder) {
            actions.push_back({SyncActionKind::skip, path, "a folder on one side and a file on the other"});
            skipped.push_back(path);
        } else if (from->folder) {
            if (!to) actions.push_back({SyncActionKind::makeFolder, path, "new"});
        } else if (!to) {
            actions.push_back({SyncActionKind::copy, path, "new"});
        } else if (const char* reason = copyReason(*from, *to, options)) {
            actions.push_back({SyncActionKind::copy, path, reason});
        } else if (!options.sizeOnly && (from->time < 0 || to->time < 0)) {
            actions.push_back({SyncActionKind::skip, path, "time unknown, compared by size only"});
        }
    }
    if (!options.mirror) return actions;
    // Removals last, deepest first, so that a folder is empty when its turn comes; a
    // folder that holds what is left alone stays too.
    for (auto entry = targetByPath.rbegin(); entry != targetByPath.rend(); ++entry) {
        const auto& [path, to] = *entry;
        const auto holds = [&](const std::string& left) { return isBelow(left, path); };
        if (sourceByPath.count(path) || isAtOrBelow(path, skipped) ||
            std::any_of(skipped.begin(), skipped.end(), holds))
            continue;
        actions.push_back(
            {to->folder ? SyncActionKind::removeFolder : SyncActionKind::removeFile, path, "not on the other side"});
    }
    return actions;
}

int confirmListedTimes(std::vector<SyncEntry>& server, const std::vector<SyncEntry>& device, bool serverIsSource,
                       const SyncOptions& options, const ExactTime& exactTime) {
    std::map<std::string, const SyncEntry*> deviceFiles;
    for (const SyncEntry& entry : device) {
        if (!entry.folder) deviceFiles[entry.path] = &entry;
    }
    int asked = 0;
    for (SyncEntry& entry : server) {
        const auto found = entry.folder || entry.timePrecision == 0 ? deviceFiles.end() : deviceFiles.find(entry.path);
        if (found == deviceFiles.end()) continue;
        const SyncEntry& from = serverIsSource ? entry : *found->second;
        const SyncEntry& to = serverIsSource ? *found->second : entry;
        if (sizeDiffers(from, to) || !newer(from, to, options)) continue;
        ++asked;
        if (const std::int64_t time = exactTime(entry.path); time >= 0) {
            entry.time = time;
            entry.timePrecision = 0;
        }
    }
    return asked;
}

}  // namespace mirroring
