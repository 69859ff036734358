// The work of a command on a view's files, run where it cannot hold up the screen: for
// the Remote view on a thread of its own behind the wait screen (ui/wait_screen.h), since
// each request may wait on the server; for the other views, whose files are the device's,
// at once.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "explorer/provider.h"

namespace app {

// Runs `work` on a copy of `view` as it stands: on a thread behind the screen named
// `caption` that says `doing` when `view` is the Remote view, else here. True once `work`
// ended; false when the user cancelled (the thread then ends on its own: `work` must own,
// or share, what it writes). A failure leaves the place's error for the view's ShowError,
// which the caller shows once this returned. UI thread only.
bool runOnView(const explorer::ViewProvider& view, std::u16string_view caption, std::u16string doing,
               std::function<void(const explorer::ViewProvider& view)> work);

}  // namespace app
