#include "explorer/population.h"

#include <atomic>
#include <condition_variable>
#include <cwctype>
#include <mutex>

#include "explorer/folder_walk.h"
#include "explorer/listwindow.h"
#include "explorer/type_ahead.h"
#include "explorer/url.h"
#include "platform/errors.h"
#include "platform/stop_flag.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "resources/commands.h"

namespace explorer {
namespace {

constexpr std::u16string_view noFilesText = u".. (No Files)";
constexpr std::u16string_view noFilesErrorText = u".. (No Files Error)";
constexpr std::u16string_view titleSuffix = u" - Farlink";
// The list's count is raised with every row while the first page fills, then every
// this many rows, so a long folder shows its first screen at once without a redraw
// per row.
constexpr int countStep = 25;

// One request for a listing, taken on the UI thread by Refresh.
struct Request {
    Listing listing;
    std::u16string folder;          // with its ".." steps resolved
    std::u16string searchPattern;   // the folder as the view gave it, followed by "*"
    bool renameRemembered = false;  // the remembered row is renamed once listed
};

std::u16string typeAhead;  // UI thread only

// Each Refresh counts a request; a population takes the latest one when it takes the
// population lock. A refresh whose request the running population took already does not
// cut it short: the folder would be listed twice.
std::mutex requestLock;
Request latestRequest;           // guarded by requestLock
std::uint64_t latestNumber = 0;  // guarded by requestLock
std::uint64_t takenNumber = 0;   // the request the lock's holder took last; guarded by requestLock

// Set by stopPopulations, cleared by Refresh: a stopped population touches no window.
std::atomic<bool> stopRequested{false};

// Never destroyed: a listing that outlived the bounded wait at shutdown still ends
// through them while the process exits.
std::mutex& runningLock = *new std::mutex;
std::condition_variable& runningChanged = *new std::condition_variable;
int runningPopulations = 0;  // guarded by runningLock

platform::SyncHandle populationLock() {
    static const platform::SyncHandle lock = platform::createMutex(u"VelvaneFileWorker", false);
    return lock;
}

char16_t upperCase(char16_t c) {
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    return static_cast<char16_t>(std::towupper(static_cast<wint_t>(c)));
}

// What one population has shown so far, and which of its rows has the selection.
struct Progress {
    bool parentRow = false;
    bool rememberedFound = false;
    int selectedFileRow = -1;  // file-table index of the remembered row, if it is a file
    int countPerPage = 0;
    std::u16string errorText;  // the view's words for a failed enumeration
};

void selectNewRow(int listIndex, Selection selection, Progress& progress) {
    if (selection == Selection::none) return;
    if (selection == Selection::rememberedRow) progress.rememberedFound = true;
    selectListIndex(listIndex);
}

void showFolderRow(const Listing& listing, std::u16string_view path, std::uint64_t size, platform::FileTime time,
                   std::uint32_t attributes, Progress& progress) {
    Selection selection;
    const int index = addFolderRow(listing, path, size, time, attributes, selection);
    if (index < 0) return;
    selectNewRow(index, selection, progress);
    const int folders = folderRowCount();
    if (folders < progress.countPerPage + 1) setListItemCount(folders + fileRowCount(), true);
}

void showFileRow(const Listing& listing, std::u16string_view path, std::uint64_t size, platform::FileTime time,
                 std::uint32_t attributes, Progress& progress) {
    Selection selection;
    const int index = addFileRow(listing, path, size, time, attributes, selection);
    if (index < 0) return;
    if (selection == Selection::rememberedRow) progress.selectedFileRow = fileRowCount() - 1;
    selectNewRow(index, selection, progress);
    const int total = folderRowCount() + fileRowCount();
    if (total < progress.countPerPage + 1) {
        setListItemCount(total, true);
    } else if (total % countStep == 0) {
        setListItemCount(total, false);
    }
}

// Writes a text into folder row 0, adding that row first when the listing has none:
// the parent row away from the top, otherwise a row that names the folder's "..".
void showTextRow(const Listing& listing, const std::u16string& folder, std::u16string_view text, Progress& progress) {
    if (folderRowCount() == 0) {
        showFolderRow(listing, folder + u"..", 0, {}, 0, progress);
        progress.parentRow = true;
    }
    setFolderRowText(0, text);
}

enum class Outcome { listed, failed, aborted };

void showParentRow(const Request& request, Progress& progress) {
    const std::u16string& folder = request.folder;
    if (folder.size() <= 1 || !request.listing.view.showParent) return;
    showFolderRow(request.listing, folder.substr(0, platform::maxPath - 3) + u"..", 0, {}, 0, progress);
    progress.parentRow = true;
}

Outcome populateFolder(const Request& request, Progress& progress) {
    const Listing& listing = request.listing;
    const ViewProvider& view = listing.view;
    showParentRow(request, progress);
    // Entries whose path a row would cut are left out: it would name another entry. A
    // folder that is no path ("Queue") still gets a separator, so that rows show names.
    const std::u16string rowFolder = withSeparator(request.folder);
    const ListingResult result = listFolder(view, request.searchPattern, rowFolder, [&](const FolderEntry& entry) {
        if (abortPopulation.load()) return false;
        if (!nameMatchesTypeAhead(listing.typeAhead, entry.name)) return true;
        if (!entry.isFolder() && (!nameMatchesFilter(listing.patternList, entry.name) ||
                                  !shownByAttributeMask(view.showFiles, entry.data.attributes))) {
            return true;
        }
        const std::uint64_t size = (std::uint64_t(entry.data.sizeHigh) << 32) | entry.data.sizeLow;
        if (entry.isFolder()) {
            showFolderRow(listing, entry.path, size, entry.data.lastWriteTime, entry.data.attributes, progress);
        } else {
            showFileRow(listing, entry.path, size, entry.data.lastWriteTime, entry.data.attributes, progress);
        }
        return true;
    });
    if (abortPopulation.load()) return Outcome::aborted;
    if (result.end == ListingEnd::failed) {
        progress.errorText = view.GetLastErrorText();
        // The text shows in one row: a server reply's line end is no part of its words.
        while (!progress.errorText.empty() &&
               (progress.errorText.back() == u'\n' || progress.errorText.back() == u'\r')) {
            progress.errorText.pop_back();
        }
        // A listing cut off in the middle must not pass for the folder: its rows go, and
        // the folder shows as one that cannot be listed.
        if (folderRowCount() + fileRowCount() > (progress.parentRow ? 1 : 0)) {
            setListItemCount(0, true);
            clearRows();
            progress = Progress{.countPerPage = progress.countPerPage, .errorText = progress.errorText};
            showParentRow(request, progress);
        }
        return Outcome::failed;
    }
    return result.end == ListingEnd::stopped ? Outcome::aborted : Outcome::listed;
}

int shownFolders(const Progress& progress) { return folderRowCount() - (progress.parentRow ? 1 : 0); }

void startPopulation();

void populationBody() {
    if (platform::waitFor(populationLock(), 0) != platform::WaitResult::signaled) {
        // A holder that serves an older request sees the flag, stops, and starts again
        // with the latest one.
        std::lock_guard lock(requestLock);
        if (takenNumber != latestNumber) abortPopulation.store(true);
        return;
    }
    if (stopRequested.load()) {
        platform::releaseMutex(populationLock());
        return;
    }
    Request request;
    {
        std::lock_guard lock(requestLock);
        abortPopulation.store(false);
        request = latestRequest;
        takenNumber = latestNumber;
    }
    const Listing& listing = request.listing;
    // The view's operations read this copy's settings, not the UI thread's record.
    // Its network waits end at shutdown.
    struct ThreadViewScope {
        explicit ThreadViewScope(const ViewProvider& copy) {
            setThreadView(&copy);
            platform::setThreadStopFlag(&stopRequested);
        }
        ~ThreadViewScope() {
            setThreadView(nullptr);
            platform::setThreadStopFlag(nullptr);
        }
    } threadViewScope(listing.view);
    clearRows();
    setListItemCount(0, true);
    setMainTitle(composeTitle(listing, request.folder, 0, 0));

    Progress progress;
    progress.countPerPage = listCountPerPage();
    showBusy(true);
    const Outcome outcome = populateFolder(request, progress);
    if (stopRequested.load()) {
        // Shutdown: the windows may be going; a stopped population touches none of them.
        platform::releaseMutex(populationLock());
        return;
    }
    showBusy(false);
    // Only a text row at the top of the view leaves nothing to act on in the list.
    const bool listHasRows = folderRowCount() + fileRowCount() > 0 || request.folder.size() > 1;
    if (outcome == Outcome::failed) {
        const bool atTop = request.folder.size() <= 1;
        const std::u16string_view text = atTop && !progress.errorText.empty() ? progress.errorText : noFilesErrorText;
        showTextRow(listing, request.folder, text, progress);
    } else if (outcome == Outcome::listed && fileRowCount() == 0 && shownFolders(progress) == 0) {
        showTextRow(listing, request.folder, noFilesText, progress);
    }
    const int total = folderRowCount() + fileRowCount();
    // Entries beyond the tables are never left out silently: a line after the rows says so.
    setListItemCount(total + (droppedRowCount() > 0 ? 1 : 0), true);
    // Later rows sorted in before the remembered file moved it down: follow it.
    if (progress.selectedFileRow >= 0) selectListIndex(listIndexOfFileRow(progress.selectedFileRow));
    const bool rememberedListed = outcome == Outcome::listed && progress.rememberedFound;
    if (rememberedListed) forgetRememberedPath(listing.rememberedPath);
    setMainTitle(composeTitle(listing, request.folder, shownFolders(progress), fileRowCount()));
    focusAfterPopulation(listHasRows);
    // After the focus has settled: the rename's edit takes it from the list.
    if (rememberedListed && request.renameRemembered) postMainCommand(resources::commandRename);

    platform::releaseMutex(populationLock());
    if (abortPopulation.load() && !stopRequested.load()) startPopulation();
}

void endRunning() {
    std::lock_guard lock(runningLock);
    --runningPopulations;
    runningChanged.notify_all();
}

void startPopulation() { startListingThread(populationBody); }

}  // namespace

bool startListingThread(std::function<void()> body) {
    {
        std::lock_guard lock(runningLock);
        ++runningPopulations;
    }
    const bool started = platform::startThread(
        [body = std::move(body)] {
            body();
            endRunning();
        },
        false);
    if (!started) endRunning();
    return started;
}

namespace {

void refresh(bool renameRemembered) {
    ViewProvider& view = *currentProvider;
    Request request;
    request.renameRemembered = renameRemembered;
    request.listing.view = view;
    request.listing.typeAhead = typeAhead;
    request.listing.patternList = view.GetItemPattern(static_cast<int>(view.filterIndex)).value_or(u"*");
    request.listing.rememberedPath = rememberedPath();
    const std::u16string folder = view.GetCurrentFolder();
    request.searchPattern = folder.substr(0, platform::maxPath - 2) + u"*";
    request.folder = withoutDotSegments(folder);
    if (request.folder != folder) view.SetCurrentFolder(request.folder);
    stopRequested.store(false);
    {
        // With the request, so that a population that takes the request runs unaborted.
        std::lock_guard lock(requestLock);
        latestRequest = std::move(request);
        ++latestNumber;
        abortPopulation.store(true);
    }
    startPopulation();
}

}  // namespace

void Refresh() { refresh(false); }

void RefreshThenRename(std::u16string_view path) {
    rememberPath(path);
    refresh(true);
}

void stopPopulations() {
    stopRequested.store(true);
    abortPopulation.store(true);
}

bool waitForPopulations(std::chrono::milliseconds limit) {
    std::unique_lock lock(runningLock);
    return runningChanged.wait_for(lock, limit, [] { return runningPopulations == 0; });
}

void setTypeAheadText(std::u16string_view text) {
    typeAhead.assign(text.substr(0, platform::maxPath - 1));
    for (char16_t& c : typeAhead) c = upperCase(c);
}

const std::u16string& typeAheadText() { return typeAhead; }

bool nameMatchesTypeAhead(std::u16string_view text, std::u16string_view name) {
    if (text.empty()) return true;
    std::u16string upper(name.substr(0, platform::maxPath));
    for (char16_t& c : upper) c = upperCase(c);
    if (!isKeypadGroup(text)) return upper.find(text) != std::u16string::npos;
    return upper.find_first_of(text) != std::u16string::npos;
}

bool nameMatchesFilter(std::u16string_view patternList, std::u16string_view name) {
    std::size_t start = 0;
    while (start <= patternList.size()) {
        const std::size_t end = std::min(patternList.find(u';', start), patternList.size());
        const std::u16string_view part = patternList.substr(start, end - start);
        if (part == u"*" || part == u"*.*" || patternMatches(name, part)) return true;
        start = end + 1;
    }
    return false;
}

bool patternMatches(std::u16string_view name, std::u16string_view pattern) {
    if (!pattern.starts_with(u"*.")) return false;
    return name.ends_with(pattern.substr(1));
}

bool shownByAttributeMask(std::uint32_t showFiles, std::uint32_t attributes) {
    if (showFiles == 0) return true;
    std::uint32_t needed = 0;
    if (attributes & platform::attributeHidden) needed |= showHiddenFiles;
    if (attributes & platform::attributeSystem) needed |= showSystemFiles;
    if (attributes & platform::attributeInRom) needed |= showRomFiles;
    if (needed == 0) needed = showStandardFiles;
    return (showFiles & needed) == needed;
}

std::u16string withoutDotSegments(std::u16string_view folder) {
    std::u16string result;
    std::size_t i = 0;
    while (i < folder.size() && isSeparator(folder[i])) result += folder[i++];
    const std::size_t top = result.size();
    while (i < folder.size()) {
        std::size_t end = i;
        while (end < folder.size() && !isSeparator(folder[end])) ++end;
        const std::u16string_view segment = folder.substr(i, end - i);
        if (segment == u"..") {
            if (result.size() > top) {
                const std::size_t previous = result.find_last_of(u"\\/", result.size() - 2);
                result.resize(previous == std::u16string::npos || previous < top ? top : previous + 1);
            }
        } else if (segment != u".") {
            result.append(segment);
            if (end < folder.size()) result += folder[end];
        }
        i = end < folder.size() ? end + 1 : end;
    }
    return result;
}

std::u16string composeTitle(const Listing& listing, std::u16string_view folder, int folders, int files) {
    std::u16string title(folder.substr(0, platform::maxPath));
    if (listing.view.titleInfo & titleShowsFilter) title += listing.patternList;
    if (listing.view.titleInfo & titleShowsCounts) {
        title += platform::toUtf16(" D:" + std::to_string(std::max(folders, 0)) + " F:" + std::to_string(files));
    }
    title += titleSuffix;
    if (title.size() >= platform::maxPath) title.resize(platform::maxPath - 1);
    return title;
}

}  // namespace explorer
