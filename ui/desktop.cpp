#include "ui/desktop.h"

#include <cstdlib>

#include "platform/shell.h"

namespace ui {
namespace {

DesktopOpener desktopOpener = platform::openWithDesktop;

bool graphicalSession() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

}  // namespace

bool openOnDesktop(const std::string& hostPathOrUrl) { return graphicalSession() && desktopOpener(hostPathOrUrl); }

void setDesktopOpener(DesktopOpener opener) { desktopOpener = opener; }

}  // namespace ui
