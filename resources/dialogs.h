// Dialog templates: "File Filter", "Ftp Options", the two "Ftp Connection" dialogs of a
// place, "File Properties" and the screen that waits for a command's work. Where layouts differ there is one for keypad
// phones (a label above each field, spinner lists) and a compact one for touch screens (label and field side by side,
// drop-down lists).
#pragma once

#include "platform/window/dialog.h"
#include "platform/window/soft_keys.h"

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
    optionsCopiesList = 5008,
};
extern const platform::DialogTemplate optionsDialogKeypad;
extern const platform::DialogTemplate optionsDialogTouch;

// "Ftp Connection" (136 keypad, 138 touch screen): a place's name, host and login.
enum PlaceDialogControl : int {
    placeAnonymousCheck = 150,
    placeHostEdit = 1001,
    placeUserEdit = 1002,
    placePasswordEdit = 1003,
    placeNameEdit = 18109,
};
inline constexpr int placeNameLimit = 127;  // units, so that the texts fit the dialog's data
inline constexpr int placeHostLimit = 127;
inline constexpr int placeUserLimit = 63;
inline constexpr int placePasswordLimit = 63;
extern const platform::DialogTemplate placeDialogKeypad;
extern const platform::DialogTemplate placeDialogTouch;

// "Ftp Connection", advanced (141 keypad, 140 touch screen): folder, port, time-out and
// the connection choices.
enum AdvancedPlaceDialogControl : int {
    placeAutoReconnectCheck = 152,
    placePassiveCheck = 1004,
    placePortEdit = 1006,
    placePortSpinner = 1007,
    placeTimeoutEdit = 1008,
    placeTimeoutSpinner = 1009,
    placeRememberFolderCheck = 1010,
    placeTemporaryUploadCheck = 1011,
    placeStartupFolderEdit = 18701,
};
inline constexpr int placeStartupFolderLimit = 259;
inline constexpr int placeNumberLimit = 10;  // digits of an unsigned 32-bit number
inline constexpr int placeSpinnerLow = 1;
inline constexpr int placeSpinnerHigh = 32767;
extern const platform::DialogTemplate advancedPlaceDialogKeypad;
extern const platform::DialogTemplate advancedPlaceDialogTouch;

// "File Properties" (132): no controls; the dialog paints its text.
extern const platform::DialogTemplate propertiesDialog;

// The screen that waits while a command's work runs (6010): what is being done, under the
// command's name as its title; Cancel on the right soft key.
inline constexpr int waitingText = 6011;
extern const platform::DialogTemplate waitingDialog;
extern const platform::SoftKeyBarResource waitingBar;

}  // namespace resources
