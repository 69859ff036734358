// Dialog templates: "File Filter", "Ftp Options" (a keypad layout with spinner lists and
// a compact touch-screen layout with drop-down lists) and "File Properties".
#pragma once

#include "platform/window/dialog.h"

namespace resources {

// "File Filter" (137).
enum FilterDialogControl : int {
    filterNameEdit = 1001,
    filterPatternEdit = 1002,
    filterIsolatedCheck = 1003,
    filterTrackFolderCheck = 1004,
    filterHelpText = 1005,
};
inline constexpr int filterNameLimit = 127;    // units, so that the name fits its record field
inline constexpr int filterPatternLimit = 63;  // units, likewise for the pattern
extern const platform::DialogTemplate filterDialog;

// "Ftp Options" (106 keypad, 142 touch screen).
enum OptionsDialogControl : int {
    optionsFileTypesList = 5001,
    optionsTitleList = 5002,
    optionsConfirmList = 5003,
    optionsNetworkList = 5004,
    optionsSaveFolderCheck = 5005,
    optionsShowParentCheck = 5006,
    optionsShowExtensionsCheck = 5007,
};
extern const platform::DialogTemplate optionsDialogKeypad;
extern const platform::DialogTemplate optionsDialogTouch;

// "File Properties" (132): no controls; the dialog paints its text.
extern const platform::DialogTemplate propertiesDialog;

}  // namespace resources
