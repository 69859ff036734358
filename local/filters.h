// Filters of the Device view: the named pattern lists offered by the selector above the
// list, each with its own notion of the current folder; their registry storage and the
// "File Filter" dialog. Bound into the Device view's provider as LoadList, SaveList,
// EditItem, DeleteItem, GetItem and GetItemPattern.
//
// The list may be read from the population thread (patterns, folders) while the UI
// thread changes it, so every function here takes the list's lock and hands out copies.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "explorer/provider.h"

namespace local {

// One filter; the same 1170 bytes in memory and as its registry value.
struct FilterRecord {
    char16_t name[260];             // shown in the selector
    char16_t pattern[64];           // name patterns separated by ';'
    char16_t folder[260];           // the filter's own current folder
    std::uint8_t trackLastFolder;   // 1 keeps the folder across runs
    std::uint8_t isolatedFileSystem;  // 1 the filter has its own current folder
};
static_assert(sizeof(FilterRecord) == 1170, "FilterRecord is stored byte for byte");

// 32 slots, the last always empty as the terminator.
inline constexpr int maxFilters = 31;

struct BuiltInFilter {
    std::u16string_view name;
    std::u16string_view pattern;
};
// The thirteen filters a first run starts with, in selector order.
std::span<const BuiltInFilter> builtInFilters();

inline constexpr std::u16string_view optionsKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0";
inline constexpr std::u16string_view filtersKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Filters";

// The stored filters from value "0" on, up to the first missing value or one that is not
// 1170 bytes (and at most 31), each completed by the built-in filters from position n on
// (n = the number read). Filters that do not track their folder start at the default
// folder. Returns 1. UI thread only.
int loadFilterList();
// Writes every filter as value "0", "1", ... and deletes the values above, up to the
// first that does not exist. 0 when the key cannot be created. UI thread only.
int saveFilterList();
// Runs the "File Filter" dialog on the filter at the index, or on a new one when the index
// is the filter count; 1 when the user confirmed and the filter was written. A full list
// refuses a new filter with a message. UI thread only.
int editFilter(int index, const explorer::OwnerRecord& owner);
// Removes the filter at the index and closes the gap; 0 when there is none. UI thread only.
int deleteFilter(int index);
// The name or the pattern list of the filter at the index; nothing past the end. Any thread.
std::optional<std::u16string> getFilterName(int index);
std::optional<std::u16string> getFilterPattern(int index);
// Empties the list (the main window's end). UI thread only.
void freeFilters();

int filterCount();  // Any thread.
// A copy of the filter at the index; nothing past the end. Any thread.
std::optional<FilterRecord> filterAt(int index);

// The folder of the filter at the index when it keeps its own ("Isolated File System");
// false when there is no such filter or it shares the view's folder. Any thread.
bool getIsolatedFolder(int index, std::u16string& folder);
// Stores the folder (at most 259 units) in the filter at the index when it keeps its own;
// false otherwise. Any thread.
bool setIsolatedFolder(int index, std::u16string_view folder);

}  // namespace local
