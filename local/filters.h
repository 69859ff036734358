// Filters of the Device view: the named pattern lists offered by the selector above the
// list, each with its own notion of the current folder; their registry storage and the
// "File Filter" dialog. They fill the Device view's LoadList, SaveList, EditItem and
// DeleteItem, and GetItem, GetItemPattern and the current-folder rule read them.
// UI thread only: a population takes what it needs from them when it is asked for.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "explorer/provider.h"

namespace local {

// One filter; the same 1170 bytes in memory and as its registry value.
struct FilterRecord {
    char16_t name[260];               // shown in the selector
    char16_t pattern[64];             // name patterns separated by ';'
    char16_t folder[260];             // the filter's own current folder
    std::uint8_t trackLastFolder;     // 1 keeps the folder across runs
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

inline constexpr std::u16string_view filtersKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Filters";

// Replaces the list by the stored filters from value "0" on, up to the first missing
// value or one that is not 1170 bytes (and at most 31), completed by the built-in
// filters from position n on (n = the number read). Filters that do not track their
// folder start at the default folder, and a stored folder always ends with a separator.
// Returns 1.
int loadFilters();
// Writes every filter as value "0", "1", ... and deletes the values above, up to the
// first that does not exist, all in one write of the settings file. 0 when the key
// cannot be created; a failed write is not reported and leaves the stored list as it was.
int saveFilters();
// Runs the "File Filter" dialog on the filter at the index, or on a new one when the index
// is the filter count; 1 when the user confirmed and the filter was written. A full list
// refuses a new filter with a message.
int editFilter(int index, const explorer::OwnerRecord& owner);
// Removes the filter at the index and closes the gap; 0 when there is none.
int deleteFilter(int index);
// Empties the list (the main window's end).
void freeFilters();

int filterCount();
// The filter at the index, or null past the last one.
FilterRecord* filterAt(int index);

}  // namespace local
