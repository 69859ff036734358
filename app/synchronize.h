// Synchronize...: the Remote view's folder on its place and the Device view's folder made
// alike, with every folder below them, in the direction the user chooses. A dialog takes
// the choices; a listing thread reads the two trees while a screen waits for it; a preview
// lists every action and every skipped entry, and the user leaves rows out; the chosen
// actions go on the queue as one run. Nothing changes before the preview's Start.
#pragma once

#include <string>

#include "mirroring/sync_trees.h"

namespace app {

// Runs the whole of it from the Remote view. UI thread only.
void synchronize();

// What stands at the server path `path` now, on this thread's place (for the queue's
// check before a run's removal); false with the reason when its folder could not be
// listed. Any thread but the UI thread.
bool serverEntryNow(const std::string& path, mirroring::EntryNow& now, std::string& reason);

}  // namespace app
