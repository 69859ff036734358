#include "remote/partial_downloads.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace remote {
namespace {

constexpr std::string_view partialPrefix = ".farlink-";
constexpr std::string_view partialSuffix = ".part";
constexpr std::size_t hashDigits = 16;
// One binary value: for each partial, its time (8 bytes), the length of its path
// (4 bytes), both little-endian, then the path's bytes.
constexpr std::u16string_view keptValue = u"Kept";

struct KeptPartial {
    std::uint64_t since = 0;
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

// A list that cannot be read as a whole is read as far as it goes.
std::vector<KeptPartial> readList() {
    std::vector<KeptPartial> list;
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, partialsKeyPath, key)) return list;
    std::uint32_t size = 0;
    std::vector<unsigned char> bytes;
    if (platform::queryValue(key, keptValue, nullptr, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!platform::queryValue(key, keptValue, nullptr, bytes.data(), &size)) bytes.clear();
    }
    platform::closeKey(key);
    for (std::size_t at = 0; at + 12 <= bytes.size();) {
        const std::uint64_t since = readNumber(&bytes[at], 8);
        const std::size_t length = readNumber(&bytes[at + 8], 4);
        at += 12;
        if (length > bytes.size() - at) break;
        list.push_back({since, std::string(reinterpret_cast<const char*>(&bytes[at]), length)});
        at += length;
    }
    return list;
}

void writeList(const std::vector<KeptPartial>& list) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, partialsKeyPath, key)) return;
    std::vector<unsigned char> bytes;
    for (const KeptPartial& kept : list) {
        putNumber(bytes, kept.since, 8);
        putNumber(bytes, kept.path.size(), 4);
        bytes.insert(bytes.end(), kept.path.begin(), kept.path.end());
    }
    if (bytes.empty()) platform::deleteValue(key, keptValue);
    else platform::setValue(key, keptValue, platform::registryBinary, bytes.data(), std::uint32_t(bytes.size()));
    platform::closeKey(key);
}

// Removes the listed entry of `hostPath`; true when there was one.
bool dropEntry(std::vector<KeptPartial>& list, const std::string& hostPath) {
    const auto end = std::remove_if(list.begin(), list.end(),
                                    [&](const KeptPartial& kept) { return kept.path == hostPath; });
    const bool found = end != list.end();
    list.erase(end, list.end());
    return found;
}

std::string_view fileNameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string partialNameFor(const FtpPlace& place, std::string_view remotePath, std::string_view localPath) {
    const PlaceSettings settings = settingsOf(place);
    std::uint64_t hash = hashOf(platform::toUtf8(settings.host));
    hash = hashOf("\n" + std::to_string(settings.port) + "\n", hash);
    hash = hashOf(platform::toUtf8(settings.userName), hash);
    hash = hashOf("\n", hash);
    hash = hashOf(remotePath, hash);
    hash = hashOf("\n", hash);
    hash = hashOf(localPath, hash);
    char digits[hashDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return std::string(partialPrefix) + digits + std::string(partialSuffix);
}

bool isPartialName(std::string_view name) {
    if (name.size() != partialPrefix.size() + hashDigits + partialSuffix.size() || !name.starts_with(partialPrefix) ||
        !name.ends_with(partialSuffix)) {
        return false;
    }
    const std::string_view digits = name.substr(partialPrefix.size(), hashDigits);
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

void rememberPartial(const std::string& hostPath, std::uint64_t now) {
    const std::lock_guard held(listLock);
    std::vector<KeptPartial> list = readList();
    dropEntry(list, hostPath);
    list.push_back({now, hostPath});
    writeList(list);
}

void forgetPartial(const std::string& hostPath) {
    const std::lock_guard held(listLock);
    std::vector<KeptPartial> list = readList();
    if (dropEntry(list, hostPath)) writeList(list);
}

void removeStalePartials(std::uint64_t now) {
    const std::lock_guard held(listLock);
    const std::vector<KeptPartial> list = readList();
    std::vector<KeptPartial> kept;
    for (const KeptPartial& entry : list) {
        struct stat info {};
        if (lstat(entry.path.c_str(), &info) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) kept.push_back(entry);  // perhaps back later
            continue;
        }
        // Whatever took the partial's place is not ours to remove.
        if (!S_ISREG(info.st_mode) || !isPartialName(fileNameOf(entry.path))) continue;
        const bool stale = now >= entry.since && now - entry.since >= partialLifetime;
        if (stale && unlink(entry.path.c_str()) == 0) continue;
        kept.push_back(entry);
    }
    if (kept.size() != list.size()) writeList(kept);
}

}  // namespace remote
