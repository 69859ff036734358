// Command routing: menu commands, soft keys, accelerators, list notifications and the
// Back key become actions on the current view, its filters and the list. Almost every
// action ends by posting Refresh. UI thread only.
#pragma once

#include "platform/window/window.h"

namespace app {

// Handles a notify, command, hot-key or key-up message of the main window; false when
// it is not one of those that the routing knows (default processing then applies).
bool routeMessage(platform::Window window, platform::MessageId message, platform::WParam wParam,
                  platform::LParam lParam);

}  // namespace app
