// Opening files and URLs with the desktop's programs. Only in a graphical session: in a
// bare terminal the opener would start a console program that fights Farlink for the
// terminal.
#pragma once

#include <string>

namespace ui {

// True when the opener was started for a host path or URL.
bool openOnDesktop(const std::string& hostPathOrUrl);

// What starts the opener; platform::openWithDesktop unless a test replaces it.
using DesktopOpener = bool (*)(const std::string& hostPathOrUrl);
void setDesktopOpener(DesktopOpener opener);

}  // namespace ui
