// The display options that the Device and Remote views store under the same registry
// values: the record naming each value and the field it holds, loading and saving a set
// of them, the choice lists their options dialogs share, and the layout of those lists.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "explorer/provider.h"
#include "platform/window/window.h"

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

// The choices of the options dialogs' lists; the index is the stored value (for "File
// Types" also the mask of the file classes shown).
std::span<const std::u16string_view> fileTypeChoices();
std::span<const std::u16string_view> confirmChoices();
std::span<const std::u16string_view> titleChoices();

// A choice list of an options dialog (a selector or drop-down) and the field whose value
// is its selection; a check box and its flag.
struct OptionList {
    int controlId;
    std::span<const std::u16string_view> choices;
    std::uint32_t ViewProvider::*field;
};
struct OptionCheck {
    int controlId;
    std::uint8_t ViewProvider::*field;
};

// Fills the lists with their choices and sets lists and check boxes to their fields.
// UI thread only.
void showOptionControls(platform::Window dialog, std::span<const OptionList> lists, std::span<const OptionCheck> checks,
                        const ViewProvider& view);
// Reads the selections and check marks (checked is 1) into the fields; a list with no
// selection (a stored value outside its choices) leaves its field as it was. UI thread only.
void readOptionControls(platform::Window dialog, std::span<const OptionList> lists, std::span<const OptionCheck> checks,
                        ViewProvider& view);

// Makes every choice list and check box of an options dialog as wide as the dialog less
// twice the left margin of `reference` (the "Network:" list) and as high as it; labels
// get the label font, spinners re-attach to their lists. UI thread only.
void layoutOptionControls(platform::Window dialog, platform::Window reference);

}  // namespace explorer
