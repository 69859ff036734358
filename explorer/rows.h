// The rows of the explorer list. The list view holds no data: it asks for the text and
// icon of a list index, answered from two fixed tables (48 folder rows in listing
// order, then 1024 file rows shown through a sorted order). The population thread
// fills rows and publishes each one by raising a count with release ordering; readers
// acquire the counts and never look at a row above them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "explorer/provider.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace explorer {

struct ExplorerItem {
    char16_t path[platform::maxPath];         // folder path + name; the parent row: folder + ".."
    char16_t displayName[platform::maxPath];  // the text shown
    std::uint64_t size;                       // 0 for the parent row
    platform::FileTime lastWrite;             // zero for the parent row
    std::uint32_t attributes;                 // as the listing gave them; 0 for the parent row
    int iconIndex;                            // in the private image list
    int selectedIconIndex;                    // drawn while the row is selected or focused
};

inline constexpr int maxFolderRows = 48;
inline constexpr int maxFileRows = 1024;

// What a listing knows of its view: a copy of the provider record (the same operations,
// the settings as they were when the listing was asked for) and the narrowing texts.
struct Listing {
    ViewProvider view;
    std::u16string typeAhead;    // upper case; empty lists every name
    std::u16string patternList;  // the current filter's patterns, "*" when it has none
    std::u16string rememberedPath;
};

// Set to cut a running population short (it then starts again with the latest
// request); read by every row fill. Any thread.
extern std::atomic<bool> abortPopulation;

// Empties the tables (the rows are overwritten by the next listing). Population thread,
// or the UI thread while no population runs.
void clearRows();

// Published counts. Any thread.
int folderRowCount();
int fileRowCount();
// Entries of the listing that found their table full. Any thread.
int droppedRowCount();
// The line the list shows after the last row while entries are left out: how many, and
// that typing narrows the list. It is no row: commands find nothing there.
std::u16string droppedRowsText(int count);

// The row shown at a list index (folders first, then files in sorted order), or null
// when that index holds no published row. Any thread; the row is rewritten once the
// next population has emptied the list.
const ExplorerItem* rowByListIndex(int index);

// Whether a new row takes the selection: the first row of a listing does, and the row
// whose path was remembered takes it from any other.
enum class Selection { none, firstRow, rememberedRow };

// Adds a row for an entry and returns its list index at that moment, or -1 when the
// table is full (a 49th folder or a 1025th file is not shown, and counted) or the
// population was aborted. Population thread.
int addFolderRow(const Listing& listing, std::u16string_view path, std::uint64_t size, platform::FileTime lastWrite,
                 std::uint32_t attributes, Selection& selection);
int addFileRow(const Listing& listing, std::u16string_view path, std::uint64_t size, platform::FileTime lastWrite,
               std::uint32_t attributes, Selection& selection);

// Replaces the display text of a published folder row. UI thread only: the display
// callback reads rows there (see setFolderRowText).
void writeFolderRowText(int row, std::u16string_view text);

// The type text that sorting by type compares: from the first '.' at or after the
// fourth-last character of the path to the end; empty without one.
std::u16string_view typeText(std::u16string_view path);

// The position in the file order where a new row goes for the listing's sort key and
// direction: after every row that does not sort after it, so equal keys keep listing
// order; at the end for key None.
int sortedPosition(const Listing& listing, const ExplorerItem& row);

// The list index at which a file row (by table index) is shown now, -1 if none.
int listIndexOfFileRow(int tableIndex);

// The path of a row that should come up selected in the next listing (after a rename
// or going up). It takes the selection once. UI thread only.
void rememberPath(std::u16string_view path);
std::u16string rememberedPath();
// Forgets the remembered path if it is still `path`. Any thread.
void forgetRememberedPath(std::u16string_view path);

}  // namespace explorer
