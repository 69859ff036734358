#include "explorer/folder_walk.h"

#include <iterator>
#include <vector>

#include "explorer/url.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/stop_flag.h"
#include "platform/text.h"

namespace explorer {
namespace {

// A name that names one entry of the folder and nothing else.
bool isOneSegment(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (char16_t c : name) {
        if (isSeparator(c)) return false;
    }
    return true;
}

bool deleteTreeWalk(const ViewProvider& view, std::u16string_view folder, VisitedFolders& visited) {
    const std::u16string prefix = std::u16string(folder) + u"\\";
    bool deleted = true;
    const ListingResult listing = listFolder(view, prefix + u"*", prefix, [&](const FolderEntry& entry) {
        if (platform::threadStopped()) {
            platform::setLastError(platform::errorCancelled);
            deleted = false;
        } else if (!entry.isRealFolder()) {
            deleted = view.DeleteFile(entry.path) != 0;
        } else if (firstVisit(visited, entry.data)) {
            deleted = deleteTreeWalk(view, entry.path, visited);
        } else {
            // Reached a second way (a bind mount): emptied already, and not ours to remove.
            platform::setLastError(platform::errorAccessDenied);
            deleted = false;
        }
        return deleted;
    });
    if (!deleted || listing.end == ListingEnd::failed) return false;
    if (listing.leftOut > 0) {
        platform::setLastError(platform::errorFilenameTooLong);
        return false;
    }
    return view.RemoveFolder(folder) != 0;
}

void keep(KeptEntries& kept, std::u16string_view path, int count = 1) {
    if (kept.count == 0) kept.first = path;
    kept.count += count;
}

bool deleteCopiedWalk(const ViewProvider& view, const std::u16string& folder, char16_t separator,
                      const CopiedTree& copied, KeptEntries& kept) {
    struct Listed {
        std::u16string path;
        bool realFolder;
        EntryStamp stamp;
    };
    // Read whole before anything goes, as the copy read it.
    std::vector<Listed> entries;
    const std::u16string prefix = folder + separator;
    const ListingResult listing = listFolder(view, prefix + u"*", prefix, [&](const FolderEntry& entry) {
        entries.push_back({entry.path, entry.isRealFolder(), stampOf(entry.data)});
        return true;
    });
    if (listing.end == ListingEnd::failed) return false;
    const int keptBefore = kept.count;
    if (listing.leftOut > 0) keep(kept, prefix, listing.leftOut);
    for (const Listed& entry : entries) {
        if (platform::threadStopped()) {
            platform::setLastError(platform::errorCancelled);
            return false;
        }
        if (entry.realFolder) {
            if (!copied.folders.contains(entry.path)) keep(kept, entry.path);
            else if (!deleteCopiedWalk(view, entry.path, separator, copied, kept)) return false;
            continue;
        }
        const auto found = copied.files.find(entry.path);
        if (found == copied.files.end() || found->second != entry.stamp) keep(kept, entry.path);
        else if (!view.DeleteFile(entry.path)) return false;
    }
    return kept.count > keptBefore || view.RemoveFolder(folder) != 0;
}

bool countTree(const ViewProvider& view, FolderCounters& counters, const std::atomic<bool>& stop,
               VisitedFolders& visited) {
    const std::u16string folder = withSeparator(counters.path);
    counters.folders = counters.files = counters.allFolders = counters.allFiles = 0;
    counters.size = counters.allSize = 0;
    bool complete = true;
    const ListingResult listing = listFolder(view, folder + u"*.*", folder, [&](const FolderEntry& entry) {
        if (stop) return false;
        if (entry.isRealFolder()) {
            ++counters.folders;
            if (!firstVisit(visited, entry.data)) return true;
            FolderCounters child{entry.path};
            complete = countTree(view, child, stop, visited) && complete;
            counters.allFolders += child.allFolders;
            counters.allFiles += child.allFiles;
            counters.allSize += child.allSize;
        } else {
            ++counters.files;
            counters.size += entry.data.sizeLow;
        }
        return true;
    });
    counters.allFolders += counters.folders;
    counters.allFiles += counters.files;
    counters.allSize += counters.size;
    return complete && listing.end == ListingEnd::complete;
}

}  // namespace

ListingResult listFolder(const ViewProvider& view, std::u16string_view pattern, std::u16string_view folder,
                         const std::function<bool(const FolderEntry&)>& visit) {
    ListingResult result;
    platform::FindData data{};
    const platform::FindHandle search = view.FindFirst(pattern, data);
    if (search == platform::invalidFindHandle) {
        const std::uint32_t code = platform::lastError();
        // Nothing to enumerate is an empty folder; anything else is a failure.
        if (code != platform::errorFileNotFound && code != platform::errorNoMoreFiles) result.end = ListingEnd::failed;
        return result;
    }
    bool stopped = false;
    do {
        const std::u16string_view name = platform::boundedView(data.name, std::size(data.name));
        std::u16string path = std::u16string(folder) + std::u16string(name);
        if (!isOneSegment(name) || path.size() >= platform::maxPath) {
            if (name != u"." && name != u"..") ++result.leftOut;
            continue;
        }
        if (!visit(FolderEntry{data, name, std::move(path)})) {
            stopped = true;
            break;
        }
    } while (view.FindNext(search, data));
    const std::uint32_t code = platform::lastError();
    if (stopped) result.end = ListingEnd::stopped;
    else if (code != platform::errorNoMoreFiles) result.end = ListingEnd::failed;
    view.FindClose(search);
    platform::setLastError(code);
    return result;
}

bool firstVisit(VisitedFolders& visited, const platform::FindData& folder) {
    if (folder.volumeId == 0 && folder.fileId == 0) return true;
    return visited.seen.emplace(folder.volumeId, folder.fileId).second;
}

bool deleteTree(const ViewProvider& view, std::u16string_view folder, std::uint32_t rowAttributes) {
    if (rowAttributes & platform::attributeLink) return view.DeleteFile(folder) != 0;
    VisitedFolders visited;
    return deleteTreeWalk(view, folder, visited);
}

EntryStamp stampOf(const platform::FindData& data) {
    return {std::uint64_t(data.sizeHigh) << 32 | data.sizeLow, platform::toUint64(data.lastWriteTime)};
}

bool deleteCopied(const ViewProvider& view, std::u16string_view folder, char16_t separator, const CopiedTree& copied,
                  KeptEntries& kept) {
    return deleteCopiedWalk(view, std::u16string(folder), separator, copied, kept);
}

bool walkFolder(const ViewProvider& view, FolderCounters& counters, const std::atomic<bool>& stop) {
    VisitedFolders visited;
    return countTree(view, counters, stop, visited);
}

}  // namespace explorer
