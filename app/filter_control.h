// The filter control above the list: it names the current view's filters (Device) or
// places (Remote), shows the type-ahead text in brackets after the current one, and
// hands the focus down to the list. UI thread only.
#pragma once

namespace app {

// Refills the control from the current view's GetItem(0), GetItem(1), ..., selects the
// view's current entry and refreshes the label (which starts a listing).
void fillFilterControl();
// Rewrites the selected entry as its name plus " (type-ahead)" when there is type-ahead
// text, then asks for a Refresh.
void refreshFilterLabel();
// Installs the key handling of the filter control and the list: Down in the control goes
// to the list when it has rows, Up is swallowed; Up on the first row of the list goes
// to the control.
void hookFilterAndListKeys();

}  // namespace app
