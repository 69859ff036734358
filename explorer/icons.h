// Row icons: each row shows a system icon (an IconId) through the explorer's private
// image list, where system icon i sits at 2i (normal) and 2i + 1 (selected). The list
// is made on first use and only grows; each icon is copied into it once.
#pragma once

#include <string>
#include <string_view>

#include "explorer/rows.h"

namespace explorer {

// Asks the listing's view for a row's icons and display name, fills the row's icon
// indexes and returns the display name. Folder rows are looked up on the object
// itself, file rows by name and attributes alone. Population thread.
std::u16string lookUpIcons(const Listing& listing, std::u16string_view path, bool isFolder, ExplorerItem& row);

// Forgets the private image list, so that the next row makes one for the view's icon
// size (after switching between large and small icons). UI thread only.
void dropImageList();

}  // namespace explorer
