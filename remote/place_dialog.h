// The "Ftp Connection" dialogs that create and edit a place: name, host and login, and
// the advanced one with the startup folder, port, time-out and connection choices. Edit
// place, the Remote view's EditItem, runs them on the place's data and keeps what the
// user confirmed.
#pragma once

#include "explorer/provider.h"
#include "platform/window/window.h"
#include "remote/places.h"

namespace remote {

// Runs "Ftp Connection" on `data`; the dialog's result: 1 (Done) with the fields read back,
// 2 (Cancel), or ui::keybarFailed after the "Unable to create Keybar." box. "Advanced"
// in its menu runs the advanced dialog on the same data. UI thread only.
int runPlaceDialog(PlaceDialogData& data, platform::Window owner);
// Runs the advanced "Ftp Connection" dialog on `data`; on Done (result 1) the six fields
// are read back, on any other result `data` is as it was. UI thread only.
int runAdvancedPlaceDialog(PlaceDialogData& data, platform::Window owner);

// Edits the place at `index`, or a new one when `index` is the place count; 1 when the
// user confirmed and the place holds the new values (memory only: the caller saves).
// UI thread only.
int editPlace(int index, const explorer::OwnerRecord& owner);

}  // namespace remote
