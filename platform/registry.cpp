#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/host_files.h"
#include "platform/text.h"

// The store's file, one sample line of each kind:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Tarvik\Ftp\2.0]
//   "Ascending"=hex(4):01
//   "Say \"hi\""=hex(1):68,00,69,00,00,00
//   @=hex(3):
//   "Long"=hex(3):00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\ (ends here)
//     15,16
//
// Every value is written as hex(type) with its bytes, so any type and data length
// round-trips; '@' is the value with the empty name; a line ending in '\' continues
// on the next, as the long value's first line does. Blank lines and lines starting with ';' are ignored.

namespace platform {
namespace {

struct Value {
    std::u16string name;
    std::uint32_t type = registryNone;
    std::vector<unsigned char> data;
};

struct Key {
    std::u16string path;  // as first created: segments joined by '\', "" for the root
    std::vector<Value> values;
};

// Names compare case-insensitively in ASCII, which every name of this program is.
std::u16string folded(std::u16string_view text) { return lowerAscii(text); }

using Keys = std::map<std::u16string, Key>;  // by folded path

struct Store {
    std::mutex lock;     // over the fields below; never held across a write to disk
    std::mutex writing;  // a writer's turn, taken before `lock`: one change at a time reaches the file
    bool loaded = false;
    bool writable = true;  // false when the file exists but could not be read or kept aside
    std::string file;
    Keys keys;
    std::map<RegistryKey, std::u16string> handles;
    RegistryKey nextHandle = currentUserKey + 1;
};

Store& store() {
    static Store instance;
    return instance;
}

bool fail(std::uint32_t code) {
    setLastError(code);
    return false;
}

bool isValidName(std::u16string_view name) {
    for (const char16_t unit : name) {
        if (unit < 0x20 || unit == 0x7F) return false;
    }
    return true;
}

// The segments of a key path; false for a name the file could not hold.
bool splitKeyPath(std::u16string_view path, std::vector<std::u16string_view>& segments) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        const std::u16string_view segment = path.substr(start, end - start);
        if (!isValidName(segment)) return false;
        if (!segment.empty()) segments.push_back(segment);
        start = end + 1;
    }
    return true;
}

std::u16string childPath(const std::u16string& parent, std::u16string_view segment) {
    return parent.empty() ? std::u16string(segment) : parent + u'\\' + std::u16string(segment);
}

// Adds the key at `path` and every missing key above it; true when any was added.
bool addKey(Keys& keys, std::u16string_view path) {
    std::vector<std::u16string_view> segments;
    splitKeyPath(path, segments);
    bool added = keys.try_emplace(u"", Key{}).second;
    std::u16string current;
    for (const auto segment : segments) {
        current = childPath(current, segment);
        added |= keys.try_emplace(folded(current), Key{current, {}}).second;
    }
    return added;
}

Value* findValue(Key& key, std::u16string_view name) {
    const std::u16string wanted = folded(name);
    for (auto& value : key.values) {
        if (folded(value.name) == wanted) return &value;
    }
    return nullptr;
}

std::string escapedName(const std::u16string& name) {
    if (name.empty()) return "@";
    std::string result = "\"";
    for (const char c : toUtf8(name)) {
        if (c == '"' || c == '\\') result += '\\';
        result += c;
    }
    return result + '"';
}

std::string serialize(const Keys& keys) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text = "REGEDIT4\n";
    for (const auto& [foldedPath, key] : keys) {
        if (key.path.empty() && key.values.empty()) continue;
        text += "\n[HKEY_CURRENT_USER";
        if (!key.path.empty()) {
            text += '\\';
            text += toUtf8(key.path);
        }
        text += "]\n";
        for (const auto& value : key.values) {
            char type[16];
            std::snprintf(type, sizeof type, "%x", value.type);
            std::string line = escapedName(value.name) + "=hex(" + type + "):";
            for (std::size_t i = 0; i < value.data.size(); ++i) {
                line += digits[value.data[i] >> 4];
                line += digits[value.data[i] & 0xF];
                if (i + 1 == value.data.size()) break;
                line += ',';
                if (line.size() > 74) {
                    text += line;
                    text += "\\\n";
                    line = "  ";
                }
            }
            text += line + '\n';
        }
    }
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Parses `"name"=hex(N):bytes` or `@=hex(N):bytes`.
std::optional<Value> parseValue(std::string_view line) {
    Value value;
    std::size_t at = 0;
    if (line.starts_with('@')) {
        at = 1;
    } else if (line.starts_with('"')) {
        std::string name;
        for (at = 1; at < line.size() && line[at] != '"'; ++at) {
            if (line[at] == '\\') ++at;
            if (at == line.size()) return std::nullopt;
            name += line[at];
        }
        if (at == line.size()) return std::nullopt;
        ++at;
        value.name = toUtf16(name);
        if (value.name.empty() || !isValidName(value.name)) return std::nullopt;
    } else {
        return std::nullopt;
    }
    line.remove_prefix(at);
    if (!line.starts_with("=hex(")) return std::nullopt;
    line.remove_prefix(5);
    std::uint64_t type = 0;
    std::size_t typeDigits = 0;
    for (; typeDigits < line.size() && hexDigit(line[typeDigits]) >= 0; ++typeDigits) {
        type = type * 16 + static_cast<unsigned>(hexDigit(line[typeDigits]));
    }
    if (typeDigits == 0 || typeDigits > 8 || line.substr(typeDigits, 2) != "):") return std::nullopt;
    value.type = static_cast<std::uint32_t>(type);
    line.remove_prefix(typeDigits + 2);
    while (!line.empty()) {
        if (line.size() < 2 || hexDigit(line[0]) < 0 || hexDigit(line[1]) < 0) return std::nullopt;
        value.data.push_back(static_cast<unsigned char>(hexDigit(line[0]) * 16 + hexDigit(line[1])));
        line.remove_prefix(2);
        if (line.empty()) break;
        if (line[0] != ',' || line.size() == 1) return std::nullopt;
        line.remove_prefix(1);
    }
    return value;
}

// Fills the store from the file's text; 0 on success, otherwise the number of the
// first line that is not understood.
std::size_t parse(std::string_view text, Store& store) {
    std::vector<std::pair<std::size_t, std::string>> lines;  // logical lines with their first line number
    std::size_t number = 0;
    bool continued = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++number;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (continued) {
            line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
            lines.back().second += line;
        } else {
            lines.emplace_back(number, std::string(line));
        }
        continued = lines.back().second.ends_with('\\');
        if (continued) lines.back().second.pop_back();
    }
    if (continued) return number;

    Key* key = nullptr;
    bool sawHeader = false;
    for (const auto& [lineNumber, line] : lines) {
        if (line.empty() || line.starts_with(';')) continue;
        if (!sawHeader) {
            if (line != "REGEDIT4") return lineNumber;
            sawHeader = true;
        } else if (line.starts_with('[')) {
            static constexpr std::string_view root = "[HKEY_CURRENT_USER";
            if (!line.starts_with(root) || !line.ends_with(']')) return lineNumber;
            const std::string_view rest = std::string_view(line).substr(root.size(), line.size() - root.size() - 1);
            if (!rest.empty() && !rest.starts_with('\\')) return lineNumber;
            const std::u16string path = toUtf16(rest);
            std::vector<std::u16string_view> segments;
            if (!splitKeyPath(path, segments)) return lineNumber;
            std::u16string joined;
            for (const auto segment : segments) joined = childPath(joined, segment);
            addKey(store.keys, joined);
            key = &store.keys[folded(joined)];
        } else {
            std::optional<Value> value = parseValue(line);
            if (key == nullptr || !value) return lineNumber;
            if (Value* existing = findValue(*key, value->name)) {
                *existing = std::move(*value);
            } else {
                key->values.push_back(std::move(*value));
            }
        }
    }
    return sawHeader || lines.empty() ? 0 : 1;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Keeps something of `path` as "<path>.broken-<time>[-n]", the first of those names
// that `keep` can make (it fails with EEXIST for a name taken), never over another file.
template <typename Keep>
bool keepAsBroken(const std::string& path, std::string& keptAs, Keep keep) {
    const std::string stem = path + ".broken-" + std::to_string(std::time(nullptr));
    for (int attempt = 1; attempt < 100; ++attempt) {
        keptAs = attempt == 1 ? stem : stem + "-" + std::to_string(attempt);
        if (keep(keptAs)) return true;
        if (errno != EEXIST) return false;
    }
    return false;
}

// Moves a file that could not be parsed aside.
bool keepAside(const std::string& path, std::string& keptAs) {
    return keepAsBroken(path, keptAs, [&path](const std::string& name) { return renameWithoutReplacing(path, name); });
}

// A save cut short by a kill leaves its temporary file ("<file>.tmp-XXXXXX"), which holds
// the settings, passwords included. Only this user's regular files of that name go:
// never through a link, never another's.
void removeTornSaves(const std::string& path) {
    DIR* folder = opendir(folderOf(path).c_str());
    if (!folder) return;
    const std::string prefix = path.substr(path.find_last_of('/') + 1) + ".tmp-";
    while (const dirent* entry = readdir(folder)) {
        struct stat facts {};
        if (std::string_view(entry->d_name).starts_with(prefix) &&
            fstatat(dirfd(folder), entry->d_name, &facts, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(facts.st_mode) &&
            facts.st_uid == geteuid()) {
            unlinkat(dirfd(folder), entry->d_name, 0);
        }
    }
    closedir(folder);
}

void load(Store& store, const std::string& path) {
    store.keys.clear();
    store.handles.clear();
    store.file = path;
    store.writable = true;
    store.loaded = true;
    std::string text;
    if (!readWhole(path, text)) {
        if (errno == ENOENT) return;
        // Saving would replace settings that could not be read: refuse to save.
        std::fprintf(stderr, "farlink: cannot read the settings file %s (%s); settings will not be saved\n",
                     path.c_str(), std::strerror(errno));
        store.writable = false;
        return;
    }
    const std::size_t badLine = parse(text, store);
    if (badLine == 0) return;
    store.keys.clear();
    std::string keptAs;
    if (keepAside(path, keptAs)) {
        std::fprintf(stderr, "farlink: the settings file %s is damaged at line %zu; kept as %s, starting afresh\n",
                     path.c_str(), badLine, keptAs.c_str());
    } else {
        std::fprintf(stderr,
                     "farlink: the settings file %s is damaged at line %zu and cannot be kept aside (%s); "
                     "settings will not be saved\n",
                     path.c_str(), badLine, std::strerror(errno));
        store.writable = false;
    }
}

Store& loadedStore() {
    Store& instance = store();
    if (!instance.loaded) load(instance, defaultRegistryFile());
    return instance;
}

// Writes `text` as the store's file: a temporary file beside it, flushed, then renamed
// over it, so a crash at any point leaves either the old file or the new one.
bool writeStoreFile(const std::string& file, const std::string& text) {
    const std::string folder = folderOf(file);
    if (!createPrivateFolders(folder)) return fail(errorFromErrno(errno));
    std::string temporary = file + ".tmp-XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return fail(errorFromErrno(errno));
    bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, text.data(), text.size()) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), file.c_str()) == 0;
    if (!ok) {
        const int error = errno;
        unlink(temporary.c_str());
        return fail(errorFromErrno(error));
    }
    syncFolder(folder);
    return true;
}

// The key a handle names, in `keys` (the store's, or a copy of them).
Key* keyIn(Keys& keys, const Store& store, RegistryKey handle) {
    if (handle == currentUserKey) return &keys.try_emplace(u"", Key{}).first->second;
    const auto found = store.handles.find(handle);
    if (found == store.handles.end()) return nullptr;
    const auto key = keys.find(found->second);
    return key == keys.end() ? nullptr : &key->second;
}

// Makes a change that reaches the file. `change` works on a copy of the keys, under the
// store's lock (false: refused, the last error set); the copy is written with that lock
// let go, so that no reader waits on the disk (the UI thread reads settings while a
// worker saves), and becomes the store once the file holds it. Writers take turns, so no
// other change comes in between; on failure neither the file nor the store has changed.
bool changeAndSave(const std::function<bool(const Store&, Keys&)>& change) {
    Store& instance = store();
    std::lock_guard turn(instance.writing);
    std::unique_lock guard(instance.lock);
    loadedStore();
    Keys keys = instance.keys;
    if (!change(instance, keys)) return false;
    if (!instance.writable) return fail(errorAccessDenied);
    const std::string file = instance.file;
    guard.unlock();
    if (!writeStoreFile(file, serialize(keys))) return false;
    guard.lock();
    instance.keys = std::move(keys);
    return true;
}

bool openOrCreate(RegistryKey parent, std::u16string_view subKey, RegistryKey& key, bool create) {
    std::u16string path;  // spelt as the caller spells it
    bool missing = false;
    {
        std::lock_guard guard(store().lock);
        Store& instance = loadedStore();
        const Key* parentKey = keyIn(instance.keys, instance, parent);
        if (parentKey == nullptr) return fail(errorInvalidHandle);
        std::vector<std::u16string_view> segments;
        if (!splitKeyPath(subKey, segments)) return fail(errorInvalidParameter);
        path = parentKey->path;
        for (const auto segment : segments) path = childPath(path, segment);
        missing = !instance.keys.contains(folded(path));
    }
    if (missing && !create) return fail(errorFileNotFound);
    if (missing && !changeAndSave([&path](const Store&, Keys& keys) {
            addKey(keys, path);
            return true;
        })) {
        return false;
    }
    std::lock_guard guard(store().lock);
    key = store().nextHandle++;
    store().handles.emplace(key, folded(path));
    return true;
}

}  // namespace

std::string defaultRegistryFile() {
    if (const char* home = std::getenv("FARLINK_HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/registry.reg";
    }
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return std::string(config) + "/farlink/registry.reg";
    }
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && *variable != '\0') {
        home = variable;
    } else {
        passwd entry;
        passwd* found = nullptr;
        char buffer[4096];
        if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) home = found->pw_dir;
    }
    return home + "/.config/farlink/registry.reg";
}

void useRegistryFile(const std::string& path) {
    Store& instance = store();
    std::lock_guard turn(instance.writing);
    std::lock_guard guard(instance.lock);
    removeTornSaves(path);
    load(instance, path);
}

bool keepRegistryCopy(std::string& keptAs) {
    std::string text;
    std::string file;
    {
        std::lock_guard guard(store().lock);
        Store& instance = loadedStore();
        text = serialize(instance.keys);
        file = instance.file;
    }
    return keepAsBroken(file, keptAs, [&text](const std::string& name) {
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) return false;
        bool ok = writeAll(fd, text.data(), text.size()) && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        if (!ok) {
            const int error = errno;
            unlink(name.c_str());
            errno = error == EEXIST ? EIO : error;
        }
        return ok;
    });
}

bool createKey(RegistryKey parent, std::u16string_view subKey, RegistryKey& key) {
    return openOrCreate(parent, subKey, key, true);
}

bool openKey(RegistryKey parent, std::u16string_view subKey, RegistryKey& key) {
    return openOrCreate(parent, subKey, key, false);
}

void closeKey(RegistryKey key) {
    std::lock_guard guard(store().lock);
    store().handles.erase(key);
}

bool queryValue(RegistryKey key, std::u16string_view name, std::uint32_t* type, void* data, std::uint32_t* size) {
    std::lock_guard guard(store().lock);
    Store& instance = loadedStore();
    Key* found = keyIn(instance.keys, instance, key);
    if (found == nullptr) return fail(errorInvalidHandle);
    if (data != nullptr && size == nullptr) return fail(errorInvalidParameter);
    const Value* value = findValue(*found, name);
    if (value == nullptr) return fail(errorFileNotFound);
    const auto length = static_cast<std::uint32_t>(value->data.size());
    if (type != nullptr) *type = value->type;
    if (data != nullptr && *size < length) {
        *size = length;
        return fail(errorMoreData);
    }
    if (data != nullptr && length > 0) std::memcpy(data, value->data.data(), length);
    if (size != nullptr) *size = length;
    return true;
}

bool setValue(RegistryKey key, std::u16string_view name, std::uint32_t type, const void* data, std::uint32_t size) {
    return changeAndSave([&](const Store& instance, Keys& keys) {
        Key* found = keyIn(keys, instance, key);
        if (found == nullptr) return fail(errorInvalidHandle);
        if ((data == nullptr && size > 0) || !isValidName(name)) return fail(errorInvalidParameter);
        const auto bytes = static_cast<const unsigned char*>(data);
        std::vector<unsigned char> stored(bytes, bytes + size);
        if (Value* existing = findValue(*found, name)) {
            existing->type = type;
            existing->data = std::move(stored);
        } else {
            found->values.push_back({std::u16string(name), type, std::move(stored)});
        }
        return true;
    });
}

bool deleteValue(RegistryKey key, std::u16string_view name) {
    return changeAndSave([&](const Store& instance, Keys& keys) {
        Key* found = keyIn(keys, instance, key);
        if (found == nullptr) return fail(errorInvalidHandle);
        const Value* value = findValue(*found, name);
        if (value == nullptr) return fail(errorFileNotFound);
        found->values.erase(found->values.begin() + (value - found->values.data()));
        return true;
    });
}

void batchSetValue(RegistryBatch& batch, std::u16string_view name, std::uint32_t type, const void* data,
                   std::uint32_t size) {
    const auto bytes = static_cast<const unsigned char*>(data);
    batch.steps.push_back({std::u16string(name), false, type, std::vector<unsigned char>(bytes, bytes + size)});
}

void batchDeleteValue(RegistryBatch& batch, std::u16string_view name) {
    batch.steps.push_back({std::u16string(name), true, registryNone, {}});
}

bool applyBatch(RegistryKey key, const RegistryBatch& batch) {
    return changeAndSave([&](const Store& instance, Keys& keys) {
        Key* found = keyIn(keys, instance, key);
        if (found == nullptr) return fail(errorInvalidHandle);
        for (const RegistryBatch::Step& step : batch.steps) {
            if (!isValidName(step.name)) return fail(errorInvalidParameter);
        }
        for (const RegistryBatch::Step& step : batch.steps) {
            Value* existing = findValue(*found, step.name);
            if (step.remove) {
                if (existing != nullptr) found->values.erase(found->values.begin() + (existing - found->values.data()));
            } else if (existing != nullptr) {
                existing->type = step.type;
                existing->data = step.data;
            } else {
                found->values.push_back({step.name, step.type, step.data});
            }
        }
        return true;
    });
}

bool createPrivateFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string prefix = folder.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

}  // namespace platform
