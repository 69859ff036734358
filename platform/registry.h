// Registry: the HKEY_CURRENT_USER store, kept in one text file in the .reg format
// (every value written as hex(type):bytes, so every type and data length round-trips).
// Key and value names compare case-insensitively; leading and trailing '\' in a key
// path are ignored. Every change (or batch of changes) is written to disk at once,
// atomically, mode 0600.
// Any thread. Changes take turns; a read never waits for a change's write to disk. Failures set the last error
// (platform/errors.h): errorFileNotFound for a missing key or value, errorMoreData
// for a buffer too small.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using RegistryKey = std::uintptr_t;
inline constexpr RegistryKey noKey = 0;
inline constexpr RegistryKey currentUserKey = 1;  // HKEY_CURRENT_USER

enum RegistryType : std::uint32_t {
    registryNone = 0,
    registryString = 1,       // REG_SZ: UTF-16 with its terminator
    registryBinary = 3,       // REG_BINARY
    registryDword = 4,        // REG_DWORD: 4 bytes, or 1 for the one-byte flags
    registryMultiString = 7,  // REG_MULTI_SZ
};

// Creates `folder` and those of its parents that are missing, each new one 0700: the
// settings hold passwords. False (errno set) when one cannot be made.
bool createPrivateFolders(const std::string& folder);

// The file the store lives in: $FARLINK_HOME/registry.reg, else
// $XDG_CONFIG_HOME/farlink/registry.reg, else ~/.config/farlink/registry.reg.
std::string defaultRegistryFile();
// Loads the store from `path` (created on the first change). A file that cannot be
// parsed is reported on stderr and renamed aside (".broken-<time>"), and the store
// starts empty. Replaces whatever was loaded before; open keys become invalid. Called at
// start, where no save can be under way (Farlink holds its instance lock): it removes
// the temporary files that saves cut short left beside `path`.
void useRegistryFile(const std::string& path);

// Writes the store as it stands to "<file>.broken-<time>[-n]" beside its file, mode
// 0600, never over another file: values a caller cannot use are kept there before a
// save replaces them. False (errno set) when the copy could not be written.
bool keepRegistryCopy(std::string& keptAs);

bool createKey(RegistryKey parent, std::u16string_view subKey, RegistryKey& key);
bool openKey(RegistryKey parent, std::u16string_view subKey, RegistryKey& key);
void closeKey(RegistryKey key);

// As the platform's query: with `data` null only the type and size are answered; a
// value larger than *size fails with errorMoreData, sets *size to the value's size
// and leaves the buffer untouched. `type` and `size` may be null when not wanted
// (size null with data null asks for nothing but existence).
bool queryValue(RegistryKey key, std::u16string_view name, std::uint32_t* type, void* data, std::uint32_t* size);
bool setValue(RegistryKey key, std::u16string_view name, std::uint32_t type, const void* data, std::uint32_t size);
bool deleteValue(RegistryKey key, std::u16string_view name);

// Changes to the values of one key that reach the file together: a whole list and the
// deletion of its stale values is one write, so an interrupted save leaves the old list
// or the new one, never a mix.
struct RegistryBatch {
    struct Step {
        std::u16string name;
        bool remove = false;  // else set
        std::uint32_t type = registryNone;
        std::vector<unsigned char> data;
    };
    std::vector<Step> steps;
};
void batchSetValue(RegistryBatch& batch, std::u16string_view name, std::uint32_t type, const void* data,
                   std::uint32_t size);
// Deleting a value that does not exist is no failure: the value is gone either way.
void batchDeleteValue(RegistryBatch& batch, std::u16string_view name);
// Applies the steps in order and writes the file once. On failure neither the file nor
// the store has changed.
bool applyBatch(RegistryKey key, const RegistryBatch& batch);

}  // namespace platform
