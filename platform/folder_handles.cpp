#include "platform/folder_handles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace platform {
namespace {

thread_local std::string threadTop;

std::string failure(const char* verb, const std::string& path) {
    return std::string(verb) + " " + path + ": " + std::strerror(errno);
}

// The umask as the kernel reports it, read once: asking umask() itself would change it
// for a moment under the other threads.
unsigned processUmask() {
    static const unsigned mask = [] {
        std::string status;
        unsigned value = 022;
        if (readWhole("/proc/self/status", status)) {
            if (const auto at = status.find("\nUmask:"); at != std::string::npos)
                std::sscanf(status.c_str() + at + 7, "%o", &value);
        }
        return value;
    }();
    return mask;
}

}  // namespace

std::string hostPathOf(const AnchoredPath& entry) {
    if (entry.below.empty()) return entry.top;
    return entry.top.empty() || entry.top.back() == '/' ? entry.top + entry.below : entry.top + "/" + entry.below;
}

AnchoredPath anchoredInFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

void setThreadDeviceTop(std::string hostFolder) {
    while (hostFolder.size() > 1 && hostFolder.back() == '/') hostFolder.pop_back();
    threadTop = std::move(hostFolder);
}

AnchoredPath anchoredForThread(const std::string& path) {
    const std::string& top = threadTop;
    const std::size_t length = top == "/" ? 0 : top.size();
    if (!top.empty() && path.size() > length + 1 && path.compare(0, length, top, 0, length) == 0 && path[length] == '/')
        return {top, path.substr(length + 1)};
    return anchoredInFolder(path);
}

std::string followLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        char target[4096];
        const long length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || length == long(sizeof target)) break;
        const std::string_view link(target, std::size_t(length));
        const auto slash = path.rfind('/');
        path = link[0] == '/' || slash == std::string::npos ? std::string(link)
                                                            : path.substr(0, slash + 1) + std::string(link);
    }
    return path;
}

bool isLinkNow(int folder, const std::string& name, const std::string& shownAs, std::string& reason) {
    struct stat info {};
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode)) return false;
    reason = shownAs + " is a link now";
    return true;
}

bool openEntryFolder(const AnchoredPath& entry, EntryFolder& opened, std::string& reason) {
    // O_PATH: a folder that may be searched but not read still leads to its entries.
    Descriptor folder(open(entry.top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) {
        reason = failure("cannot open", entry.top);
        return false;
    }
    std::string_view rest = entry.below;
    std::size_t walked = 0;
    for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
        const std::string name(rest.substr(0, slash));
        const std::string shownAs = entry.below.substr(0, walked + slash);
        if (name.empty() || name == "." || name == "..") {
            reason = "cannot open " + shownAs + ": not a plain path";
            return false;
        }
        Descriptor next(openat(folder.fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.fd < 0) {
            if (!isLinkNow(folder.fd, name, shownAs, reason)) reason = failure("cannot open", shownAs);
            return false;
        }
        folder = std::move(next);
        walked += slash + 1;
        rest.remove_prefix(slash + 1);
    }
    if (rest.empty() || rest == "." || rest == "..") {
        reason = "cannot open " + entry.below + ": not a plain path";
        return false;
    }
    opened.folder = std::move(folder);
    opened.name = rest;
    return true;
}

bool makeFolderAt(const AnchoredPath& folder, int sourceMode, std::string& reason) {
    EntryFolder at;
    if (!openEntryFolder(folder, at, reason)) return false;
    // Its owner may always go in and make what goes into it, as OpenSSH's sftp gives it.
    const unsigned bits = creationBits(sourceMode < 0 ? 0777 : unsigned(sourceMode) | 0700);
    if (mkdirat(at.folder.fd, at.name.c_str(), bits) == 0) return true;
    const int error = errno;
    struct stat existing {};
    if (error == EEXIST && fstatat(at.folder.fd, at.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(existing.st_mode))
        return true;
    if (isLinkNow(at.folder.fd, at.name, folder.below, reason)) return false;
    errno = error;
    reason = error == EEXIST ? "A file of that name is in the way." : failure("cannot make", folder.below);
    return false;
}

bool removeAt(const AnchoredPath& entry, bool folder, std::string& reason) {
    EntryFolder at;
    if (!openEntryFolder(entry, at, reason)) return false;
    if (isLinkNow(at.folder.fd, at.name, entry.below, reason)) return false;
    if (unlinkat(at.folder.fd, at.name.c_str(), folder ? AT_REMOVEDIR : 0) == 0) return true;
    reason = failure("cannot remove", entry.below);
    return false;
}

Descriptor openToReadAt(const AnchoredPath& file, std::string& reason) {
    EntryFolder at;
    if (!openEntryFolder(file, at, reason)) return Descriptor();
    Descriptor opened(openat(at.folder.fd, at.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (opened.fd >= 0 && fstat(opened.fd, &info) == 0 && S_ISREG(info.st_mode)) return opened;
    if (opened.fd >= 0) {
        reason = "cannot read " + file.below + ": not a regular file";
    } else if (!isLinkNow(at.folder.fd, at.name, file.below, reason)) {
        reason = failure("cannot read", file.below);
    }
    return Descriptor();
}

bool setModificationTimeAt(const AnchoredPath& entry, std::int64_t seconds, std::string& reason) {
    EntryFolder at;
    if (!openEntryFolder(entry, at, reason)) return false;
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    if (utimensat(at.folder.fd, at.name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return true;
    reason = failure("cannot set the time of", entry.below);
    return false;
}

unsigned creationBits(unsigned sourceMode) { return sourceMode & 0777 & ~processUmask(); }

}  // namespace platform
