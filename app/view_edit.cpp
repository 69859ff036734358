#include "app/view_edit.h"

#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/recent_documents.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "local/device.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"
#include "resources/strings.h"
#include "session/private_copy.h"
#include "ui/desktop.h"
#include "ui/wait_screen.h"

namespace app {
namespace {

constexpr std::u16string_view openCaption = u"Open";
constexpr std::u16string_view editCaption = u"Edit File";
// A larger server file is downloaded only once the user said so.
constexpr std::uint64_t askAboveBytes = 20 * 1024 * 1024;

std::u16string number(std::int64_t value) { return platform::toUtf16(std::to_string(value)); }

void tell(std::u16string_view text, std::u16string_view caption,
          platform::MessageBoxIcon icon = platform::MessageBoxIcon::exclamation) {
    platform::messageBox(mainWindow.handle, text, caption, platform::MessageBoxButtons::ok, icon);
}

bool ask(std::u16string_view text, std::u16string_view caption) {
    return platform::messageBox(mainWindow.handle, text, caption, platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

std::u16string nameOf(std::u16string_view path) { return std::u16string(path.substr(path.find_last_of(u"\\/") + 1)); }

// The file's new size and time are listed, its row still focused.
void refreshKeeping(const std::u16string& path) {
    explorer::rememberPath(path);
    explorer::Refresh();
}

// Runs the user's pager or editor on the file with the terminal lent to it; its exit
// status, or -1 once a box said why it could not be started.
int runOnFile(std::vector<std::string> command, const std::string& hostPath, std::u16string_view caption) {
    const bool viewing = caption == openCaption;
    if (command.empty()) {
        tell(viewing ? u"There is no pager to view the file with: set PAGER, or install less."
                     : u"There is no editor to change the file with: set VISUAL or EDITOR, or install vi.",
             caption);
        return -1;
    }
    const std::string program = command.front();
    command.push_back(hostPath);
    int status = -1;
    platform::lendTerminal([&] { status = platform::runOnTerminal(command); });
    if (status < 0) {
        tell(u"'" + platform::toUtf16(program) + u"' could not be started: " +
                 std::u16string(local::errorDescription(platform::lastError())) +
                 (viewing ? u" Set PAGER to a pager that exists." : u" Set VISUAL or EDITOR to an editor that exists."),
             caption);
    }
    return status;
}

// A server file in its private copy, shared by the command and the thread that fetches
// or sends it: the copy goes with the last of them, unless the command keeps it.
struct ServerFile {
    std::u16string path;          // as the Remote view names it
    explorer::ViewProvider view;  // the Remote view as it stood: the place the thread uses
    session::PrivateCopy copy;
    bool done = false;   // the thread's step succeeded
    bool ended = false;  // the last thread ended rather than being cancelled (UI thread)
    session::SendBack sent = session::SendBack::failed;
    ~ServerFile() { session::removePrivateCopy(copy); }
};

// Runs `step` on the place's session behind the waiting screen; false when the user
// cancelled, or when the step failed (the "Ftp Error" box then said why).
bool onServerWhileWaiting(const std::shared_ptr<ServerFile>& file, std::u16string_view caption,
                          std::u16string_view doing, const remote::ServerFileStep& step) {
    const ui::WaitScreen screen{.caption = caption,
                                .text = std::u16string(doing) + u" " + nameOf(file->path) + u"...",
                                .helpTopic = resources::stringViewEditHelpTopic};
    file->ended = ui::runWhileWaiting(mainWindow.handle, screen, [file, step, caption] {
        explorer::setThreadView(&file->view);
        file->done = remote::onServerFile(file->path, caption == openCaption ? u"(KVT-CF-2)" : u"(KVT-CF-1)", step);
        explorer::setThreadView(nullptr);
    });
    if (file->ended && !file->done) explorer::remoteProvider.ShowError(caption);
    return file->ended && file->done;
}

// Downloads the server file into its private copy, after asking about a large one.
std::shared_ptr<ServerFile> fetch(const FileRow& row, std::u16string_view caption, bool keepOriginal) {
    if (row.size > askAboveBytes) {
        const std::u16string question = u"Download " + number(std::int64_t((row.size + (1 << 19)) >> 20)) +
                                        (keepOriginal ? u" MB to edit it?" : u" MB to view it?");
        if (!ask(question, caption)) return nullptr;
    }
    auto file = std::make_shared<ServerFile>();
    file->path = row.path;
    file->view = explorer::remoteProvider;
    const bool fetched = onServerWhileWaiting(
        file, caption, u"Downloading", [file, keepOriginal](session::ServerSession& session, const std::string& path) {
            const std::string cache = remote::listingCacheFolder();
            if (cache.empty()) return std::string("There is no cache folder for the copy.\n");
            std::string reason;
            session::fetchPrivateCopy(session, path, cache, keepOriginal, file->copy, reason);
            return reason;
        });
    return fetched ? file : nullptr;
}

void viewHostFile(const std::string& hostPath, std::u16string_view devicePath) {
    const platform::FileContent content = platform::fileContent(hostPath);
    if (content == platform::FileContent::unreadable) {
        explorer::deviceProvider.ShowError(openCaption);
        return;
    }
    if (content == platform::FileContent::text || !ui::graphicalSession()) {
        if (content == platform::FileContent::notAFile) {
            tell(u"'" + std::u16string(devicePath) + u"' is a device, a socket or a pipe: there is no file to view.",
                 openCaption);
            return;
        }
        runOnFile(platform::pagerCommand(), hostPath, openCaption);
        return;
    }
    if (!ui::openOnDesktop(hostPath)) {
        tell(
            u"There is no program to open this file with: Farlink opens files with the desktop's opener (xdg-open) "
            u"in a graphical session.",
            openCaption);
    }
}

// Keeps the user's version of an edited server file in the documents folder, and says
// where; when it cannot, the private copy stays where it is, and the box says so.
void keepUserVersion(ServerFile& file) {
    const std::u16string documents = platform::documentsFolder();
    std::string reason;
    const std::string kept = session::keepUserVersion(file.copy, platform::toHostPath(documents), reason);
    if (kept.empty()) {
        const std::string stays = file.copy.path;
        file.copy.folder.clear();  // never removed now
        tell(platform::toUtf16(platform::printableText(reason)) + u"It stays in " + platform::toUtf16(stays) + u".",
             editCaption);
        return;
    }
    tell(u"Your version of '" + nameOf(file.path) + u"' is kept in " + platform::toDevicePath(kept) + u".", editCaption,
         platform::MessageBoxIcon::information);
}

// Sends the edited copy back until it went, or the user's version is kept.
void sendBack(const std::shared_ptr<ServerFile>& file) {
    const std::u16string name = nameOf(file->path);
    bool evenIfChanged = false;
    for (;;) {
        const bool ran = onServerWhileWaiting(
            file, editCaption, u"Sending", [file, evenIfChanged](session::ServerSession& session, const std::string&) {
                std::string reason;
                file->sent = session::sendBack(session, file->copy, evenIfChanged, reason);
                return file->sent == session::SendBack::failed ? reason : std::string();
            });
        if (ran && file->sent == session::SendBack::sent) {
            refreshKeeping(file->path);
            return;
        }
        if (ran) {  // the server's file changed meanwhile
            if (!ask(u"'" + name + u"' changed on the server while you edited it. Replace it with your version?",
                     editCaption)) {
                break;
            }
            evenIfChanged = true;
            continue;
        }
        // A send cancelled may still be under way: no second one goes beside it.
        if (!file->ended || !ask(u"Your version of '" + name + u"' was not sent. Try again?", editCaption)) break;
    }
    keepUserVersion(*file);
}

void editServerFile(const FileRow& row) {
    const std::shared_ptr<ServerFile> file = fetch(row, editCaption, true);
    if (!file) return;
    const int status = runOnFile(platform::editorCommand(), file->copy.path, editCaption);
    if (status < 0) return;
    if (!session::copyChanged(file->copy)) {
        if (status != 0)
            tell(u"The editor ended with status " + number(status) + u". The file is unchanged: nothing was sent.",
                 editCaption);
        return;
    }
    if (status != 0 && !ask(u"The editor ended with status " + number(status) + u". Send your version of '" +
                                nameOf(row.path) + u"' to the server anyway?",
                            editCaption)) {
        keepUserVersion(*file);
        return;
    }
    sendBack(file);
}

}  // namespace

void viewFile(const FileRow& row) {
    if (!row.onServer) {
        addRecentDocument(row.path);
        viewHostFile(platform::toHostPath(row.path), row.path);
        return;
    }
    const std::shared_ptr<ServerFile> file = fetch(row, openCaption, false);
    if (!file) return;
    const platform::FileContent content = platform::fileContent(file->copy.path);
    // The desktop's opener ends before the program it starts: the copy stays until
    // Farlink ends, with the cache folder.
    if (content != platform::FileContent::text && ui::graphicalSession()) file->copy.folder.clear();
    viewHostFile(file->copy.path, row.path);
}

void editFile(const FileRow& row) {
    if (row.onServer) {
        editServerFile(row);
        return;
    }
    const std::string hostPath = platform::toHostPath(row.path);
    if (platform::fileContent(hostPath) == platform::FileContent::notAFile) {
        tell(u"'" + row.path + u"' is a device, a socket or a pipe: there is no file to edit.", editCaption);
        return;
    }
    const int status = runOnFile(platform::editorCommand(), hostPath, editCaption);
    if (status > 0) tell(u"The editor ended with status " + number(status) + u".", editCaption);
    refreshKeeping(row.path);
}

}  // namespace app
