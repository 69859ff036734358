#include "remote/remote_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "ftp/listing_parser.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/places.h"

namespace remote {
namespace {

constexpr std::u16string_view listingTag = u"(KVT-FFF-1)";
constexpr std::size_t maxLineLength = 2047;
constexpr std::size_t remotePathBuffer = 320;  // bytes, terminator included
constexpr std::uint64_t unixEpochAsFileTime = 116444736000000000ULL;
constexpr std::uint32_t remoteMarker = explorer::infoFromObject;
constexpr std::string_view instanceLockName = "instance.lock";

// The cache folder of this instance. It holds a lock file that this instance keeps
// locked while it runs, so that another instance removes only folders whose lock it can
// take: their instance has ended.
struct CacheFolder {
    platform::CountedMutex lock;
    std::string path;  // under `lock`; empty until made
    int lockFile = -1;
    std::uint64_t listings = 0;  // names the listings' files; under `lock`
};
CacheFolder& cache() {
    // Never destroyed: a listing that outlived the end of the program may still ask.
    static CacheFolder& folder = *new CacheFolder;
    return folder;
}

// The fallback folder for when there is no place at all.
char16_t fallbackFolder[platform::maxPath] = u"\\";

std::string systemText(const char* what, int error) { return std::string(what) + ": " + std::strerror(error) + "\n"; }

// A folder of ours that nobody else may change: owned by this user, not a link, and,
// when `privateOnly`, without rights for group or others (those are taken away).
bool isOwnFolder(const std::string& path, bool privateOnly) {
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return false;
    struct stat facts {};
    bool own = fstat(folder, &facts) == 0 && facts.st_uid == geteuid();
    if (own && privateOnly && (facts.st_mode & 077) != 0) own = fchmod(folder, 0700) == 0;
    close(folder);
    return own;
}

bool makeOwnFolder(const std::string& path, bool privateOnly) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isOwnFolder(path, privateOnly);
}

// Removes the folder `name` of `parent` and the files in it, through handles that never
// follow a link: nothing outside it can be reached, whatever is swapped in meanwhile.
void removeCacheFolderAt(int parent, const char* name) {
    const int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return;
    struct stat facts {};
    if (fstat(folder, &facts) != 0 || facts.st_uid != geteuid()) {
        close(folder);
        return;
    }
    if (DIR* listing = fdopendir(folder)) {
        while (const dirent* entry = readdir(listing)) {
            const std::string_view entryName = entry->d_name;
            if (entryName != "." && entryName != "..") unlinkat(dirfd(listing), entry->d_name, 0);
        }
        closedir(listing);
    } else {
        close(folder);
    }
    unlinkat(parent, name, AT_REMOVEDIR);
}

// A Farlink that was killed leaves its cache folder behind: remove the folders of this
// kind ("<tag>-<pid>-XXXXXX") whose lock file no running instance holds.
void removeAbandonedCacheFolders(const std::string& parentPath) {
    const int parent = open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (parent < 0) return;
    DIR* listing = fdopendir(dup(parent));
    while (listing != nullptr) {
        const dirent* entry = readdir(listing);
        if (entry == nullptr) break;
        const std::string_view name = entry->d_name;
        const std::size_t first = name.find('-');
        const std::size_t second = first == std::string_view::npos ? first : name.find('-', first + 1);
        if (second == std::string_view::npos || name.size() != second + 7) continue;
        const int folder = openat(parent, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder < 0) continue;
        const int lockFile = openat(folder, std::string(instanceLockName).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        // A folder without its lock file is being made, or was made by an older Farlink:
        // left alone.
        const bool abandoned = lockFile >= 0 && flock(lockFile, LOCK_EX | LOCK_NB) == 0;
        if (lockFile >= 0) close(lockFile);
        close(folder);
        if (abandoned) removeCacheFolderAt(parent, entry->d_name);
    }
    if (listing != nullptr) closedir(listing);
    close(parent);
}

// Makes this instance's cache folder and locks it. Pre: cache().lock is held.
std::string makeCacheFolder() {
    const std::string root = platform::cacheHostFolder();
    if (root.empty() || !makeOwnFolder(root, false) || !makeOwnFolder(root + "/farlink", true)) return {};
    removeAbandonedCacheFolders(root + "/farlink");
    std::string settings = platform::defaultRegistryFile();
    settings.resize(settings.rfind('/') == std::string::npos ? 0 : settings.rfind('/'));
    char tag[32];
    std::snprintf(tag, sizeof tag, "%016zx", std::hash<std::string>{}(settings));
    std::string pattern = root + "/farlink/" + tag + "-" + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};  // mode 0700
    const std::string lockPath = pattern + "/" + std::string(instanceLockName);
    const int lockFile = open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFile < 0 || flock(lockFile, LOCK_EX | LOCK_NB) != 0) {
        if (lockFile >= 0) close(lockFile);
        unlink(lockPath.c_str());
        rmdir(pattern.c_str());
        return {};
    }
    if (cache().lockFile >= 0) close(cache().lockFile);
    cache().lockFile = lockFile;
    return pattern;
}

platform::FindHandle failListing(FtpPlace* place, std::string_view text, std::uint32_t code) {
    if (place) setPlaceError(*place, listingTag, text);
    platform::setLastError(code);
    return platform::invalidFindHandle;
}

// Lines as the phone read them: up to and with the LF, at most 2047 bytes; a longer
// line comes in pieces. The file must hold exactly `length` bytes and stay in its
// folder while it is read: one cut short, or removed behind the program's back, fails
// the listing rather than end it early.
struct LineReader {
    int fd = -1;
    off_t length = 0;
    std::array<char, 2 * maxLineLength + 2> buffer{};
    std::size_t begin = 0;
    std::size_t end = 0;
    off_t consumed = 0;  // bytes read from the file
    std::string problem;

    bool failed() const { return !problem.empty(); }

    // False at the end of the listing, or with `problem` set.
    bool next(std::string_view& line) {
        std::size_t size = 0;
        for (;;) {
            const std::size_t available = end - begin;
            const std::size_t scan = std::min(available, maxLineLength);
            if (const void* newline = std::memchr(buffer.data() + begin, '\n', scan)) {
                size = std::size_t(static_cast<const char*>(newline) - (buffer.data() + begin)) + 1;
                break;
            }
            if (available >= maxLineLength) {
                size = maxLineLength;
                break;
            }
            std::memmove(buffer.data(), buffer.data() + begin, available);
            begin = 0;
            end = available;
            const ssize_t count = refill();
            if (count < 0) return false;
            if (count == 0) {
                if (available == 0) return false;
                size = available;
                break;
            }
            end += std::size_t(count);
        }
        line = std::string_view(buffer.data() + begin, size);
        begin += size;
        return true;
    }

private:
    ssize_t refill() {
        struct stat facts {};
        if (fstat(fd, &facts) != 0 || facts.st_nlink == 0) {
            problem = "The listing's cache file was removed while it was read.\n";
            return -1;
        }
        const std::size_t room = buffer.size() - end;
        const ssize_t count = pread(fd, buffer.data() + end, std::min<off_t>(off_t(room), length - consumed), consumed);
        if (count < 0) {
            problem = systemText("Unable to read the listing", errno);
            return -1;
        }
        if (count == 0 && consumed < length) {
            problem = "The listing's cache file was cut short while it was read.\n";
            return -1;
        }
        consumed += count;
        return count;
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
    data.mode = entry.mode;
    std::copy(wide.begin(), wide.end(), data.name);
    return true;
}

// One open listing: its file, read by offset to the end the listing wrote. Whoever
// opened it may read it; no lock is held between its calls.
struct Listing {
    std::string path;
    LineReader reader;
    std::weak_ptr<FtpPlace> place;  // for its errors
    ~Listing() {
        if (reader.fd >= 0) close(reader.fd);
        unlink(path.c_str());
    }
};

// The open listings, so that a handle that is none is refused rather than followed.
struct OpenListings {
    platform::CountedMutex lock;
    std::set<Listing*> open;  // under `lock`
};
OpenListings& openListings() {
    static OpenListings& listings = *new OpenListings;
    return listings;
}

Listing* findListing(platform::FindHandle handle) {
    OpenListings& listings = openListings();
    std::lock_guard guard(listings.lock);
    const auto found = listings.open.find(reinterpret_cast<Listing*>(handle));
    return found == listings.open.end() ? nullptr : *found;
}

enum class Read { entry, end, failed };

Read takeEntry(Listing& listing, platform::FindData& data) {
    std::string_view line;
    while (listing.reader.next(line)) {
        ftp::RemoteEntry entry;
        if (ftp::parseListingLine(&entry, line.data(), int(line.size())) && fillEntry(entry, data)) return Read::entry;
    }
    return listing.reader.failed() ? Read::failed : Read::end;
}

// The place whose folder is current: the selected one, else place 0 (the selection
// then moves there, unless a listing works on a copy of the view), else none. UI thread.
std::shared_ptr<FtpPlace> currentPlace() {
    if (std::shared_ptr<FtpPlace> place = placeAt(viewPlaceIndex())) return place;
    if (&explorer::threadView(explorer::remoteProvider) == &explorer::remoteProvider) {
        explorer::remoteProvider.filterIndex = 0;
    }
    return placeAt(0);
}

// The folder a listing pattern names: only its last segment may be a pattern ("/pub/*"
// lists "/pub/"); a '*' inside a folder's name is part of that name.
std::u16string folderOfPattern(std::u16string_view pattern) {
    std::u16string folder(pattern);
    std::replace(folder.begin(), folder.end(), u'\\', u'/');
    const std::size_t lastSegment = folder.rfind(u'/') == std::u16string::npos ? 0 : folder.rfind(u'/') + 1;
    if (folder.find(u'*', lastSegment) != std::u16string::npos) folder.resize(lastSegment);
    return folder;
}

// A new empty file of its own for a listing, in the instance's cache folder; its path,
// or empty with `problem` set.
std::string newListingFile(std::string& problem) {
    const std::string folder = listingCacheFolder();
    if (folder.empty()) {
        problem = systemText("Unable to make the listing cache folder", errno);
        return {};
    }
    std::uint64_t number;
    {
        std::lock_guard guard(cache().lock);
        number = ++cache().listings;
    }
    std::string path = folder + "/" + std::string(listingFilePrefix) + std::to_string(number) + ".dir";
    const int created = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (created < 0) {
        problem = systemText("Unable to make the listing file", errno);
        return {};
    }
    close(created);
    return path;
}

// Opens the listing file that LIST wrote, no link followed, and notes its length.
bool openListingFile(Listing& listing) {
    listing.reader.fd = open(listing.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    struct stat facts {};
    if (listing.reader.fd < 0 || fstat(listing.reader.fd, &facts) != 0 || !S_ISREG(facts.st_mode)) {
        listing.reader.problem = systemText("Unable to read the listing", errno);
        return false;
    }
    listing.reader.length = facts.st_size;
    return true;
}

}  // namespace

std::string listingCacheFolder() {
    std::lock_guard guard(cache().lock);
    // A folder removed behind the program's back is not silently replaced while
    // listings use it: those listings fail on their own, and the next one makes a new
    // folder.
    if (cache().path.empty() || !isOwnFolder(cache().path, true)) cache().path = makeCacheFolder();
    return cache().path;
}

void removeListingCache() {
    std::lock_guard guard(cache().lock);
    if (cache().path.empty()) return;
    const std::size_t slash = cache().path.rfind('/');
    const int parent = open(cache().path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (parent >= 0) {
        removeCacheFolderAt(parent, cache().path.c_str() + slash + 1);
        close(parent);
    }
    if (cache().lockFile >= 0) close(cache().lockFile);
    cache().lockFile = -1;
    cache().path.clear();
}

platform::FindHandle remoteFindFirst(std::u16string_view pattern, platform::FindData& data) {
    auto listing = std::make_unique<Listing>();
    std::string lastReply;
    {
        SessionUse use = useSession(viewPlaceIndex());
        if (!use.place) return failListing(nullptr, {}, platform::errorGeneric);
        FtpPlace& place = *use.place;
        listing->place = use.place;
        if (!ensureConnected(use)) {
            // A listing's failure shows in one row; this one is read whole.
            showIdentityRefusal(use);
            return failListing(nullptr, {}, platform::errorGeneric);
        }
        session::ServerSession& session = **use.session;

        const std::u16string folderPath = folderOfPattern(pattern);
        if (!platform::hasByteForm(folderPath)) {
            return failListing(&place, "The folder name has no form the server can be sent.\n",
                               platform::errorInvalidName);
        }
        const std::string remotePath = platform::toUtf8(folderPath);
        if (remotePath.size() >= remotePathBuffer) {
            return failListing(
                &place, "The folder path is too long: " + std::to_string(remotePath.size()) + " bytes, at most 319.\n",
                platform::errorFilenameTooLong);
        }
        std::string problem;
        listing->path = newListingFile(problem);
        if (listing->path.empty()) return failListing(&place, problem, platform::errorGeneric);
        if (!session.listToFile(remotePath, listing->path)) {
            return failListing(&place, session.failureText(), platform::errorGeneric);
        }
        lastReply = session.lastMessage();
        // The session goes back to the place here: the rows are read without it.
    }
    const std::shared_ptr<FtpPlace> place = listing->place.lock();
    if (!openListingFile(*listing)) return failListing(place.get(), listing->reader.problem, platform::errorGeneric);
    switch (takeEntry(*listing, data)) {
    case Read::entry: break;
    case Read::end: {
        // An empty folder: no failure, but the place says why nothing came.
        if (place) setPlaceError(*place, listingTag, lastReply);
        platform::setLastError(platform::errorNoMoreFiles);
        return platform::invalidFindHandle;
    }
    case Read::failed: return failListing(place.get(), listing->reader.problem, platform::errorGeneric);
    }
    OpenListings& listings = openListings();
    std::lock_guard guard(listings.lock);
    Listing* const handle = listing.release();
    listings.open.insert(handle);
    return platform::FindHandle(handle);
}

int remoteFindNext(platform::FindHandle handle, platform::FindData& data) {
    Listing* listing = findListing(handle);
    if (!listing) {
        platform::setLastError(platform::errorInvalidHandle);
        return 0;
    }
    switch (takeEntry(*listing, data)) {
    case Read::entry: return 1;
    case Read::end: platform::setLastError(platform::errorNoMoreFiles); return 0;
    case Read::failed: break;
    }
    const std::shared_ptr<FtpPlace> place = listing->place.lock();
    failListing(place.get(), listing->reader.problem, platform::errorGeneric);
    return 0;
}

int remoteFindClose(platform::FindHandle handle) {
    OpenListings& listings = openListings();
    std::unique_ptr<Listing> listing;
    {
        std::lock_guard guard(listings.lock);
        const auto found = listings.open.find(reinterpret_cast<Listing*>(handle));
        if (found == listings.open.end()) {
            platform::setLastError(platform::errorInvalidHandle);
            return 0;
        }
        listing.reset(*found);
        listings.open.erase(found);
    }
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
        if (place) setPlaceError(*place, listingTag, "The folder path is too long: at most 259 characters.\n");
        platform::setLastError(platform::errorFilenameTooLong);
        return 0;
    }
    if (!place) {
        platform::copyBounded(fallbackFolder, platform::maxPath, folder);
        return 1;
    }
    {
        std::lock_guard guard(place->fieldsLock);
        platform::copyBounded(place->currentFolder, platform::maxPath, folder);
    }
    if (place->rememberFolder) savePlaces();
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
