// Full-screen modal dialogs built from templates. A template is plain C++ data: the
// title and one item per control (id, kind, label or text, position, width, limits,
// options). dialogBox runs the dialog in a nested loop on the UI thread and returns the
// result given to endDialog; focus and the owner's soft-key bar come back afterwards.
#pragma once

#include <string_view>
#include <vector>

#include "platform/window/controls.h"
#include "platform/window/window.h"

namespace platform {

// The control id of labels (static texts nobody refers to).
inline constexpr int labelId = 0xFFFF;

struct DialogItem {
    int id = labelId;
    ControlKind kind = ControlKind::staticText;
    std::u16string_view text{};  // label text, check box label, initial edit text
    int row = 0;                 // in the dialog's client area (the line below the title is 0)
    int column = 0;
    int width = 0;  // 0: to the right edge of the dialog
    int height = 1;
    int limit = 0;         // edit: the length limit in UTF-16 units (0 none)
    unsigned options = 0;  // ControlOption bits
    int rangeLow = 0;      // spinner: its range; its buddy is the item before it
    int rangeHigh = 0;
};

struct DialogTemplate {
    int id = 0;
    std::u16string_view title{};
    std::vector<DialogItem> items{};
};

// The dialog procedure gets initDialog (lParam: initParam; create the soft-key bar and
// fill the controls here), command, activate, hotKey, paint, help and the controls'
// notify messages. It returns nonzero for a message it handled. What it does not handle:
// command 1 and 2 end the dialog with 1 and 2; Back (not overridden) ends it with 2; Up
// and Down move the focus between the controls that take it.
using DialogProcedure = WindowProcedure;

// Runs the dialog modally over `owner` (which is disabled meanwhile) and returns the
// result of endDialog; 0 when the loop was ended by postQuitMessage. UI thread only.
int dialogBox(const DialogTemplate& dialogTemplate, Window owner, DialogProcedure procedure, LParam initParam = 0);
// Ends the dialog after the current message. Any thread.
bool endDialog(Window dialog, int result);

// Stretches every child to the dialog's width: a child whose left edge is within
// `narrowMargin` cells keeps the same margin on the right, others end `wideGap` cells
// before the right edge. Labels (id labelId) get `labelFont`; spinners re-attach to their
// buddies. Any thread.
inline constexpr int narrowMargin = 10;
inline constexpr int wideGap = 3;
void layoutDialogControls(Window dialog, Font labelFont = Font::label);  // Any thread.

}  // namespace platform
