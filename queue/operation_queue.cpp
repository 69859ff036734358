#include "queue/operation_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "explorer/folder_walk.h"
#include "explorer/provider.h"
#include "explorer/url.h"
#include "mirroring/plan_executor.h"
#include "platform/clock.h"
#include "platform/counted_lock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folder_handles.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "platform/window/window.h"
#include "session/server_session.h"

namespace queue {

// What the copy of a move logged: how it ended, the entries it did not copy and those it
// did (device paths without their prefix).
struct CopyLog {
    std::uint32_t kind = 0;
    std::uint32_t state = 0;
    int failedLogs = 0;
    explorer::CopiedTree copied;
};

namespace {

constexpr std::int32_t firstIdleTimeoutMs = 100;
constexpr std::int32_t idleStepMs = 1000;
constexpr std::int32_t lastIdleTimeoutMs = 30000;
constexpr int mostWorkers = 8;
constexpr auto stopWait = std::chrono::seconds(5);
constexpr std::u16string_view devicePrefix = u"file://";

struct List {
    FileOperation* head = nullptr;
    FileOperation* tail = nullptr;  // so that an append walks nothing
};

void copyPath(char16_t (&field)[pathCapacity], std::u16string_view path) {
    const std::size_t length = std::min(path.size(), pathCapacity - 1);
    std::copy_n(path.begin(), length, field);
    field[length] = 0;
}

std::u16string_view textOf(const char16_t (&field)[pathCapacity]) {
    return std::u16string_view(field, std::find(field, field + pathCapacity, u'\0') - field);
}

bool isDevicePath(std::u16string_view path) { return path.starts_with(devicePrefix); }

// A record is a step of the queue's order, named by its address while it lives.
mirroring::StepId stepId(const FileOperation* record) { return reinterpret_cast<std::uintptr_t>(record); }
FileOperation* recordOf(mirroring::StepId id) { return reinterpret_cast<FileOperation*>(id); }

mirroring::PlanStep stepOf(const FileOperation& record) {
    mirroring::PlanStep step;
    for (std::u16string_view path : {textOf(record.source), textOf(record.destination)}) {
        step.entries.push_back(platform::toUtf8(path));
    }
    step.run = record.run;
    step.removal = record.kind == kindDelete || record.kind == kindRemoveFolder;
    return step;
}

// One worker thread, which owns it and frees it when it ends. `records`, `batching` and
// `woken` belong to the lists' locks; the rest is the worker's, read by others as atomics.
struct Worker {
    platform::SyncHandle event = platform::noSyncHandle;  // wakes this worker alone
    std::atomic<std::int32_t> idleTimeout{firstIdleTimeoutMs};
    std::vector<FileOperation*> records;  // the records it runs: one, or those of a batch not ended
    bool batching = false;                // it runs a batch, which may take more records
    bool woken = false;                   // its event was set for a record it has yet to take
    session::TransferWatch watch;         // the running record's transfer, or the batch's
    std::atomic<std::uint32_t> activeSince{0};
    CopyLog log;  // what the running copy logged; the worker's thread only
};
// The worker of this thread; null on every other thread.
thread_local Worker* threadWorker = nullptr;

// The four lists and the workers. `lists`, every record's `next`, `workers` and the order
// of the unfinished records belong to `lifeLock` and the "FileOpWorker" mutex (which
// exists while a worker does), taken in that order; `stopping` and the decision of a
// worker to end belong to `lifeLock`: so an Add never meets a worker that has decided to
// end, and Stop never frees what a live worker holds.
struct Queue {
    List lists[4];  // Pending, Active, Successful, Failed
    platform::SyncHandle mutex = platform::noSyncHandle;

    platform::CountedMutex lifeLock;
    std::condition_variable_any ended;
    std::vector<Worker*> workers;
    bool stopping = false;  // Stop asked the workers to end
    // The unfinished records (Pending and Active): which of them may start.
    mirroring::PlanExecutor order;

    QueueBindings bindings;  // written under lifeLock, and so read by a waiting worker
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

// List surgery; the caller holds the mutex. `before` null: at the tail.
void insert(List& list, FileOperation* record, FileOperation* before = nullptr) {
    FileOperation** link = &list.head;
    if (!before) link = list.tail ? &list.tail->next : &list.head;
    while (*link != before) link = &(*link)->next;
    record->next = before;
    *link = record;
    if (!before) list.tail = record;
}
void append(List& list, FileOperation* record) { insert(list, record); }

void unlink(List& list, FileOperation* record) {
    FileOperation* previous = nullptr;
    for (FileOperation** link = &list.head; *link; previous = *link, link = &(*link)->next) {
        if (*link != record) continue;
        *link = record->next;
        if (list.tail == record) list.tail = previous;
        record->next = nullptr;
        return;
    }
}

// A dropped unfinished record ends in the order as a failure, so that its run removes
// nothing.
void freeList(List& list) {
    const bool unfinished = &list == &state().lists[0] || &list == &state().lists[1];
    while (FileOperation* record = list.head) {
        list.head = record->next;
        if (unfinished) state().order.end(stepId(record), false);
        delete record;
    }
    list.tail = nullptr;
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

int simultaneousLimit() {
    const int limit = state().bindings.simultaneousCopies ? state().bindings.simultaneousCopies() : 1;
    return std::clamp(limit, 1, mostWorkers);
}

bool busy(const Worker& worker) { return !worker.records.empty() || worker.batching; }

// Under both locks: up to `most` records of Pending that the order lets start now, oldest
// first, and no more than the limit allows: it counts connections, so a batch on one
// counts once.
std::vector<FileOperation*> startableRecords(std::size_t most) {
    Queue& queue = state();
    const int running = int(
        std::count_if(queue.workers.begin(), queue.workers.end(), [](const Worker* worker) { return busy(*worker); }));
    most = std::min(most, std::size_t(std::max(0, simultaneousLimit() - running)));
    std::vector<FileOperation*> startable;
    for (const mirroring::StepId id : queue.order.startable(most)) startable.push_back(recordOf(id));
    return startable;
}
// Under both locks: a worker with an event of its own, set, so that it looks for work at
// once; the first one makes the mutex and so the queue live again.
bool startWorkerLocked();

// Under both locks: wakes an idle worker for each of `wanted` records that may start now
// and that no worker was woken for yet, and starts workers, up to the limit, for those
// that no idle worker will take.
void dispatchLocked(std::size_t wanted) {
    Queue& queue = state();
    if (queue.stopping) return;
    for (Worker* worker : queue.workers) {
        if (wanted == 0) break;
        if (busy(*worker) || worker->woken) continue;
        worker->woken = true;
        platform::setEvent(worker->event);
        --wanted;
    }
    while (wanted > 0 && int(queue.workers.size()) < simultaneousLimit() && startWorkerLocked()) --wanted;
}
// The same for every record of Pending that may start now.
void dispatchLocked() {
    std::size_t wanted = startableRecords(mostWorkers).size();
    for (const Worker* worker : state().workers) {
        if (wanted > 0 && !busy(*worker) && worker->woken) --wanted;
    }
    dispatchLocked(wanted);
}

// Under lifeLock, once `worker` has found nothing to do for the last time: it leaves the
// workers, and the last one closes the mutex, so that the next Add starts afresh.
void endWorkerLocked(Worker& worker) {
    Queue& queue = state();
    std::erase(queue.workers, &worker);
    platform::closeHandle(worker.event);
    if (!queue.workers.empty()) return;
    platform::closeHandle(queue.mutex);
    queue.mutex = platform::noSyncHandle;
    queue.ended.notify_all();
}

// Under both locks: `record` of Pending goes to Active, started, as one of `worker`'s;
// false when it is a run's removal and a copy of its run failed.
bool startLocked(Worker& worker, FileOperation* record) {
    Queue& queue = state();
    unlink(queue.lists[0], record);
    append(queue.lists[1], record);
    // The record's fields are copied out by the Queue view under the mutex: they
    // change under it too.
    record->started = now();
    record->state = stateActive;
    worker.records.push_back(record);
    return queue.order.start(stepId(record));
}

// What `worker` took: a record of Pending that may start, moved to Active and started,
// with `runFailed` set when it is a run's removal and a copy of its run failed.
// Null when none may start and the worker should wait again; with `end` set the worker
// has ended instead, in the same hold of both locks in which it found nothing to do, so
// that an Add either comes before (and is taken) or finds no worker (and starts one). It
// ends only with `sessionsClosed`: its connections go before it does.
FileOperation* takeNext(Worker& worker, bool sessionsClosed, bool& end, bool& runFailed) {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    {
        ListLock held(queue.mutex);
        worker.woken = false;
        const std::vector<FileOperation*> next = queue.stopping ? std::vector<FileOperation*>{} : startableRecords(1);
        if (!next.empty()) {
            FileOperation* record = next[0];
            worker.idleTimeout.store(firstIdleTimeoutMs);
            runFailed = !startLocked(worker, record);
            return record;
        }
        const std::int32_t timeout = worker.idleTimeout.fetch_add(idleStepMs) + idleStepMs;
        end = timeout > lastIdleTimeoutMs && sessionsClosed;
    }
    if (end) endWorkerLocked(worker);
    return nullptr;
}

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

// The view of a path's side, and the path as that view names it.
const explorer::ViewProvider& viewOf(std::u16string_view path) {
    return isDevicePath(path) ? explorer::deviceProvider : explorer::remoteProvider;
}
std::u16string_view viewPathOf(std::u16string_view path) {
    return isDevicePath(path) ? path.substr(devicePrefix.size()) : path;
}

// Why the last operation of `view` on this thread failed, or `otherwise`.
std::u16string failureOf(const explorer::ViewProvider& view, std::u16string_view otherwise) {
    std::u16string text = view.GetLastErrorText ? view.GetLastErrorText() : std::u16string();
    return text.empty() ? std::u16string(otherwise) : text;
}

// The source of a copy as it stands now, as its view lists it; none when it cannot be
// read.
std::optional<explorer::EntryStamp> stampOfSource(const std::u16string& path) {
    platform::FileAttributeData data{};
    if (!viewOf(path).GetAttributes(viewPathOf(path), 0, data)) return std::nullopt;
    return explorer::EntryStamp{std::uint64_t(data.sizeHigh) << 32 | data.sizeLow,
                                platform::toUint64(data.lastWriteTime)};
}

// Removes the source of a move once its copy is complete: on the device, or on the
// record's place. Of a folder only what the copy copied goes (see deleteCopied), named
// as the folder copy named it.
bool deleteSource(const std::u16string& path, const CopyLog& log, explorer::KeptEntries& kept) {
    const bool device = isDevicePath(path);
    const explorer::ViewProvider& view = viewOf(path);
    std::u16string_view viewPath = viewPathOf(path);
    if (log.kind != kindCopyFolder) {
        // A file goes only while it is still the file its copy saw.
        const auto copied = log.copied.files.find(path);
        const std::optional<explorer::EntryStamp> now = stampOfSource(path);
        if (copied == log.copied.files.end() || !now || *now != copied->second) {
            kept = {1, std::u16string(viewPath)};
            return true;
        }
        return view.DeleteFile(viewPath) != 0;
    }
    while (viewPath.size() > 1 && explorer::isSeparator(viewPath.back())) viewPath.remove_suffix(1);
    return explorer::deleteCopied(view, viewPath, device ? u'\\' : u'/', log.copied, kept);
}

// A queued file never replaces one silently: the user is asked, as a folder copy asks
// for each of its files. On the server the Remote view looks the target up.
bool mayWrite(const std::u16string& destination) {
    platform::FileAttributeData existing{};
    const bool exists = viewOf(destination).GetAttributes(viewPathOf(destination), 0, existing) != 0;
    // A folder in the way is no file to replace: the copy fails on it and says so.
    if (!exists || (existing.attributes & platform::attributeFolder)) return true;
    if (stopping()) return false;
    return platform::messageBox(platform::getForegroundWindow(),
                                u"The file already exists, would you like to overwrite?", u"Replace File?",
                                platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

std::uint32_t runCopy(const FileOperation& record, std::u16string_view caption, CopyLog& log, std::u16string& why) {
    const std::u16string source(textOf(record.source));
    const std::u16string destination(textOf(record.destination));
    // A run's copy was chosen in the preview, target and all.
    if (record.kind == kindCopyFile && record.run == 0 && !mayWrite(destination)) {
        why = u"The file already exists and was kept.";
        return stateFailed;
    }
    // The file a move will delete, as it was before its copy.
    if (record.kind == kindCopyFile && record.moving) {
        if (const std::optional<explorer::EntryStamp> stamp = stampOfSource(source)) log.copied.files[source] = *stamp;
    }
    const explorer::ViewProvider& remote = explorer::remoteProvider;
    const int done = record.kind == kindCopyFile ? remote.CopyFile(source, destination, record.run == 0)
                                                 : remote.CopyFolder(source, destination, 1);
    if (done) return stateSucceeded;
    why = failureOf(remote, u"The file could not be copied.");
    if (record.run == 0) showCopyError(caption, {});
    return stateFailed;
}

std::uint32_t runDelete(const FileOperation& record, std::u16string& why) {
    const std::u16string path(textOf(record.destination));
    const CopyLog* log = record.log.get();
    if (!log || log->state != stateSucceeded || log->failedLogs != 0) {
        why = u"The source was kept: its copy did not succeed whole.";
        return stateFailed;
    }
    explorer::KeptEntries kept;
    if (deleteSource(path, *log, kept)) {
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
    if (stopping()) return stateFailed;
    viewOf(path).ShowError(u"Delete Error");
    return stateFailed;
}

// A run's action on the device, through folder handles from the run's folder.
std::uint32_t onDevice(std::u16string_view path,
                       const std::function<bool(const platform::AnchoredPath&, std::string&)>& act,
                       std::u16string& why) {
    const std::string host = platform::toHostPath(viewPathOf(path));
    std::string reason = "The path has no form on this system.";
    if (!host.empty() && act(platform::anchoredForThread(host), reason)) return stateSucceeded;
    why = platform::toUtf16(reason);
    return stateFailed;
}

// A run's folder: made, or there already.
std::uint32_t makeFolder(const FileOperation& record, std::u16string& why) {
    const std::u16string_view path = textOf(record.destination);
    if (isDevicePath(path)) {
        return onDevice(
            path,
            [](const platform::AnchoredPath& folder, std::string& reason) {
                return platform::makeFolderAt(folder, -1, reason);
            },
            why);
    }
    const explorer::ViewProvider& view = explorer::remoteProvider;
    if (view.CreateFolder(path)) return stateSucceeded;
    why = failureOf(view, u"The folder could not be made.");
    platform::FileAttributeData existing{};
    if (!view.GetAttributes(path, 0, existing)) return stateFailed;
    if (existing.attributes & platform::attributeFolder) {
        why.clear();
        return stateSucceeded;
    }
    why = u"A file of that name is in the way.";
    return stateFailed;
}

// Whether a run's removal still finds what its plan saw: on the device by lstat, on the
// server by a listing of its folder; false with the reason when not, or when it cannot
// be looked at.
bool stillAsPlanned(const QueueBindings& bindings, const FileOperation& record, std::u16string& why) {
    const std::u16string_view path = textOf(record.destination);
    mirroring::EntryNow now;
    std::string reason;
    if (isDevicePath(path)) {
        now = mirroring::deviceEntryNow(platform::toHostPath(viewPathOf(path)));
    } else if (!bindings.serverEntryNow || !bindings.serverEntryNow(platform::toUtf8(path), now, reason)) {
        why = u"Kept, since it could not be looked at: " + platform::toUtf16(reason);
        return false;
    }
    reason = record.planned ? mirroring::changedSincePlanned(*record.planned, now) : "was not planned";
    if (reason.empty()) return true;
    why = u"Kept: it " + platform::toUtf16(reason) + u".";
    return false;
}

// A run's removal of one file or one empty folder: a folder's removal never empties it,
// and neither follows a link (on the device a link is left, failing the removal; on a
// server it is removed as the file it is, and is no folder). Only what the plan saw is
// removed.
std::uint32_t removeEntry(const QueueBindings& bindings, const FileOperation& record, std::u16string& why) {
    if (!stillAsPlanned(bindings, record, why)) return stateFailed;
    const std::u16string_view path = textOf(record.destination);
    const bool folder = record.kind == kindRemoveFolder;
    if (isDevicePath(path)) {
        return onDevice(
            path,
            [folder](const platform::AnchoredPath& entry, std::string& reason) {
                return platform::removeAt(entry, folder, reason);
            },
            why);
    }
    const explorer::ViewProvider& view = explorer::remoteProvider;
    if (folder ? view.RemoveFolder(path) : view.DeleteFile(path)) return stateSucceeded;
    why = failureOf(view, u"The entry could not be removed.");
    return stateFailed;
}

std::uint32_t run(const QueueBindings& bindings, const FileOperation& record, bool runFailed, CopyLog& log,
                  std::u16string& why) {
    const bool copy = record.kind == kindCopyFile || record.kind == kindCopyFolder;
    if (!copy && record.kind != kindDelete && record.kind != kindMakeFolder && record.kind != kindRemoveFolder) {
        return stateActive;  // no such operation: it passes through as it was
    }
    if (runFailed) {
        why = u"Kept: another record of the same synchronisation failed.";
        return stateFailed;
    }
    const bool remoteSide = copy || !isDevicePath(textOf(record.destination));
    const std::u16string_view caption = record.kind == kindCopyFolder ? u"Copy Folder Error" : u"Copy File Error";
    if (remoteSide && bindings.enterPlace &&
        !bindings.enterPlace(record.place, copy ? record.sourcePlace : nullptr, why)) {
        if (copy && record.run == 0) showCopyError(caption, why);
        return stateFailed;
    }
    std::uint32_t result = stateFailed;
    if (copy) result = runCopy(record, caption, log, why);
    else if (record.kind == kindMakeFolder) result = makeFolder(record, why);
    else if (record.run != 0) result = removeEntry(bindings, record, why);
    else result = runDelete(record, why);
    if (remoteSide && bindings.leavePlace) bindings.leavePlace();
    return result;
}

// The record leaves Active for its log list; a worker with nothing left to run is free for
// the next.
void finish(Worker& worker, FileOperation* record, std::uint32_t result, std::u16string why) {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    record->state = result;
    record->why = std::move(why);
    record->finished = now();
    unlink(queue.lists[1], record);
    queue.order.end(stepId(record), result == stateSucceeded);
    append(result == stateSucceeded ? queue.lists[2] : queue.lists[3], record);
    std::erase(worker.records, record);
    dispatchLocked();
}

// Whether a record may go in a batch: a run's copy of a file between the device and a
// server (chosen in the preview, it replaces its target without asking).
bool batchable(const FileOperation& record) {
    return record.kind == kindCopyFile && record.run != 0 && !record.sourcePlace && !record.moving &&
           isDevicePath(textOf(record.source)) != isDevicePath(textOf(record.destination));
}

// What the records of a batch share, copied from its first record, which may end (and be
// cleared) while the batch goes on.
struct BatchKind {
    PlaceToken place;
    bool upload = false;
    std::u16string deviceTop;
};

// A record of Pending that may start now and may join `worker`'s batch of `kind`: moved
// to Active and started; null when none. Joining records count as the batch's one
// connection, whatever the limit.
FileOperation* takeJoining(Worker& worker, const BatchKind& kind) {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    if (queue.stopping) return nullptr;
    for (const mirroring::StepId id : queue.order.startable(std::numeric_limits<std::size_t>::max())) {
        FileOperation* record = recordOf(id);
        if (!batchable(*record) || isDevicePath(textOf(record->source)) != kind.upload ||
            record->deviceTop != kind.deviceTop)
            continue;
        const PlaceToken& place = kind.place;
        if (queue.bindings.samePlace ? !queue.bindings.samePlace(record->place, place) : record->place != place)
            continue;
        startLocked(worker, record);
        return record;
    }
    return nullptr;
}

void setBatching(Worker& worker, bool batching) {
    Queue& queue = state();
    std::lock_guard life(queue.lifeLock);
    ListLock held(queue.mutex);
    worker.batching = batching;
    if (!batching) dispatchLocked();
}

// A run's copy, and the run copies for the same place and the same way that become
// ready while it goes, as one batch on the worker's connection (the Remote view's
// CopyFiles): each record ends as its file does.
void runBatch(Worker& worker, const QueueBindings& bindings, FileOperation* first) {
    const BatchKind kind{first->place, isDevicePath(textOf(first->source)), first->deviceTop};
    std::u16string why;
    if (bindings.enterPlace && !bindings.enterPlace(kind.place, nullptr, why)) {
        finish(worker, first, stateFailed, std::move(why));
        return;
    }
    setBatching(worker, true);
    platform::setThreadDeviceTop(platform::toHostPath(kind.deviceTop));
    std::vector<FileOperation*> given;
    const explorer::NextCopyOrder next = [&]() -> std::optional<explorer::FileCopyOrder> {
        FileOperation* record = given.empty() ? first : takeJoining(worker, kind);
        if (!record) return std::nullopt;
        given.push_back(record);
        if (given.size() > 1) notifyChanged();
        // A retry asks the server anew: the partial it continues is of the file as it is now.
        const bool planned = record->planned && !record->retried;
        return explorer::FileCopyOrder{
            std::u16string(textOf(record->source)), std::u16string(textOf(record->destination)), record->retried, true,
            planned ? record->planned->size : -1,   planned ? record->planned->mode : -1};
    };
    explorer::remoteProvider.CopyFiles(next, [&](std::size_t copy, bool copied, const std::u16string& reason) {
        finish(worker, given[copy], copied ? stateSucceeded : stateFailed, copied ? u"" : reason);
        notifyChanged();
    });
    platform::setThreadDeviceTop({});
    if (bindings.leavePlace) bindings.leavePlace();
    setBatching(worker, false);
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

void workerBody(std::unique_ptr<Worker> owned) {
    Worker& worker = *owned;
    threadWorker = &worker;
    session::setThreadTransferWatch(&worker.watch);
    platform::setThreadStopFlag(&worker.watch.stop);
    // Whether the connections the thread kept were let go since its last record.
    bool sessionsClosed = true;
    for (;;) {
        // The program binds anew when its window is made again, while the worker may wait.
        const QueueBindings bindings = boundNow();
        // A worker that may end now lets its connections go first, while it lives and the
        // quit still waits for it, even while records it cannot start are pending.
        const bool mayEnd = worker.idleTimeout.load() > lastIdleTimeoutMs;
        if (!mayEnd) bindings.waitForWork(worker.event, static_cast<std::uint32_t>(worker.idleTimeout.load()));
        if (mayEnd || nothingPending()) {
            if (bindings.idle) bindings.idle();
            sessionsClosed = true;
        }
        bool end = false;
        bool runFailed = false;
        FileOperation* record = takeNext(worker, sessionsClosed, end, runFailed);
        if (end) break;
        if (!record) continue;
        sessionsClosed = false;
        worker.log = {};
        worker.watch.resume.store(record->retried);
        worker.watch.done.store(0);
        worker.watch.total.store(-1);
        worker.activeSince.store(platform::tickCount());
        notifyChanged();
        if (batchable(*record) && !runFailed) {
            runBatch(worker, bindings, record);
            notifyChanged();
            continue;
        }
        // Kind, paths, place and log are not changed while a record lives: read without
        // the lock. The log's delete record waits for its copy (they touch one entry).
        std::u16string why;
        platform::setThreadDeviceTop(platform::toHostPath(record->deviceTop));
        const std::uint32_t result = run(bindings, *record, runFailed, worker.log, why);
        platform::setThreadDeviceTop({});
        if (record->log) {
            worker.log.kind = record->kind;
            worker.log.state = result;
            *record->log = std::move(worker.log);
        }
        finish(worker, record, result, std::move(why));
        notifyChanged();
    }
    // The worker has ended (takeNext said so): from here on it touches no shared state.
    session::setThreadTransferWatch(nullptr);
    platform::setThreadStopFlag(nullptr);
    threadWorker = nullptr;
}

bool startWorkerLocked() {
    Queue& queue = state();
    const bool first = queue.workers.empty();
    if (first) {
        queue.mutex = platform::createMutex(u"FileOpWorker", false);
        queue.stopping = false;
    }
    auto worker = std::make_unique<Worker>();
    worker->event = platform::createEvent(u"", false, true);
    worker->woken = true;
    Worker* started = worker.get();
    // The thread owns its worker from its start; it needs lifeLock, held here, to end.
    if (queue.mutex && started->event &&
        platform::startThread([started] { workerBody(std::unique_ptr<Worker>(started)); }, true)) {
        worker.release();
        queue.workers.push_back(started);
        return true;
    }
    platform::closeHandle(started->event);
    if (first) {
        platform::closeHandle(queue.mutex);
        queue.mutex = platform::noSyncHandle;
    }
    return false;
}

// Under lifeLock: a worker when none exists, so that a record added to any list has one
// (a log record too, as the queue has always done).
bool ensureWorkerLocked() { return !state().workers.empty() || startWorkerLocked(); }

// A new record of `kind`; null when a path is longer than a record holds.
std::unique_ptr<FileOperation> makeRecord(std::uint32_t kind, std::u16string_view source,
                                          std::u16string_view destination) {
    // A path cut to fit would name another file.
    if (source.size() >= pathCapacity || destination.size() >= pathCapacity) {
        platform::setLastError(platform::errorFilenameTooLong);
        return nullptr;
    }
    auto record = std::unique_ptr<FileOperation>(new (std::nothrow) FileOperation);
    if (!record) return nullptr;
    record->kind = kind;
    record->state = statePending;
    copyPath(record->source, source);
    copyPath(record->destination, destination);
    record->queued = now();
    std::u16string_view device = isDevicePath(source) ? source : destination;
    if (isDevicePath(device)) {
        device = viewPathOf(device);
        while (device.size() > 1 && explorer::isSeparator(device.back())) device.remove_suffix(1);
        const auto separator = device.find_last_of(u"\\/");
        record->deviceTop = device.substr(0, separator == std::u16string_view::npos ? 0 : separator + 1);
    }
    return record;
}

// Appends `records` to `list` (Pending unless it is Active, Successful or Failed) in one
// hold of the locks, and wakes or starts workers for them; see addOperation.
int enqueue(std::vector<std::unique_ptr<FileOperation>> records, int list) {
    for (const std::unique_ptr<FileOperation>& record : records) {
        if (!record) return 0;
    }
    const bool pending = list != listActive && list != listSuccessful && list != listFailed;
    // A copy queued from the UI runs on the place current now; a file that a folder copy
    // logs is for that copy's places, so that it can be retried by itself.
    Worker* const worker = threadWorker;
    for (const std::unique_ptr<FileOperation>& record : records) {
        if (worker && !worker->records.empty()) {
            record->place = worker->records.front()->place;
            record->sourcePlace = worker->records.front()->sourcePlace;
            record->deviceTop = worker->records.front()->deviceTop;
        } else if (pending && state().bindings.currentPlace) {
            record->place = state().bindings.currentPlace();
        }
    }
    Queue& queue = state();
    {
        std::lock_guard life(queue.lifeLock);
        if (!ensureWorkerLocked()) return 0;
        ListLock held(queue.mutex);
        std::size_t startable = 0;
        for (std::unique_ptr<FileOperation>& record : records) {
            if (pending && queue.order.add(stepId(record.get()), stepOf(*record))) ++startable;
            append(listOf(pending ? listPending : list), record.release());
        }
        dispatchLocked(startable);
    }
    notifyChanged();
    return 1;
}

// The device folders of the runs, by run.
std::mutex runTopsLock;
std::map<std::uint64_t, std::u16string> runTops;

int add(std::uint32_t kind, std::u16string_view source, std::u16string_view destination, std::uint64_t run = 0,
        std::optional<mirroring::SyncEntry> planned = std::nullopt) {
    std::vector<std::unique_ptr<FileOperation>> records;
    records.push_back(makeRecord(kind, source, destination));
    if (records[0] && run != 0) {
        records[0]->run = run;
        records[0]->planned = std::move(planned);
        std::lock_guard held(runTopsLock);
        if (const auto top = runTops.find(run); top != runTops.end()) records[0]->deviceTop = top->second;
    }
    return enqueue(std::move(records), listPending);
}

}  // namespace

void bindQueue(const QueueBindings& bindings) {
    std::lock_guard life(state().lifeLock);
    state().bindings = bindings;
}

int addOperation(std::uint32_t kind, std::u16string_view source, std::u16string_view destination, int list,
                 explorer::EntryStamp stamp) {
    // The running copy's log counts whether or not a record can be made of it: a move
    // deletes only what its copy copied, and nothing when it failed anywhere.
    if (Worker* worker = threadWorker; worker && list == listFailed) ++worker->log.failedLogs;
    if (Worker* worker = threadWorker; worker && list == listSuccessful) {
        const std::u16string copied(viewPathOf(source));
        if (kind == kindCopyFolder) worker->log.copied.folders.insert(copied);
        else worker->log.copied.files[copied] = stamp;
    }
    std::vector<std::unique_ptr<FileOperation>> records;
    records.push_back(makeRecord(kind, source, destination));
    return enqueue(std::move(records), list);
}

int queueCopyFileFrom(const PlaceToken& sourcePlace, std::u16string_view source, std::u16string_view destination) {
    std::vector<std::unique_ptr<FileOperation>> records;
    records.push_back(makeRecord(kindCopyFile, source, destination));
    if (records[0]) records[0]->sourcePlace = sourcePlace;
    return enqueue(std::move(records), listPending);
}

int queueCopyFile(std::u16string_view source, std::u16string_view destination) {
    return add(kindCopyFile, source, destination);
}

int queueCopyFolder(std::u16string_view source, std::u16string_view destination) {
    return add(kindCopyFolder, source, destination);
}

int queueMove(std::u16string_view source, std::u16string_view destination, bool folder) {
    std::vector<std::unique_ptr<FileOperation>> records;
    records.push_back(makeRecord(folder ? kindCopyFolder : kindCopyFile, source, destination));
    records.push_back(makeRecord(kindDelete, u"", source));
    if (!records[0] || !records[1]) return 0;
    records[0]->moving = true;
    records[0]->log = records[1]->log = std::make_shared<CopyLog>();
    return enqueue(std::move(records), listPending);
}

int queueDelete(std::u16string_view path) { return add(kindDelete, u"", path); }

std::uint64_t newRun(std::u16string_view deviceTop) {
    static std::atomic<std::uint64_t> last{0};
    const std::uint64_t run = ++last;
    std::lock_guard held(runTopsLock);
    if (!deviceTop.empty()) runTops[run] = deviceTop;
    return run;
}

int queueRunCopy(std::uint64_t run, std::u16string_view source, std::u16string_view destination,
                 const mirroring::SyncEntry& planned) {
    return add(kindCopyFile, source, destination, run, planned);
}

int queueRunMakeFolder(std::uint64_t run, std::u16string_view path) { return add(kindMakeFolder, u"", path, run); }

int queueRunRemove(std::uint64_t run, std::u16string_view path, const mirroring::SyncEntry& planned) {
    return add(planned.folder ? kindRemoveFolder : kindDelete, u"", path, run, planned);
}

int retryFailed(std::u16string_view destination, std::uint64_t started) {
    Queue& queue = state();
    {
        std::lock_guard life(queue.lifeLock);
        if (!ensureWorkerLocked()) return 0;
        ListLock held(queue.mutex);
        List& failed = queue.lists[3];
        FileOperation* record = failed.head;
        while (record && (record->started != started || textOf(record->destination) != destination)) {
            record = record->next;
        }
        if (!record) return 0;
        // A move's two records share their log; the copy goes first, its failed delete after.
        FileOperation* copy = record->kind == kindDelete ? nullptr : record;
        FileOperation* removal = record->kind == kindDelete ? record : nullptr;
        for (FileOperation* other = failed.head; other && record->log; other = other->next) {
            if (other == record || other->log != record->log) continue;
            (other->kind == kindDelete ? removal : copy) = other;
        }
        const std::uint64_t queued = now();
        for (FileOperation* retried : {copy, removal}) {
            if (!retried) continue;
            unlink(failed, retried);
            retried->state = statePending;
            retried->queued = queued;
            retried->started = 0;
            retried->finished = 0;
            retried->why.clear();
            retried->retried = true;
            const std::optional<mirroring::StepId> before = queue.order.retry(stepId(retried), stepOf(*retried));
            insert(queue.lists[0], retried, before ? recordOf(*before) : nullptr);
        }
        dispatchLocked();
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
    if (queue.workers.empty()) return;
    queue.stopping = true;
    ListLock held(queue.mutex);
    freeList(queue.lists[0]);  // the workers take no more
    for (Worker* worker : queue.workers) {
        worker->idleTimeout.store(lastIdleTimeoutMs + 1);
        worker->watch.stop.store(true);
        platform::setEvent(worker->event);
    }
}

bool waitForQueue(std::chrono::milliseconds limit) {
    Queue& queue = state();
    std::unique_lock life(queue.lifeLock);
    return queue.ended.wait_for(life, limit, [&] { return queue.workers.empty(); });
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
    const std::uint32_t tick = platform::tickCount();
    // Active keeps the running records in the order they started; a batch's bytes are its
    // worker's, counted once.
    std::vector<const Worker*> counted;
    for (const FileOperation* record = queue.lists[1].head; record; record = record->next) {
        const auto worker = std::find_if(queue.workers.begin(), queue.workers.end(), [record](const Worker* w) {
            return std::find(w->records.begin(), w->records.end(), record) != w->records.end();
        });
        if (worker == queue.workers.end()) continue;
        ++progress.running;
        if (std::find(counted.begin(), counted.end(), *worker) != counted.end()) continue;
        const std::int64_t total = (*worker)->watch.total.load();
        if (counted.empty()) {
            progress.destination = textOf(record->destination);
            progress.elapsedMs = tick - (*worker)->activeSince.load();
            progress.total = total;
        } else {
            progress.total = progress.total < 0 || total < 0 ? -1 : progress.total + total;
        }
        counted.push_back(*worker);
        progress.done += (*worker)->watch.done.load();
    }
    progress.active = progress.running > 0;
    return progress;
}

bool workerRunning() {
    std::lock_guard life(state().lifeLock);
    return !state().workers.empty();
}

}  // namespace queue
