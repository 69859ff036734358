#include "explorer/icons.h"

#include <atomic>

#include "explorer/listwindow.h"
#include "platform/icons.h"
#include "platform/text.h"
#include "platform/window/list_view.h"

namespace explorer {
namespace {

std::atomic<std::uint32_t> privateListId{0};

platform::ImageList privateImageList(const Listing& listing) {
    platform::ImageList list{privateListId.load()};
    if (list) return list;
    list = platform::imageListCreate();
    privateListId.store(list.id);
    attachImageList(list, listing.view.largeIcons ? platform::ImageListKind::normal : platform::ImageListKind::small);
    return list;
}

// Copies system icon `icon` into the private list at `index` unless it is there already.
void placeIcon(platform::ImageList list, int index, int icon) {
    if (platform::imageListGetImageCount(list) < index + 1) platform::imageListSetImageCount(list, index + 1);
    const auto id = static_cast<platform::IconId>(icon);
    if (platform::imageListGetIcon(list, index) != id) platform::imageListReplace(list, index, id);
}

}  // namespace

std::u16string lookUpIcons(const Listing& listing, std::u16string_view path, bool isFolder, ExplorerItem& row) {
    const std::uint32_t iconSize = listing.view.largeIcons ? platform::shellLargeIcon : platform::shellSmallIcon;
    const platform::ImageList list = privateImageList(listing);
    const std::uint32_t attributes = isFolder ? infoFromObject : 0;
    platform::ShellFileInfo info;
    const std::uintptr_t found = listing.view.GetFileInfo(
        path, attributes, info,
        platform::shellSystemIconIndex | platform::shellIcon | platform::shellDisplayName | iconSize);
    row.iconIndex = 2 * info.iconIndex;
    placeIcon(list, row.iconIndex, info.iconIndex);
    std::u16string displayName(platform::boundedView(info.displayName, platform::maxPath));
    // An entry gone since it was listed still shows under its name.
    if (!found || displayName.empty()) displayName = path.substr(path.find_last_of(u"\\/") + 1);

    platform::ShellFileInfo selected;
    listing.view.GetFileInfo(path, attributes, selected,
                             platform::shellSystemIconIndex | platform::shellIcon | shellSelectedIcon | iconSize);
    row.selectedIconIndex = 2 * selected.iconIndex + 1;
    placeIcon(list, row.selectedIconIndex, selected.iconIndex);
    return displayName;
}

void dropImageList() {
    const platform::ImageList list{privateListId.exchange(0)};
    if (list) platform::imageListDestroy(list);
}

}  // namespace explorer
