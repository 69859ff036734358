// Files: the device's file system. It is one folder of the host (the device root, "/"
// unless changed); device paths use '\' (a '/' is accepted too), end at their first
// NUL and never reach above the root by "..". Host names become device names through
// nameFromHost (platform/text.h), so a name holding '\' or bytes that are not UTF-8
// still names its own entry; a device path that has no host form (an unpaired
// surrogate that is no name escape) fails with errorInvalidName. The root is a view,
// not a sandbox: a symbolic link inside it may point anywhere, and entries describe a
// link's target, with attributeLink set.
// Every failure sets the calling thread's last error (platform/errors.h); a host path
// too long for the host gives errorFilenameTooLong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace platform {

inline constexpr std::size_t maxPath = 260;  // UTF-16 units, terminator included

enum FileAttribute : std::uint32_t {
    attributeReadOnly = 0x1,  // the user cannot write it
    attributeHidden = 0x2,    // the name begins with '.'
    attributeSystem = 0x4,    // devices, sockets, pipes
    attributeFolder = 0x10,
    attributeArchive = 0x20,  // regular files
    attributeInRom = 0x40,    // never set on this host
    attributeNormal = 0x80,
    attributeTemporary = 0x100,  // mount points directly under the root ("storage cards")
    attributeLink = 0x400,       // a symbolic link (the platform's reparse point); a walk never enters one
};

struct FindData {
    std::uint32_t attributes = 0;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
    char16_t name[maxPath] = {};
    char16_t alternateName[14] = {};
    // Which object this is (the host's device and inode), so that a walk can tell a
    // folder it has been through already; both 0 where a view cannot tell.
    std::uint64_t volumeId = 0;
    std::uint64_t fileId = 0;
    // Its permission bits (& 0777), so that a copy can give them to what it makes; -1 where
    // a view cannot tell.
    std::int32_t mode = -1;
};

struct FileAttributeData {
    std::uint32_t attributes = 0;
    FileTime creationTime;
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    std::uint32_t sizeHigh = 0;
    std::uint32_t sizeLow = 0;
};

using FindHandle = std::uintptr_t;
inline constexpr FindHandle invalidFindHandle = ~FindHandle(0);

// The host folder that the device's "\" stands for. Defaults to "/"; the program sets
// it from --root or FARLINK_ROOT at start-up, before any other thread runs.
void setDeviceRoot(const std::string& hostFolder);
const std::string& deviceRoot();

// The host path of a device path: separators become '/', "." and ".." segments are
// resolved and never climb above the root, runs of separators collapse, name escapes
// become their bytes. A relative path is taken from the root. Empty (with the last
// error errorInvalidName) when the path has no host form.
std::string toHostPath(std::u16string_view devicePath);
// The device path of a host path inside the root ("\..." form, each name through
// nameFromHost); empty when outside.
std::u16string toDevicePath(const std::string& hostPath);

// Enumerates the entries of a folder that match the last segment of `pattern`:
// "folder\*" and "folder\*.*" match every name, '*' and '?' are wildcards (compared
// with case, as the host's names are), any other text matches that one name. "." and
// ".." are never returned. No match sets errorFileNotFound, a missing folder
// errorPathNotFound; the end of the enumeration sets errorNoMoreFiles. A handle is
// used by one thread at a time.
FindHandle findFirstFile(std::u16string_view pattern, FindData& data);
bool findNextFile(FindHandle handle, FindData& data);
bool findClose(FindHandle handle);

// Copies a file's bytes (and its permissions and modification time). The copy is
// written beside the target, flushed, and renamed over it only when complete, so a
// failure never leaves a half-written target in place of a good one. With failIfExists
// an existing target gives errorFileExists; a source that is not a regular file, a
// target that is a folder, or one the user cannot write, gives errorAccessDenied. A
// target that is a symbolic link replaces the file it points at.
bool copyFile(std::u16string_view source, std::u16string_view target, bool failIfExists);
// Moves or renames a file or folder; an existing target gives errorAlreadyExists. A
// file moved to another host file system is copied, then removed; a folder cannot be
// (errorNotSameDevice). The root itself is never moved (errorAccessDenied).
bool moveFile(std::u16string_view source, std::u16string_view target);
bool deleteFile(std::u16string_view path);    // a folder: errorAccessDenied
bool createFolder(std::u16string_view path);  // existing: errorAlreadyExists
bool removeFolder(std::u16string_view path);  // must be empty: errorDirectoryNotEmpty; never the root
bool getFileAttributes(std::u16string_view path, FileAttributeData& data);

}  // namespace platform
