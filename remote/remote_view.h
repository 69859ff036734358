// The Remote view's start: its provider bound to the places, their dialogs and the
// view's options, the network clock started, and the editor of a new place that the
// no-places question of connecting runs.
#pragma once

#include <memory>
#include <string>

#include "platform/window/window.h"

namespace remote {

// Builds explorer::remoteProvider: the settings' defaults, the operations that exist
// (the listing, places as the selector's entries, their editor, the options and their
// dialog; the others stay "not supported"), then loads the options and
// the places and starts the network clock. `mainWindow` carries the place editor when a
// thread other than the UI thread asks for it. Returns 1. UI thread only.
int initRemoteView(platform::Window mainWindow);

// For the queue, which holds a place without knowing it: the place selected now, as a
// token (null when there is none). UI thread only.
std::shared_ptr<const void> currentPlaceToken();
// Makes the token's place the one the Remote view's operations of this thread use, and
// `sourceToken`'s (when given) the place a copy's source is on, until leavePlaceToken;
// false with the reason when one was deleted, or now points at another server or
// account. Any thread.
bool enterPlaceToken(const std::shared_ptr<const void>& token, const std::shared_ptr<const void>& sourceToken,
                     std::u16string& reason);
void leavePlaceToken();
// True when the token's place is the one selected now, unchanged since. UI thread only.
bool isCurrentPlaceToken(const std::shared_ptr<const void>& token);
// True when two tokens name one place as it was at one edit (each record's token is one
// of its own). Any thread; it waits for nothing.
bool samePlaceToken(const std::shared_ptr<const void>& one, const std::shared_ptr<const void>& other);

}  // namespace remote
