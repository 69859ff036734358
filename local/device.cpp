#include "local/device.h"

#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

#include "explorer/folder_walk.h"
#include "explorer/provider.h"
#include "explorer/url.h"
#include "local/explorer_options.h"
#include "local/filters.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window/message_box.h"

namespace local {
namespace {

using explorer::deviceProvider;

// The folder shared by every filter that does not keep its own.
char16_t globalCurrentFolder[platform::maxPath] = u"\\";

int move(std::u16string_view source, std::u16string_view destination) {
    return platform::moveFile(source, destination);
}
int deleteFile(std::u16string_view path) { return platform::deleteFile(path); }
int removeFolder(std::u16string_view path) { return platform::removeFolder(path); }
int copyFile(std::u16string_view source, std::u16string_view destination, int failIfExists) {
    return platform::copyFile(source, destination, failIfExists != 0);
}
int getAttributes(std::u16string_view path, int, platform::FileAttributeData& data) {
    return platform::getFileAttributes(path, data);
}
int createFolder(std::u16string_view path) { return platform::createFolder(path); }
platform::FindHandle findFirst(std::u16string_view pattern, platform::FindData& data) {
    return platform::findFirstFile(pattern, data);
}
int findNext(platform::FindHandle handle, platform::FindData& data) { return platform::findNextFile(handle, data); }
int findClose(platform::FindHandle handle) { return platform::findClose(handle); }

// Without the object mark the shell answers from the name and attributes alone, so a
// file's icon comes from its extension and the file is never opened.
std::uintptr_t getFileInfo(std::u16string_view path, std::uint32_t attributes, platform::ShellFileInfo& info,
                           std::uint32_t flags) {
    if ((attributes & explorer::infoFromObject) == 0) flags |= platform::shellUseFileAttributes;
    return platform::getFileInfo(path, attributes, info, flags);
}

// The buffer that holds the current folder: the selected filter's own when it is
// isolated, else the shared one. A selection past the last filter falls back to 0.
char16_t* currentFolderBuffer() {
    FilterRecord* filter = filterAt(static_cast<int>(deviceProvider.filterIndex));
    if (filter == nullptr) {
        deviceProvider.filterIndex = 0;
        filter = filterAt(0);
    }
    if (filter != nullptr && filter->isolatedFileSystem) return filter->folder;
    return globalCurrentFolder;
}

std::u16string getCurrentFolder() {
    return std::u16string(platform::boundedView(currentFolderBuffer(), platform::maxPath));
}

int setCurrentFolder(std::u16string_view path) {
    const std::u16string folder = explorer::withSeparator(path);
    if (folder.size() >= platform::maxPath) {
        platform::setLastError(platform::errorFilenameTooLong);
        return 0;
    }
    return platform::copyBounded(currentFolderBuffer(), platform::maxPath, folder);
}

std::optional<std::u16string> getItem(int index) {
    const FilterRecord* filter = filterAt(index);
    if (filter == nullptr) return std::nullopt;
    return std::u16string(platform::boundedView(filter->name, platform::maxPath));
}

std::optional<std::u16string> getItemPattern(int index) {
    const FilterRecord* filter = filterAt(index);
    if (filter == nullptr) return std::nullopt;
    return std::u16string(platform::boundedView(filter->pattern, std::size(filter->pattern)));
}

// Asks whether an existing file may be overwritten. Any thread: on a worker the UI
// thread shows the box while the worker waits.
bool askReplaceFile() {
    return platform::messageBox(platform::getForegroundWindow(),
                                u"The file already exists, would you like to overwrite?", u"Replace File?",
                                platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

// The walk of one recursive copy: the overwrite answer holds for the rest of the walk,
// and the first failure is kept for the caller.
struct TreeCopy {
    bool failIfExists;
    std::uint32_t firstError = platform::errorSuccess;
    explorer::VisitedFolders visited{};
};

void noteFailure(TreeCopy& walk, std::uint32_t code) {
    if (walk.firstError == platform::errorSuccess) walk.firstError = code;
}

void copyTreeFile(const std::u16string& source, const std::u16string& destination, TreeCopy& walk) {
    if (platform::copyFile(source, destination, walk.failIfExists)) return;
    const std::uint32_t code = platform::lastError();
    // The host reports an existing target as "file exists"; the phone said "access denied".
    const bool exists = code == platform::errorFileExists || code == platform::errorAccessDenied;
    if (!walk.failIfExists || !exists) {
        noteFailure(walk, code);
        return;
    }
    if (!askReplaceFile()) return;
    walk.failIfExists = false;
    if (!platform::copyFile(source, destination, false)) noteFailure(walk, platform::lastError());
}

// Copies the entries of folder `source` into folder `destination`, which is made once the
// source could be listed. A link to a file is copied as the file it points at, which is
// what the user sees in the folder; a link to a folder is left out, since its tree lies
// elsewhere or is this one (two links to "." would copy until the disk is full).
void copyTree(std::u16string_view source, std::u16string_view destination, TreeCopy& walk) {
    const std::u16string sourceFolder = explorer::withSeparator(source);
    const std::u16string destinationFolder = explorer::withSeparator(destination);
    bool made = false;
    const auto makeDestination = [&] {
        made = platform::createFolder(destination) || platform::lastError() == platform::errorAlreadyExists;
        if (!made) noteFailure(walk, platform::lastError());
        return made;
    };
    const explorer::ListingResult listing = explorer::listFolder(
        deviceProvider, sourceFolder + u"*", sourceFolder, [&](const explorer::FolderEntry& entry) {
            if (!made && !makeDestination()) return false;
            const std::u16string target = destinationFolder + std::u16string(entry.name);
            if (target.size() >= platform::maxPath) {
                noteFailure(walk, platform::errorFilenameTooLong);
            } else if (entry.isRealFolder()) {
                if (explorer::firstVisit(walk.visited, entry.data)) copyTree(entry.path, target, walk);
            } else if (!entry.isFolder()) {
                copyTreeFile(entry.path, target, walk);
            }
            return true;
        });
    if (listing.end == explorer::ListingEnd::failed) noteFailure(walk, platform::lastError());
    if (listing.leftOut > 0) noteFailure(walk, platform::errorFilenameTooLong);
    if (listing.end == explorer::ListingEnd::complete && !made) makeDestination();
}

// True when `destination` is `source` itself or lies inside it, also by way of a link:
// copying there would feed the copy back into the walk.
bool isInside(std::u16string_view destination, std::u16string_view source) {
    std::error_code ignored;
    const std::string outer = std::filesystem::weakly_canonical(platform::toHostPath(source), ignored).string();
    const std::string inner = std::filesystem::weakly_canonical(platform::toHostPath(destination), ignored).string();
    if (inner == outer) return true;
    return inner.starts_with(outer.ends_with('/') ? outer : outer + '/');
}

// Non-zero only when every entry was copied or the user declined to overwrite it;
// otherwise the last error holds the first failure.
int copyFolder(std::u16string_view source, std::u16string_view destination, int failIfExists) {
    if (isInside(destination, source)) {
        platform::setLastError(platform::errorInvalidParameter);
        return 0;
    }
    TreeCopy walk{.failIfExists = failIfExists != 0, .visited = {}};
    copyTree(source, destination, walk);
    if (walk.firstError != platform::errorSuccess) {
        platform::setLastError(walk.firstError);
        return 0;
    }
    return 1;
}

std::u16string lastErrorText() { return std::u16string(errorDescription(platform::lastError())); }

// Shows the calling thread's last error under the caption of the failed operation.
int showFileSystemError(std::u16string_view caption) {
    const std::u16string text = fileSystemErrorText(caption, platform::lastError());
    platform::messageBeep(platform::MessageBoxIcon::hand);
    return static_cast<int>(platform::messageBox(platform::getForegroundWindow(), text, u"File System Error",
                                                 platform::MessageBoxButtons::ok, platform::MessageBoxIcon::hand));
}

}  // namespace

std::u16string_view errorDescription(std::uint32_t code) {
    switch (code) {
    case platform::errorSuccess: return u"";
    case platform::errorFileNotFound: return u"File Not Found.";
    case platform::errorPathNotFound: return u"Path Not Found.";
    case platform::errorTooManyOpenFiles: return u"Too Many Open Files.";
    case platform::errorAccessDenied:
        return u"Access Denied. The file or folder may be opened in another application, read-only or hidden.";
    case platform::errorInvalidHandle: return u"Invalid Handle.";
    case platform::errorNotEnoughMemory:
    case platform::errorOutOfMemory: return u"Out of memory.";
    case platform::errorSharingViolation:
        return u"Sharing Violation. The file or folder may be in use by another application.";
    default: return u"No description available.";
    }
}

std::u16string fileSystemErrorText(std::u16string_view caption, std::uint32_t code) {
    std::u16string text = u"An error ocured with the file operation.\r\r";
    text.append(caption);
    text.append(u" (");
    text.append(platform::toUtf16(std::to_string(static_cast<std::int32_t>(code))));
    text.append(u")\rDescription:\r");
    text.append(errorDescription(code));
    char16_t box[1024];
    platform::copyBounded(box, std::size(box), text);
    return box;
}

std::u16string defaultFolder() {
    std::u16string folder = explorer::withSeparator(platform::documentsFolder());
    // Cut to a path buffer it would lose its separator and name another folder.
    if (folder.size() >= platform::maxPath) folder = u"\\";
    return folder;
}

void setUpDeviceView() {
    explorer::ViewProvider& view = deviceProvider;
    view.Move = move;
    view.DeleteFile = deleteFile;
    view.RemoveFolder = removeFolder;
    view.CopyFile = copyFile;
    view.CopyFolder = copyFolder;
    view.GetAttributes = getAttributes;
    view.CreateFolder = createFolder;
    view.FindFirst = findFirst;
    view.FindNext = findNext;
    view.FindClose = findClose;
    view.GetFileInfo = getFileInfo;
    view.GetCurrentFolder = getCurrentFolder;
    view.SetCurrentFolder = setCurrentFolder;
    view.LoadList = loadFilters;
    view.SaveList = saveFilters;
    view.EditItem = editFilter;
    view.DeleteItem = deleteFilter;
    view.GetItem = getItem;
    view.GetItemPattern = getItemPattern;
    view.ShowError = showFileSystemError;
    view.GetLastErrorText = lastErrorText;
    view.OptionsDialog = [](const explorer::OwnerRecord& owner) { return editDeviceOptions(deviceProvider, owner); };
    view.LoadOptions = [] { loadDeviceOptions(deviceProvider); };
    view.LoadOptions();
    view.LoadList();
    platform::copyBounded(globalCurrentFolder, platform::maxPath, defaultFolder());
}

}  // namespace local
