#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/host_files.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string currentRoot = "/";

bool isSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// Resolves "." and ".." of an absolute host path lexically; ".." at the top stays there.
std::string normalizeHostPath(std::string_view path) {
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto segment : segments) {
        result += '/';
        result += segment;
    }
    return result.empty() ? "/" : result;
}

std::string absoluteHostPath(const std::string& path) {
    if (!path.empty() && path.front() == '/') return normalizeHostPath(path);
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) return normalizeHostPath("/" + path);
    return normalizeHostPath(std::string(folder) + "/" + path);
}

std::string parentOf(const std::string& hostPath) {
    const std::size_t slash = hostPath.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : hostPath.substr(0, slash);
}

std::string lastSegmentOf(const std::string& hostPath) {
    const std::size_t slash = hostPath.find_last_of('/');
    return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

bool isRoot(const std::string& hostPath) { return hostPath == currentRoot; }

// Sets the last error for a failed host call on `hostPath`: a missing entry is
// "file not found" when its folder exists and "path not found" when it does not.
void failWithErrno(int error, const std::string& hostPath) {
    std::uint32_t code = errorFromErrno(error);
    if (error == ENOENT && !isFolder(parentOf(hostPath))) code = errorPathNotFound;
    setLastError(code);
}

bool fail(std::uint32_t code) {
    setLastError(code);
    return false;
}

FileTime fileTimeOf(const statx_timestamp& time) {
    const std::int64_t units = std::int64_t(time.tv_sec) * 10'000'000 + time.tv_nsec / 100;
    if (units < -std::int64_t(unixEpochAsFileTime)) return {};
    return toFileTime(unixEpochAsFileTime + static_cast<std::uint64_t>(units));
}

bool earlier(const statx_timestamp& first, const statx_timestamp& second) {
    return first.tv_sec < second.tv_sec || (first.tv_sec == second.tv_sec && first.tv_nsec < second.tv_nsec);
}

// Looks up `name` (relative to `folderFd`, or a whole path with AT_FDCWD) and describes
// it as the platform does. A symbolic link describes its target, with attributeLink; a
// dangling one itself. `underRoot` says that the entry sits directly in the device root,
// where a folder on another file system is a storage card. Sets errno on failure.
bool describe(int folderFd, const char* name, std::string_view displayName, bool underRoot, FileAttributeData& data,
              std::uint64_t* volumeId = nullptr, std::uint64_t* fileId = nullptr, std::int32_t* bits = nullptr) {
    struct statx facts;
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    if (statx(folderFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, mask, &facts) != 0) return false;
    const bool link = S_ISLNK(facts.stx_mode);
    if (link) {
        struct statx target;
        if (statx(folderFd, name, AT_STATX_SYNC_AS_STAT, mask, &target) == 0) facts = target;
    }
    const mode_t mode = facts.stx_mode;
    std::uint32_t attributes = 0;
    if (S_ISDIR(mode)) {
        attributes |= attributeFolder;
    } else if (S_ISREG(mode) || S_ISLNK(mode)) {
        attributes |= attributeArchive;
    } else {
        attributes |= attributeSystem;
    }
    if (faccessat(folderFd, name, W_OK, AT_EACCESS) != 0 && errno != ENOENT) attributes |= attributeReadOnly;
    if (!displayName.empty() && displayName.front() == '.') attributes |= attributeHidden;
    if (S_ISDIR(mode) && underRoot) {
        struct stat root;
        if (stat(currentRoot.c_str(), &root) == 0 && root.st_dev != makedev(facts.stx_dev_major, facts.stx_dev_minor)) {
            attributes |= attributeTemporary;
        }
    }
    if (link) attributes |= attributeLink;
    data.attributes = attributes;
    if (volumeId != nullptr) *volumeId = makedev(facts.stx_dev_major, facts.stx_dev_minor);
    if (fileId != nullptr) *fileId = facts.stx_ino;
    if (bits != nullptr) *bits = std::int32_t(mode & 0777);
    const std::uint64_t size = S_ISREG(mode) ? facts.stx_size : 0;
    data.sizeHigh = static_cast<std::uint32_t>(size >> 32);
    data.sizeLow = static_cast<std::uint32_t>(size);
    const bool hasBirth = (facts.stx_mask & STATX_BTIME) != 0;
    const statx_timestamp& fallback = earlier(facts.stx_ctime, facts.stx_mtime) ? facts.stx_ctime : facts.stx_mtime;
    data.creationTime = fileTimeOf(hasBirth ? facts.stx_btime : fallback);
    data.lastAccessTime = fileTimeOf(facts.stx_atime);
    data.lastWriteTime = fileTimeOf(facts.stx_mtime);
    return true;
}

// '*' matches any run of characters, '?' exactly one (a surrogate pair counts as one).
bool matchesWildcard(std::u16string_view name, std::u16string_view pattern) {
    auto step = [](std::u16string_view text, std::size_t at) {
        const bool pair = at + 1 < text.size() && text[at] >= 0xD800 && text[at] <= 0xDBFF && text[at + 1] >= 0xDC00 &&
                          text[at + 1] <= 0xDFFF;
        return pair ? 2 : 1;
    };
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starAt = std::u16string_view::npos;
    std::size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            n += pattern[p] == u'?' ? step(name, n) : 1;
            ++p;
        } else if (starAt != std::u16string_view::npos) {
            p = starAt + 1;
            resumeAt += step(name, resumeAt);
            n = resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

struct Search {
    DIR* folder = nullptr;
    std::u16string pattern;  // the last segment of the caller's pattern
    bool everyName = false;
    bool inRoot = false;
    ~Search() {
        if (folder != nullptr) closedir(folder);
    }
};

std::mutex searchesLock;
std::map<FindHandle, std::unique_ptr<Search>> searches;
FindHandle nextSearchHandle = 1;

// Reads the next matching entry into `data`; false at the end or on a read error
// (errno 0 at the end).
bool readNextMatch(Search& search, FindData& data) {
    while (true) {
        errno = 0;
        const dirent* entry = readdir(search.folder);
        if (entry == nullptr) return false;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::u16string wideName = nameFromHost(name);
        if (!search.everyName && !matchesWildcard(wideName, search.pattern)) continue;
        FileAttributeData facts;
        data = {};
        if (!describe(dirfd(search.folder), entry->d_name, name, search.inRoot, facts, &data.volumeId, &data.fileId,
                      &data.mode)) {
            if (errno == ENOENT) continue;  // removed since the folder was read
            facts = {};
            facts.attributes = entry->d_type == DT_DIR ? attributeFolder : attributeArchive;
            if (entry->d_type == DT_LNK) facts.attributes |= attributeLink;
        }
        data.attributes = facts.attributes;
        data.creationTime = facts.creationTime;
        data.lastAccessTime = facts.lastAccessTime;
        data.lastWriteTime = facts.lastWriteTime;
        data.sizeHigh = facts.sizeHigh;
        data.sizeLow = facts.sizeLow;
        copyBounded(data.name, maxPath, wideName);
        return true;
    }
}

Search* findSearch(FindHandle handle) {
    std::lock_guard guard(searchesLock);
    const auto found = searches.find(handle);
    return found == searches.end() ? nullptr : found->second.get();
}

// A file created beside its final place, removed again unless the path is cleared.
struct TemporaryFile {
    std::string path;
    Descriptor file;
    ~TemporaryFile() {
        if (!path.empty()) unlink(path.c_str());
    }
};

bool copyBytes(int from, int to) {
    std::vector<char> buffer(256 * 1024);
    while (true) {
        const ssize_t count = read(from, buffer.data(), buffer.size());
        if (count == 0) return true;
        if (count < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!writeAll(to, buffer.data(), static_cast<std::size_t>(count))) return false;
    }
}

bool copyHostFile(const std::string& from, const std::string& to, bool failIfExists) {
    // Non-blocking, so that a pipe without a writer cannot hang the open; only regular
    // files are copied (a pipe or a device would never end).
    const Descriptor source(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (source.fd < 0) {
        failWithErrno(errno, from);
        return false;
    }
    struct stat sourceFacts;
    if (fstat(source.fd, &sourceFacts) != 0) {
        failWithErrno(errno, from);
        return false;
    }
    if (!S_ISREG(sourceFacts.st_mode)) return fail(errorAccessDenied);

    std::string destination = to;
    struct stat existing;
    if (lstat(to.c_str(), &existing) == 0) {
        if (failIfExists) return fail(errorFileExists);
        // Replace what a link points at, not the link.
        if (S_ISLNK(existing.st_mode)) {
            if (char* resolved = realpath(to.c_str(), nullptr)) {
                destination = resolved;
                std::free(resolved);
            }
        }
        if (isFolder(destination)) return fail(errorAccessDenied);
        if (access(destination.c_str(), W_OK) != 0 && errno != ENOENT) {
            failWithErrno(errno, destination);
            return false;
        }
    } else if (errno != ENOENT) {
        failWithErrno(errno, to);
        return false;
    }

    const std::string folder = parentOf(destination);
    std::string pattern = (folder == "/" ? "" : folder) + "/.farlink-copy-XXXXXX";
    TemporaryFile temporary;
    temporary.file.fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (temporary.file.fd < 0) {
        failWithErrno(errno, destination);
        return false;
    }
    temporary.path = pattern;
    const timespec times[2] = {sourceFacts.st_atim, sourceFacts.st_mtim};
    const int out = temporary.file.fd;
    if (!copyBytes(source.fd, out) || fchmod(out, sourceFacts.st_mode & 0777) != 0 || futimens(out, times) != 0 ||
        fsync(out) != 0) {
        failWithErrno(errno, destination);
        return false;
    }
    temporary.file.fd = -1;
    if (close(out) != 0) {
        failWithErrno(errno, destination);
        return false;
    }
    const bool renamed = failIfExists ? renameWithoutReplacing(temporary.path, destination)
                                      : rename(temporary.path.c_str(), destination.c_str()) == 0;
    if (!renamed) {
        if (errno == EEXIST) return fail(errorFileExists);
        failWithErrno(errno, destination);
        return false;
    }
    temporary.path.clear();
    syncFolder(folder);
    return true;
}

}  // namespace

void setDeviceRoot(const std::string& hostFolder) {
    std::string root(1, '/');
    if (!hostFolder.empty()) {
        char* resolved = realpath(hostFolder.c_str(), nullptr);
        root = resolved != nullptr ? std::string(resolved) : absoluteHostPath(hostFolder);
        std::free(resolved);
    }
    currentRoot = std::move(root);
}

const std::string& deviceRoot() { return currentRoot; }

std::string toHostPath(std::u16string_view devicePath) {
    devicePath = devicePath.substr(0, devicePath.find(u'\0'));
    if (!hasByteForm(devicePath)) {
        setLastError(errorInvalidName);
        return {};
    }
    std::vector<std::u16string_view> segments;
    std::size_t start = 0;
    while (start <= devicePath.size()) {
        std::size_t end = start;
        while (end < devicePath.size() && !isSeparator(devicePath[end])) ++end;
        const std::u16string_view segment = devicePath.substr(start, end - start);
        if (segment == u"..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != u".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string host = currentRoot;
    for (const auto segment : segments) {
        if (host.back() != '/') host += '/';
        host += toUtf8(segment);
    }
    return host;
}

std::u16string toDevicePath(const std::string& hostPath) {
    auto inside = [](const std::string& path, std::string& rest) {
        if (currentRoot == "/") {
            rest = path;
        } else if (path == currentRoot) {
            rest.clear();
        } else if (path.starts_with(currentRoot) && path[currentRoot.size()] == '/') {
            rest = path.substr(currentRoot.size());
        } else {
            return false;
        }
        return true;
    };
    std::string rest;
    if (!inside(absoluteHostPath(hostPath), rest)) {
        // The root is kept resolved: try the path with its links resolved too.
        char* resolved = realpath(hostPath.c_str(), nullptr);
        const bool found = resolved != nullptr && inside(resolved, rest);
        std::free(resolved);
        if (!found) return {};
    }
    std::u16string device;
    std::size_t start = 0;
    while (start < rest.size()) {
        std::size_t end = rest.find('/', start);
        if (end == std::string::npos) end = rest.size();
        if (end > start) device += u'\\' + nameFromHost(std::string_view(rest).substr(start, end - start));
        start = end + 1;
    }
    return device.empty() ? u"\\" : device;
}

FindHandle findFirstFile(std::u16string_view pattern, FindData& data) {
    pattern = pattern.substr(0, pattern.find(u'\0'));
    std::size_t split = pattern.size();
    while (split > 0 && !isSeparator(pattern[split - 1])) --split;
    const std::string folder = toHostPath(pattern.substr(0, split));
    if (folder.empty() || !hasByteForm(pattern)) {
        setLastError(errorInvalidName);
        return invalidFindHandle;
    }
    auto search = std::make_unique<Search>();
    search->pattern = pattern.substr(split);
    search->everyName = search->pattern == u"*" || search->pattern == u"*.*";
    search->inRoot = isRoot(folder);
    search->folder = opendir(folder.c_str());
    if (search->folder == nullptr) {
        setLastError(errno == ENOENT ? errorPathNotFound : errorFromErrno(errno));
        return invalidFindHandle;
    }
    if (!readNextMatch(*search, data)) {
        setLastError(errno == 0 ? errorFileNotFound : errorFromErrno(errno));
        return invalidFindHandle;
    }
    std::lock_guard guard(searchesLock);
    const FindHandle handle = nextSearchHandle++;
    searches.emplace(handle, std::move(search));
    return handle;
}

bool findNextFile(FindHandle handle, FindData& data) {
    Search* search = findSearch(handle);
    if (search == nullptr) return fail(errorInvalidHandle);
    if (!readNextMatch(*search, data)) return fail(errno == 0 ? errorNoMoreFiles : errorFromErrno(errno));
    return true;
}

bool findClose(FindHandle handle) {
    std::lock_guard guard(searchesLock);
    if (searches.erase(handle) == 0) return fail(errorInvalidHandle);
    return true;
}

bool copyFile(std::u16string_view source, std::u16string_view target, bool failIfExists) {
    const std::string from = toHostPath(source);
    const std::string to = toHostPath(target);
    if (from.empty() || to.empty()) return false;
    return copyHostFile(from, to, failIfExists);
}

bool moveFile(std::u16string_view source, std::u16string_view target) {
    const std::string from = toHostPath(source);
    const std::string to = toHostPath(target);
    if (from.empty() || to.empty()) return false;
    if (isRoot(from) || isRoot(to)) return fail(errorAccessDenied);
    struct stat sourceFacts;
    if (lstat(from.c_str(), &sourceFacts) != 0) {
        failWithErrno(errno, from);
        return false;
    }
    if (renameWithoutReplacing(from, to)) return true;
    if (errno == EEXIST) return fail(errorAlreadyExists);
    if (errno == EXDEV && S_ISREG(sourceFacts.st_mode)) {
        // Another file system (a storage card): copy, then remove the original; when
        // that fails the copy goes again, so the file is in one place only.
        if (!copyHostFile(from, to, true)) return false;
        if (unlink(from.c_str()) == 0) return true;
        const int error = errno;
        unlink(to.c_str());
        failWithErrno(error, from);
        return false;
    }
    failWithErrno(errno, to);
    return false;
}

bool deleteFile(std::u16string_view path) {
    const std::string host = toHostPath(path);
    if (host.empty()) return false;
    if (unlink(host.c_str()) == 0) return true;
    failWithErrno(errno, host);
    return false;
}

bool createFolder(std::u16string_view path) {
    const std::string host = toHostPath(path);
    if (host.empty()) return false;
    if (mkdir(host.c_str(), 0777) == 0) return true;
    failWithErrno(errno, host);
    return false;
}

bool removeFolder(std::u16string_view path) {
    const std::string host = toHostPath(path);
    if (host.empty()) return false;
    if (isRoot(host)) return fail(errorAccessDenied);
    if (rmdir(host.c_str()) == 0) return true;
    if (errno == ENOTEMPTY || errno == EEXIST) return fail(errorDirectoryNotEmpty);
    failWithErrno(errno, host);
    return false;
}

bool getFileAttributes(std::u16string_view path, FileAttributeData& data) {
    const std::string host = toHostPath(path);
    if (host.empty()) return false;
    const std::string name = isRoot(host) ? std::string() : lastSegmentOf(host);
    if (!describe(AT_FDCWD, host.c_str(), name, !isRoot(host) && isRoot(parentOf(host)), data)) {
        failWithErrno(errno, host);
        return false;
    }
    return true;
}

}  // namespace platform
