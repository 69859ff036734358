// The "Select" dialog, the program's own file picker: its template, its soft-key bar
// and menu, and the commands of that menu that only the picker knows.
#pragma once

#include "platform/window/dialog.h"
#include "platform/window/soft_keys.h"

namespace resources {

// "Select": the name of the file (a disabled edit), the header of the list, the list.
enum SelectDialogControl : int {
    selectNameEdit = 1001,
    selectHeaderText = 1002,
    selectList = 1003,
};
inline constexpr int selectListRow = 2;  // the list takes the rest of the screen from here
extern const platform::DialogTemplate selectDialog;

// Left: command 1, "Select" (then "Up Folder" or "Expand" by the focused row); right:
// the menu of Cancel, File, Type, Sort By and the places.
extern const platform::SoftKeyBarResource selectDialogBar;

// The commands of the picker's menu besides the main window's (Properties, Send via,
// the sort keys, Up Folder, My Device, My Documents keep their ids).
enum SelectDialogCommand : int {
    commandTypeAllFiles = 32890,
    commandTypeEBook = 32891,
    commandTypePdf = 32892,
    commandTypeText = 32893,
    commandBeam = 32894,
    commandStorageCard = 32895,
};

}  // namespace resources
