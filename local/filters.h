// Device-view filters: the named pattern lists offered by the selector above the list,
// each with its own idea of the current folder. Until the stored filters arrive the
// list holds one built-in filter, "All Files". UI thread only.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace local {

// One filter; the same 1170 bytes are its stored form.
struct FilterRecord {
    char16_t name[platform::maxPath];
    char16_t pattern[64];  // name patterns separated by ';'
    char16_t folder[platform::maxPath];
    std::uint8_t trackLastFolder;     // 1 keeps the folder across runs
    std::uint8_t isolatedFileSystem;  // 1 the filter has its own current folder
};
static_assert(sizeof(FilterRecord) == 1170);

// Fills the list with the built-in filters. Returns non-zero.
int loadFilters();
// The filter at `index`, or null past the last one.
FilterRecord* filterAt(int index);

}  // namespace local
