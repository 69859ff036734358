// The in-place rename of a list row: the row's full path opens in an edit with its name
// part selected and the soft keys "Rename" and "Discard". A bare name renames the entry
// in its folder; a text beginning with a separator is a full path and may move it.
// UI thread only.
#pragma once

#include <string>
#include <string_view>

#include "platform/window/window.h"

namespace app {

// Opens the rename of the focused row (the parent row is refused).
void beginRename();
// Ends the open rename: applies the edited text, or with `discard` leaves the entry as
// it is.
void endRename(bool discard);

// Answers the list's begin- and end-label-edit notifications; false for any other.
bool handleRenameNotification(platform::LParam lParam, platform::LResult& result);

// Where an edited text sends the entry: a text beginning with '\' or '/' is the new full
// path, any other a name in `folder`. A name holding a separator, a NUL anywhere, or a
// path too long for a row is refused: `path` is then empty and `refusal` says why.
struct RenameTarget {
    std::u16string path;
    std::u16string refusal;
};
RenameTarget renameTarget(std::u16string_view text, std::u16string_view folder);

}  // namespace app
