#include "ui/desktop.h"

#include <cstdlib>

#include "platform/files.h"
#include "platform/shell.h"
#include "platform/window/message_box.h"

namespace ui {
namespace {

DesktopOpener desktopOpener = platform::openWithDesktop;

}  // namespace

bool graphicalSession() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

bool openOnDesktop(const std::string& hostPathOrUrl) { return graphicalSession() && desktopOpener(hostPathOrUrl); }

void sendFileByMail(platform::Window owner, std::u16string_view devicePath) {
    // A host path is absolute, so it never reads as one of xdg-email's options.
    const std::string hostPath = platform::toHostPath(devicePath);
    if (!hostPath.empty() && graphicalSession() && platform::startProgram("xdg-email", {"--attach", hostPath})) return;
    platform::messageBox(owner,
                         u"There is no mail program to send this file with: Farlink attaches files in the "
                         u"desktop's mail composer (xdg-email) in a graphical session.",
                         u"Send via", platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
}

void setDesktopOpener(DesktopOpener opener) { desktopOpener = opener; }

}  // namespace ui
