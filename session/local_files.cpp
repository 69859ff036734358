#include "session/local_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/own_files.h"

namespace session {
namespace {

std::string systemReason(const std::string& what) { return what + ": " + std::strerror(errno); }

// The folder of an anchored entry, as a host path, for messages.
std::string folderOf(const platform::AnchoredPath& file) {
    const std::string path = platform::hostPathOf(file);
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DownloadFile::~DownloadFile() {
    std::string unused;
    if (file_.fd >= 0) close(false, -1, unused);
}

bool DownloadFile::fail(std::string text, std::string& reason) {
    reason = std::move(text);
    return false;
}

// The partial of an earlier try, continued only while it is this user's regular file with
// no other name: one that someone made or linked meanwhile is never written.
int DownloadFile::openPartial(std::int64_t& offset) {
    const int folder = folder_.folder.fd;
    const std::string& name = target_.partialName;
    if (!platform::isOwnTemporaryName(name)) return -1;
    if (!target_.resume) {
        unlinkat(folder, name.c_str(), 0);
        return -1;
    }
    platform::Descriptor partial(openat(folder, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (partial.fd < 0 || fstat(partial.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
        info.st_nlink != 1) {
        if (partial.fd >= 0) unlinkat(folder, name.c_str(), 0);
        return -1;
    }
    // A partial as long as the server's file, or longer, belongs to another version of it.
    const bool continues = target_.expectedSize < 0 || info.st_size < target_.expectedSize;
    offset = continues ? info.st_size : 0;
    if (ftruncate(partial.fd, offset) != 0 || lseek(partial.fd, offset, SEEK_SET) != offset) return -1;
    temporaryName_ = name;
    const int descriptor = partial.fd;
    partial.fd = -1;
    return descriptor;
}

int DownloadFile::open(std::int64_t& offset, std::string& reason) {
    offset = 0;
    if (!platform::openEntryFolder(target_.file, folder_, reason)) return -1;
    const int folder = folder_.folder.fd;
    const std::string& shownAs = target_.file.below;
    struct stat existing {};
    if (fstatat(folder, folder_.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (platform::isLinkNow(folder, folder_.name, shownAs, reason)) return -1;
        if (!S_ISREG(existing.st_mode)) {
            reason = shownAs + " is no regular file";
            return -1;
        }
        // What its user may not write is refused, as writing it in place would be.
        const platform::Descriptor probe(
            openat(folder, folder_.name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (probe.fd < 0) {
            reason = systemReason("cannot write " + shownAs);
            return -1;
        }
    }
    if (!target_.partialName.empty()) file_.fd = openPartial(offset_);
    for (int attempt = 0; file_.fd < 0 && attempt < 16; ++attempt) {
        temporaryName_ = platform::newOwnTemporaryName();
        file_.fd = openat(folder, temporaryName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file_.fd < 0 && errno != EEXIST) break;
    }
    if (file_.fd < 0) {
        reason = systemReason("cannot create a temporary file in " + folderOf(target_.file));
        return -1;
    }
    if (target_.keepPartial) target_.keepPartial(folderOf(target_.file) + "/" + temporaryName_);
    offset = offset_;
    return file_.fd;
}

bool DownloadFile::close(bool whole, int sourceMode, std::string& reason) {
    const int folder = folder_.folder.fd;
    const std::string& shownAs = target_.file.below;
    struct stat arrived {};
    const bool sized = fstat(file_.fd, &arrived) == 0;
    bool ok = whole;
    if (ok && target_.expectedSize >= 0 && (!sized || arrived.st_size != target_.expectedSize)) {
        ok = fail("The file arrived with " + std::to_string(sized ? arrived.st_size : 0) +
                      " bytes where the server announced " + std::to_string(target_.expectedSize),
                  reason);
    }
    if (ok) {
        // The source's bits, else the target's own; a new file's as a plain create's.
        if (sourceMode < 0) sourceMode = target_.sourceMode;
        struct stat existing {};
        const bool replaces = fstatat(folder, folder_.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
        const unsigned bits = sourceMode >= 0 ? platform::creationBits(unsigned(sourceMode))
                              : replaces      ? existing.st_mode & 0777
                                              : platform::creationBits(0666);
        if (fchmod(file_.fd, bits) != 0) ok = fail(systemReason("cannot set the mode of " + shownAs), reason);
    }
    if (::close(file_.fd) != 0 && ok) ok = fail(systemReason("cannot write " + shownAs), reason);
    file_.fd = -1;
    if (ok && !platform::isLinkNow(folder, folder_.name, shownAs, reason)) {
        if (renameat(folder, temporaryName_.c_str(), folder, folder_.name.c_str()) == 0) return true;
        reason = systemReason("cannot replace " + shownAs);
    }
    // A failed transfer keeps what arrived for a retry; a complete one of the wrong size
    // or that could not be put in place has nothing worth keeping.
    const bool keep = !whole && target_.keepPartial && sized && arrived.st_size > 0;
    if (!keep) unlinkat(folder, temporaryName_.c_str(), 0);
    return false;
}

int UploadFile::open(std::int64_t& offset, std::string& reason) {
    offset = 0;
    opened_ = platform::openToReadAt(file_, reason);
    return opened_.fd;
}

bool UploadFile::close(bool, int, std::string&) {
    opened_ = platform::Descriptor();
    return true;
}

}  // namespace session
