// Open and Edit File: a file viewed with the user's pager or changed with the user's
// editor, Farlink's screen put away meanwhile (queued copies go on). A device file is used
// where it is; a server file through a private copy in the instance's cache folder,
// downloaded, and sent back after an edit, behind a waiting screen. UI thread only.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// A file row as the command finds it: its path in its view and its listed size.
struct FileRow {
    std::u16string path;
    std::uint64_t size = 0;
    bool onServer = false;
};

// Open: the pager for a text file (no NUL in its first 8 KiB), and for any file without a
// graphical session; the desktop's opener otherwise.
void viewFile(const FileRow& row);
// Edit File: the editor; a server file's copy goes back only when its bytes changed,
// after a question when the server's file changed meanwhile, and a version that cannot
// go back is kept in the documents folder.
void editFile(const FileRow& row);

}  // namespace app
