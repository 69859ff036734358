#include "app/clipboard.h"

#include <memory>
#include <optional>
#include <string>

#include "app/main_window.h"
#include "app/server_command.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "explorer/rows.h"
#include "explorer/url.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window/list_view.h"
#include "platform/window/message_box.h"
#include "queue/operation_queue.h"
#include "remote/remote_files.h"
#include "remote/remote_view.h"

namespace app {
namespace {

using explorer::ViewProvider;

// The clipboard holds a path that was cut: the next Paste moves it.
bool cutFlag = false;

// A server path names a file of the place it was copied on: the path put on the
// clipboard and that place, so that it is never pasted from another server.
std::u16string copiedServerPath;
std::shared_ptr<const void> copiedOnPlace;
bool copiedFolder = false;  // the server path's row was a folder

void beep() { platform::messageBeep(platform::MessageBoxIcon::exclamation); }

void refuse(std::u16string_view text) {
    platform::messageBox(mainWindow.handle, text, u"Paste Error", platform::MessageBoxButtons::ok,
                         platform::MessageBoxIcon::exclamation);
}

void clearCutMarks() { platform::listViewSetItemState(mainWindow.listView, -1, 0, platform::itemCut); }

// Empties the clipboard once a cut path has been moved: there is nothing left to paste.
void forgetCut() {
    if (platform::openClipboard()) {
        platform::emptyClipboard();
        platform::closeClipboard();
    }
    cutFlag = false;
    clearCutMarks();
}

std::optional<std::u16string> clipboardText() {
    if (!platform::openClipboard()) return std::nullopt;
    std::u16string text;
    const bool read = platform::getClipboardText(text);
    platform::closeClipboard();
    if (!read) return std::nullopt;
    return text;
}

bool isControl(char16_t c) { return c < 0x20 || c == 0x7F; }

// The text as a box can show it: control characters become '?'.
std::u16string shown(std::u16string_view text) {
    std::u16string result(text.substr(0, 80));
    for (char16_t& c : result) {
        if (isControl(c)) c = u'?';
    }
    if (text.size() > result.size()) result += u"...";
    return result;
}

std::u16string_view nameOf(std::u16string_view path) {
    const std::size_t separator = path.find_last_of(u"\\/");
    return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

// Why the clipboard's text is no path that can be pasted; empty when it is one. The
// text is data: it may come from anywhere and name anything.
std::u16string refusalOf(std::u16string_view path) {
    for (char16_t c : path) {
        if (isControl(c)) return u"Farlink pastes no name with control characters: '" + shown(path) + u"'.";
    }
    if (path.size() >= platform::maxPath) {
        return u"The path is too long to paste: cut to fit, it would name another file: '" + shown(path) + u"'.";
    }
    if (path.empty() || !explorer::isSeparator(path.front())) {
        return u"The clipboard holds no path of the Device or the Remote view: '" + shown(path) + u"'.";
    }
    const std::u16string_view name = nameOf(path);
    if (name.empty() || name == u"." || name == u"..") {
        return u"The path names no file or folder to paste: '" + shown(path) + u"'.";
    }
    return {};
}

// A device path begins with '\', a server path with '/'.
bool isDevicePath(std::u16string_view path) { return path.front() == u'\\'; }

// The form the queue carries a location in: "file://" before a device path.
std::u16string queueForm(std::u16string_view path) {
    return isDevicePath(path) ? std::u16string(explorer::phoneScheme) + std::u16string(path) : std::u16string(path);
}

// After a paste that the current view carried out itself: the new row comes up selected.
void showPasted(const ViewProvider& here, std::u16string_view destination) {
    const auto listed = std::make_shared<bool>(false);
    if (!runOnView(here, u"Paste", u"Looking for '" + shown(destination) + u"'...",
                   [destination = std::u16string(destination), listed](const ViewProvider& view) {
                       platform::FileAttributeData data{};
                       *listed = view.GetAttributes(destination, 0, data) != 0;
                   }))
        return;
    if (!*listed) {
        beep();
        return;
    }
    explorer::rememberPath(destination);
    explorer::Refresh();
}

// Within one view the view moves or copies at once; between the device and the server
// the queue does it, a move deleting its source only once the copy is whole.
void paste(const std::u16string& source, const std::u16string& destination, bool folder) {
    ViewProvider& here = *explorer::currentProvider;
    const bool sameSide = isDevicePath(source) == (&here == &explorer::deviceProvider);
    if (sameSide && cutFlag) {
        const auto moved = std::make_shared<bool>(false);
        if (!runOnView(here, u"Paste", u"Moving '" + shown(source) + u"'...",
                       [source, destination, moved](const ViewProvider& view) {
                           *moved = view.Move(source, destination) != 0;
                       }))
            return;
        if (!*moved) {
            here.ShowError(u"Move File Error");
            return;
        }
        forgetCut();
        showPasted(here, destination);
        return;
    }
    if (sameSide && isDevicePath(source)) {
        const int copied = folder ? here.CopyFolder(source, destination, 1) : here.CopyFile(source, destination, 1);
        if (!copied) {
            here.ShowError(folder ? u"Copy Folder Error" : u"Copy File Error");
            return;
        }
        showPasted(here, destination);
        return;
    }
    if (sameSide && !isDevicePath(source)) {
        if (const std::string why = remote::selfCopyRefusal(source, destination, folder); !why.empty()) {
            refuse(platform::toUtf16(why));
            return;
        }
    }
    const std::u16string from = queueForm(source);
    const std::u16string to = queueForm(destination);
    const int queued = cutFlag  ? queue::queueMove(from, to, folder)
                       : folder ? queue::queueCopyFolder(from, to)
                                : queue::queueCopyFile(from, to);
    if (!queued) {
        refuse(u"The copy of '" + shown(source) + u"' could not be queued.");
        return;
    }
    if (cutFlag) forgetCut();
}

// A server path copied on another place: a file is copied from that server to this
// place's; anything else is refused, saying why.
void pasteFromAnotherPlace(const std::u16string& source, const std::u16string& destination) {
    const ViewProvider& here = *explorer::currentProvider;
    if (&here != &explorer::remoteProvider || cutFlag || copiedFolder) {
        refuse(u"'" + shown(source) +
               u"' was copied on another Ftp Place. Farlink copies a file from one place to another in the Remote "
               u"view; anything else it pastes only while that place is selected.");
        return;
    }
    if (!queue::queueCopyFileFrom(copiedOnPlace, source, destination)) {
        refuse(u"The copy of '" + shown(source) + u"' could not be queued.");
    }
}

}  // namespace

void putOnClipboard(std::u16string_view path, bool cut, int listIndex) {
    if (!platform::openClipboard()) {
        beep();
        return;
    }
    platform::emptyClipboard();
    const bool put = platform::setClipboardText(path);
    platform::closeClipboard();
    const bool fromServer = put && !path.empty() && path.front() == u'/';
    copiedServerPath = fromServer ? std::u16string(path) : std::u16string();
    copiedOnPlace = fromServer ? remote::currentPlaceToken() : nullptr;
    copiedFolder = fromServer && listIndex < explorer::folderRowCount();
    clearCutMarks();
    cutFlag = put && cut;
    if (cutFlag) platform::listViewSetItemState(mainWindow.listView, listIndex, platform::itemCut, platform::itemCut);
    if (!put) beep();
}

void pasteFromClipboard() {
    ViewProvider& here = *explorer::currentProvider;
    const std::optional<std::u16string> source = clipboardText();
    if (!source || (&here != &explorer::deviceProvider && &here != &explorer::remoteProvider)) {
        beep();
        return;
    }
    if (const std::u16string why = refusalOf(*source); !why.empty()) {
        refuse(why);
        return;
    }
    const std::u16string destination = here.GetCurrentFolder() + std::u16string(nameOf(*source));
    if (destination.size() >= platform::maxPath) {
        refuse(u"The pasted path would be too long here: cut to fit, it would name another file: '" +
               shown(destination) + u"'.");
        return;
    }
    if (!isDevicePath(*source) && *source == copiedServerPath && !remote::isCurrentPlaceToken(copiedOnPlace)) {
        pasteFromAnotherPlace(*source, destination);
        return;
    }
    const ViewProvider& sourceView = isDevicePath(*source) ? explorer::deviceProvider : explorer::remoteProvider;
    struct Found {
        bool listed = false;
        platform::FileAttributeData data{};
    };
    const auto found = std::make_shared<Found>();
    if (!runOnView(sourceView, u"Paste", u"Looking for '" + shown(*source) + u"'...",
                   [path = *source, found](const ViewProvider& view) {
                       found->listed = view.GetAttributes(path, 0, found->data) != 0;
                   }))
        return;
    if (!found->listed) {
        sourceView.ShowError(u"Paste Error");
        return;
    }
    const platform::FileAttributeData& data = found->data;
    const bool folder = (data.attributes & platform::attributeFolder) != 0;
    // A link moved between the device and the server would leave its target behind.
    const bool crossing = isDevicePath(*source) != (&here == &explorer::deviceProvider);
    if (cutFlag && crossing && (data.attributes & platform::attributeLink)) {
        refuse(u"'" + shown(*source) + u"' is a link: Farlink moves no links. Copy it, then delete the link.");
        return;
    }
    paste(*source, destination, folder);
}

void pasteShortcut() {
    ViewProvider& here = *explorer::currentProvider;
    const std::optional<std::u16string> target = clipboardText();
    if (!target || &here != &explorer::deviceProvider) {
        beep();
        return;
    }
    if (const std::u16string why = refusalOf(*target); !why.empty()) {
        refuse(why);
        return;
    }
    if (!isDevicePath(*target)) {
        refuse(u"'" + shown(*target) + u"' is on the server: a shortcut points at a file of the device.");
        return;
    }
    platform::ShellFileInfo info{};
    if (!here.GetFileInfo(*target, 0, info, platform::shellDisplayName)) {
        beep();
        return;
    }
    const std::u16string shortcut = here.GetCurrentFolder() + u"Shortcut to " +
                                    std::u16string(platform::boundedView(info.displayName, platform::maxPath)) +
                                    u".lnk";
    if (shortcut.size() >= platform::maxPath || !platform::createShortcut(shortcut, u"\"" + *target)) {
        beep();
        return;
    }
    platform::FileAttributeData data{};
    if (!here.GetAttributes(shortcut, 0, data)) return;
    // The rename opens on the shortcut's row once the listing has it, not on the row
    // focused now.
    explorer::RefreshThenRename(shortcut);
}

}  // namespace app
