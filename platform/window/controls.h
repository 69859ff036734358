// The small controls: selector (a one-line list box), drop-down list, spinner, edit,
// check box and static text. A choice list is a selector with a spinner attached (keypad
// phones) or a drop-down list (touch screens). Create them with createWindow; each
// function here is Any thread (carried out on the UI thread, in order).
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/window/window.h"

namespace platform {

// Selector and drop-down list. The user changes the selection with the spinner's arrows
// (Left/Right on a selector with a spinner) or by choosing in the drop-down (Enter opens
// it); the parent then gets command(id, selectionChanged). Setting the selection from the
// program sends nothing.
int selectorAddString(Window selector, std::u16string_view text);  // its index. Any thread.
// Inserts before `index`; -1 appends. Returns the index, or -1 outside the entries.
int selectorInsertString(Window selector, int index, std::u16string_view text);  // Any thread.
// Returns the number of entries left, or -1 when there is no such entry. Deleting the
// selected entry leaves no selection.
int selectorDeleteString(Window selector, int index);  // Any thread.
bool selectorReset(Window selector);                   // no entries, no selection. Any thread.
int selectorGetCount(Window selector);                 // Any thread.
int selectorGetSelection(Window selector);             // -1 none. Any thread.
// Selects an entry (-1 clears the selection) and returns it; an index outside the
// entries is refused with -1 and the selection stays as it was.
int selectorSetSelection(Window selector, int index);        // Any thread.
std::u16string selectorGetText(Window selector, int index);  // empty outside the entries. Any thread.

// Spinner: arrows drawn over the ends of its buddy. With a selector buddy Left/Right step
// through the entries; with an edit buddy they step the number in it within the range.
bool spinnerSetBuddy(Window spinner, Window buddy);       // no window detaches it. Any thread.
Window spinnerGetBuddy(Window spinner);                   // Any thread.
bool spinnerSetRange(Window spinner, int low, int high);  // either order; Right counts up. Any thread.

// Edit: one line of text (setWindowText/getWindowText). Typing replaces the selection;
// Back and Backspace erase the character before the caret (or the selection), Delete
// the one after it. The parent gets command(id, editChanged) when the user changes it.
bool editSetLimit(Window edit, int maxUnits);                       // 0: no limit; longer text is cut. Any thread.
bool editSetSelection(Window edit, int from, int to);               // units; -1 as `to` means the end. Any thread.
std::pair<int, int> editGetSelection(Window edit);                  // [from, to); caret at `to`. Any thread.
bool editSetReadOnly(Window edit, bool readOnly);                   // Any thread.
bool editSetOptions(Window edit, unsigned options, unsigned mask);  // ControlOption edit bits. Any thread.

// Check box: Enter or Space toggles it and sends command(id) to the parent.
bool checkBoxSetChecked(Window checkBox, bool checked);  // Any thread.
bool checkBoxIsChecked(Window checkBox);                 // Any thread.

// Static text: its window text, word-wrapped to its width, lines separated by "\r";
// centred with staticCenter. Bold with the label font.
enum class Font { normal, label };
bool setWindowFont(Window window, Font font);  // Any thread.
Font getWindowFont(Window window);             // Any thread.

}  // namespace platform
