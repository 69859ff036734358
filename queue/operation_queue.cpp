#include "queue/operation_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "explorer/folder_walk.h"
#include "explorer/provider.h"
#include "explorer/url.h"
#include "platform/clock.h"
#include "platform/counted_lock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "platform/window/window.h"

namespace queue {
namespace {

constexpr std::int32_t firstIdleTimeoutMs = 100;
constexpr std::int32_t idleStepMs = 1000;
constexpr std::int32_t lastIdleTimeoutMs = 30000;
constexpr auto stopWait = std::chrono::seconds(5);
constexpr std::u16string_view devicePrefix = u"file://";

struct List {
    FileOperation* head = nullptr;
};

// The four lists and the worker's handles. `lists` and every record's `next` belong to
// the "FileOpWorker" mutex. The handles, `running` and the decision of the worker to end
// belong to `lifeLock`, taken before the mutex: so an Add never meets a worker that has
// decided to end, and Stop never frees what a live worker holds.
struct Queue {
    List lists[4];  // Pending, Active, Successful, Failed
    platform::SyncHandle mutex = platform::noSyncHandle;
    platform::SyncHandle event = platform::noSyncHandle;
    std::atomic<std::int32_t> idleTimeout{firstIdleTimeoutMs};

    platform::CountedMutex lifeLock;
    std::condition_variable_any ended;
    bool running = false;   // a worker thread exists; under lifeLock
    bool stopping = false;  // Stop asked the worker to end; under lifeLock

    QueueBindings bindings;         // written under lifeLock, and so read by a waiting worker
    explorer::TransferWatch watch;  // the active record's transfer
    std::atomic<std::uint32_t> activeSince{0};
    // What the current copy logged: the entries it did not copy, and those it did (device
    // paths without their prefix). Worker thread only.
    int failedLogs = 0;
    explorer::CopiedTree copied;
};
Queue& state() {
    // Never destroyed: a worker that outlived Stop's wait still ends through it.
    static Queue& queue = *new Queue;
    return queue;
}

List& listOf(int list) {
    switch (list) {
    case listActive: return state().lists[1];
    case listSuccessful: return state().lists[2];
    case listFailed: return state().lists[3];
    default: return state().lists[0];
    }
}

std::uint64_t now() {
    return state().bindings.now ? state().bindings.now() : platform::toUint64(platform::fileTimeNow());
}

void notifyChanged() {
    if (state().bindings.changed) state().bindings.changed();
}

void copyPath(char16_t (&field)[pathCapacity], std::u16string_view path) {
    const std::size_t length = std::min(path.size(), pathCapacity - 1);
    std::copy_n(path.begin(), length, field);
    field[length] = 0;
}

std::u16string_view textOf(const char16_t (&field)[pathCapacity]) {
    return std::u16string_view(field, std::find(field, field + pathCapacity, u'\0') - field);
}

// List surgery; the caller holds the mutex.
void append(List& list, FileOperation* record) {
    record->next = nullptr;
    FileOperation** tail = &list.head;
    while (*tail) tail = &(*tail)->next;
    *tail = record;
}

void unlink(List& list, FileOperation* record) {
    for (FileOperation** link = &list.head; *link; link = &(*link)->next) {
        if (*link != record) continue;
        *link = record->next;
        record->next = nullptr;
        return;
    }
}

void freeList(List& list) {
    while (FileOperation* record = list.head) {
        list.head = record->next;
        delete record;
    }
}

// Holds the "FileOpWorker" mutex, when there is one, for a scope.
struct ListLock {
    explicit ListLock(platform::SyncHandle mutex) : mutex(mutex) {
        if (!mutex) return;
        platform::waitFor(mutex, platform::waitForever);
        platform::countLockChange(1);
    }
    ~ListLock() {
        if (!mutex) return;
        platform::countLockChange(-1);
        platform::releaseMutex(mutex);
    }
    platform::SyncHandle mutex;
};

// Under lifeLock: closes the worker's handles and marks it gone, so that the next Add
// starts a new one.
void endWorkerLocked() {
    Queue& queue = state();
    platform::closeHandle(queue.event);
    platform::closeHandle(queue.mutex);
    queue.event = platform::noSyncHandle;
    queue.mutex = platform::noSyncHandle;
    queue.running = false;
    queue.ended.notify_all();
}

// What the worker took: the head of Pending, moved to Active. Null when Pending is empty
// and the worker should wait again; with `end` set the worker has ended instead, its
// handles closed in the same hold of both locks in which it found nothing to do, so
// that an Add either comes before (and is taken) or finds no worker (and starts one).
FileOperation* takeNext(bool& end) {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    {
        ListLock held(queue.mutex);
        FileOperation* record = queue.lists[0].head;
        if (record) {
            queue.idleTimeout.store(firstIdleTimeoutMs);
            queue.lists[0].head = record->next;
            append(queue.lists[1], record);
            return record;
        }
        const std::int32_t timeout = queue.idleTimeout.fetch_add(idleStepMs) + idleStepMs;
        end = timeout > lastIdleTimeoutMs;
    }
    if (end) endWorkerLocked();
    return nullptr;
}

bool isDevicePath(std::u16string_view path) { return path.starts_with(devicePrefix); }

bool stopping() {
    std::lock_guard life(state().lifeLock);
    return state().stopping;
}

// A failed copy's box, from the worker: the UI thread shows it while the worker waits.
void showCopyError(std::u16string_view caption, const std::u16string& reason) {
    if (stopping()) return;  // the windows are going
    if (reason.empty()) {
        explorer::remoteProvider.ShowError(caption);
        return;
    }
    platform::messageBox(platform::getForegroundWindow(), reason, caption, platform::MessageBoxButtons::ok,
                         platform::MessageBoxIcon::hand);
}

// The source of a copy as it stands now, as its view lists it; none when it cannot be
// read.
std::optional<explorer::EntryStamp> stampOfSource(const std::u16string& path) {
    platform::FileAttributeData data{};
    const bool found = isDevicePath(path) ? platform::getFileAttributes(path.substr(devicePrefix.size()), data)
                                          : explorer::remoteProvider.GetAttributes(path, 0, data) != 0;
    if (!found) return std::nullopt;
    return explorer::EntryStamp{std::uint64_t(data.sizeHigh) << 32 | data.sizeLow,
                                platform::toUint64(data.lastWriteTime)};
}

// The copy just before a delete record, as the worker saw it end.
struct LastCopy {
    std::uint32_t kind = 0;
    std::uint32_t state = 0;
    std::u16string source;
    int failedLogs = 0;
    explorer::CopiedTree copied;
};

// Removes the source of a move once its copy is complete: on the device, or on the
// record's place. Of a folder only what the copy copied goes (see deleteCopied), named
// as the folder copy named it.
bool deleteSource(const std::u16string& path, const LastCopy& last, explorer::KeptEntries& kept) {
    const bool device = isDevicePath(path);
    const explorer::ViewProvider& view = device ? explorer::deviceProvider : explorer::remoteProvider;
    std::u16string_view viewPath = device ? std::u16string_view(path).substr(devicePrefix.size()) : path;
    if (last.kind != kindCopyFolder) {
        // A file goes only while it is still the file its copy saw.
        const auto copied = last.copied.files.find(path);
        const std::optional<explorer::EntryStamp> now = stampOfSource(path);
        if (copied == last.copied.files.end() || !now || *now != copied->second) {
            kept = {1, std::u16string(viewPath)};
            return true;
        }
        return view.DeleteFile(viewPath) != 0;
    }
    while (viewPath.size() > 1 && explorer::isSeparator(viewPath.back())) viewPath.remove_suffix(1);
    return explorer::deleteCopied(view, viewPath, device ? u'\\' : u'/', last.copied, kept);
}

// A queued file never replaces one silently: the user is asked, as a folder copy asks
// for each of its files. On the server the Remote view looks the target up.
bool mayWrite(const std::u16string& destination) {
    platform::FileAttributeData existing{};
    const bool exists = isDevicePath(destination)
                            ? platform::getFileAttributes(destination.substr(devicePrefix.size()), existing)
                            : explorer::remoteProvider.GetAttributes(destination, 0, existing) != 0;
    // A folder in the way is no file to replace: the copy fails on it and says so.
    if (!exists || (existing.attributes & platform::attributeFolder)) return true;
    if (stopping()) return false;
    return platform::messageBox(platform::getForegroundWindow(),
                                u"The file already exists, would you like to overwrite?", u"Replace File?",
                                platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

std::uint32_t runCopy(const FileOperation& record, std::u16string_view caption, std::u16string& why) {
    const std::u16string source(textOf(record.source));
    const std::u16string destination(textOf(record.destination));
    if (record.kind == kindCopyFile && !mayWrite(destination)) {
        why = u"The file already exists and was kept.";
        return stateFailed;
    }
    // The file a move will delete, as it was before its copy.
    if (record.kind == kindCopyFile && record.moving) {
        if (const std::optional<explorer::EntryStamp> stamp = stampOfSource(source))
            state().copied.files[source] = *stamp;
    }
    const explorer::ViewProvider& remote = explorer::remoteProvider;
    const int done = record.kind == kindCopyFile ? remote.CopyFile(source, destination, 1)
                                                 : remote.CopyFolder(source, destination, 1);
    if (done) return stateSucceeded;
    showCopyError(caption, {});
    return stateFailed;
}

std::uint32_t runDelete(const FileOperation& record, const LastCopy& last, std::u16string& why) {
    const std::u16string path(textOf(record.destination));
    const bool copied = (last.kind == kindCopyFile || last.kind == kindCopyFolder) && last.state == stateSucceeded &&
                        last.source == path && last.failedLogs == 0;
    if (!copied) {
        why = u"The source was kept: its copy did not succeed whole.";
        return stateFailed;
    }
    explorer::KeptEntries kept;
    if (deleteSource(path, last, kept)) {
        if (kept.count == 0) return stateSucceeded;
        const std::u16string first = u"'" + kept.first + u"'";
        why = kept.count == 1 ? u"The move kept " + first +
                                    u", which its copy did not copy as it is now, and the folders that hold it."
                              : u"The move kept " + platform::toUtf16(std::to_string(kept.count)) +
                                    u" entries that its copy did not copy as they are now, such as " + first +
                                    u", and the folders that hold them.";
        showCopyError(u"Move File Error", why);
        return stateFailed;
    }
    why = u"The copy succeeded, but the source could not be deleted.";
    const explorer::ViewProvider& view = isDevicePath(path) ? explorer::deviceProvider : explorer::remoteProvider;
    if (stopping()) return stateFailed;
    view.ShowError(u"Delete Error");
    return stateFailed;
}

std::uint32_t run(const FileOperation& record, const LastCopy& last, std::u16string& why) {
    const QueueBindings& bindings = state().bindings;
    const bool copy = record.kind == kindCopyFile || record.kind == kindCopyFolder;
    const bool remoteSide = copy || !isDevicePath(textOf(record.destination));
    if (record.kind != kindCopyFile && record.kind != kindCopyFolder && record.kind != kindDelete) {
        return stateActive;  // no such operation: it passes through as it was
    }
    const std::u16string_view caption = record.kind == kindCopyFolder ? u"Copy Folder Error" : u"Copy File Error";
    if (remoteSide && bindings.enterPlace && !bindings.enterPlace(record.place, record.sourcePlace, why)) {
        if (copy) showCopyError(caption, why);
        return stateFailed;
    }
    const std::uint32_t result = copy ? runCopy(record, caption, why) : runDelete(record, last, why);
    if (remoteSide && bindings.leavePlace) bindings.leavePlace();
    return result;
}

// The record's fields are copied out by the Queue view under the mutex: they change
// under it too.
void start(FileOperation* record) {
    ListLock held(state().mutex);
    record->started = now();
    record->state = stateActive;
}

void finish(FileOperation* record, std::uint32_t result, std::u16string why) {
    Queue& queue = state();
    ListLock held(queue.mutex);
    record->state = result;
    record->why = std::move(why);
    record->finished = now();
    unlink(queue.lists[1], record);
    append(result == stateSucceeded ? queue.lists[2] : queue.lists[3], record);
}

QueueBindings boundNow() {
    std::lock_guard life(state().lifeLock);
    return state().bindings;
}

bool nothingPending() {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    return queue.lists[0].head == nullptr;
}

void workerBody() {
    Queue& queue = state();
    explorer::setThreadTransferWatch(&queue.watch);
    explorer::setThreadStopFlag(&queue.watch.stop);
    LastCopy last;
    for (;;) {
        // The program binds anew when its window is made again, while the worker may wait.
        const QueueBindings bindings = boundNow();
        bindings.waitForWork(queue.event, static_cast<std::uint32_t>(queue.idleTimeout.load()));
        if (bindings.idle && nothingPending()) bindings.idle();
        bool end = false;
        FileOperation* record = takeNext(end);
        if (end) break;
        if (!record) continue;
        queue.failedLogs = 0;
        queue.copied = {};
        queue.watch.resume.store(record->retried);
        queue.watch.done.store(0);
        queue.watch.total.store(-1);
        queue.activeSince.store(platform::tickCount());
        start(record);
        notifyChanged();
        // Kind, paths and place are not changed while a record lives: read without the lock.
        std::u16string why;
        const std::uint32_t result = run(*record, last, why);
        last = {record->kind, result, std::u16string(textOf(record->source)), queue.failedLogs,
                std::move(queue.copied)};
        finish(record, result, std::move(why));
        notifyChanged();
    }
    // The worker has ended (takeNext said so): from here on it touches no shared state.
    explorer::setThreadTransferWatch(nullptr);
    explorer::setThreadStopFlag(nullptr);
}

// Under lifeLock: a worker with fresh handles, when none exists.
bool ensureWorker() {
    Queue& queue = state();
    if (queue.mutex) return true;
    queue.mutex = platform::createMutex(u"FileOpWorker", false);
    queue.event = platform::createEvent(u"FileOpEvent", false, false);
    queue.idleTimeout.store(firstIdleTimeoutMs);
    queue.watch.stop.store(false);
    queue.stopping = false;
    queue.running = queue.mutex && queue.event && platform::startThread(workerBody, true);
    if (queue.running) return true;
    platform::closeHandle(queue.event);
    platform::closeHandle(queue.mutex);
    queue.event = platform::noSyncHandle;
    queue.mutex = platform::noSyncHandle;
    return false;
}

// A record of `kind` into `list`; see addOperation.
int add(std::uint32_t kind, std::u16string_view source, std::u16string_view destination, int list,
        const PlaceToken& sourcePlace, explorer::EntryStamp stamp, bool moving = false) {
    // The running copy's log counts whether or not a record can be made of it: a move
    // deletes only what its copy copied, and nothing when it failed anywhere.
    const bool onWorker = explorer::threadTransferWatch() == &state().watch;
    if (onWorker && list == listFailed) ++state().failedLogs;
    if (onWorker && list == listSuccessful) {
        const std::u16string copied(isDevicePath(source) ? source.substr(devicePrefix.size()) : source);
        if (kind == kindCopyFolder) state().copied.folders.insert(copied);
        else state().copied.files[copied] = stamp;
    }
    // A path cut to fit would name another file.
    if (source.size() >= pathCapacity || destination.size() >= pathCapacity) {
        platform::setLastError(platform::errorFilenameTooLong);
        return 0;
    }
    auto* record = new (std::nothrow) FileOperation;
    if (!record) return 0;
    record->kind = kind;
    record->state = statePending;
    record->moving = moving;
    copyPath(record->source, source);
    copyPath(record->destination, destination);
    record->queued = now();
    if (list != listActive && list != listSuccessful && list != listFailed) {
        list = listPending;
        // A copy queued from the UI runs on the place current now; the worker's own log
        // records need none.
        if (state().bindings.currentPlace && !onWorker) record->place = state().bindings.currentPlace();
        record->sourcePlace = sourcePlace;
    }
    Queue& queue = state();
    {
        std::lock_guard life(queue.lifeLock);
        if (!ensureWorker()) {
            delete record;
            return 0;
        }
        ListLock held(queue.mutex);
        // A file that a folder copy logs is for that copy's places, so that it can be
        // retried by itself.
        if (const FileOperation* active = queue.lists[1].head; onWorker && active) {
            record->place = active->place;
            record->sourcePlace = active->sourcePlace;
        }
        append(listOf(list), record);
        platform::setEvent(queue.event);
    }
    notifyChanged();
    return 1;
}

}  // namespace

void bindQueue(const QueueBindings& bindings) {
    std::lock_guard life(state().lifeLock);
    state().bindings = bindings;
}

int addOperation(std::uint32_t kind, std::u16string_view source, std::u16string_view destination, int list,
                 explorer::EntryStamp stamp) {
    return add(kind, source, destination, list, nullptr, stamp);
}

int queueCopyFileFrom(const PlaceToken& sourcePlace, std::u16string_view source, std::u16string_view destination) {
    return add(kindCopyFile, source, destination, listPending, sourcePlace, {});
}

int queueCopyFile(std::u16string_view source, std::u16string_view destination) {
    return addOperation(kindCopyFile, source, destination, listPending);
}

int queueCopyFolder(std::u16string_view source, std::u16string_view destination) {
    return addOperation(kindCopyFolder, source, destination, listPending);
}

int queueMove(std::u16string_view source, std::u16string_view destination, bool folder) {
    if (!add(folder ? kindCopyFolder : kindCopyFile, source, destination, listPending, nullptr, {}, true)) return 0;
    return addOperation(kindDelete, u"", source, listPending);
}

// Stand-ins until the run's own records exist: plain copies and deletes.
std::uint64_t newRun() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

int queueRunCopy(std::uint64_t, std::u16string_view source, std::u16string_view destination) {
    return queueCopyFile(source, destination);
}

int queueRunMakeFolder(std::uint64_t, std::u16string_view) { return 0; }

int queueRunRemove(std::uint64_t, std::u16string_view path, bool) { return queueDelete(path); }

int queueDelete(std::u16string_view path) { return addOperation(kindDelete, u"", path, listPending); }

int retryFailed(std::u16string_view destination, std::uint64_t started) {
    Queue& queue = state();
    {
        std::lock_guard life(queue.lifeLock);
        if (!ensureWorker()) return 0;
        ListLock held(queue.mutex);
        List& failed = queue.lists[3];
        FileOperation* before = nullptr;
        FileOperation* record = failed.head;
        for (; record; before = record, record = record->next) {
            if (record->started == started && textOf(record->destination) == destination) break;
        }
        if (!record) return 0;
        // A move's delete record ends up right after its copy; either brings the other.
        const auto deletesSourceOf = [](const FileOperation* copy, const FileOperation* removal) {
            return copy && removal && copy->kind != kindDelete && removal->kind == kindDelete &&
                   textOf(removal->destination) == textOf(copy->source);
        };
        if (deletesSourceOf(before, record)) record = before;
        FileOperation* const removal = deletesSourceOf(record, record->next) ? record->next : nullptr;
        const std::uint64_t queued = now();
        for (FileOperation* retried : {record, removal}) {
            if (!retried) continue;
            unlink(failed, retried);
            retried->state = statePending;
            retried->queued = queued;
            retried->started = 0;
            retried->finished = 0;
            retried->why.clear();
            retried->retried = true;
            append(queue.lists[0], retried);
        }
        platform::setEvent(queue.event);
    }
    notifyChanged();
    return 1;
}

int clearQueue() {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    // Without a worker no one else relinks the records: the life lock is enough.
    ListLock held(queue.mutex);
    const bool anything = queue.lists[2].head || queue.lists[3].head;
    freeList(queue.lists[2]);
    freeList(queue.lists[3]);
    return anything ? 1 : 0;
}

int removeLogRecord(int list, const std::function<bool(const FileOperation&)>& matches) {
    if (list != listSuccessful && list != listFailed) return 0;
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    List& records = listOf(list);
    for (FileOperation* record = records.head; record; record = record->next) {
        if (!matches(*record)) continue;
        unlink(records, record);
        delete record;
        return 1;
    }
    return 0;
}

void askQueueToStop() {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    if (!queue.running) return;
    queue.stopping = true;
    ListLock held(queue.mutex);
    freeList(queue.lists[0]);  // the worker takes no more
    queue.idleTimeout.store(lastIdleTimeoutMs + 1);
    queue.watch.stop.store(true);
    platform::setEvent(queue.event);
}

bool waitForQueue(std::chrono::milliseconds limit) {
    Queue& queue = state();
    std::unique_lock life(queue.lifeLock);
    return queue.ended.wait_for(life, limit, [&] { return !queue.running; });
}

int stopQueue() {
    askQueueToStop();
    // A worker stuck beyond the wait keeps what it holds, and the process ends around it.
    if (!waitForQueue(stopWait)) return 1;
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    for (List& list : queue.lists) freeList(list);
    return 1;
}

int unfinishedCopies() {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    int count = 0;
    for (const List* list : {&queue.lists[0], &queue.lists[1]}) {
        for (const FileOperation* record = list->head; record; record = record->next) ++count;
    }
    return count;
}

std::vector<FileOperation> listRecords(int list) {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    std::vector<FileOperation> records;
    for (const FileOperation* record = listOf(list).head; record; record = record->next) {
        records.push_back(*record);
        records.back().next = nullptr;
    }
    return records;
}

QueueProgress queueProgress() {
    Queue& queue = state();
    QueueProgress progress;
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    for (const FileOperation* record = queue.lists[0].head; record; record = record->next) ++progress.pending;
    if (const FileOperation* active = queue.lists[1].head) {
        progress.active = true;
        progress.destination = textOf(active->destination);
        progress.done = queue.watch.done.load();
        progress.total = queue.watch.total.load();
        progress.elapsedMs = platform::tickCount() - queue.activeSince.load();
    }
    return progress;
}

bool workerRunning() {
    std::lock_guard life(state().lifeLock);
    return state().running;
}

std::int32_t idleTimeout() { return state().idleTimeout.load(); }

}  // namespace queue
