// Cut, Copy, Paste and Paste Shortcut: a row's full path travels between folders and
// views as the clipboard's text. A paste moves or copies within the view it lands in,
// and goes through the queue when it crosses between the device and the server.
// UI thread only.
#pragma once

#include <string_view>

namespace app {

// Puts a row's path on the clipboard; with `cut` the next Paste moves it, and the row
// at `listIndex` shows as cut until then.
void putOnClipboard(std::u16string_view path, bool cut, int listIndex);

// Pastes the clipboard's path into the current view's folder: a move when it was cut, a
// copy otherwise. Beeps when there is nothing to paste; a path that is no usable path
// is refused with a box that says why.
void pasteFromClipboard();

// Makes a shortcut in the Device view's folder to the clipboard's device path, then
// starts its rename.
void pasteShortcut();

}  // namespace app
