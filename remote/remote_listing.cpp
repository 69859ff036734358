#include "remote/remote_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ftp/ftp_commands.h"
#include "ftp/ftp_transfer.h"
#include "ftp/listing_parser.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/places.h"

namespace remote {
namespace {

constexpr std::u16string_view listingTag = u"(KVT-FFF-1)";
constexpr auto cacheWait = std::chrono::seconds(60);
constexpr std::size_t maxLineLength = 2047;
constexpr std::size_t remotePathBuffer = 320;  // bytes, terminator included
constexpr std::uint64_t unixEpochAsFileTime = 116444736000000000ULL;
constexpr std::uint32_t remoteMarker = explorer::infoFromObject;

// One open listing. The listing it interrupted (a walk lists a sub-folder before it has
// read its own folder to the end) keeps its rest in `stash` until this one ends.
struct Listing {
    std::string stash;  // empty: nothing to put back
};

// Held from each FindFirst to its FindClose, so that one thread at a time lists; the
// thread that holds it may open a listing inside its own.
class ListingLock {
public:
    // False when another thread held it for 60 s.
    bool acquire() {
        std::unique_lock guard(mutex_);
        const std::thread::id self = std::this_thread::get_id();
        if (!changed_.wait_for(guard, cacheWait, [&] { return depth_ == 0 || owner_ == self; })) return false;
        owner_ = self;
        ++depth_;
        return true;
    }
    void release() {
        std::lock_guard guard(mutex_);
        if (--depth_ > 0) return;
        owner_ = {};
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id owner_;
    int depth_ = 0;
};

// One hold of the listing lock, given back at the end of the scope unless kept.
struct ListingHold {
    ListingLock& lock;
    bool held = lock.acquire();
    ~ListingHold() {
        if (held) lock.release();
    }
};

struct ListingCache {
    ListingLock use;
    std::vector<std::unique_ptr<Listing>> open;  // innermost last; under `use`
    unsigned stashCount = 0;                     // under `use`

    std::mutex folderLock;
    std::string folder;  // under `folderLock`
};
ListingCache cache;

// The fallback folder for when there is no place at all.
char16_t fallbackFolder[platform::maxPath] = u"\\";

std::string cacheFile(const std::string& folder, std::string_view name) { return folder + "/" + std::string(name); }

bool makePrivateFolder(const std::string& path) { return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST; }

std::string cacheRoot() {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/') return cache;
    if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') return std::string(home) + "/.cache";
    return {};
}

// Removes a cache folder and the files in it (never anything below a link or a folder).
void removeCacheFolder(const std::string& folder) {
    if (DIR* listing = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") unlinkat(dirfd(listing), entry->d_name, 0);
        }
        closedir(listing);
    }
    rmdir(folder.c_str());
}

// A Farlink that was killed leaves its cache folder behind: remove the folders whose
// process ("<tag>-<pid>-XXXXXX") no longer runs.
void removeAbandonedCacheFolders(const std::string& parent) {
    DIR* listing = opendir(parent.c_str());
    if (listing == nullptr) return;
    while (const dirent* entry = readdir(listing)) {
        const std::string_view name = entry->d_name;
        const std::size_t first = name.find('-');
        const std::size_t second = first == std::string_view::npos ? first : name.find('-', first + 1);
        if (second == std::string_view::npos || name.size() != second + 7) continue;
        const std::string pidText(name.substr(first + 1, second - first - 1));
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos || pidText.size() > 9) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(pidText));
        struct stat facts;
        const std::string path = parent + "/" + std::string(name);
        if (kill(pid, 0) == 0 || errno != ESRCH) continue;
        if (lstat(path.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode) || facts.st_uid != geteuid()) continue;
        removeCacheFolder(path);
    }
    closedir(listing);
}

std::string makeCacheFolder() {
    const std::string root = cacheRoot();
    if (root.empty() || !makePrivateFolder(root) || !makePrivateFolder(root + "/farlink")) return {};
    removeAbandonedCacheFolders(root + "/farlink");
    std::string settings = platform::defaultRegistryFile();
    settings.resize(settings.rfind('/') == std::string::npos ? 0 : settings.rfind('/'));
    char tag[32];
    std::snprintf(tag, sizeof tag, "%016zx", std::hash<std::string>{}(settings));
    std::string pattern = root + "/farlink/" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};  // mode 0700
    return pattern;
}

void setError(FtpPlace& place, std::string_view text) {
    place.errorTag = listingTag;
    place.errorText = text;
}

platform::FindHandle failListing(FtpPlace* place, std::string_view text, std::uint32_t code) {
    if (place) setError(*place, text);
    platform::setLastError(code);
    return platform::invalidFindHandle;
}

std::string systemText(const char* what, int error) { return std::string(what) + ": " + std::strerror(error) + "\n"; }

// Lines as the phone read them: up to and with the LF, at most 2047 bytes; a longer
// line comes in pieces.
struct LineReader {
    int fd;
    std::array<char, 2 * maxLineLength + 2> buffer{};
    std::size_t begin = 0;
    std::size_t end = 0;
    off_t consumed = 0;
    bool failed = false;

    bool next(std::string_view& line) {
        std::size_t length = 0;
        for (;;) {
            const std::size_t available = end - begin;
            const std::size_t scan = std::min(available, maxLineLength);
            if (const void* newline = std::memchr(buffer.data() + begin, '\n', scan)) {
                length = std::size_t(static_cast<const char*>(newline) - (buffer.data() + begin)) + 1;
                break;
            }
            if (available >= maxLineLength) {
                length = maxLineLength;
                break;
            }
            std::memmove(buffer.data(), buffer.data() + begin, available);
            begin = 0;
            end = available;
            const ssize_t count = read(fd, buffer.data() + end, buffer.size() - end);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) {
                failed = true;
                return false;
            }
            if (count == 0) {
                if (available == 0) return false;
                length = available;
                break;
            }
            end += std::size_t(count);
        }
        line = std::string_view(buffer.data() + begin, length);
        begin += length;
        consumed += off_t(length);
        return true;
    }
};

// A name a command could act on as this entry and no other: the parent row ".." is
// kept; "", "." and names with '/' or NUL are not entries of this folder.
bool namesOneEntry(std::string_view name) {
    return !name.empty() && name != "." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

// Fills `data` from an accepted line; false when the entry is not returned.
bool fillEntry(const ftp::RemoteEntry& entry, platform::FindData& data) {
    std::string_view name(entry.name, std::size_t(std::max(entry.nameLength, 0)));
    if (!name.empty() && name.back() == '\n') name.remove_suffix(1);
    if (!namesOneEntry(name)) return false;
    const std::u16string wide = platform::nameFromHost(name);
    if (wide.size() >= platform::maxPath) return false;  // cut, it would name another entry
    data = platform::FindData{};
    if (entry.mayBeFolder) data.attributes = remoteMarker | platform::attributeFolder;
    // A link may lead to a folder, but a walk that deletes or copies never goes into it.
    if (entry.mayBeFolder && entry.mayBeFile) data.attributes |= platform::attributeLink;
    const std::uint64_t time = std::uint64_t(entry.time) * 10000000ULL + unixEpochAsFileTime;
    data.lastWriteTime = {std::uint32_t(time), std::uint32_t(time >> 32)};
    data.lastAccessTime = data.lastWriteTime;
    const std::uint64_t size = std::uint64_t(entry.size);
    data.sizeLow = std::uint32_t(size);
    data.sizeHigh = std::uint32_t(size >> 32);
    std::copy(wide.begin(), wide.end(), data.name);
    return true;
}

// Copies `count` bytes from `offset` of `in` to `out` inside the kernel.
bool copyRest(int in, off_t offset, off_t count, int out) {
    while (count > 0) {
        ssize_t copied = copy_file_range(in, &offset, out, nullptr, std::size_t(count), 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            copied = sendfile(out, in, &offset, std::size_t(count));
        }
        if (copied <= 0) return false;
        count -= copied;
    }
    return true;
}

int openPrivate(const std::string& path) {
    return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
}

enum class Read { entry, end, failed };

// Takes the first entry from the front of "tmp.dir" and leaves the rest of the listing
// there. Pre: `cache.use` is held.
Read takeEntry(const std::string& folder, platform::FindData& data, std::string& problem) {
    const std::string listingPath = cacheFile(folder, listingFileName);
    const std::string restPath = cacheFile(folder, restFileName);
    const int in = open(listingPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) {
        if (errno == ENOENT) return Read::end;  // the last entry took the rest with it
        problem = systemText("Unable to read the listing", errno);
        return Read::failed;
    }
    LineReader reader{in};
    std::string_view line;
    bool found = false;
    while (!found && reader.next(line)) {
        ftp::RemoteEntry entry;
        found = ftp::parseListingLine(&entry, line.data(), int(line.size())) && fillEntry(entry, data);
    }
    if (!found) {
        const int readError = errno;
        close(in);
        if (reader.failed) {
            problem = systemText("Unable to read the listing", readError);
            return Read::failed;
        }
        unlink(listingPath.c_str());
        return Read::end;
    }
    struct stat status {};
    const int out = openPrivate(restPath);
    const off_t rest = fstat(in, &status) == 0 ? status.st_size - reader.consumed : -1;
    const bool copied = out >= 0 && rest >= 0 && copyRest(in, reader.consumed, rest, out);
    const int copyError = errno;
    close(in);
    const bool closed = out < 0 || close(out) == 0;
    unlink(listingPath.c_str());
    if (!copied || !closed) {
        unlink(restPath.c_str());
        problem = systemText("Unable to write the rest of the listing", copied ? errno : copyError);
        return Read::failed;
    }
    // A rest of 2 bytes or less (an empty line) holds no entry.
    if (rest > 2 ? rename(restPath.c_str(), listingPath.c_str()) != 0 : unlink(restPath.c_str()) != 0) {
        problem = systemText("Unable to keep the rest of the listing", errno);
        return Read::failed;
    }
    return Read::entry;
}

// Puts back the rest of the listing that `listing` interrupted. Pre: `cache.use` is held.
void endListing(const std::string& folder, const Listing& listing) {
    unlink(cacheFile(folder, listingFileName).c_str());
    unlink(cacheFile(folder, restFileName).c_str());
    if (!listing.stash.empty()) rename(listing.stash.c_str(), cacheFile(folder, listingFileName).c_str());
}

std::vector<std::unique_ptr<Listing>>::iterator findListing(platform::FindHandle handle) {
    return std::find_if(cache.open.begin(), cache.open.end(),
                        [handle](const auto& listing) { return platform::FindHandle(listing.get()) == handle; });
}

// The place a listing was asked for, or on the UI thread the selected one.
int currentPlaceIndex() { return int(explorer::threadView(explorer::remoteProvider).filterIndex); }

// The place whose folder is current: the selected one, else place 0 (the selection
// then moves there, unless a listing works on a copy of the view), else none.
std::shared_ptr<FtpPlace> currentPlace() {
    if (std::shared_ptr<FtpPlace> place = placeAt(currentPlaceIndex())) return place;
    if (&explorer::threadView(explorer::remoteProvider) == &explorer::remoteProvider) {
        explorer::remoteProvider.filterIndex = 0;
    }
    return placeAt(0);
}

}  // namespace

std::string listingCacheFolder() {
    std::lock_guard guard(cache.folderLock);
    // A temporary-files cleaner may have removed it meanwhile: make a new one.
    struct stat facts;
    if (cache.folder.empty() || lstat(cache.folder.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) {
        cache.folder = makeCacheFolder();
    }
    return cache.folder;
}

void removeListingCache() {
    std::lock_guard guard(cache.folderLock);
    if (cache.folder.empty()) return;
    removeCacheFolder(cache.folder);
    cache.folder.clear();
}

platform::FindHandle remoteFindFirst(std::u16string_view pattern, platform::FindData& data) {
    ListingHold hold{cache.use};
    if (!hold.held) {
        PlaceUse use = useViewPlace(currentPlaceIndex());
        return failListing(use.place.get(), "Another listing did not end within 60 s; gave up waiting.\n",
                           platform::errorGeneric);
    }
    PlaceUse use = useViewPlace(currentPlaceIndex());
    if (!use.place) return failListing(nullptr, {}, platform::errorGeneric);
    if (!ensureConnected(use)) return failListing(nullptr, {}, platform::errorGeneric);
    FtpPlace& place = *use.place;
    ftp::FtpSession& session = *place.session;

    std::u16string folderPath(pattern.substr(0, pattern.find(u'*')));
    std::replace(folderPath.begin(), folderPath.end(), u'\\', u'/');
    if (!platform::hasByteForm(folderPath)) {
        return failListing(&place, "The folder name has no form the server can be sent.\n", platform::errorInvalidName);
    }
    const std::string remotePath = platform::toUtf8(folderPath);
    if (remotePath.size() >= remotePathBuffer) {
        return failListing(
            &place, "The folder path is too long: " + std::to_string(remotePath.size()) + " bytes, at most 319.\n",
            platform::errorFilenameTooLong);
    }
    const std::string folder = listingCacheFolder();
    if (folder.empty()) {
        return failListing(&place, systemText("Unable to make the listing cache folder", errno),
                           platform::errorGeneric);
    }
    if (!ftp::changeFolder(session, remotePath)) {
        return failListing(&place, failureText(session), platform::errorGeneric);
    }

    auto listing = std::make_unique<Listing>();
    const std::string listingPath = cacheFile(folder, listingFileName);
    if (!cache.open.empty()) {
        listing->stash = listingPath + "." + std::to_string(++cache.stashCount);
        if (rename(listingPath.c_str(), listing->stash.c_str()) != 0) listing->stash.clear();  // nothing left
    }
    const int created = openPrivate(listingPath);
    const int createError = errno;
    if (created >= 0) close(created);
    const bool listed = created >= 0 && ftp::listToFile(session, listingPath, std::nullopt);
    const std::string listFailure = created < 0 ? systemText("Unable to make the listing file", createError)
                                                : failureText(session);
    ftp::changeFolder(session, "/");  // every other operation uses absolute paths
    if (!listed) {
        endListing(folder, *listing);
        return failListing(&place, listFailure, platform::errorGeneric);
    }

    std::string problem;
    const Read first = takeEntry(folder, data, problem);
    if (first != Read::entry) {
        endListing(folder, *listing);
        if (first == Read::end) {
            // An empty folder: no failure, but the place says why nothing came.
            const char* reply = ftp::lastReply(session);
            return failListing(&place, reply ? reply : "", platform::errorNoMoreFiles);
        }
        return failListing(&place, problem, platform::errorGeneric);
    }
    cache.open.push_back(std::move(listing));
    hold.held = false;  // held until FindClose
    return platform::FindHandle(cache.open.back().get());
}

int remoteFindNext(platform::FindHandle handle, platform::FindData& data) {
    ListingHold hold{cache.use};
    // Only the innermost listing reads: the others' rests are put aside until it ends.
    if (!hold.held || cache.open.empty() || platform::FindHandle(cache.open.back().get()) != handle) {
        platform::setLastError(platform::errorInvalidHandle);
        return 0;
    }
    std::string problem;
    const std::string folder = listingCacheFolder();
    switch (takeEntry(folder, data, problem)) {
    case Read::entry: return 1;
    case Read::end: platform::setLastError(platform::errorNoMoreFiles); return 0;
    case Read::failed: break;
    }
    PlaceUse use = useViewPlace(currentPlaceIndex());
    failListing(use.place.get(), problem, platform::errorGeneric);
    return 0;
}

int remoteFindClose(platform::FindHandle handle) {
    ListingHold hold{cache.use};
    if (!hold.held) {
        platform::setLastError(platform::errorInvalidHandle);
        return 0;
    }
    const auto found = findListing(handle);
    if (found == cache.open.end()) {
        platform::setLastError(platform::errorInvalidHandle);
        return 0;
    }
    if (found + 1 == cache.open.end()) {
        endListing(listingCacheFolder(), **found);
    } else {
        // Closed before the listing it interrupted: that one's stash is this one's rest.
        Listing& inner = **(found + 1);
        if (!inner.stash.empty()) unlink(inner.stash.c_str());
        inner.stash = (*found)->stash;
    }
    cache.open.erase(found);
    cache.use.release();  // the hold of its FindFirst
    return 1;
}

std::uintptr_t remoteFileInfo(std::u16string_view path, std::uint32_t attributes, platform::ShellFileInfo& info,
                              std::uint32_t flags) {
    // Always from the name and the attributes: asked about "the object itself", the shell
    // would describe a device file that happens to have the server path's name (and a
    // remote folder would get no folder icon).
    // The marker comes only with folders (the listing's entries that may be folders, and
    // the list's folder rows, which ask with the marker alone).
    flags |= platform::shellUseFileAttributes;
    if (attributes & remoteMarker) attributes = (attributes & ~remoteMarker) | platform::attributeFolder;
    std::u16string devicePath(path.substr(0, platform::maxPath - 1));
    std::replace(devicePath.begin(), devicePath.end(), u'/', u'\\');
    const std::uintptr_t result = platform::getFileInfo(devicePath, attributes, info, flags);
    // A name under the root that begins with a dot ("\..", "\.profile") is its own
    // display name: it has no extension to drop. The answer comes from the name alone,
    // never from a local file of that name.
    if (devicePath.size() > 1 && devicePath[1] == u'.') {
        platform::copyBounded(info.displayName, platform::maxPath, std::u16string_view(devicePath).substr(1));
    }
    return result;
}

std::u16string remoteCurrentFolder() {
    if (const std::shared_ptr<FtpPlace> place = currentPlace()) {
        // A stored folder may come without its separator.
        std::u16string folder(platform::boundedView(place->currentFolder, platform::maxPath));
        if (folder.empty() || folder.back() != u'/') folder += u'/';
        return folder;
    }
    return std::u16string(platform::boundedView(fallbackFolder, platform::maxPath));
}

int setRemoteCurrentFolder(std::u16string_view path) {
    std::u16string folder(path);
    std::replace(folder.begin(), folder.end(), u'\\', u'/');
    if (folder.empty() || folder.back() != u'/') folder += u'/';
    const std::shared_ptr<FtpPlace> place = currentPlace();
    if (folder.size() >= platform::maxPath) {
        // Cut, it would name another folder.
        if (place) {
            PlaceUse use = useViewPlace(currentPlaceIndex());
            if (use.place) setError(*use.place, "The folder path is too long: at most 259 characters.\n");
        }
        platform::setLastError(platform::errorFilenameTooLong);
        return 0;
    }
    if (!place) {
        platform::copyBounded(fallbackFolder, platform::maxPath, folder);
        return 1;
    }
    bool remember = false;
    {
        PlaceUse use = useViewPlace(currentPlaceIndex());
        if (!use.place) return 0;
        platform::copyBounded(use.place->currentFolder, platform::maxPath, folder);
        remember = use.place->rememberFolder != 0;
    }
    if (remember) savePlaces();
    return 1;
}

std::optional<std::u16string> placeName(int index) {
    const std::shared_ptr<FtpPlace> place = placeAt(index);
    if (!place) return std::nullopt;
    return std::u16string(platform::boundedView(place->name, std::size(place->name)));
}

std::optional<std::u16string> placePattern(int index) {
    const std::shared_ptr<FtpPlace> place = placeAt(index);
    if (!place) return std::nullopt;
    return std::u16string(platform::boundedView(place->filterPattern, std::size(place->filterPattern)));
}

void bindRemoteListing(explorer::ViewProvider& view) {
    view.FindFirst = remoteFindFirst;
    view.FindNext = remoteFindNext;
    view.FindClose = remoteFindClose;
    view.GetFileInfo = remoteFileInfo;
    view.GetCurrentFolder = remoteCurrentFolder;
    view.SetCurrentFolder = setRemoteCurrentFolder;
    view.GetItem = placeName;
    view.GetItemPattern = placePattern;
}

}  // namespace remote
