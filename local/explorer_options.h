// The Device view's display options: their registry values under
// "\Software\Tarvik\Ftp\2.0" and the "Explorer Options" dialog that edits them. Bound
// into the Device view's provider as LoadOptions and OptionsDialog.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "explorer/provider.h"

namespace local {

inline constexpr std::u16string_view optionsKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0";

// One stored option: its registry value name, its data length (4, or 1 for the one-byte
// flags, both REG_DWORD) and the provider field it holds.
struct StoredOption {
    std::u16string_view name;
    std::uint32_t explorer::ViewProvider::*wide = nullptr;   // set for 4-byte values
    std::uint8_t explorer::ViewProvider::*narrow = nullptr;  // set for 1-byte values
    std::uint32_t size() const { return wide ? 4 : 1; }
};
// The ten options of the Device view, in the order they are read and written.
std::span<const StoredOption> deviceOptions();

// The choices of the dialog's lists; the index is the stored value (for "File Types" also
// the mask of the file classes shown).
std::span<const std::u16string_view> fileTypeChoices();
std::span<const std::u16string_view> confirmChoices();
std::span<const std::u16string_view> titleChoices();

// Sets the defaults the stored values replace (current filter 0, no sort key, ascending,
// start from the last folder, small icons), then reads every stored value into its field;
// a missing value, or one longer than its field, leaves the field as it was. UI thread only.
void loadDeviceOptions(explorer::ViewProvider& view);
// Writes all ten values. Nothing happens when the key cannot be created. UI thread only.
void saveDeviceOptions(const explorer::ViewProvider& view);

// The "Explorer Options" dialog on the Device view's settings; 1 when the user confirmed
// and the options were saved. UI thread only.
int editDeviceOptions(explorer::ViewProvider& view, const explorer::OwnerRecord& owner);

}  // namespace local
