// The "Confirm" option of the Device and Remote views: which deletes and replaces ask
// the user first. "Never (Automatic)" asks nothing; "Any Overwrite & Delete" asks before
// every delete and every replace; "Delete Files & Folder" before every delete;
// "Overwrite" before every replace; "Delete File" and "Delete Folder" before those
// deletes only. UI thread only.
#pragma once

#include <string_view>

#include "explorer/provider.h"

namespace app {

// The choices of the option, in the order of its list.
enum ConfirmChoice : std::uint32_t {
    confirmNever = 0,
    confirmAnyOverwriteAndDelete,
    confirmDeletes,
    confirmOverwrite,
    confirmDeleteFile,
    confirmDeleteFolder,
};

// True when the delete of `path` may go ahead: the view's option does not ask about it,
// or the user answered Yes.
bool confirmDelete(const explorer::ViewProvider& view, std::u16string_view path, bool folder);
// True when writing `path` of `holder` may go ahead: the option of `view` (where the user
// acts) does not ask about replaces, nothing is there yet (the holder's GetAttributes
// fails), or the user answered Yes. The look on the server runs behind the wait screen
// of the command `caption` names (app/server_command.h); false when the user cancelled it.
bool confirmReplace(const explorer::ViewProvider& view, const explorer::ViewProvider& holder, std::u16string_view path,
                    std::u16string_view caption);

}  // namespace app
