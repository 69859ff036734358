// The "File Properties" screen of every view: name, type, size, dates and attribute
// words of the focused row, and for a folder the folders, files and bytes in it and in
// the whole tree below it. Also the size and date formatting it uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "explorer/provider.h"
#include "platform/clock.h"

namespace local {

// "1023 B", "1.5 KB", "1.00 MB", "1.000 GB", "1.0000 TB".
std::u16string formatSize(std::uint32_t low, std::uint32_t high);
// The local calendar date of a file time in the user's short date format, without time.
std::u16string formatDate(platform::FileTime time);
// " ARC CMP DIR ..." for the attribute bits that are set, in a fixed order.
std::u16string attributeWords(std::uint32_t attributes);

// What a folder holds, directly and in the whole tree below it. Sizes are the sums of the
// files' low 32 bits; counts and sums are unsigned 32-bit and wrap.
struct FolderCounters {
    std::u16string path;
    std::uint32_t folders = 0;
    std::uint32_t files = 0;
    std::uint32_t allFolders = 0;
    std::uint32_t allFiles = 0;
    std::uint32_t size = 0;
    std::uint32_t allSize = 0;
};

// Counts the folder's tree through the view's find operations; false when the folder
// itself cannot be searched. Stops early, with what it has, when `stop` becomes true.
// Any thread the view's find operations allow.
bool walkFolder(const explorer::ViewProvider& view, FolderCounters& counters, const std::atomic<bool>& stop);

// The screen's text for a path: the file lines (or, once walked, the folder lines), the
// three dates and the attribute words, lines separated by "\r". `walked` is null while
// a folder is still being counted.
std::u16string propertiesText(const explorer::ViewProvider& view, std::u16string_view path,
                              const FolderCounters* walked);

// Shows the screen for owner.path over the current view; true when closed with "Done".
// A folder is counted on a thread of its own while "Determining Folder Size" shows; the
// screen waits for it to stop before it returns. UI thread only.
bool showProperties(const explorer::OwnerRecord& owner);

}  // namespace local
