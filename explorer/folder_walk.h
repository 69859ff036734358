// Folder walks through a view: the one loop over a folder's entries that every walk
// uses (the population, the tree delete, the properties count, the Device view's folder
// copy), and the two tree walks that work on whichever view is current. A walk closes
// its search on every path, tells the end of a listing from a failure in the middle of
// it, never builds a path that a 260-unit buffer would cut, and never goes into a link.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "explorer/provider.h"
#include "platform/files.h"

namespace explorer {

// One entry of a listing, as the view described it (a link describes its target).
struct FolderEntry {
    const platform::FindData& data;
    std::u16string_view name;
    std::u16string path;  // the listed folder followed by the name

    bool isFolder() const { return (data.attributes & platform::attributeFolder) != 0; }
    bool isLink() const { return (data.attributes & platform::attributeLink) != 0; }
    // A folder a tree walk goes into: a real one, never a link to one, whatever the link's
    // own removal or copy did.
    bool isRealFolder() const { return isFolder() && !isLink(); }
};

enum class ListingEnd {
    complete,  // the view said there is no more (18), or nothing at all at the start (2, 18)
    stopped,   // the visitor asked to stop
    failed,    // the view failed, at the start or in the middle; the last error says why
};

struct ListingResult {
    ListingEnd end = ListingEnd::complete;
    // Entries not visited because no path can name them: a name that is empty, "." or
    // "..", or holds a separator (a server's listing is data, never a path), or a path
    // that a 260-unit buffer would cut and so make name another entry.
    int leftOut = 0;
};

// Searches `pattern` through the view's FindFirst/FindNext/FindClose and calls `visit`
// for each entry with its path: `folder` (ending with a separator) followed by the name.
// `visit` returns false to stop. The search is closed on every path, and the last error
// is the one the listing (or the visitor, when it stopped) ended with. Any thread the
// view's find operations allow.
ListingResult listFolder(const ViewProvider& view, std::u16string_view pattern, std::u16string_view folder,
                         const std::function<bool(const FolderEntry&)>& visit);

// The folders a tree walk has gone into, by the view's identity of them, so that a folder
// reached a second way (a bind mount of a folder above it) is gone into once.
struct VisitedFolders {
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen;  // volume id, file id
};
// True the first time a folder comes, and always when the view cannot tell (both ids 0).
bool firstVisit(VisitedFolders& visited, const platform::FindData& folder);

// Removes `folder` (a row's path, without a final separator) and everything in it through
// the view: files and links through DeleteFile, real folders emptied first, then
// RemoveFolder. `rowAttributes` are the ones the folder's own listing gave its row (asking
// the view again would cost the Remote view another listing): a row marked as a link goes
// through DeleteFile and is never emptied. False at the first failure, which the view's
// last error then describes; a listing that fails in the middle, or holds an entry no
// path can name, fails it too.
bool deleteTree(const ViewProvider& view, std::u16string_view folder, std::uint32_t rowAttributes);

// An entry as a listing gave it, to tell later whether it is still the same entry.
struct EntryStamp {
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // file time
    bool operator==(const EntryStamp&) const = default;
};
EntryStamp stampOf(const platform::FindData& data);

// What a copy of a tree copied, by the paths it named the entries with: the files (and
// links) with their stamps, and the folders it went into.
struct CopiedTree {
    std::map<std::u16string, EntryStamp> files;
    std::set<std::u16string> folders;
};
// What a delete of copied entries left in place: how many, and the first one's path.
struct KeptEntries {
    int count = 0;
    std::u16string first;
};

// Removes from `folder` (its entries named `folder`, `separator`, name) what `copied`
// names and nothing else, so that a move never deletes what its copy never copied: a
// file or link only while the listing gives it the stamp the copy saw, a copied folder
// emptied the same way and removed once nothing is left in it. Anything else stays,
// counted in `kept` (names that no path can name too), and so do the folders holding
// it. False at the first failure of the view, which its last error describes.
bool deleteCopied(const ViewProvider& view, std::u16string_view folder, char16_t separator, const CopiedTree& copied,
                  KeptEntries& kept);

// What a folder holds, directly and in the whole tree below it. Sizes are the sums of the
// files' low 32 bits; counts and sums are unsigned 32-bit and wrap. A link counts as a
// file (with the size of what it points at), and a folder reached twice is counted but
// not gone into again.
struct FolderCounters {
    std::u16string path;
    std::uint32_t folders = 0;
    std::uint32_t files = 0;
    std::uint32_t allFolders = 0;
    std::uint32_t allFiles = 0;
    std::uint32_t size = 0;
    std::uint32_t allSize = 0;
};

// Counts the folder's tree ("folder\*.*" through the view). False when some listing of
// it did not complete (the folder itself cannot be searched, one failed in the middle, or
// `stop` became true); the counters then hold what was read. Any thread the view's find
// operations allow.
bool walkFolder(const ViewProvider& view, FolderCounters& counters, const std::atomic<bool>& stop);

}  // namespace explorer
