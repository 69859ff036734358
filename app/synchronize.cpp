#include "app/synchronize.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "explorer/url.h"
#include "mirroring/sync_plan.h"
#include "mirroring/sync_trees.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "platform/window/list_view.h"
#include "platform/window/message_box.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_listing.h"
#include "resources/commands.h"
#include "resources/strings.h"
#include "resources/synchronize_dialogs.h"
#include "ui/dialog_runner.h"
#include "ui/wait_screen.h"

namespace app {
namespace {

using mirroring::SyncActionKind;
using platform::LParam;
using platform::LResult;
using platform::MessageId;
using platform::Window;
using platform::WParam;
using namespace resources;

constexpr std::u16string_view caption = u"Synchronize";

constexpr std::array<std::u16string_view, 2> directions = {u"Device to Server", u"Server to Device"};
constexpr std::array<std::u16string_view, 2> kinds = {u"Copy new and changed files",
                                                      u"Mirror: also delete what the other side does not have"};
constexpr std::array<std::u16string_view, 2> comparisons = {u"Size and time", u"Size only"};

struct Choices {
    bool toServer = true;
    bool mirror = false;
    bool sizeOnly = false;
};

struct Folders {
    std::u16string device;  // a device path, ending with '\'
    std::u16string server;  // ending with '/'
};

void tell(Window owner, std::u16string_view text) {
    platform::messageBox(owner, text, caption, platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
}

std::u16string utf16(std::string_view text) { return platform::toUtf16(text); }

// A sentence from outside, for a box: printable, without its line end.
std::u16string sentence(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return utf16(platform::printableText(text));
}

// The choices dialog; false when cancelled.
bool chooseHow(const Folders& folders, Choices& choices) {
    struct List {
        int id;
        std::span<const std::u16string_view> texts;
        bool Choices::*field;
        bool inverted;  // the field is true for the first choice
    };
    const std::array<List, 3> lists = {{{syncDirectionList, directions, &Choices::toServer, true},
                                        {syncKindList, kinds, &Choices::mirror, false},
                                        {syncCompareList, comparisons, &Choices::sizeOnly, false}}};
    const ui::FullScreenDialog dialog{
        .keypadTemplate = &synchronizeDialog, .keybarCaption = caption, .helpTopic = stringSynchronizeHelpTopic};
    const int result = ui::runDialog(
        dialog, mainWindow.handle, [&](Window window, MessageId message, WParam wParam, LParam) -> LResult {
            switch (message) {
            case MessageId::initDialog:
                platform::layoutDialogControls(window, platform::Font::label);
                platform::setWindowText(platform::getDialogItem(window, syncDeviceFolderText), folders.device);
                platform::setWindowText(platform::getDialogItem(window, syncServerFolderText), folders.server);
                for (const List& list : lists) {
                    const Window control = platform::getDialogItem(window, list.id);
                    for (const std::u16string_view text : list.texts) platform::selectorAddString(control, text);
                    platform::selectorSetSelection(control, (choices.*list.field != list.inverted) ? 1 : 0);
                }
                platform::setFocus(platform::getDialogItem(window, syncDirectionList));
                return 1;
            case MessageId::command:
                if (platform::commandId(wParam) != commandDone) return 0;
                for (const List& list : lists) {
                    const int selection = platform::selectorGetSelection(platform::getDialogItem(window, list.id));
                    choices.*list.field = (selection == 1) != list.inverted;
                }
                platform::endDialog(window, commandDone);
                return 1;
            default: return 0;
            }
        });
    return result == commandDone;
}

// The two trees, read on a listing thread, and the plan made from them. The thread holds
// it until it ends, so that the screen waiting for it can be closed at any time.
struct Reading {
    Choices choices;
    std::string deviceTop;        // host path
    std::string serverTop;        // as the server is sent it
    explorer::ViewProvider view;  // the Remote view as it stood: the place it reads
    // Written by the thread before its waiting screen ends.
    std::string failure;  // why a top folder could not be read at all
    mirroring::SyncTree device;
    mirroring::SyncTree server;
    std::vector<mirroring::SyncAction> actions;

    const mirroring::SyncTree& source() const { return choices.toServer ? device : server; }
    const mirroring::SyncTree& target() const { return choices.toServer ? server : device; }
};

// Runs `step` on the session of this thread's place: on the listing thread the place's
// browsing session, held for this one step only, so that browsing waits for one folder or
// file at most; on a queue worker its own. False with the reason when the session could
// not be had or the step failed.
bool onPlaceSession(const std::function<bool(session::ServerSession&)>& step, std::string& reason) {
    if (platform::threadStopped()) {
        reason = "Stopped.";
        return false;
    }
    remote::SessionUse use = remote::useSession(remote::viewPlaceIndex());
    if (!use.place) {
        reason = "The Ftp Place is gone.";
        return false;
    }
    if (!remote::ensureConnected(use)) {
        reason = platform::toUtf8(remote::placeErrorTag(*use.place)) + " " + remote::placeErrorText(*use.place);
        return false;
    }
    session::ServerSession& session = **use.session;
    if (step(session)) return true;
    reason = session.failureText();
    return false;
}

bool listServerFolder(const std::string& folder, const std::string& listingPath, std::string& reason) {
    return onPlaceSession(
        [&](session::ServerSession& session) { return session.listExactToFile(folder, listingPath) != 0; }, reason);
}

// A new file for listings in the instance's cache folder; empty when none could be made.
std::string newListingFile() {
    const std::string cache = remote::listingCacheFolder();
    std::string listing = cache + "/sync-XXXXXX";
    const int file = cache.empty() ? -1 : mkostemp(listing.data(), O_CLOEXEC);
    if (file < 0) return {};
    close(file);
    return listing;
}

// The plan from the two trees, on the listing thread. Files whose listed time alone
// would copy them (a listing rounded to the minute, or in the server's zone) are first
// asked their exact time.
void makePlan(Reading& reading) {
    const mirroring::SyncOptions options{.mirror = reading.choices.mirror, .sizeOnly = reading.choices.sizeOnly};
    mirroring::confirmListedTimes(reading.server.entries, reading.device.entries, !reading.choices.toServer, options,
                                  [&](const std::string& path) {
                                      std::int64_t time = -1;
                                      std::string reason;
                                      onPlaceSession(
                                          [&](session::ServerSession& session) {
                                              time = session.modificationTime(reading.serverTop + path);
                                              return true;
                                          },
                                          reason);
                                      return time;
                                  });
    reading.actions = mirroring::planTrees(reading.source(), reading.target(), options);
}

void readTrees(Reading& reading) {
    std::error_code error;
    std::filesystem::directory_iterator deviceTop(reading.deviceTop, error);
    if (error) {
        reading.failure = "The device folder cannot be read: " + error.message();
        return;
    }
    reading.device = mirroring::readDeviceTree(reading.deviceTop);
    const std::string listing = newListingFile();
    if (listing.empty()) {
        reading.failure = "There is no file for the server's listings.";
        return;
    }
    bool top = true;
    reading.server = mirroring::readServerTree(
        [&](int, const std::string& folder, const std::string& listingPath, std::string& reason) {
            const bool listed = listServerFolder(folder, listingPath, reason);
            if (!listed && top) reading.failure = "The server folder cannot be read: " + reason;
            top = false;
            return listed;
        },
        reading.serverTop, listing);
    unlink(listing.c_str());
    if (reading.failure.empty()) makePlan(reading);
}

// Runs the reading while a screen waits for it; the reading when it ended, null when the
// user cancelled (the thread then stops on its own).
std::shared_ptr<Reading> readWhileWaiting(std::shared_ptr<Reading> reading, const Folders& folders) {
    const ui::WaitScreen screen{
        .caption = caption,
        .text = u"Reading " + folders.device + u" on the device and " + folders.server + u" on the server...",
        .helpTopic = stringSynchronizeHelpTopic};
    const bool ended = ui::runWhileWaiting(mainWindow.handle, screen, [reading] {
        explorer::setThreadView(&reading->view);
        readTrees(*reading);
        explorer::setThreadView(nullptr);
    });
    return ended ? reading : nullptr;
}

// One row of the preview: an action, or an entry that is skipped and never acted on.
struct Row {
    SyncActionKind kind;
    std::string path{};       // below the two folders, as the trees name it
    std::u16string text{};    // what the row says after its mark
    std::u16string source{};  // a copy's source, as the queue names it
    std::u16string target{};  // where the action takes place, as the queue names it
    bool chosen = false;
    mirroring::SyncEntry planned{};  // a removal's entry, or a copy's source, as the plan saw it
};

// The names of `path` as device text, each through nameFromHost, so that no name of
// the trees becomes a separator or a step up.
std::u16string joinedNames(std::string_view path, char16_t separator) {
    std::u16string joined;
    for (std::size_t start = 0;;) {
        const std::size_t end = path.find('/', start);
        joined += platform::nameFromHost(path.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return joined;
        joined += separator;
        start = end + 1;
    }
}

std::u16string_view verb(SyncActionKind kind) {
    switch (kind) {
    case SyncActionKind::copy: return u"Copy";
    case SyncActionKind::makeFolder: return u"New folder";
    case SyncActionKind::removeFile: return u"Delete";
    case SyncActionKind::removeFolder: return u"Delete folder";
    case SyncActionKind::skip: break;
    }
    return u"Skip";
}

std::vector<Row> previewRows(const Reading& reading, const Folders& folders) {
    std::vector<Row> rows;
    // What either tree held (a folder not read whole) or skipped (a link, a name the other
    // side cannot use) the plan leaves alone, with all below it: it is shown, with its
    // reason, and never acted on.
    for (const auto& [tree, side] :
         {std::pair{&reading.device, u" (device)"}, std::pair{&reading.server, u" (server)"}}) {
        for (const auto& [entries, verb] : {std::pair{&tree->held, u"Hold "}, std::pair{&tree->skipped, u"Skip "}}) {
            for (const mirroring::SkippedEntry& entry : *entries) {
                rows.push_back(
                    {.kind = SyncActionKind::skip,
                     .path = entry.path,
                     .text = verb + utf16(platform::printableText(entry.path)) + u": " + sentence(entry.why) + side});
            }
        }
    }
    std::map<std::string, const mirroring::SyncEntry*> targetEntries, sourceEntries;
    for (const mirroring::SyncEntry& entry : reading.target().entries) targetEntries[entry.path] = &entry;
    for (const mirroring::SyncEntry& entry : reading.source().entries) sourceEntries[entry.path] = &entry;
    const bool toServer = reading.choices.toServer;
    for (const mirroring::SyncAction& action : reading.actions) {
        Row row{.kind = action.kind,
                .path = action.path,
                .text = std::u16string(verb(action.kind)) + u" " + utf16(platform::printableText(action.path)) + u" (" +
                        utf16(action.reason) + u")"};
        const std::u16string device = std::u16string(explorer::phoneScheme) + folders.device +
                                      joinedNames(action.path, u'\\');
        const std::u16string server = folders.server + joinedNames(action.path, u'/');
        row.target = toServer ? server : device;
        if (action.kind == SyncActionKind::copy) row.source = toServer ? device : server;
        const auto& planned = action.kind == SyncActionKind::copy ? sourceEntries : targetEntries;
        if (const auto entry = planned.find(action.path); entry != planned.end()) row.planned = *entry->second;
        // A path cut to fit the queue's record would name another file.
        if (action.kind != SyncActionKind::skip &&
            std::max(row.source.size(), row.target.size()) >= queue::pathCapacity) {
            row.kind = SyncActionKind::skip;
            row.text = u"Skip " + utf16(platform::printableText(action.path)) + u" (path too long)";
        }
        row.chosen = row.kind != SyncActionKind::skip;
        rows.push_back(std::move(row));
    }
    // The actions in the plan's order, which the queue keeps; the skipped entries after them.
    std::stable_partition(rows.begin(), rows.end(), [](const Row& row) { return row.kind != SyncActionKind::skip; });
    return rows;
}

// Leaves a row out or takes it back, with what depends on it: a folder to be made or
// removed takes what is in it along; a row taken back brings back the new folders above
// it, and a row left out keeps the folders above it that were to be removed.
void setChosen(std::vector<Row>& rows, std::size_t index, bool chosen) {
    const Row& row = rows[index];
    const bool folder = row.kind == SyncActionKind::makeFolder || row.kind == SyncActionKind::removeFolder;
    const SyncActionKind above = chosen ? SyncActionKind::makeFolder : SyncActionKind::removeFolder;
    for (Row& other : rows) {
        if (other.kind == SyncActionKind::skip) continue;
        if ((folder && mirroring::isBelow(other.path, row.path)) ||
            (other.kind == above && mirroring::isBelow(row.path, other.path))) {
            other.chosen = chosen;
        }
    }
    rows[index].chosen = chosen;
}

struct Preview {
    std::vector<Row>& rows;
    bool toServer = true;
    Window dialog{};
    Window list{};
};

int focusedRow(const Preview& preview) {
    return platform::listViewGetNextItem(preview.list, -1, platform::nextFocused);
}

void showCounts(const Preview& preview) {
    const auto count = [&](bool chosenOnly) {
        return std::count_if(preview.rows.begin(), preview.rows.end(), [&](const Row& row) {
            return row.kind != SyncActionKind::skip && (row.chosen || !chosenOnly);
        });
    };
    platform::setWindowText(preview.dialog, u"Synchronize: " + utf16(std::to_string(count(true))) + u" of " +
                                                utf16(std::to_string(count(false))) + u" chosen");
}

void toggleFocused(Preview& preview) {
    const int index = focusedRow(preview);
    if (index < 0 || index >= int(preview.rows.size()) || preview.rows[index].kind == SyncActionKind::skip) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    setChosen(preview.rows, std::size_t(index), !preview.rows[index].chosen);
    platform::listViewRedrawItems(preview.list, 0, int(preview.rows.size()) - 1);
    showCounts(preview);
}

std::u16string counted(std::size_t count, std::u16string_view one, std::u16string_view many) {
    return utf16(std::to_string(count)) + u" " + std::u16string(count == 1 ? one : many);
}

// True when the chosen rows may go on the queue: there are some, and the user agreed to
// the removals among them.
bool mayStart(const Preview& preview) {
    std::size_t chosen = 0, files = 0, folders = 0;
    for (const Row& row : preview.rows) {
        if (!row.chosen) continue;
        ++chosen;
        files += row.kind == SyncActionKind::removeFile;
        folders += row.kind == SyncActionKind::removeFolder;
    }
    if (chosen == 0) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return false;
    }
    if (files + folders == 0) return true;
    std::u16string what = files ? counted(files, u"file", u"files") : u"";
    if (files && folders) what += u" and ";
    if (folders) what += counted(folders, u"folder", u"folders");
    return platform::messageBox(preview.dialog,
                                u"Delete " + what + (preview.toServer ? u" on the server?" : u" on the device?"),
                                u"Confirm Delete", platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

LResult previewNotify(Preview& preview, LParam lParam) {
    const auto& header = platform::notification<platform::NotifyHeader>(lParam);
    if (header.from != preview.list) return 0;
    switch (header.code) {
    case platform::NotifyCode::listGetDisplayInfo: {
        auto& info = platform::notification<platform::ListViewDisplayInfo>(lParam);
        if (info.item < 0 || info.item >= int(preview.rows.size())) return 1;
        const Row& row = preview.rows[info.item];
        if ((info.mask & platform::displayText) && info.text && info.textCapacity > 0) {
            const std::u16string text = std::u16string(row.kind == SyncActionKind::skip ? u" -  "
                                                       : row.chosen                     ? u"[x] "
                                                                                        : u"[ ] ") +
                                        row.text;
            platform::copyBounded(info.text, std::size_t(info.textCapacity), text);
        }
        info.image = -1;
        return 1;
    }
    case platform::NotifyCode::listFindItem: {
        // Space leaves the focused row out or takes it back; no row is looked for by name.
        if (platform::notification<platform::ListViewFindItem>(lParam).character == u' ') toggleFocused(preview);
        return -1;
    }
    default: return 0;
    }
}

// The preview; true when the user started the chosen rows.
bool previewAndChoose(std::vector<Row>& rows, const Folders& folders, bool toServer) {
    Preview preview{.rows = rows, .toServer = toServer};
    const ui::FullScreenDialog dialog{.keypadTemplate = &synchronizePreviewDialog,
                                      .keybarCaption = caption,
                                      .helpTopic = stringSynchronizeHelpTopic,
                                      .bar = &synchronizePreviewBar};
    const int result = ui::runDialog(
        dialog, mainWindow.handle, [&](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
            switch (message) {
            case MessageId::initDialog: {
                preview.dialog = window;
                preview.list = platform::getDialogItem(window, syncPreviewList);
                platform::layoutDialogControls(window, platform::Font::label);
                platform::Rect area = platform::getClientRect(window);
                area.top = syncPreviewListRow;
                platform::moveWindow(preview.list, area);
                platform::setWindowText(
                    platform::getDialogItem(window, syncPreviewHeader),
                    toServer ? folders.device + u" -> " + folders.server : folders.server + u" -> " + folders.device);
                platform::listViewSetItemCount(preview.list, int(rows.size()));
                const unsigned both = platform::itemSelected | platform::itemFocused;
                platform::listViewSetItemState(preview.list, 0, both, both);
                showCounts(preview);
                platform::setFocus(preview.list);
                return 1;
            }
            case MessageId::notify: return previewNotify(preview, lParam);
            case MessageId::command:
                if (platform::commandId(wParam) != commandDone) return 0;
                if (mayStart(preview)) platform::endDialog(window, commandDone);
                return 1;
            default: return 0;
            }
        });
    return result == commandDone;
}

int queueRow(std::uint64_t run, const Row& row) {
    switch (row.kind) {
    case SyncActionKind::copy: return queue::queueRunCopy(run, row.source, row.target, row.planned);
    case SyncActionKind::makeFolder: return queue::queueRunMakeFolder(run, row.target);
    case SyncActionKind::removeFile:
    case SyncActionKind::removeFolder: return queue::queueRunRemove(run, row.target, row.planned);
    case SyncActionKind::skip: break;
    }
    return 0;
}

// The chosen rows go on the queue as one run, in the plan's order. The first the queue
// refuses ends it: what would follow may need it.
void queueChosen(const std::vector<Row>& rows, std::u16string_view deviceTop) {
    const std::uint64_t run = queue::newRun(deviceTop);
    std::size_t queued = 0, chosen = 0;
    const Row* refused = nullptr;
    for (const Row& row : rows) {
        if (!row.chosen) continue;
        ++chosen;
        if (!refused && queueRow(run, row)) ++queued;
        else if (!refused) refused = &row;
    }
    if (refused) {
        tell(mainWindow.handle, u"Only " + utf16(std::to_string(queued)) + u" of " + utf16(std::to_string(chosen)) +
                                    u" actions went on the queue: it refused '" + refused->text + u"'.");
    }
    if (queued) platform::postMessage(mainWindow.handle, MessageId::command, commandQueueView);
}

}  // namespace

bool serverEntryNow(const std::string& path, mirroring::EntryNow& now, std::string& reason) {
    const std::string listing = newListingFile();
    if (listing.empty()) {
        reason = "There is no file for the server's listings.";
        return false;
    }
    const bool listed = mirroring::serverEntryNow(listServerFolder, path, listing, now, reason);
    unlink(listing.c_str());
    return listed;
}

void synchronize() {
    const std::optional<std::u16string> place = explorer::remoteProvider.GetItem(
        int(explorer::remoteProvider.filterIndex));
    if (explorer::currentProvider != &explorer::remoteProvider || !place) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    const Folders folders{explorer::withSeparator(explorer::deviceProvider.GetCurrentFolder()),
                          explorer::remoteProvider.GetCurrentFolder()};
    auto reading = std::make_shared<Reading>();
    reading->deviceTop = platform::toHostPath(folders.device);
    reading->serverTop = platform::toUtf8(folders.server);
    reading->view = explorer::remoteProvider;
    if (reading->deviceTop.empty() || !platform::hasByteForm(folders.server)) {
        tell(mainWindow.handle, u"The folder names have no form that can be read.");
        return;
    }
    if (!chooseHow(folders, reading->choices)) return;
    const bool toServer = reading->choices.toServer;
    reading = readWhileWaiting(std::move(reading), folders);
    if (!reading) return;
    if (!reading->failure.empty()) {
        tell(mainWindow.handle, sentence(reading->failure));
        return;
    }
    std::vector<Row> rows = previewRows(*reading, folders);
    if (rows.empty()) {
        platform::messageBox(mainWindow.handle, u"The two folders are alike: there is nothing to do.", caption,
                             platform::MessageBoxButtons::ok, platform::MessageBoxIcon::information);
        return;
    }
    if (previewAndChoose(rows, folders, toServer)) queueChosen(rows, folders.device);
}

}  // namespace app
