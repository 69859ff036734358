// The options dialog that the Device and Remote views share, over a view's display
// fields.
#pragma once

#include <span>
#include <string_view>

#include "explorer/provider.h"

namespace ui {

// Runs a view's options dialog over the view's fields: "File Types:", "In Title:", the
// confirmation list and the three check boxes, the "Network:" list with `networkChoices`
// (disabled when there are none), and the "Simultaneous copies:" list of 1 to
// `mostCopies` over `copies` (disabled when null). `caption` titles the dialog and the
// "Unable to create Keybar." box. Done reads every control back into the view and
// `copies`; the caller then saves. True when confirmed. UI thread only.
bool runOptionsDialog(std::u16string_view caption, std::span<const std::u16string_view> networkChoices,
                      explorer::ViewProvider& view, const explorer::OwnerRecord& owner, int* copies = nullptr,
                      int mostCopies = 0);

}  // namespace ui
