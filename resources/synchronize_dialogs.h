// The screens of "Synchronize...": the dialog of its choices and the preview of the
// actions; their templates and soft-key bars. (The two folders are read behind the
// waiting screen of resources/dialogs.h.)
#pragma once

#include "platform/window/dialog.h"
#include "platform/window/soft_keys.h"

namespace resources {

// "Synchronize": the two folders, and the direction, the kind and the comparison as
// choice lists.
enum SynchronizeDialogControl : int {
    syncDeviceFolderText = 6001,
    syncServerFolderText = 6002,
    syncDirectionList = 6003,
    syncKindList = 6004,
    syncCompareList = 6005,
};
extern const platform::DialogTemplate synchronizeDialog;

// The preview: the two folders above the list of actions, one row each; "Start" on the
// left soft key (command 1), Cancel on the right.
enum SynchronizePreviewControl : int {
    syncPreviewHeader = 6020,
    syncPreviewList = 6021,
};
inline constexpr int syncPreviewListRow = 1;  // the list takes the rest of the screen from here
extern const platform::DialogTemplate synchronizePreviewDialog;
extern const platform::SoftKeyBarResource synchronizePreviewBar;

}  // namespace resources
