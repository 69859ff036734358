// Shell: what a file is (type name, icon, display name), the user's special folders,
// opening a file with the desktop's opener, starting programs without a shell, running
// the user's pager or editor on the terminal, and shortcuts. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/icons.h"

namespace platform {

enum ShellInfoFlag : std::uint32_t {
    shellLargeIcon = 0x0,
    shellSmallIcon = 0x1,
    shellUseFileAttributes = 0x10,  // answer from the name and the given attributes alone
    shellIcon = 0x100,
    shellDisplayName = 0x200,
    shellTypeName = 0x400,
    shellAttributes = 0x800,
    shellSystemIconIndex = 0x4000,
};

struct ShellFileInfo {
    std::uintptr_t icon = 0;  // the icon id again, as the platform's icon handle
    int iconIndex = 0;        // index into the system image list: an IconId
    std::uint32_t attributes = 0;
    char16_t displayName[maxPath] = {};
    char16_t typeName[80] = {};
};

// The system image list: index i holds IconId i.
inline constexpr std::uintptr_t systemImageList = 0x5157;

// Fills `info` as `flags` ask. With shellUseFileAttributes the answer comes from the
// path's name and `attributes` alone and the file is never touched; without it the
// object itself is looked up (failing with the last error when it does not exist).
// The display name of a file drops its extension; a folder keeps its name. Returns
// systemImageList when shellSystemIconIndex was asked for, otherwise 1; 0 on failure.
std::uintptr_t getFileInfo(std::u16string_view path, std::uint32_t attributes, ShellFileInfo& info,
                           std::uint32_t flags);

// The user's documents folder as a device path ending in '\' (the XDG documents folder
// or $HOME, when inside the device root; the root "\" otherwise).
std::u16string documentsFolder();

// The user's cache folder: $XDG_CACHE_HOME, else ~/.cache; empty without a home.
std::string cacheHostFolder();
// Farlink's own folders on this host, which no synchronisation takes for the user's
// files: the settings folder (that of defaultRegistryFile) and "farlink" in the cache
// folder.
std::vector<std::string> ownHostFolders();

// The host path of this program's own executable.
std::string programFile();

// Opens a host file or URL with the desktop's opener (xdg-open) without waiting for it.
// False, with errorFileNotFound, when there is no opener.
bool openWithDesktop(const std::string& hostPathOrUrl);
// Starts a program (looked up on PATH unless it holds a '/') with an argument vector,
// never through a shell, without waiting; errorFileNotFound when there is none. Started
// programs get /dev/null as standard streams (the terminal is ours) and a session of
// their own, and are reaped when they end.
bool startProgram(const std::string& program, const std::vector<std::string>& arguments);

// The user's pager: $PAGER, else less, else more; and editor: $VISUAL, else $EDITOR, else
// editor, else vi. A variable holds a program and its options, split at blanks (no shell
// reads it). Without a variable, the first program found on PATH; empty when none is.
std::vector<std::string> pagerCommand();
std::vector<std::string> editorCommand();

// Runs `command` (a program, looked up on PATH unless it holds a '/', and its arguments)
// on this process's terminal, standard streams and all, and waits for it to end.
// Meanwhile this process ignores the interrupt and quit keys, which the terminal sends
// to both, and stops with it on the suspend key. Returns its exit status, 128 + N when
// signal N ended it, or -1 when it could not be started (the last error says why).
int runOnTerminal(const std::vector<std::string>& command);

// What a host file holds, to choose what shows it: text when its first 8 KiB hold no NUL
// byte. `unreadable` leaves the last error set.
enum class FileContent { text, binary, notAFile, unreadable };
FileContent fileContent(const std::string& hostPath);

// Writes a shortcut file at `shortcutPath` pointing at `target` (a device path, quoted
// or not): the text `NN#"target"`, NN the byte length of the UTF-8 text after '#'. An
// existing file is never replaced (errorFileExists).
bool createShortcut(std::u16string_view shortcutPath, std::u16string_view target);

}  // namespace platform
