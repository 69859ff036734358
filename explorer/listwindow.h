// The windows the explorer drives: the main window (its title line), the owner-data
// list view that shows the rows, and the filter control above it. The main window
// attaches them once its controls exist; until then the calls below do nothing.
#pragma once

#include <string_view>

#include "platform/window/list_view.h"
#include "platform/window/window.h"

namespace explorer {

// Hooks the list view to the rows (display requests and state changes) and keeps the
// three windows for the population. UI thread only.
void attachExplorerWindows(platform::Window mainWindow, platform::Window listView, platform::Window filterControl);

// The list view's notifications that the rows answer: listGetDisplayInfo (text and
// icon of a row, from the row tables) and listStateChanged (redraws the rows). The main
// window passes every notify from the list view here; 0 when not handled. UI thread only.
platform::LResult handleListNotification(platform::LParam lParam);

// The calls a population makes; any thread (the window system carries them out on the
// UI thread in the order they are made).

// Sets the list's item count; with `redrawAll` the whole list is drawn again.
void setListItemCount(int count, bool redrawAll);
void attachImageList(platform::ImageList images, platform::ImageListKind kind);
// Selects and focuses one list index alone and scrolls it into view.
void selectListIndex(int index);
int listCountPerPage();
// The busy sign of the title line, while a population reads a folder.
void showBusy(bool busy);
void setMainTitle(std::u16string_view title);
// Replaces the text of a shown folder row, on the UI thread where the list reads it.
void setFolderRowText(int row, std::u16string_view text);
// Posts a command to the main window.
void postMainCommand(int command);
// Focus after a population: the list, unless it shows nothing to act on (then the
// filter control) or the focus is in the filter control already.
void focusAfterPopulation(bool listHasRows);

}  // namespace explorer
