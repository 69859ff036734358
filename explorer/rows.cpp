#include "explorer/rows.h"

#include <mutex>

#include "explorer/icons.h"
#include "platform/text.h"

namespace explorer {

std::atomic<bool> abortPopulation{false};

namespace {

ExplorerItem folderRows[maxFolderRows];
ExplorerItem fileRows[maxFileRows];
// Display order of the file rows: file-table indexes. Entries are written with release
// and read with acquire, so a reader that sees an index also sees that row complete.
std::atomic<std::int16_t> fileOrder[maxFileRows + 1];
std::atomic<int> folderCount{0};
std::atomic<int> fileCount{0};
std::atomic<int> droppedCount{0};  // entries that found their table full

std::mutex rememberedLock;
std::u16string remembered;  // guarded by rememberedLock

// Steps of a row fill after the abort check.
Selection fillRow(const Listing& listing, ExplorerItem& row, std::u16string_view path, std::uint64_t size,
                  platform::FileTime lastWrite, std::uint32_t attributes, bool isFolder) {
    const std::u16string displayName = lookUpIcons(listing, path, isFolder, row);
    platform::copyBounded(row.path, platform::maxPath, path);
    // The shell drops a file's extension from its display name; with extensions shown
    // the file's own name is shown whole (a folder's display name is its name already).
    const std::u16string_view shown = listing.view.showExtensions && !isFolder
                                          ? path.substr(path.find_last_of(u"\\/") + 1)
                                          : displayName;
    platform::copyBounded(row.displayName, platform::maxPath, shown);
    row.size = size;
    row.lastWrite = lastWrite;
    row.attributes = attributes;
    const bool first = folderCount.load(std::memory_order_relaxed) + fileCount.load(std::memory_order_relaxed) == 0;
    if (!listing.rememberedPath.empty() && path == listing.rememberedPath) return Selection::rememberedRow;
    return first ? Selection::firstRow : Selection::none;
}

int compareRows(std::uint32_t sortKey, const ExplorerItem& a, const ExplorerItem& b) {
    switch (sortKey) {
    case sortName:
        return platform::boundedView(a.path, platform::maxPath)
            .compare(platform::boundedView(b.path, platform::maxPath));
    case sortType:
        return typeText(platform::boundedView(a.path, platform::maxPath))
            .compare(typeText(platform::boundedView(b.path, platform::maxPath)));
    case sortSize: return a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
    case sortDate: return platform::compareFileTime(a.lastWrite, b.lastWrite);
    default: return 0;
    }
}

}  // namespace

void clearRows() {
    folderCount.store(0, std::memory_order_release);
    fileCount.store(0, std::memory_order_release);
    droppedCount.store(0, std::memory_order_release);
}

int folderRowCount() { return folderCount.load(std::memory_order_acquire); }
int fileRowCount() { return fileCount.load(std::memory_order_acquire); }
int droppedRowCount() { return droppedCount.load(std::memory_order_acquire); }

std::u16string droppedRowsText(int count) {
    return platform::toUtf16("(" + std::to_string(count) + " more entr" + (count == 1 ? "y" : "ies") +
                             " not shown: type to narrow the list)");
}

const ExplorerItem* rowByListIndex(int index) {
    if (index < 0) return nullptr;
    const int folders = folderCount.load(std::memory_order_acquire);
    if (index < folders) return &folderRows[index];
    const int position = index - folders;
    if (position >= fileCount.load(std::memory_order_acquire)) return nullptr;
    const int tableIndex = fileOrder[position].load(std::memory_order_acquire);
    return &fileRows[tableIndex];
}

int addFolderRow(const Listing& listing, std::u16string_view path, std::uint64_t size, platform::FileTime lastWrite,
                 std::uint32_t attributes, Selection& selection) {
    selection = Selection::none;
    const int index = folderCount.load(std::memory_order_relaxed);
    if (abortPopulation.load()) return -1;
    if (index >= maxFolderRows) {
        droppedCount.fetch_add(1, std::memory_order_release);
        return -1;
    }
    selection = fillRow(listing, folderRows[index], path, size, lastWrite, attributes, true);
    folderCount.store(index + 1, std::memory_order_release);
    return index;
}

int addFileRow(const Listing& listing, std::u16string_view path, std::uint64_t size, platform::FileTime lastWrite,
               std::uint32_t attributes, Selection& selection) {
    selection = Selection::none;
    const int tableIndex = fileCount.load(std::memory_order_relaxed);
    if (abortPopulation.load()) return -1;
    if (tableIndex >= maxFileRows) {
        droppedCount.fetch_add(1, std::memory_order_release);
        return -1;
    }
    ExplorerItem& row = fileRows[tableIndex];
    selection = fillRow(listing, row, path, size, lastWrite, attributes, false);
    const int position = sortedPosition(listing, row);
    for (int p = tableIndex; p > position; --p) {
        fileOrder[p].store(fileOrder[p - 1].load(std::memory_order_relaxed), std::memory_order_release);
    }
    fileOrder[position].store(static_cast<std::int16_t>(tableIndex), std::memory_order_release);
    fileCount.store(tableIndex + 1, std::memory_order_release);
    return folderCount.load(std::memory_order_relaxed) + position;
}

void writeFolderRowText(int row, std::u16string_view text) {
    if (row >= 0 && row < maxFolderRows) platform::copyBounded(folderRows[row].displayName, platform::maxPath, text);
}

std::u16string_view typeText(std::u16string_view path) {
    const std::size_t start = path.size() >= 4 ? path.size() - 4 : 0;
    const std::size_t dot = path.find(u'.', start);
    return dot == std::u16string_view::npos ? std::u16string_view() : path.substr(dot);
}

int sortedPosition(const Listing& listing, const ExplorerItem& row) {
    const int count = fileCount.load(std::memory_order_relaxed);
    const std::uint32_t key = listing.view.sortKey;
    if (key == sortNone || key > sortDate) return count;
    const bool ascending = listing.view.ascending != 0;
    // The file order is sorted by the key, so the place after the last row that does not
    // sort after the new one is found by halving.
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = (low + high) / 2;
        const ExplorerItem& existing = fileRows[fileOrder[middle].load(std::memory_order_relaxed)];
        const int order = compareRows(key, existing, row);
        const bool after = ascending ? order > 0 : order < 0;
        if (after) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

int listIndexOfFileRow(int tableIndex) {
    const int count = fileCount.load(std::memory_order_acquire);
    for (int position = 0; position < count; ++position) {
        if (fileOrder[position].load(std::memory_order_acquire) == tableIndex) {
            return folderCount.load(std::memory_order_acquire) + position;
        }
    }
    return -1;
}

void rememberPath(std::u16string_view path) {
    std::lock_guard lock(rememberedLock);
    remembered.assign(path.substr(0, platform::maxPath - 1));
}

std::u16string rememberedPath() {
    std::lock_guard lock(rememberedLock);
    return remembered;
}

void forgetRememberedPath(std::u16string_view path) {
    std::lock_guard lock(rememberedLock);
    if (remembered == path) remembered.clear();
}

}  // namespace explorer
