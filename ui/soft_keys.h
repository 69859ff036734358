// Soft-key and dialog helpers shared by every dialog and the main window: full-screen
// dialogs with their soft-key bar, the Back key handed to text fields, the soft keys'
// labels, the Help item of the right soft key, and the "Unable to create Keybar." box.
#pragma once

#include <string_view>

#include "platform/window/soft_keys.h"
#include "platform/window/window.h"

namespace ui {

// The result of a dialog whose soft-key bar could not be created.
inline constexpr int keybarFailed = -10;

// Gives a dialog its soft-key bar. With overrideBack, Back reaches the dialog as a hot
// key (see handleDialogBackKey) instead of closing it. When the bar cannot be created the
// dialog is ended with keybarFailed and the result is false. UI thread only.
bool initFullScreenDialog(platform::Window dialog, const platform::SoftKeyBarResource& bar, bool overrideBack);

// For a dialog set up with overrideBack: Back erases a character in a text field that has
// text, and otherwise cancels the dialog (result 2) so that the user is never stuck.
// True when the message was the Back key. UI thread only.
bool handleDialogBackKey(platform::Window dialog, platform::MessageId message, platform::WParam wParam,
                         platform::LParam lParam);

// Sets a soft key of the window's bar to the string with this id and the command.
// False when the window has no bar or the string does not exist. UI thread only.
bool setSoftKeyText(platform::Window window, platform::SoftKey key, int command, int stringId);

// Appends "Help" (command 18055) to the popup menu of a soft key of the window's bar,
// on keypad phones only (touch screens have their own help). Returns 1 when added.
// UI thread only.
int addHelpToSoftKeyMenu(platform::Window window, platform::SoftKey key);

// Shows "Unable to create Keybar." with the caption and the hand icon. Any thread.
void showKeybarError(platform::Window owner, std::u16string_view caption);

// Fits the window to the on-screen input panel. A terminal has no such panel, so there is
// never anything to follow: returns 0 (resized nothing). Kept so that callers keep the
// call where a panel would move them. UI thread only.
int followInputPanel(platform::Window window);

}  // namespace ui
