// The Device view's display options: their registry values under
// "\Software\Tarvik\Ftp\2.0" and the "Explorer Options" dialog that edits them. Bound
// into the Device view's provider as LoadOptions and OptionsDialog.
#pragma once

#include <span>
#include <string_view>

#include "explorer/provider.h"
#include "explorer/view_options.h"

namespace local {

inline constexpr std::u16string_view optionsKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0";

// The ten options of the Device view, in the order they are read and written.
std::span<const explorer::StoredOption> deviceOptions();

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
