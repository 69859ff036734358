#include "resources/menus.h"

#include <array>

#include "resources/commands.h"

namespace resources {

using platform::MenuItem;
using platform::MenuResource;
using platform::SoftKeyBarResource;

namespace {

const MenuItem separator{};

MenuItem sortMenu() {
    return {u"Sort", 0,
            {{u"Name", commandSortName},
             {u"Type", commandSortType},
             {u"Size", commandSortSize},
             {u"Date", commandSortDate},
             {u"None", commandSortNone},
             separator,
             {u"Ascending", commandAscending},
             {u"Decending", commandDescending}}};
}

}  // namespace

const MenuResource deviceMenu{
    commandDeviceView,
    u"Device Menu",
    {{u"Open", commandOpen},
     {u"Properties", commandProperties},
     separator,
     {u"Edit", 0,
      {{u"Cut", commandCut},
       {u"Copy", commandCopy},
       {u"Paste", commandPaste},
       {u"Paste Shortcut", commandPasteShortcut},
       separator,
       {u"Rename", commandRename},
       {u"Delete", commandDelete},
       {u"New Folder", commandNewFolder}}},
     {u"Go", 0,
      {{u"Up Folder", commandUpFolder},
       {u"Root Folder", commandRootFolder},
       {u"My Documents", commandDocumentsFolder},
       {u"Refresh", commandRefresh}}},
     {u"View", 0,
      {{u"Large Icons", commandLargeIcons}, {u"Small Icons", commandSmallIcons}, separator, sortMenu()}},
     {u"Filter", 0,
      {{u"New Filter", commandNewEntry},
       {u"Edit Current", commandEditCurrent},
       {u"Delete Current", commandDeleteCurrent}}},
     {u"Send", 0,
      {{u"Copy To Remote", commandCopyTo}, {u"Move To Remote", commandMoveTo}, {u"Send via", commandSendVia}}},
     {u"Queue", commandQueueView},
     {u"Settings", commandSettings},
     separator,
     {u"Exit", commandDone}}};

const MenuResource remoteMenu{
    commandRemoteView,
    u"Remote Menu",
    {{u"Open", commandOpen},
     {u"Properties", commandProperties},
     separator,
     {u"Edit", 0,
      {{u"Cut", commandCut},
       {u"Copy", commandCopy},
       {u"Paste", commandPaste},
       separator,
       {u"Rename", commandRename},
       {u"Delete", commandDelete},
       {u"New Folder", commandNewFolder}}},
     {u"Go", 0,
      {{u"Up Folder", commandUpFolder}, {u"Root Folder", commandRootFolder}, {u"Refresh", commandRefresh}}},
     {u"View", 0,
      {{u"Large Icons", commandLargeIcons}, {u"Small Icons", commandSmallIcons}, separator, sortMenu()}},
     {u"Ftp Places", 0,
      {{u"New Ftp Place", commandNewEntry},
       {u"Edit Current", commandEditCurrent},
       {u"Delete Current", commandDeleteCurrent}}},
     {u"Send", 0,
      {{u"Copy To Device", commandCopyTo},
       {u"Move To Device", commandMoveTo},
       {u"Put From Device", commandPutFromDevice}}},
     {u"Queue", commandQueueView},
     {u"Settings", commandSettings},
     separator,
     {u"Exit", commandDone}}};

const MenuResource queueMenu{
    commandQueueView,
    u"Queue Menu",
    {{u"Properties", commandProperties},
     {u"Clear", commandClearQueue},
     separator,
     {u"Device", commandDeviceView},
     {u"Remote", commandRemoteView},
     separator,
     {u"Exit", commandDone}}};

const MenuResource devicePopupMenu{
    129,
    u"Device Popup",
    {{u"Device", 0,
      {{u"Open", commandOpen},
       {u"Properties", commandProperties},
       separator,
       {u"Cut", commandCut},
       {u"Copy", commandCopy},
       {u"Paste", commandPaste},
       {u"Rename", commandRename},
       {u"Delete", commandDelete},
       separator,
       {u"New Folder", commandNewFolder},
       {u"Up Folder", commandUpFolder},
       {u"Refresh", commandRefresh}}}}};

const MenuResource renameMenu{102, u"Rename", {}};

const SoftKeyBarResource deviceBar{501, {commandRemoteView, u"Remote"}, {0, u"Menu", &deviceMenu}};
const SoftKeyBarResource remoteBar{502, {commandDeviceView, u"Device"}, {0, u"Menu", &remoteMenu}};
const SoftKeyBarResource queueBar{503, {commandRefresh, u"Refresh"}, {0, u"Menu", &queueMenu}};
const SoftKeyBarResource renameBar{131, {commandRenameDone, u"Rename"}, {commandRenameDiscard, u"Discard"}};
const SoftKeyBarResource doneCancelBar{100, {commandDone, u"Done"}, {commandCancel, u"Cancel"}};

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
    static const std::array<platform::Accelerator, 5> table = {{
        {keyFor('X'), keyControl, commandCut},
        {keyFor('C'), keyControl, commandCopy},
        {keyFor('V'), keyControl, commandPaste},
        {Key::del, 0, commandDelete},
        {keyFor('A'), keyControl, commandAbout},
    }};
    return table;
}

}  // namespace resources
