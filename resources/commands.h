// Command ids: what menus, soft keys, accelerators and controls send to the main window
// and to dialogs. The numbers are the program's vocabulary; keep them.
#pragma once

namespace resources {

enum Command : int {
    commandDone = 1,  // "Done" in dialogs, Exit in the main window
    commandCancel = 2,
    commandPopupMenu = 1000,
    commandDocumentsFolder = 1502,
    commandRenameDone = 18051,
    commandHelp = 18055,
    commandCut = 18060,
    commandCopy = 18061,
    commandPaste = 18062,
    commandRename = 18063,
    commandDelete = 18064,
    commandSortName = 18066,
    commandSortDate = 18067,
    commandSortSize = 18068,
    commandDeviceView = 18072,
    commandSendVia = 18073,
    commandProperties = 18074,
    commandItemActivated = 32123,
    commandLargeIcons = 32774,
    commandSmallIcons = 32775,
    commandRootFolder = 32778,
    commandUpFolder = 32779,
    commandSortType = 32819,
    commandPasteShortcut = 32825,
    commandAscending = 32835,
    commandDescending = 32836,
    commandOpen = 32838,
    commandSoftKeyLongPress = 32839,
    commandCopyTo = 32847,
    commandMoveTo = 32848,
    commandNewFolder = 32849,
    commandRefresh = 32855,
    commandRenameDiscard = 32867,
    commandSortNone = 32869,
    commandDeleteTree = 32871,
    commandSettings = 32872,
    commandNewEntry = 32877,
    commandDeleteCurrent = 32878,
    commandEditCurrent = 32879,
    commandPutFromDevice = 32880,
    commandClearQueue = 32881,
    commandAdvanced = 32882,     // "Advanced" in the menu of the place dialog
    commandRetry = 32883,        // the Queue view's Failed list: queue the record again
    commandSynchronize = 32884,  // the Remote view's folder and the Device view's made alike
    commandEditFile = 32885,     // the focused file in the user's editor
    commandRemoteView = 34001,
    commandQueueView = 34002,
    commandAbout = 40002,
};

// Control ids of the main window.
inline constexpr int listViewId = 18501;
inline constexpr int filterControlId = 18503;

}  // namespace resources
