// View providers: the table of operations and display settings through which the
// explorer list and the command routing reach a view. Three exist, Device, Remote and
// Queue, built once at start-up; each owner binds its operations into its record, and
// the current-provider global names the one on screen.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/shell.h"
#include "platform/window/window.h"

namespace explorer {

// The owner of a dialog that a view runs (the filter or place editor, the options).
struct OwnerRecord {
    platform::Window ownerWindow;
    const char16_t* path = nullptr;  // the focused row's path, for the properties dialog
};

enum SortKey : std::uint32_t { sortNone = 0, sortName = 1, sortType = 2, sortSize = 3, sortDate = 4 };

// Bits of `showFiles`: which classes of files are listed; 0 lists every entry.
enum ShowFilesBit : std::uint32_t {
    showStandardFiles = 1,
    showHiddenFiles = 2,
    showSystemFiles = 4,
    showRomFiles = 8,
};

// Bits of `titleInfo`.
enum TitleInfoBit : std::uint32_t { titleShowsFilter = 1, titleShowsCounts = 2 };

// In the attributes given to GetFileInfo: ask about the object itself. Without it the
// answer comes from the name and attributes alone and the file is never opened.
inline constexpr std::uint32_t infoFromObject = 0x20000000;

// Passed on unchanged with the second icon lookup of a row: the icon of a selected row.
inline constexpr std::uint32_t shellSelectedIcon = 0x40000;

// One file of a batch of copies (CopyFiles).
struct FileCopyOrder {
    std::u16string source;  // "file://" and a device path, or a server path
    std::u16string destination;
    bool resume = false;     // a retry: a download continues what its last try left
    bool keepTimes = false;  // once whole, the target takes the source's modification time
};
// The next copy of a batch, or none when no more is ready now.
using NextCopyOrder = std::function<std::optional<FileCopyOrder>()>;
// A copy of a batch ended: copies are numbered in the order NextCopyOrder gave them; `why`
// is a failure's reason as GetLastErrorText gives it.
using CopyOrderEnded = std::function<void(std::size_t copy, bool copied, const std::u16string& why)>;

// Operations return non-zero for success and leave the reason of a failure where
// GetLastErrorText and ShowError find it. Find operations and GetFileInfo may run on
// the population thread; everything else runs on the UI thread, except that the queue
// worker runs CopyFile, CopyFolder, CopyFiles and ShowError of the view it copies with.
struct ViewProvider {
    int (*Move)(std::u16string_view source, std::u16string_view destination);
    int (*DeleteFile)(std::u16string_view path);
    int (*RemoveFolder)(std::u16string_view path);  // the folder must be empty
    int (*CopyFile)(std::u16string_view source, std::u16string_view destination, int failIfExists);
    int (*CopyFolder)(std::u16string_view source, std::u16string_view destination, int failIfExists);
    // Copies of single files, all between the device and the server one way, several at
    // once on one connection, each replacing its target without asking; `next` is asked
    // for copies until it gives none with none under way, or the connection is lost.
    void (*CopyFiles)(const NextCopyOrder& next, const CopyOrderEnded& ended);
    int (*GetAttributes)(std::u16string_view path, int informationLevel, platform::FileAttributeData& data);
    int (*CreateFolder)(std::u16string_view path);
    // The invalid handle when nothing can be enumerated; FindClose after every other.
    platform::FindHandle (*FindFirst)(std::u16string_view pattern, platform::FindData& data);
    int (*FindNext)(platform::FindHandle handle, platform::FindData& data);  // last error 18 at the end
    int (*FindClose)(platform::FindHandle handle);
    std::uintptr_t (*GetFileInfo)(std::u16string_view path, std::uint32_t attributes, platform::ShellFileInfo& info,
                                  std::uint32_t flags);
    std::u16string (*GetCurrentFolder)();  // ends with a separator
    int (*SetCurrentFolder)(std::u16string_view path);
    int (*LoadList)();
    int (*SaveList)();
    int (*EditItem)(int index, const OwnerRecord& owner);  // index == count creates an entry
    int (*DeleteItem)(int index);
    std::optional<std::u16string> (*GetItem)(int index);         // the entry's display name
    std::optional<std::u16string> (*GetItemPattern)(int index);  // for example "*.txt;*.htm"
    int (*OptionsDialog)(const OwnerRecord& owner);              // non-zero when settings changed
    void (*LoadOptions)();
    int (*ShowError)(std::u16string_view caption);  // the last failure, in a message box
    std::u16string (*GetLastErrorText)();
    // The Properties screen's text for an entry that is no file of a folder (a record of
    // the Queue view, with why it failed); empty: the entry's file facts.
    std::u16string (*DescribeEntry)(std::u16string_view path);

    std::uint32_t menuBarId = 0;
    std::uint32_t popupMenuId = 0;
    std::uint32_t networkPrompt = 0;
    std::uint32_t showFiles = 0;  // ShowFilesBit mask
    std::uint32_t confirm = 0;
    std::uint32_t titleInfo = 0;  // TitleInfoBit mask
    std::uint32_t filterIndex = 0;
    std::uint8_t largeIcons = 0;
    std::uint8_t saveFolder = 1;
    std::uint8_t showParent = 0;
    std::uint8_t showExtensions = 0;
    std::uint8_t ascending = 1;
    std::uint32_t sortKey = sortNone;
};

// The three views, with their initial settings and, until an owner binds them,
// operations that fail with "not supported" (50). Their settings are changed on the
// UI thread only; a population works on a copy taken when it was asked for.
extern ViewProvider deviceProvider;
extern ViewProvider remoteProvider;
extern ViewProvider queueProvider;

// The view on screen; starts at the Device view. UI thread only.
extern ViewProvider* currentProvider;

// A thread that works on a copy of a view (a population's, taken when it was asked for)
// names it for the length of its work, so that the view's own operations read the
// settings of that copy (the Remote view's place index) rather than the record that the
// UI thread changes meanwhile. Each thread has its own; null ends it. Any thread.
void setThreadView(const ViewProvider* copy);
// The calling thread's copy of `view` when it works on one of that view, else `view`.
const ViewProvider& threadView(const ViewProvider& view);

}  // namespace explorer
