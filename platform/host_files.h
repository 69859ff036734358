// Host files: the POSIX steps that the file and registry services share (reading and
// writing whole buffers, flushing a folder, renaming without replacing). The program's
// views use platform/files.h; readWhole also serves the help and the command-line tools,
// since its file is closed on exec.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// An open descriptor, closed when it goes out of scope (-1 for none).
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor = -1) : fd(descriptor) {}
    Descriptor(Descriptor&& other) noexcept : fd(other.fd) { other.fd = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept;
    ~Descriptor();
};

// Both retry after EINTR and leave errno set on failure.
bool writeAll(int fd, const char* bytes, std::size_t count);
bool readWhole(const std::string& path, std::string& text);

bool isFolder(const std::string& hostPath);  // following links

// Flushes a folder's entries (after a rename into it); failures are ignored.
void syncFolder(const std::string& folder);

// Renames `from` to `to` unless `to` exists (errno EEXIST then). File systems that
// cannot rename without replacing get a check before a plain rename.
bool renameWithoutReplacing(const std::string& from, const std::string& to);

}  // namespace platform
