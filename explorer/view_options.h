// The display options that the Device and Remote views store under the same registry
// values: the record naming each value and the field it holds, and loading and saving a
// set of them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "explorer/provider.h"

namespace explorer {

// One stored option: its registry value name, its data length (4, or 1 for the one-byte
// flags, both REG_DWORD) and the provider field it holds.
struct StoredOption {
    std::u16string_view name;
    std::uint32_t ViewProvider::*wide = nullptr;   // set for 4-byte values
    std::uint8_t ViewProvider::*narrow = nullptr;  // set for 1-byte values
    std::uint32_t size() const { return wide ? 4 : 1; }
};

// Sets the defaults that stored values replace (entry 0, no sort key, ascending, start
// from the last folder, small icons), then reads each option under `keyPath` into its
// field in the order given; a missing value, or one longer than its field, leaves the
// field as it was. UI thread only.
void loadStoredOptions(std::u16string_view keyPath, std::span<const StoredOption> options, ViewProvider& view);
// Writes the options in the order given; nothing when the key cannot be created. UI thread only.
void saveStoredOptions(std::u16string_view keyPath, std::span<const StoredOption> options, const ViewProvider& view);

}  // namespace explorer
