// The file selection dialog: asks the user for one device file. The platform's own
// pickers are looked for first; this host has none ("GetOpenFileNameEx" and
// "GetOpenFileNameW" exist on no library here), so the program's own "Select" picker
// runs: a folder listing with Up Folder / Expand / Select on the left soft key and a
// menu of file types, sort keys and places on the right one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window/window.h"

namespace ui {

// The picker's flags, as the caller's request gives them (the picker lists only existing
// files and folders, so both always hold).
enum OpenFileFlag : std::uint32_t { pathMustExist = 0x800, fileMustExist = 0x1000 };

struct OpenFileRequest {
    platform::Window owner;
    // Pairs of a description and a pattern list, each ended by '\0'; another '\0' ends them.
    std::u16string_view filter = std::u16string_view(u"Any File\0*\0", 11);
    int filterIndex = 1;             // the pair the picker starts with, from 1; past the end: the first
    std::u16string file{};           // in: where to start (or empty); out: the chosen device path
    std::u16string initialFolder{};  // where to start when `file` is empty
    std::u16string_view title{};     // shown when the start path names no scheme
    std::uint32_t flags = 0;
};

// 1 when a file was chosen (its device path is in `request.file`), otherwise 0; 0 also
// when the picker's soft-key bar could not be made. UI thread only.
int selectFile(OpenFileRequest& request);

// The storage cards: the entries of "\" that are folders and mount points
// (attributes 0x10 and 0x100) and not read-only, as device paths. Any thread.
std::vector<std::u16string> storageCards();

}  // namespace ui
