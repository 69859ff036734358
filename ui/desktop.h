// Opening files and URLs, and composing mail, with the desktop's programs. Only in a graphical session: in a
// bare terminal the opener would start a console program that fights Farlink for the
// terminal.
#pragma once

#include <string>
#include <string_view>

#include "platform/window/window.h"

namespace ui {

// Whether a graphical session exists (DISPLAY or WAYLAND_DISPLAY set).
bool graphicalSession();

// True when the opener was started for a host path or URL.
bool openOnDesktop(const std::string& hostPathOrUrl);

// Send via: starts the desktop's mail composer (xdg-email) with a device file attached,
// through an argument vector and without waiting for it; says so in a box over `owner`
// when there is no composer to start. UI thread only.
void sendFileByMail(platform::Window owner, std::u16string_view devicePath);

// What starts the opener; platform::openWithDesktop unless a test replaces it.
using DesktopOpener = bool (*)(const std::string& hostPathOrUrl);
void setDesktopOpener(DesktopOpener opener);

}  // namespace ui
