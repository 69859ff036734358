#include "ui/soft_keys.h"

#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "platform/window/message_box.h"
#include "resources/commands.h"
#include "resources/strings.h"
#include "ui/platform_type.h"

namespace ui {

using platform::Window;

bool initFullScreenDialog(Window dialog, const platform::SoftKeyBarResource& bar, bool overrideBack) {
    const Window created = platform::createSoftKeyBar(dialog, bar);
    if (!created) {
        platform::endDialog(dialog, keybarFailed);
        return false;
    }
    if (overrideBack) {
        platform::softKeyBarOverrideKey(created, platform::Key::back,
                                        platform::overrideNoDefault | platform::overrideNotify);
    }
    return true;
}

bool handleDialogBackKey(Window dialog, platform::MessageId message, platform::WParam wParam, platform::LParam lParam) {
    if (message != platform::MessageId::hotKey || static_cast<platform::Key>(wParam) != platform::Key::back) {
        return false;
    }
    if ((lParam & platform::hotKeyPress) == 0) return true;
    const Window focus = platform::getFocus();
    if (platform::getWindowKind(focus) == platform::ControlKind::edit && !platform::getWindowText(focus).empty()) {
        platform::sendBackToFocusWindow();
    } else {
        platform::endDialog(dialog, resources::commandCancel);
    }
    return true;
}

bool setSoftKeyText(Window window, platform::SoftKey key, int command, int stringId) {
    const Window bar = platform::findSoftKeyBar(window);
    const auto text = resources::loadString(stringId);
    if (!bar || !text) return false;
    return platform::softKeyBarSetKey(bar, key, *text, command);
}

int addHelpToSoftKeyMenu(Window window, platform::SoftKey key) {
    if (isPocketPC()) return 0;
    const platform::Menu menu = platform::softKeyBarGetMenu(platform::findSoftKeyBar(window), key);
    if (!menu) return 0;
    const auto text = resources::loadString(resources::stringHelp);
    return platform::appendMenuItem(menu, text ? *text : u"Help", resources::commandHelp) ? 1 : 0;
}

void showKeybarError(Window owner, std::u16string_view caption) {
    platform::messageBox(owner, u"Unable to create Keybar.", caption, platform::MessageBoxButtons::ok,
                         platform::MessageBoxIcon::hand);
}

int followInputPanel(Window) { return 0; }

}  // namespace ui
