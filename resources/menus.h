// Menus, soft-key bars and the accelerator table of the main window and its dialogs.
#pragma once

#include <span>

#include "platform/window/menu.h"
#include "platform/window/soft_keys.h"
#include "platform/window/window.h"

namespace resources {

// The views' menus, opened from the right soft key ("Menu").
extern const platform::MenuResource deviceMenu;  // 18072
extern const platform::MenuResource remoteMenu;  // 34001
extern const platform::MenuResource queueMenu;   // 34002
// The Device view's context menu (129): its first sub-menu is the one shown.
extern const platform::MenuResource devicePopupMenu;
// The menu id the rename bar stands for (102).
extern const platform::MenuResource renameMenu;

extern const platform::SoftKeyBarResource deviceBar;  // 501
extern const platform::SoftKeyBarResource remoteBar;  // 502
extern const platform::SoftKeyBarResource queueBar;   // 503
extern const platform::SoftKeyBarResource renameBar;  // 131
// "Done" (command 1) / "Cancel" (command 2), the bar of every dialog.
extern const platform::SoftKeyBarResource doneCancelBar;
// "Done" / a menu of "Advanced" and "Cancel": the bar of the "Ftp Connection" dialog.
extern const platform::SoftKeyBarResource placeDialogBar;

// The soft-key bar resource with this id (501, 502, 503, 131); null for any other.
const platform::SoftKeyBarResource* findSoftKeyBar(int id);
// The menu resource with this id; null for any other.
const platform::MenuResource* findMenu(int id);

// Accelerator table 2: Ctrl+X, Ctrl+C, Ctrl+V, Delete, Ctrl+A.
std::span<const platform::Accelerator> mainAccelerators();

}  // namespace resources
