// Type-ahead in the list: a typed character narrows the listing (a digit key to its
// whole letter group), Backspace erases, and Left and Right step through the filters
// (Device) or places (Remote) of the filter control. Every change shows in the filter
// control's label and refreshes the list. In the Queue view R is Retry. UI thread only.
#pragma once

#include "platform/window/window.h"

namespace app {

// Answers the list's find-item and key-down notifications; false for any other (the
// caller passes it on). A find-item is answered -1 in `result`: the focus stays.
bool handleTypeAheadNotification(platform::LParam lParam, platform::LResult& result);

// Erases type-ahead text as Backspace does (a keypad group at once, a word by one
// character); false when there was none to erase.
bool eraseTypeAhead();

}  // namespace app
