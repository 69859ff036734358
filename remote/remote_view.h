// The Remote view's start: its provider bound to the places, their dialogs and the
// view's options, the network clock started, and the editor of a new place that the
// no-places question of connecting runs.
#pragma once

#include "platform/window/window.h"

namespace remote {

// Builds explorer::remoteProvider: the settings' defaults, the operations that exist
// (the listing, places as the selector's entries, their editor, the options and their
// dialog; the others stay "not supported"), then loads the options and
// the places and starts the network clock. `mainWindow` carries the place editor when a
// thread other than the UI thread asks for it. Returns 1. UI thread only.
int initRemoteView(platform::Window mainWindow);

}  // namespace remote
