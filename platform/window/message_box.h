// Message boxes: a framed box in the middle of the screen with its caption on the frame,
// an icon and the text, and its buttons on the soft-key line (OK on F1; Yes on F1, No on
// F2). Enter answers OK or Yes, Back answers OK or No; Y and N answer too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/window/window.h"

namespace platform {

enum class MessageBoxButtons { ok, yesNo };
enum class MessageBoxIcon { none, hand, question, exclamation, information };
enum class MessageBoxResult { none, ok, yes, no };  // none: the window system stopped first

// Shows the box modally and returns the answer. The text's lines are separated by a lone
// "\r" ("\r\r" makes a blank line) and wrapped to the box. From another thread the box is
// shown by the UI thread while the calling thread waits for the answer. `owner` (may be
// none) is disabled while the box is open. Any thread.
MessageBoxResult messageBox(Window owner, std::u16string_view text, std::u16string_view caption,
                            MessageBoxButtons buttons, MessageBoxIcon icon);

// A box that asks for a secret (a passphrase): what is typed is never shown, not even
// its length; Backspace takes back a character. OK (F1, Enter) gives what was typed,
// Cancel (F2, Back) none. Any thread, as messageBox.
std::optional<std::u16string> secretBox(Window owner, std::u16string_view text, std::u16string_view caption);

// Sounds the terminal bell. Any thread.
void messageBeep(MessageBoxIcon icon = MessageBoxIcon::none);

}  // namespace platform
