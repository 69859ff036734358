#include "ui/file_dialog.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "explorer/url.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "platform/window/message_box.h"
#include "resources/commands.h"
#include "resources/file_dialog.h"
#include "resources/strings.h"
#include "ui/desktop.h"
#include "ui/dialog_runner.h"
#include "ui/soft_keys.h"

namespace ui {
namespace {

using platform::LParam;
using platform::LResult;
using platform::MessageId;
using platform::Window;
using platform::WParam;
using namespace resources;

struct Entry {
    std::u16string name;
    bool folder = false;
    bool parent = false;  // the ".." row, which stands for the folder above
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
};

struct FileType {
    int command;
    std::u16string_view description;
    std::u16string_view patterns;
};
constexpr FileType fileTypes[] = {
    {commandTypeAllFiles, u"All Files (*)", u"*"},
    {commandTypeEBook, u"Any e-Book", u"*.epub;*.mobi;*.azw;*.fb2;*.lit;*.prc;*.pdb;*.pdf;*.txt"},
    {commandTypePdf, u"PDF (*.PDF)", u"*.pdf"},
    {commandTypeText, u"Text (*.TXT)", u"*.txt"},
};

// Images of the picker's list: what a row is.
enum RowImage : int { imageParent, imageFolder, imageFile, imageCount };

struct Picker {
    OpenFileRequest& request;
    std::u16string folder{};  // the device folder shown, ending with '\'
    std::u16string description{};
    std::u16string patterns{};  // ';'-separated
    int sortKey = commandSortName;
    std::vector<Entry> entries{};
    Window dialog{};
    Window list{};
    Window nameEdit{};
    Window header{};
    platform::ImageList images{};
};

char16_t folded(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool lessFolded(std::u16string_view a, std::u16string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char16_t x, char16_t y) { return folded(x) < folded(y); });
}

bool equalFolded(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return folded(x) == folded(y); });
}

// "*" and "*.*" match every name, "*.ext" a name ending with ".ext", anything else that
// name alone; letters compare without case, as file types are written either way.
bool matchesPatterns(std::u16string_view patterns, std::u16string_view name) {
    std::size_t start = 0;
    while (start <= patterns.size()) {
        const std::size_t end = std::min(patterns.find(u';', start), patterns.size());
        const std::u16string_view pattern = patterns.substr(start, end - start);
        if (pattern == u"*" || pattern == u"*.*") return true;
        if (pattern.starts_with(u"*.")) {
            const std::u16string_view suffix = pattern.substr(1);
            if (name.size() > suffix.size() && equalFolded(name.substr(name.size() - suffix.size()), suffix)) {
                return true;
            }
        } else if (!pattern.empty() && equalFolded(pattern, name)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// The description and pattern list of the request's filter pair number `index` (from 1);
// the first pair when the index runs past the end.
std::pair<std::u16string, std::u16string> filterPair(std::u16string_view filter, int index) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start < filter.size()) {
        const std::size_t end = std::min(filter.find(u'\0', start), filter.size());
        if (end == start) break;  // the empty text that ends the list
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    const int pairs = static_cast<int>(parts.size() / 2);
    if (pairs == 0) return {std::u16string(fileTypes[0].description), u"*"};
    const int chosen = index >= 1 && index <= pairs ? index - 1 : 0;
    return {std::u16string(parts[2 * chosen]), std::u16string(parts[2 * chosen + 1])};
}

std::u16string_view extensionOf(std::u16string_view name) {
    const std::size_t dot = name.rfind(u'.');
    return dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
}

// Folders first (the parent row before them), each group in the chosen order.
void sortEntries(Picker& picker) {
    const int key = picker.sortKey;
    std::stable_sort(picker.entries.begin(), picker.entries.end(), [key](const Entry& a, const Entry& b) {
        if (a.parent != b.parent) return a.parent;
        if (a.folder != b.folder) return a.folder;
        if (key == commandSortDate && a.lastWrite != b.lastWrite) return a.lastWrite < b.lastWrite;
        if (key == commandSortSize && a.size != b.size) return a.size < b.size;
        if (key == commandSortType && !equalFolded(extensionOf(a.name), extensionOf(b.name))) {
            return lessFolded(extensionOf(a.name), extensionOf(b.name));
        }
        return lessFolded(a.name, b.name);
    });
}

int focusedIndex(const Picker& picker) { return platform::listViewGetNextItem(picker.list, -1, platform::nextFocused); }

const Entry* focusedEntry(const Picker& picker) {
    const int index = focusedIndex(picker);
    return index >= 0 && index < static_cast<int>(picker.entries.size()) ? &picker.entries[index] : nullptr;
}

// The left soft key names what it does to the focused row; the name line shows a file.
void followFocus(Picker& picker) {
    const Entry* entry = focusedEntry(picker);
    int text = stringSelect;
    if (entry && entry->parent) text = stringUpFolder;
    else if (entry && entry->folder) text = stringExpand;
    if (!setSoftKeyText(picker.dialog, platform::SoftKey::left, commandDone, text)) {
        platform::softKeyBarSetKey(platform::findSoftKeyBar(picker.dialog), platform::SoftKey::left, u"Select",
                                   commandDone);
    }
    if (entry && !entry->folder) platform::setWindowText(picker.nameEdit, entry->name);
}

void focusRow(Picker& picker, int index) {
    platform::listViewSetItemState(picker.list, -1, 0, platform::itemSelected | platform::itemFocused);
    if (index < 0 || index >= static_cast<int>(picker.entries.size())) return;
    const unsigned both = platform::itemSelected | platform::itemFocused;
    platform::listViewSetItemState(picker.list, index, both, both);
    platform::listViewEnsureVisible(picker.list, index);
}

void showRows(Picker& picker, std::u16string_view focusName) {
    sortEntries(picker);
    platform::listViewSetItemCount(picker.list, static_cast<int>(picker.entries.size()));
    const auto found = std::find_if(picker.entries.begin(), picker.entries.end(),
                                    [&](const Entry& entry) { return !entry.parent && entry.name == focusName; });
    focusRow(picker, found == picker.entries.end() ? 0 : static_cast<int>(found - picker.entries.begin()));
    platform::listViewRedrawItems(picker.list, 0, std::max(0, static_cast<int>(picker.entries.size()) - 1));
    platform::setWindowText(picker.header, picker.folder + u" [" + picker.description + u"]");
    followFocus(picker);
}

// Lists the picker's folder: its folders and the files that the type matches. A listing
// that breaks off is said to be incomplete rather than shown as if it were whole.
void listFolder(Picker& picker, std::u16string_view focusName = {}) {
    picker.entries.clear();
    if (picker.folder.size() > 1) picker.entries.push_back({u"..", true, true});
    platform::FindData data;
    const platform::FindHandle handle = platform::findFirstFile(picker.folder + u"*", data);
    bool whole = handle != platform::invalidFindHandle || platform::lastError() == platform::errorFileNotFound;
    if (handle != platform::invalidFindHandle) {
        do {
            Entry entry;
            entry.name = std::u16string(platform::boundedView(data.name, std::size(data.name)));
            entry.folder = (data.attributes & platform::attributeFolder) != 0;
            entry.size = (std::uint64_t{data.sizeHigh} << 32) | data.sizeLow;
            entry.lastWrite = (std::uint64_t{data.lastWriteTime.high} << 32) | data.lastWriteTime.low;
            if (entry.folder || matchesPatterns(picker.patterns, entry.name)) picker.entries.push_back(entry);
        } while (platform::findNextFile(handle, data));
        whole = platform::lastError() == platform::errorNoMoreFiles;
        platform::findClose(handle);
    }
    showRows(picker, focusName);
    if (!whole) {
        platform::messageBox(picker.dialog, u"The folder '" + picker.folder + u"' could not be read whole.", u"Select",
                             platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
    }
}

void goTo(Picker& picker, std::u16string_view folder) {
    picker.folder = explorer::withSeparator(folder);
    listFolder(picker);
}

void goUp(Picker& picker) {
    if (picker.folder.size() <= 1) return;
    const std::u16string left = picker.folder.substr(0, picker.folder.size() - 1);
    const std::size_t separator = left.find_last_of(u"\\/");
    picker.folder = separator == std::u16string::npos ? u"\\" : left.substr(0, separator + 1);
    listFolder(picker, left.substr(separator == std::u16string::npos ? 0 : separator + 1));
}

// The left soft key, and Enter on a row: up, into a folder, or the file chosen.
void actOnFocused(Picker& picker) {
    const Entry* entry = focusedEntry(picker);
    if (!entry) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    if (entry->parent) {
        goUp(picker);
    } else if (entry->folder) {
        goTo(picker, picker.folder + entry->name);
    } else {
        picker.request.file = picker.folder + entry->name;
        platform::endDialog(picker.dialog, 1);
    }
}

void showFocusedProperties(Picker& picker) {
    const Entry* entry = focusedEntry(picker);
    if (!entry || entry->parent) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    std::u16string text = picker.folder + entry->name;
    if (!entry->folder) text += u"\r" + platform::toUtf16(std::to_string(entry->size)) + u" bytes";
    platform::messageBox(picker.dialog, text, u"Properties", platform::MessageBoxButtons::ok,
                         platform::MessageBoxIcon::information);
}

void start(Picker& picker, Window dialog) {
    picker.dialog = dialog;
    picker.list = platform::getDialogItem(dialog, selectList);
    picker.nameEdit = platform::getDialogItem(dialog, selectNameEdit);
    picker.header = platform::getDialogItem(dialog, selectHeaderText);
    platform::layoutDialogControls(dialog, platform::Font::label);
    platform::enableWindow(picker.nameEdit, false);
    platform::Rect area = platform::getClientRect(dialog);
    area.top = selectListRow;
    platform::moveWindow(picker.list, area);
    picker.images = platform::imageListCreate(imageCount);
    platform::imageListReplace(picker.images, imageParent, platform::IconId::parentFolder);
    platform::imageListReplace(picker.images, imageFolder, platform::IconId::folder);
    platform::imageListReplace(picker.images, imageFile, platform::IconId::file);
    platform::listViewSetImageList(picker.list, picker.images, platform::ImageListKind::small);

    const std::u16string& from = picker.request.file.empty() ? picker.request.initialFolder : picker.request.file;
    const explorer::PathParts parts = explorer::split(from);
    platform::setWindowText(dialog, parts.scheme.empty() ? std::u16string(picker.request.title) : parts.scheme);
    platform::setWindowText(picker.nameEdit,
                            parts.extension.empty() ? parts.name : parts.name + u"." + parts.extension);
    std::u16string folder = parts.folder;
    // "file://\a\" leaves "//\a\" after the scheme: the device path begins at the '\'.
    if (!parts.scheme.empty()) folder.erase(0, std::min(folder.find(u'\\'), folder.size()));
    platform::FileAttributeData data{};
    const bool exists = !folder.empty() && platform::getFileAttributes(folder, data) &&
                        (data.attributes & platform::attributeFolder);
    picker.folder = explorer::withSeparator(exists ? folder : u"\\");
    listFolder(picker, parts.extension.empty() ? parts.name : parts.name + u"." + parts.extension);
    platform::setFocus(picker.list);
}

LResult handleNotify(Picker& picker, LParam lParam) {
    const auto& header = platform::notification<platform::NotifyHeader>(lParam);
    if (header.from != picker.list) return 0;
    switch (header.code) {
    case platform::NotifyCode::listGetDisplayInfo: {
        auto& info = platform::notification<platform::ListViewDisplayInfo>(lParam);
        if (info.item < 0 || info.item >= static_cast<int>(picker.entries.size())) return 1;
        const Entry& entry = picker.entries[info.item];
        if ((info.mask & platform::displayText) && info.text && info.textCapacity > 0) {
            const std::size_t count = std::min(entry.name.size(), static_cast<std::size_t>(info.textCapacity - 1));
            std::copy_n(entry.name.begin(), count, info.text);
            info.text[count] = 0;
        }
        if (info.mask & platform::displayImage) {
            info.image = entry.parent ? imageParent : entry.folder ? imageFolder : imageFile;
        }
        return 1;
    }
    case platform::NotifyCode::listStateChanged: followFocus(picker); return 1;
    case platform::NotifyCode::listItemActivate: actOnFocused(picker); return 1;
    default: return 0;
    }
}

LResult handleCommand(Picker& picker, int command) {
    for (const FileType& type : fileTypes) {
        if (type.command != command) continue;
        picker.description = type.description;
        picker.patterns = type.patterns;
        listFolder(picker);
        return 1;
    }
    switch (command) {
    case commandDone: actOnFocused(picker); return 1;
    case commandUpFolder: goUp(picker); return 1;
    case commandRootFolder: goTo(picker, u"\\"); return 1;
    case commandDocumentsFolder: goTo(picker, platform::documentsFolder()); return 1;
    case commandStorageCard: {
        const std::vector<std::u16string> cards = storageCards();
        if (cards.empty()) platform::messageBeep(platform::MessageBoxIcon::exclamation);
        else goTo(picker, cards.front());
        return 1;
    }
    case commandSortName:
    case commandSortDate:
    case commandSortSize:
    case commandSortType: {
        picker.sortKey = command;
        const Entry* entry = focusedEntry(picker);
        showRows(picker, entry ? entry->name : u"");
        return 1;
    }
    case commandProperties: showFocusedProperties(picker); return 1;
    case commandSendVia: {
        const Entry* entry = focusedEntry(picker);
        if (!entry || entry->folder) platform::messageBeep(platform::MessageBoxIcon::exclamation);
        else sendFileByMail(picker.dialog, picker.folder + entry->name);
        return 1;
    }
    case commandBeam:
        platform::messageBox(picker.dialog, u"This device has no infrared or Bluetooth beaming.", u"Beam",
                             platform::MessageBoxButtons::ok, platform::MessageBoxIcon::information);
        return 1;
    default: return 0;
    }
}

// Opened (created when missing) and closed again around each use of the picker; the
// phone's pickers remember their folders there.
void touchSharedKey() {
    platform::RegistryKey key = platform::noKey;
    if (platform::createKey(platform::currentUserKey, u"Software\\Tarvik\\Shared\\1.0", key)) platform::closeKey(key);
}

}  // namespace

std::vector<std::u16string> storageCards() {
    std::vector<std::u16string> cards;
    platform::FindData data;
    const platform::FindHandle handle = platform::findFirstFile(u"\\*", data);
    if (handle == platform::invalidFindHandle) return cards;
    do {
        const std::uint32_t card = platform::attributeFolder | platform::attributeTemporary;
        if ((data.attributes & card) == card && !(data.attributes & platform::attributeReadOnly)) {
            cards.push_back(u"\\" + std::u16string(platform::boundedView(data.name, std::size(data.name))));
        }
    } while (platform::findNextFile(handle, data));
    platform::findClose(handle);
    return cards;
}

int selectFile(OpenFileRequest& request) {
    auto [description, patterns] = filterPair(request.filter, request.filterIndex);
    Picker picker{.request = request, .description = std::move(description), .patterns = std::move(patterns)};
    const FullScreenDialog dialog{
        .keypadTemplate = &selectDialog, .keybarCaption = request.title, .bar = &selectDialogBar};
    const int result = runDialog(dialog, request.owner,
                                 [&picker](Window window, MessageId message, WParam wParam, LParam lParam) {
                                     switch (message) {
                                     case MessageId::initDialog: start(picker, window); return LResult{1};
                                     case MessageId::notify: return handleNotify(picker, lParam);
                                     case MessageId::command: return handleCommand(picker, platform::commandId(wParam));
                                     default: return LResult{0};
                                     }
                                 });
    if (picker.images) platform::imageListDestroy(picker.images);
    if (result != 1) return 0;
    touchSharedKey();
    return 1;
}

}  // namespace ui
