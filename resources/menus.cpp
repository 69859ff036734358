#include "resources/menus.h"

#include <array>
#include <utility>

#include "resources/commands.h"

namespace resources {

using platform::MenuItem;
using platform::MenuResource;
using platform::SoftKeyBarResource;

namespace {

MenuItem item(std::u16string_view text, int command) { return {text, command, {}}; }
MenuItem subMenu(std::u16string_view text, std::vector<MenuItem> items) { return {text, 0, std::move(items)}; }
MenuItem separator() { return {u"", 0, {}}; }

MenuItem sortMenu() {
    return subMenu(u"Sort",
                   {item(u"Name", commandSortName), item(u"Type", commandSortType), item(u"Size", commandSortSize),
                    item(u"Date", commandSortDate), item(u"None", commandSortNone), separator(),
                    item(u"Ascending", commandAscending), item(u"Decending", commandDescending)});
}

MenuItem viewMenu() {
    return subMenu(u"View",
                   {item(u"Large Icons", commandLargeIcons), item(u"Small Icons", commandSmallIcons), sortMenu()});
}

}  // namespace

const MenuResource deviceMenu{
    commandDeviceView,
    u"Device Menu",
    {item(u"Open", commandOpen), item(u"Edit File", commandEditFile), item(u"Properties", commandProperties),
     separator(),
     subMenu(u"Edit", {item(u"Cut", commandCut), item(u"Copy", commandCopy), item(u"Paste", commandPaste),
                       item(u"Paste Shortcut", commandPasteShortcut), separator(), item(u"Rename", commandRename),
                       item(u"Delete", commandDelete), item(u"New Folder", commandNewFolder)}),
     subMenu(u"Go", {item(u"Up Folder", commandUpFolder), item(u"Root Folder", commandRootFolder),
                     item(u"My Documents", commandDocumentsFolder), item(u"Refresh", commandRefresh)}),
     viewMenu(),
     subMenu(u"Filter", {item(u"New Filter", commandNewEntry), item(u"Edit Current", commandEditCurrent),
                         item(u"Delete Current", commandDeleteCurrent)}),
     subMenu(u"Send", {item(u"Copy To Remote", commandCopyTo), item(u"Move To Remote", commandMoveTo),
                       item(u"Send via", commandSendVia)}),
     item(u"Queue", commandQueueView), item(u"Settings", commandSettings), separator(), item(u"Exit", commandDone)}};

const MenuResource remoteMenu{
    commandRemoteView,
    u"Remote Menu",
    {item(u"Open", commandOpen), item(u"Edit File", commandEditFile), item(u"Properties", commandProperties),
     separator(),
     subMenu(u"Edit",
             {item(u"Cut", commandCut), item(u"Copy", commandCopy), item(u"Paste", commandPaste), separator(),
              item(u"Rename", commandRename), item(u"Delete", commandDelete), item(u"New Folder", commandNewFolder)}),
     subMenu(u"Go", {item(u"Up Folder", commandUpFolder), item(u"Root Folder", commandRootFolder),
                     item(u"Refresh", commandRefresh)}),
     viewMenu(),
     subMenu(u"Ftp Places", {item(u"New Ftp Place", commandNewEntry), item(u"Edit Current", commandEditCurrent),
                             item(u"Delete Current", commandDeleteCurrent)}),
     subMenu(u"Send", {item(u"Copy To Device", commandCopyTo), item(u"Move To Device", commandMoveTo),
                       item(u"Put From Device", commandPutFromDevice), item(u"Synchronize...", commandSynchronize)}),
     item(u"Queue", commandQueueView), item(u"Settings", commandSettings), separator(), item(u"Exit", commandDone)}};

const MenuResource queueMenu{commandQueueView,
                             u"Queue Menu",
                             {item(u"Properties", commandProperties), item(u"Retry", commandRetry),
                              item(u"Clear", commandClearQueue), separator(), item(u"Device", commandDeviceView),
                              item(u"Remote", commandRemoteView), separator(), item(u"Exit", commandDone)}};

const MenuResource devicePopupMenu{
    129,
    u"Device Popup",
    {subMenu(u"Device",
             {item(u"Open", commandOpen), item(u"Properties", commandProperties), separator(), item(u"Cut", commandCut),
              item(u"Copy", commandCopy), item(u"Paste", commandPaste), item(u"Rename", commandRename),
              item(u"Delete", commandDelete), separator(), item(u"New Folder", commandNewFolder),
              item(u"Up Folder", commandUpFolder), item(u"Refresh", commandRefresh)})}};

const MenuResource renameMenu{102, u"Rename", {}};

const SoftKeyBarResource deviceBar{501, {commandRemoteView, u"Remote", nullptr}, {0, u"Menu", &deviceMenu}};
const SoftKeyBarResource remoteBar{502, {commandDeviceView, u"Device", nullptr}, {0, u"Menu", &remoteMenu}};
const SoftKeyBarResource queueBar{503, {commandRefresh, u"Refresh", nullptr}, {0, u"Menu", &queueMenu}};
const SoftKeyBarResource renameBar{
    131, {commandRenameDone, u"Rename", nullptr}, {commandRenameDiscard, u"Discard", nullptr}};
const SoftKeyBarResource doneCancelBar{100, {commandDone, u"Done", nullptr}, {commandCancel, u"Cancel", nullptr}};

const MenuResource placeDialogMenu{
    136, u"Ftp Connection", {item(u"Advanced", commandAdvanced), item(u"Cancel", commandCancel)}};
const SoftKeyBarResource placeDialogBar{136, {commandDone, u"Done", nullptr}, {0, u"Menu", &placeDialogMenu}};

const SoftKeyBarResource* findSoftKeyBar(int id) {
    for (const SoftKeyBarResource* bar : {&deviceBar, &remoteBar, &queueBar, &renameBar}) {
        if (bar->id == id) return bar;
    }
    return nullptr;
}

const MenuResource* findMenu(int id) {
    for (const MenuResource* menu : {&deviceMenu, &remoteMenu, &queueMenu, &devicePopupMenu, &renameMenu}) {
        if (menu->id == id) return menu;
    }
    return nullptr;
}

std::span<const platform::Accelerator> mainAccelerators() {
    using platform::Key;
    using platform::keyControl;
    using platform::keyFor;
    static const std::array<platform::Accelerator, 6> table = {{
        {keyFor('X'), keyControl, commandCut},
        {keyFor('C'), keyControl, commandCopy},
        {keyFor('V'), keyControl, commandPaste},
        {Key::del, 0, commandDelete},
        {keyFor('A'), keyControl, commandAbout},
        {Key::edit, 0, commandEditFile},
    }};
    return table;
}

}  // namespace resources
