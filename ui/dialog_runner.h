// The runner of every full-screen dialog: the template for the platform, the soft-key
// bar with "Help" on its right key's menu, Back handed to text fields, the help topic,
// and the "Unable to create Keybar." box when the bar cannot be made.
#pragma once

#include <string_view>

#include "platform/window/dialog.h"
#include "platform/window/soft_keys.h"
#include "resources/menus.h"
#include "ui/soft_keys.h"

namespace ui {

struct FullScreenDialog {
    const platform::DialogTemplate* keypadTemplate = nullptr;
    // The touch-screen ("PocketPC") layout; null when the keypad one serves both.
    const platform::DialogTemplate* touchTemplate = nullptr;
    // The caption of "Unable to create Keybar."; empty when a failure shows nothing.
    std::u16string_view keybarCaption{};
    int helpTopic = 0;  // the string id of the help topic
    const platform::SoftKeyBarResource* bar = &resources::doneCancelBar;
};

// Runs the dialog modally over `owner`, in the layout for the platform as detected
// afresh, and returns its result. The procedure gets initDialog only once the bar exists
// (it fills the controls and sets the focus there) and every message the runner does not
// answer itself: the help key and the Help item open the topic; Back erases in a text
// field that has text and cancels elsewhere. Without its bar the dialog ends at once
// with keybarFailed (-10), after the box. UI thread only.
int runDialog(const FullScreenDialog& dialog, platform::Window owner, const platform::DialogProcedure& procedure);

}  // namespace ui
