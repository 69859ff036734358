// Clipboard: one Unicode text slot shared by the whole program, with the platform's
// open/empty/set/get/close discipline: only the thread that opened it may change or
// read it, and opening fails while another thread has it open. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

bool openClipboard();
bool closeClipboard();
bool emptyClipboard();                            // only while open
bool setClipboardText(std::u16string_view text);  // only while open; replaces the slot
bool getClipboardText(std::u16string& text);      // only while open; false when empty
// Calls by a thread that has not opened it fail with errorAccessDenied.

}  // namespace platform
