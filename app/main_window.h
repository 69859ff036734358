// The main window: one full-screen window holding the filter control (a selector with a
// spinner on keypad phones, a drop-down list on touch screens) above the owner-data list
// of the current view, with the view's soft-key bar. It creates the views' controls,
// lays them out, answers the window messages it owns (long press of the left soft key,
// help, exit, activation) and hands everything else to the command routing.
#pragma once

#include <chrono>

#include "platform/window/window.h"

namespace app {

struct MainWindow {
    platform::Window handle;
    platform::Window softKeyBar;  // none when it could not be created
    platform::Window filterControl;
    platform::Window spinner;  // keypad phones only
    platform::Window listView;
    bool renaming = false;          // an in-place rename is open
    bool softKeyLongPress = false;  // the left soft key's release must not act
};
// UI thread only.
extern MainWindow mainWindow;

// The timer that tells a long press of the left soft key.
inline constexpr int longPressTimer = 112;
inline constexpr int longPressMs = 600;

// Creates the main window, its views and controls, fills the filter control and starts
// the first listing; then adds Help to the right soft key's menu. UI thread only.
platform::Window createMainWindow();

// The current view's soft-key bar, with Back, the left soft key and Down overridden.
void createViewBar();
// Replaces the bar by the one with this id; on failure the view's own bar comes back
// and the result is false.
bool switchBar(int barId, bool overrideBack, bool overrideSoftKeys);
// Focuses the list when it has rows, else the filter control.
void focusListOrFilter();

// Shutdown, before the window system goes: closes the main window if it is still open
// (which asks the queue's worker to stop), stops the listings (populations, the
// properties count), detaches the explorer from the windows, and answers the threads'
// window calls until the listings and the worker have ended or `limit` passes. True when
// none runs any more; otherwise one is blocked (in the file system, say): it touches no
// window when it wakes, but the program must then end without running static
// destructors, which that thread may still use. UI thread only.
bool finishListings(std::chrono::milliseconds limit);

}  // namespace app
