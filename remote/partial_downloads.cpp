#include "remote/partial_downloads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/folder_handles.h"
#include "platform/own_files.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace remote {
namespace {

// One binary value: for each partial, its time (8 bytes), its download's key (8 bytes),
// the length of its path (4 bytes), all little-endian, then the path's bytes. Earlier
// versions kept "Kept", without keys: read, and replaced at the next write.
constexpr std::u16string_view listValue = u"Partials";
constexpr std::u16string_view keptValue = u"Kept";

struct KeptPartial {
    std::uint64_t since = 0;
    std::uint64_t key = 0;  // 0: none (an earlier version's entry)
    std::string path;
};

// Each read-change-write of the list is whole.
std::mutex listLock;

// FNV-1a: stable from one run and one build to the next, as a partial's name must be.
std::uint64_t hashOf(std::string_view text, std::uint64_t hash = 14695981039346656037ull) {
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::uint64_t readNumber(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

void putNumber(std::vector<unsigned char>& bytes, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::vector<unsigned char> valueBytes(platform::RegistryKey key, std::u16string_view name) {
    std::uint32_t size = 0;
    std::vector<unsigned char> bytes;
    if (platform::queryValue(key, name, nullptr, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!platform::queryValue(key, name, nullptr, bytes.data(), &size)) bytes.clear();
    }
    return bytes;
}

// Appends the entries of one value, read as far as they go.
void readEntries(const std::vector<unsigned char>& bytes, bool withKeys, std::vector<KeptPartial>& list) {
    const std::size_t head = withKeys ? 20 : 12;
    for (std::size_t at = 0; at + head <= bytes.size();) {
        KeptPartial kept{readNumber(&bytes[at], 8), withKeys ? readNumber(&bytes[at + 8], 8) : 0, {}};
        const std::size_t length = readNumber(&bytes[at + head - 4], 4);
        at += head;
        if (length > bytes.size() - at) break;
        kept.path.assign(reinterpret_cast<const char*>(&bytes[at]), length);
        list.push_back(std::move(kept));
        at += length;
    }
}

std::vector<KeptPartial> readList() {
    std::vector<KeptPartial> list;
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, partialsKeyPath, key)) return list;
    readEntries(valueBytes(key, listValue), true, list);
    readEntries(valueBytes(key, keptValue), false, list);
    platform::closeKey(key);
    return list;
}

void writeList(const std::vector<KeptPartial>& list) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, partialsKeyPath, key)) return;
    std::vector<unsigned char> bytes;
    for (const KeptPartial& kept : list) {
        putNumber(bytes, kept.since, 8);
        putNumber(bytes, kept.key, 8);
        putNumber(bytes, kept.path.size(), 4);
        bytes.insert(bytes.end(), kept.path.begin(), kept.path.end());
    }
    platform::deleteValue(key, keptValue);
    if (bytes.empty()) platform::deleteValue(key, listValue);
    else platform::setValue(key, listValue, platform::registryBinary, bytes.data(), std::uint32_t(bytes.size()));
    platform::closeKey(key);
}

// Removes the listed entries of `hostPath`, or of `key` when it is not 0; true when there
// were some.
bool dropEntry(std::vector<KeptPartial>& list, const std::string& hostPath, std::uint64_t key = 0) {
    const auto end = std::remove_if(list.begin(), list.end(), [&](const KeptPartial& kept) {
        return kept.path == hostPath || (key != 0 && kept.key == key);
    });
    const bool found = end != list.end();
    list.erase(end, list.end());
    return found;
}

}  // namespace

std::uint64_t partialKeyFor(const FtpPlace& place, std::string_view remotePath, std::string_view localPath) {
    const PlaceSettings settings = settingsOf(place);
    std::uint64_t hash = hashOf(platform::toUtf8(settings.host));
    hash = hashOf("\n" + std::to_string(settings.port) + "\n", hash);
    hash = hashOf(platform::toUtf8(settings.userName), hash);
    hash = hashOf("\n", hash);
    hash = hashOf(remotePath, hash);
    hash = hashOf("\n", hash);
    return hashOf(localPath, hash) | 1;  // never 0, which marks an entry without a key
}

std::string keptPartial(std::uint64_t key) {
    const std::lock_guard held(listLock);
    for (const KeptPartial& kept : readList()) {
        if (kept.key == key) return kept.path;
    }
    return {};
}

void rememberPartial(const std::string& hostPath, std::uint64_t key, std::uint64_t now) {
    const std::lock_guard held(listLock);
    std::vector<KeptPartial> list = readList();
    dropEntry(list, hostPath, key);
    list.push_back({now, key, hostPath});
    writeList(list);
}

void forgetPartial(const std::string& hostPath) {
    const std::lock_guard held(listLock);
    std::vector<KeptPartial> list = readList();
    if (dropEntry(list, hostPath)) writeList(list);
}

void removeLeftPartials() {
    const std::lock_guard held(listLock);
    const std::vector<KeptPartial> list = readList();
    std::vector<KeptPartial> kept;
    for (const KeptPartial& entry : list) {
        struct stat info {};
        if (lstat(entry.path.c_str(), &info) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) kept.push_back(entry);  // perhaps back later
            continue;
        }
        // Reached one name at a time, never through a link: whatever took the partial's
        // place, or a link put on its way, is not ours to remove.
        platform::EntryFolder at;
        std::string reason;
        if (!entry.path.starts_with('/') || !platform::openEntryFolder({"/", entry.path.substr(1)}, at, reason) ||
            !platform::isOwnTemporaryName(at.name) ||
            fstatat(at.folder.fd, at.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != geteuid() || info.st_nlink != 1)
            continue;
        if (unlinkat(at.folder.fd, at.name.c_str(), 0) != 0) kept.push_back(entry);
    }
    if (kept.size() != list.size()) writeList(kept);
}

}  // namespace remote
