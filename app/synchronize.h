// Synchronize...: the Remote view's folder on its place and the Device view's folder made
// alike, with every folder below them, in the direction the user chooses. A dialog takes
// the choices; a listing thread reads the two trees while a screen waits for it; a preview
// lists every action and every skipped entry, and the user leaves rows out; the chosen
// actions go on the queue as one run. Nothing changes before the preview's Start.
#pragma once

namespace app {

// Runs the whole of it from the Remote view. UI thread only.
void synchronize();

}  // namespace app
