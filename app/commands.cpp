#include "app/commands.h"

#include <memory>
#include <optional>
#include <string>

#include "app/clipboard.h"
#include "app/confirm.h"
#include "app/filter_control.h"
#include "app/main_window.h"
#include "app/put_from_device.h"
#include "app/rename.h"
#include "app/server_command.h"
#include "app/synchronize.h"
#include "app/type_ahead.h"
#include "app/view_edit.h"
#include "explorer/folder_walk.h"
#include "explorer/icons.h"
#include "explorer/listwindow.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "explorer/rows.h"
#include "explorer/url.h"
#include "local/properties.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "platform/window/menu.h"
#include "platform/window/message_box.h"
#include "queue/operation_queue.h"
#include "queue/queue_view.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "ui/desktop.h"

namespace app {
namespace {

using explorer::ViewProvider;
using platform::Key;
using platform::LParam;
using platform::MessageId;
using platform::Window;
using platform::WParam;
using namespace resources;

ViewProvider& view() { return *explorer::currentProvider; }

void postCommand(int command) { platform::postMessage(mainWindow.handle, MessageId::command, command); }
void refresh() { explorer::Refresh(); }

explorer::OwnerRecord ownerRecord(const char16_t* path = nullptr) { return {mainWindow.handle, path}; }

struct FocusedRow {
    std::u16string path;
    std::u16string displayName;
    bool isFolder = false;
    std::uint32_t attributes = 0;  // as the row's listing gave them
    std::uint64_t size = 0;
    // The parent row ("..", also ".. (No Files)") stands for the folder above, not an entry.
    bool isParent() const { return displayName == u".." || displayName.starts_with(u".. "); }
};

int focusedIndex() { return platform::listViewGetNextItem(mainWindow.listView, -1, platform::nextFocused); }

std::optional<FocusedRow> focusedRow() {
    const int index = focusedIndex();
    const explorer::ExplorerItem* row = index < 0 ? nullptr : explorer::rowByListIndex(index);
    if (!row) return std::nullopt;
    return FocusedRow{std::u16string(platform::boundedView(row->path, std::size(row->path))),
                      std::u16string(platform::boundedView(row->displayName, std::size(row->displayName))),
                      index < explorer::folderRowCount(), row->attributes, row->size};
}

// The view's context menu at the gesture's point, or at the bottom centre of the window
// when the command came without one.
void showPopupMenu(LParam lParam) {
    const platform::MenuResource* resource = resources::findMenu(static_cast<int>(view().popupMenuId));
    if (view().popupMenuId == 0 || !resource) return;
    platform::Point point;
    if (lParam != 0) {
        point = reinterpret_cast<const platform::ContextGesture*>(lParam)->point;
    } else {
        const platform::Rect screen = platform::getWindowRect(mainWindow.handle);
        point = {(screen.left + screen.right) / 2, screen.bottom};
    }
    const platform::Menu menu = platform::loadMenu(*resource);
    platform::trackPopupMenu(platform::getSubMenu(menu, 0), platform::alignCenter | platform::alignBottom, point,
                             mainWindow.handle);
    platform::destroyMenu(menu);
}

void goToFolder(std::u16string_view folder) {
    view().SetCurrentFolder(folder);
    refresh();
}

void goUp() {
    std::u16string folder = view().GetCurrentFolder();
    // The folder being left comes up selected in its parent's listing.
    std::u16string remembered = folder;
    if (!remembered.empty() && explorer::isSeparator(remembered.back())) remembered.pop_back();
    explorer::rememberPath(remembered);
    std::size_t separator = folder.find_last_of(u"\\/");
    if (separator != std::u16string::npos && folder.size() - separator == 1 && folder.size() > 1) {
        folder.pop_back();
        separator = folder.find_last_of(u"\\/");
    }
    if (separator != std::u16string::npos) folder.resize(separator + 1);
    view().SetCurrentFolder(folder);
    postCommand(commandRefresh);
}

// Runs `use` on a file row of the Device or the Remote view; false for any other row (a
// queue record names no file).
bool onFileOfView(const FocusedRow& row, void (*use)(const FileRow&)) {
    const bool onServer = &view() == &explorer::remoteProvider;
    if (row.isFolder || (!onServer && &view() != &explorer::deviceProvider)) return false;
    use({row.path, row.size, onServer});
    return true;
}

void editFocused() {
    const std::optional<FocusedRow> row = focusedRow();
    if (!row || !onFileOfView(*row, editFile)) platform::messageBeep(platform::MessageBoxIcon::exclamation);
}

void openFocused() {
    if (mainWindow.softKeyLongPress) {
        mainWindow.softKeyLongPress = false;
        return;
    }
    const std::optional<FocusedRow> row = focusedRow();
    if (!row) return;
    if (!row->isFolder) {
        if (!onFileOfView(*row, viewFile)) platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    if (row->isParent()) {
        postCommand(commandUpFolder);
        return;
    }
    goToFolder(row->path + u"\\");
}

// What a Delete found: written by the thread that ran it, read once it ended.
struct DeleteOutcome {
    bool deleted = false;
    bool askAboutTree = false;
};

void deleteFocused() {
    const std::optional<FocusedRow> row = focusedRow();
    if (!row || row->isParent()) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    if (!confirmDelete(view(), row->path, row->isFolder)) return;
    const auto outcome = std::make_shared<DeleteOutcome>();
    const bool ended = runOnView(view(), u"Delete", u"Deleting '" + row->path + u"'...",
                                 [entry = *row, outcome](const ViewProvider& view) {
                                     if (!entry.isFolder) {
                                         outcome->deleted = view.DeleteFile(entry.path) != 0;
                                     } else if (view.RemoveFolder(entry.path)) {
                                         outcome->deleted = true;
                                     } else if (!(entry.attributes & platform::attributeLink)) {
                                         // A link to a folder is removed as a file and never emptied. Any other
                                         // refusal asks about the whole tree: a server's refusal of a folder that
                                         // is not empty carries no code of its own.
                                         outcome->askAboutTree = true;
                                     } else {
                                         outcome->deleted = view.DeleteFile(entry.path) != 0;
                                     }
                                 });
    if (!ended) return;
    if (outcome->askAboutTree) postCommand(commandDeleteTree);
    else if (outcome->deleted) refresh();
    else view().ShowError(u"Delete Error");
}

void deleteFocusedTree() {
    const std::optional<FocusedRow> row = focusedRow();
    if (!row || !row->isFolder || row->isParent()) return;
    std::u16string question = u"The folder '" + row->path +
                              u"' is not empty, would you like to delete all files and folders?";
    if (question.size() > 1023) question.resize(1023);
    if (platform::messageBox(mainWindow.handle, question, u"Confirm Delete", platform::MessageBoxButtons::yesNo,
                             platform::MessageBoxIcon::question) != platform::MessageBoxResult::yes) {
        return;
    }
    const auto deleted = std::make_shared<bool>(false);
    const bool ended = runOnView(view(), u"Delete", u"Deleting '" + row->path + u"' and all it holds...",
                                 [path = row->path, attributes = row->attributes, deleted](const ViewProvider& view) {
                                     *deleted = explorer::deleteTree(view, path, attributes);
                                 });
    if (!ended) return;
    if (*deleted) refresh();
    else view().ShowError(u"Delete Error");
}

// What New Folder made: written by the thread that ran it, read once it ended.
struct NewFolderOutcome {
    std::u16string name;  // the last name tried
    bool created = false;
    std::uint32_t error = 0;  // the last error of a failure
};

bool newFolder() {
    const std::u16string folder = view().GetCurrentFolder();
    const auto outcome = std::make_shared<NewFolderOutcome>();
    const bool ended = runOnView(
        view(), u"New Folder", u"Making a new folder in " + folder + u"...",
        [folder, outcome](const ViewProvider& view) {
            std::u16string name = folder + u"New Folder";
            for (int n = 1; name.size() < platform::maxPath; ++n) {
                if (view.CreateFolder(name)) {
                    outcome->created = true;
                    break;
                }
                const std::uint32_t code = platform::lastError();
                if (n > 31 || (code != platform::errorAlreadyExists && code != platform::errorFileExists)) break;
                name = folder + u"New Folder (" + platform::toUtf16(std::to_string(n)) + u")";
            }
            if (!outcome->created && name.size() >= platform::maxPath)
                platform::setLastError(platform::errorFilenameTooLong);
            outcome->name = name;
            outcome->error = platform::lastError();
        });
    if (!ended) return false;
    if (!outcome->created) {
        platform::setLastError(outcome->error);
        view().ShowError(u"New Folder Error");
        return false;
    }
    // The new folder comes up selected once the listing has it, to be named at once.
    explorer::RefreshThenRename(outcome->name);
    return true;
}

void setListMode(bool large) {
    platform::listViewSetMode(mainWindow.listView,
                              large ? platform::ListViewMode::icon : platform::ListViewMode::report);
    view().largeIcons = large ? 1 : 0;
    explorer::dropImageList();
    refresh();
}

void newEntry() {
    const int count = platform::selectorGetCount(mainWindow.filterControl);
    if (!view().EditItem(count, ownerRecord())) return;
    view().filterIndex = static_cast<std::uint32_t>(count);
    view().SaveList();
    fillFilterControl();
}

void deleteCurrentEntry() {
    view().DeleteItem(static_cast<int>(view().filterIndex));
    // The entry after the last one is gone: the one before it becomes current.
    while (view().filterIndex > 0 && !view().GetItem(static_cast<int>(view().filterIndex))) --view().filterIndex;
    view().SaveList();
    fillFilterControl();
}

void editCurrentEntry() {
    if (!view().EditItem(static_cast<int>(view().filterIndex), ownerRecord())) return;
    view().SaveList();
    fillFilterControl();
}

void showFocusedProperties() {
    const std::optional<FocusedRow> row = focusedRow();
    if (!row) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    // A server's entry is found through a listing of its folder, off the UI thread.
    const auto data = std::make_shared<platform::FileAttributeData>();
    const bool ended = runOnView(view(), u"Properties", u"Looking for '" + row->path + u"'...",
                                 [path = row->path, data](const ViewProvider& view) {
                                     if (!view.GetAttributes(path, 0, *data)) *data = {};
                                 });
    if (ended) local::showProperties(ownerRecord(row->path.c_str()), data.get());
}

void switchToDevice() {
    if (mainWindow.softKeyLongPress) {
        mainWindow.softKeyLongPress = false;
        return;
    }
    switchBar(explorer::deviceProvider.menuBarId, true, true);
    explorer::currentProvider = &explorer::deviceProvider;
    fillFilterControl();
}

// The Remote view works on a place: without any the user is offered to add one.
void switchToRemote() {
    if (mainWindow.softKeyLongPress) {
        mainWindow.softKeyLongPress = false;
        return;
    }
    switchBar(explorer::remoteProvider.menuBarId, true, true);
    explorer::currentProvider = &explorer::remoteProvider;
    if (!view().GetItem(static_cast<int>(view().filterIndex))) view().filterIndex = 0;
    fillFilterControl();
    if (view().GetItem(0)) return;
    if (platform::messageBox(mainWindow.handle, u"No Ftp Places exist, would you like to add a new Ftp Place?",
                             u"Farlink", platform::MessageBoxButtons::yesNo,
                             platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes) {
        postCommand(commandNewEntry);
    }
}

void tellCopyRefused(std::u16string_view text) {
    platform::messageBox(mainWindow.handle, text, u"Farlink", platform::MessageBoxButtons::ok,
                         platform::MessageBoxIcon::exclamation);
}

// Copy To and Move To: the focused row goes on the queue, to the Remote view's folder
// from the Device view and to the Device view's folder from the Remote view.
void queueFocusedRow(bool move) {
    const std::optional<FocusedRow> row = focusedRow();
    const bool fromDevice = &view() == &explorer::deviceProvider;
    if (!row || row->isParent() || (!fromDevice && &view() != &explorer::remoteProvider)) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    if (move && (row->attributes & platform::attributeLink)) {
        tellCopyRefused(u"'" + row->path + u"' is a link: Farlink moves no links. Copy it, then delete the link.");
        return;
    }
    std::u16string canonical;
    std::u16string source;
    std::u16string destination;
    std::u16string destinationPath;  // the destination as the other view names it
    bool composed = explorer::canonicalize(row->path, canonical);
    if (composed) {
        // The name as it stands: split by the scheme rule, a name holding ':' would lose
        // its folder and name another file, and one ending in '.' would lose its dot.
        const std::u16string_view name = std::u16string_view(canonical).substr(canonical.find_last_of(u"\\/") + 1);
        if (fromDevice) {
            composed = explorer::compose(source, u"file", u"", canonical, u"") &&
                       explorer::compose(destination, u"", explorer::remoteProvider.GetCurrentFolder(), name, u"");
            destinationPath = destination;
        } else {
            source = canonical;
            composed = explorer::compose(destination, u"file", explorer::deviceProvider.GetCurrentFolder(), name,
                                         u"") &&
                       explorer::compose(destinationPath, u"", explorer::deviceProvider.GetCurrentFolder(), name, u"");
        }
    }
    // A path cut to fit would name another file.
    if (!composed) {
        tellCopyRefused(u"The path of '" + row->path + u"' on the other side would be too long to copy.");
        return;
    }
    const ViewProvider& destinationView = fromDevice ? explorer::remoteProvider : explorer::deviceProvider;
    if (!confirmReplace(view(), destinationView, destinationPath, move ? u"Move To" : u"Copy To")) return;
    const int queued = move            ? queue::queueMove(source, destination, row->isFolder)
                       : row->isFolder ? queue::queueCopyFolder(source, destination)
                                       : queue::queueCopyFile(source, destination);
    if (!queued) tellCopyRefused(u"The copy of '" + row->path + u"' could not be queued.");
}

// Retry: the focused record of the Queue view's Failed list goes back to Pending.
void retryFocusedRecord() {
    const int index = focusedIndex();
    const explorer::ExplorerItem* row = index < 0 ? nullptr : explorer::rowByListIndex(index);
    const bool onFailedList = &view() == &explorer::queueProvider && view().filterIndex == queue::listFailed - 1;
    if (!onFailedList || !row) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    const std::u16string_view path = platform::boundedView(row->path, std::size(row->path));
    const std::u16string_view name = path.substr(path.find_last_of(u"\\/") + 1);
    if (!queue::retryRow(name, platform::toUint64(row->lastWrite))) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    refresh();
}

void switchToQueue() {
    switchBar(explorer::queueProvider.menuBarId, true, true);
    explorer::currentProvider = &explorer::queueProvider;
    fillFilterControl();
}

bool handleCommand(WParam wParam, LParam lParam) {
    const int command = platform::commandId(wParam);
    switch (command) {
    case commandPopupMenu: showPopupMenu(lParam); return true;
    case commandDocumentsFolder: goToFolder(platform::documentsFolder()); return true;
    case commandDelete: deleteFocused(); return true;
    case commandRename: beginRename(); return true;
    case commandRenameDone: endRename(false); return true;
    case commandRenameDiscard: endRename(true); return true;
    case commandDeleteTree: deleteFocusedTree(); return true;
    case commandSortName:
        view().sortKey = explorer::sortName;
        refresh();
        return true;
    case commandSortType:
        view().sortKey = explorer::sortType;
        refresh();
        return true;
    case commandSortSize:
        view().sortKey = explorer::sortSize;
        refresh();
        return true;
    case commandSortDate:
        view().sortKey = explorer::sortDate;
        refresh();
        return true;
    case commandSortNone:
        view().sortKey = explorer::sortNone;
        refresh();
        return true;
    case commandAscending:
        view().ascending = 1;
        refresh();
        return true;
    case commandDescending:
        view().ascending = 0;
        refresh();
        return true;
    case commandLargeIcons: setListMode(true); return true;
    case commandSmallIcons: setListMode(false); return true;
    case commandRootFolder: goToFolder(u"\\"); return true;
    case commandUpFolder: goUp(); return true;
    case commandOpen: openFocused(); return true;
    case commandEditFile: editFocused(); return true;
    case commandItemActivated: {
        const std::optional<FocusedRow> row = focusedRow();
        // A file offers its commands in the popup menu, at the bottom centre.
        if (row && row->isFolder) postCommand(commandOpen);
        else if (row) postCommand(commandPopupMenu);
        return true;
    }
    case commandNewFolder: return newFolder();
    case commandRefresh: refresh(); return true;
    case commandSettings:
        if (view().OptionsDialog(ownerRecord())) refresh();
        return true;
    case commandNewEntry: newEntry(); return true;
    case commandDeleteCurrent: deleteCurrentEntry(); return true;
    case commandEditCurrent: editCurrentEntry(); return true;
    case commandProperties: showFocusedProperties(); return true;
    case commandDeviceView: switchToDevice(); return true;
    case commandRemoteView: switchToRemote(); return true;
    case commandQueueView: switchToQueue(); return true;
    case commandCopyTo: queueFocusedRow(false); return true;
    case commandMoveTo: queueFocusedRow(true); return true;
    case commandCut:
    case commandCopy: {
        const std::optional<FocusedRow> row = focusedRow();
        if (!row || row->isParent()) platform::messageBeep(platform::MessageBoxIcon::exclamation);
        else putOnClipboard(row->path, command == commandCut, focusedIndex());
        return true;
    }
    case commandPaste: pasteFromClipboard(); return true;
    case commandPutFromDevice: putFromDevice(); return true;
    case commandSynchronize: synchronize(); return true;
    case commandSendVia: {
        // Only a file of the device can be attached.
        const std::optional<FocusedRow> row = focusedRow();
        if (!row || row->isFolder || &view() != &explorer::deviceProvider) {
            platform::messageBeep(platform::MessageBoxIcon::exclamation);
        } else {
            ui::sendFileByMail(mainWindow.handle, row->path);
        }
        return true;
    }
    case commandPasteShortcut: pasteShortcut(); return true;
    case commandRetry: retryFocusedRecord(); return true;
    case commandClearQueue:
        queue::clearQueue();
        refresh();
        return true;
    case filterControlId:
        if (platform::commandCode(wParam) == platform::CommandCode::selectionChanged) {
            const int selection = platform::selectorGetSelection(mainWindow.filterControl);
            if (selection >= 0) {
                view().filterIndex = static_cast<std::uint32_t>(selection);
                refreshFilterLabel();
            }
        }
        return true;
    default: return false;
    }
}

// Back, when the bar hands it over on release: it erases type-ahead text first, then
// goes up folder by folder, and at the root leaves Farlink.
void onBackReleased() {
    if (mainWindow.renaming) {
        platform::sendBackToFocusWindow();
        return;
    }
    if (eraseTypeAhead()) return;
    if (view().GetCurrentFolder().size() <= 1) {
        platform::postMessage(mainWindow.handle, MessageId::close);
        return;
    }
    postCommand(commandUpFolder);
}

bool handleListNotification(LParam lParam) {
    const auto& header = platform::notification<platform::NotifyHeader>(lParam);
    switch (header.code) {
    case platform::NotifyCode::listItemActivate: postCommand(commandItemActivated); return true;
    case platform::NotifyCode::contextGesture:
        platform::postRecord(mainWindow.handle, MessageId::command, commandPopupMenu,
                             platform::notification<platform::ContextGesture>(lParam));
        return true;
    default: return explorer::handleListNotification(lParam) != 0;
    }
}

}  // namespace

bool routeMessage(Window, MessageId message, WParam wParam, LParam lParam) {
    switch (message) {
    case MessageId::notify:
        if (static_cast<int>(wParam) == listViewId) return handleListNotification(lParam);
        return false;
    case MessageId::command: return handleCommand(wParam, lParam);
    case MessageId::hotKey:
        if (static_cast<Key>(wParam) != Key::back) return false;
        if (lParam & platform::hotKeyRelease) onBackReleased();
        return true;
    case MessageId::keyUp:
        if (static_cast<Key>(wParam) != Key::back) return false;
        if (view().GetCurrentFolder().size() == 1) platform::sendBackToFocusWindow();
        postCommand(commandUpFolder);
        return true;
    default: return false;
    }
}

}  // namespace app
