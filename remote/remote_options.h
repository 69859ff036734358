// The Remote view's display options and the number of simultaneous copies of the queue:
// their registry values under "\Software\Tarvik\Ftp\2.0" (next to the Device view's,
// under the same names), their defaults, and the "Ftp Options" dialog that edits them.
// Bound into the Remote view's provider as LoadOptions and OptionsDialog.
#pragma once

#include <span>
#include <string_view>

#include "explorer/provider.h"
#include "explorer/view_options.h"

namespace remote {

inline constexpr std::u16string_view remoteOptionsKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0";

// Sets the Remote view's settings as the view starts with them: its menu bar 502, no
// popup menu, standard files shown, every other option 0. UI thread only.
void setRemoteDefaults(explorer::ViewProvider& view);
// Sets the defaults that stored values replace (place 0, no sort key, ascending, start
// from the last folder, small icons), then reads the eleven values into
// explorer::remoteProvider; a missing value, or one longer than its field, leaves the
// field as it was. UI thread only.
void loadRemoteOptions();
// Writes the eleven values of `view`; nothing when the key cannot be created. UI thread only.
void saveRemoteOptions(const explorer::ViewProvider& view);

// How many queued records run at once, 1 to 8 (1 by default): loaded and saved with the
// options above as "SimultaneousCopies"; a stored value outside 1..8 reads as 1. The
// queue reads it as each record starts. Any thread.
inline constexpr int mostSimultaneousCopies = 8;
int simultaneousCopies();

// The "Ftp Options" dialog on the view's settings; the values are written only when the
// user confirms it (Done), and then the result is 1. UI thread only.
int editRemoteOptions(explorer::ViewProvider& view, const explorer::OwnerRecord& owner);

// The "Network:" choices; the index is the stored value.
std::span<const std::u16string_view> networkPromptChoices();

}  // namespace remote
