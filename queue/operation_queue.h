// The background operation queue: copies between the device and a server wait in
// Pending and are carried out, oldest first, by worker threads: up to the number of
// simultaneous copies at once, each on a worker (and so a connection) of its own. A
// record never starts while an earlier unfinished one touches one of its entries (the
// same path, or one a folder above the other, on the same side), so that a move's delete
// follows its copy and a folder is made before what goes into it (the order of
// mirroring/plan_executor.h, which synchronisation shares). A worker starts when a
// record needs one and ends after a long idle spell. Each record then stays in
// Successful or Failed until Clear. The queue knows nothing of FTP: it hands each record
// to the Remote view's CopyFile and CopyFolder, on the place the record was queued for.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explorer/folder_walk.h"
#include "mirroring/sync_trees.h"
#include "platform/sync.h"

namespace queue {

// A synchronisation's removal of a file is a delete record; its other steps have kinds of
// their own.
enum OperationKind : std::uint32_t {
    kindCopyFile = 1,
    kindDelete = 3,
    kindCopyFolder = 6,
    kindMakeFolder = 7,
    kindRemoveFolder = 8,
};
enum OperationState : std::uint32_t { statePending = 1, stateActive = 2, stateSucceeded = 3, stateFailed = 4 };
// Add takes any value: those other than active, successful and failed mean pending.
enum QueueList : int { listPending = 1, listActive = 2, listSuccessful = 3, listFailed = 4 };

inline constexpr std::size_t pathCapacity = 260;

// The place a record was queued for, as the Remote view gives it (opaque here).
using PlaceToken = std::shared_ptr<const void>;

// What the copy of a move logged, kept for its delete record (opaque here).
struct CopyLog;

// One operation. In a list, `next` belongs to the queue's lock.
struct FileOperation {
    FileOperation* next = nullptr;
    std::uint32_t kind = 0;
    std::uint32_t state = 0;
    std::uint64_t queued = 0;  // file times, UTC; zero until they happen
    std::uint64_t started = 0;
    std::uint64_t finished = 0;
    char16_t source[pathCapacity] = {};  // "file://" + a device path, or a server path
    char16_t destination[pathCapacity] = {};
    PlaceToken place;        // the Remote view's place when it was queued
    PlaceToken sourcePlace;  // a copy from another place: the place its source is on
    std::u16string why;      // why a record failed, for its Properties (and a box, unless of a run)
    bool retried = false;    // queued again from Failed: a download continues what it left
    bool moving = false;     // the copy of a move: a delete record of its source follows
    std::uint64_t run = 0;   // the synchronisation the record belongs to (see newRun); 0: none
    // The device folder its device side is reached from, no link below it followed
    // (platform/folder_handles.h): a run's folder, else the folder of its device path, or
    // for a file a folder copy logged, that copy's.
    std::u16string deviceTop;
    std::shared_ptr<CopyLog> log;  // a move: shared by its copy, which fills it, and its delete
    // A run's removal: the entry as the synchronisation's plan saw it (its path below the
    // synchronised folders), which must still stand there when the removal comes.
    std::optional<mirroring::SyncEntry> planned;
};

// What the worker needs besides the records, bound once at start-up (tests bind fakes).
struct QueueBindings {
    // UI thread: the place a record queued now is for.
    PlaceToken (*currentPlace)() = nullptr;
    // Worker: makes `place` the place of this thread's remote operations, and
    // `sourcePlace` (when given) the place a copy's source is on, until leavePlace;
    // false with the reason when one was deleted or changed since.
    bool (*enterPlace)(const PlaceToken& place, const PlaceToken& sourcePlace, std::u16string& reason) = nullptr;
    void (*leavePlace)() = nullptr;
    // Whether two records' places are one, so that their copies may share a connection;
    // null: only the same token. Any thread, under the queue's lock: it must not wait.
    bool (*samePlace)(const PlaceToken& one, const PlaceToken& other) = nullptr;
    // Worker, when nothing waits: lets go of the connections it kept between records, so
    // that none lingers idle, nor outlives the worker's end (which a quit waits for).
    void (*idle)() = nullptr;
    // The worker's wait for work and the clock of the time stamps.
    platform::WaitResult (*waitForWork)(platform::SyncHandle event, std::uint32_t milliseconds) = platform::waitFor;
    std::uint64_t (*now)() = nullptr;  // null: the system clock
    // Told when a record starts or ends on the worker, and when a record is added. Any thread.
    void (*changed)() = nullptr;
    // How many records may run at once (1 to 8), read as each record starts; null: 1.
    // Any thread, under the queue's lock: it must not wait.
    int (*simultaneousCopies)() = nullptr;
    // Worker, inside enterPlace: what stands at the server path `path` now, from a
    // listing of its folder (see mirroring::serverEntryNow); false with the reason when
    // the folder could not be listed. Null: a run's removal on a server is never made.
    bool (*serverEntryNow)(const std::string& path, mirroring::EntryNow& now, std::string& reason) = nullptr;
};
void bindQueue(const QueueBindings& bindings);  // before the first Add

// Adds a record to `list`, starting a worker when none exists. 0 when the record could
// not be made, or when a path is longer than 259 units (cut, it would name another
// file). A folder copy on the worker logs what it handled here: each entry it copied
// into Successful, with the stamp its listing gave a file, and each it did not into
// Failed; the running copy counts both whatever the result. Any thread.
int addOperation(std::uint32_t kind, std::u16string_view source, std::u16string_view destination, int list,
                 explorer::EntryStamp stamp = {});
// The queue entries: each adds to Pending. A move is a copy record, then a delete
// record (empty source, the moved path as destination) that the worker carries out only
// when the copy before it succeeded whole; a folder's delete removes only the entries its
// copy logged, while they are as the copy saw them, and fails saying what it kept. Any
// thread.
int queueCopyFile(std::u16string_view source, std::u16string_view destination);
int queueCopyFolder(std::u16string_view source, std::u16string_view destination);
int queueMove(std::u16string_view source, std::u16string_view destination, bool folder);
int queueDelete(std::u16string_view path);
// A file copied from the server of `sourcePlace` to the current place's.
int queueCopyFileFrom(const PlaceToken& sourcePlace, std::u16string_view source, std::u16string_view destination);

// A synchronisation goes on the queue as the records of one run: copies of single files,
// either way, that replace their target without asking (the user chose them in the
// preview) and leave the target with the source's time; folders made before what goes
// into them (one that exists already counts as made); and removals of single files and
// of empty folders, never following a link (one met on the device fails the removal),
// and only while the entry is as the plan saw it (`planned`; mirroring::changedSincePlanned
// says what differs, and the removal fails saying so, a Retry too). A run's removal waits
// until every other
// record of the run queued before it has ended, and is carried out only when no copy of
// the run failed; else it fails, saying so. The failure belongs to the run: a Retry of
// the copy takes it back (the copy goes before the run's waiting removals), while Clear
// or Delete of the copy's record does not. Failures of a run's records show no box: the
// reason stays with the record in Failed. Paths are as for the records above ("file://"
// and a device path, or a server path). The run's device side is reached from
// `deviceTop`, the device folder it synchronises: a link put in place below it after the
// preview fails its action (none: each record's own folder). Any thread.
std::uint64_t newRun(std::u16string_view deviceTop = {});
int queueRunCopy(std::uint64_t run, std::u16string_view source, std::u16string_view destination);
int queueRunMakeFolder(std::uint64_t run, std::u16string_view path);
int queueRunRemove(std::uint64_t run, std::u16string_view path, const mirroring::SyncEntry& planned);

// Moves the Failed record with this destination that started at `started` back to
// Pending (queued now, pending, no reason, marked retried; at the tail, or a run's record
// before its run's waiting removals) and wakes a worker, starting one when none is idle.
// A move's copy brings its failed delete record along, in order, whichever of the two is
// named. 0 when Failed holds no such record. UI thread only.
int retryFailed(std::u16string_view destination, std::uint64_t started);

// Frees the records of Successful and Failed, whether or not a worker runs; 0 when
// there were none. UI thread only.
int clearQueue();
// Frees the first record of `list` (Successful or Failed only: what waits or runs is no
// log to remove) that `matches`; 0 when there is none. UI thread only.
int removeLogRecord(int list, const std::function<bool(const FileOperation&)>& matches);
// At shutdown, before the places go: asks the running copies to stop (their network
// waits hear it within a quarter of a second) and every worker to take no more records,
// without waiting. Any thread.
void askQueueToStop();
// Waits until no worker runs, at most `limit`; true when none does. Any thread.
bool waitForQueue(std::chrono::milliseconds limit);
// askQueueToStop, a wait of at most 5 s for the workers to end, and the records freed
// once all have; with no worker every record is freed at once. Any thread.
int stopQueue();
// The records waiting or running. Any thread.
int unfinishedCopies();

// Copies of the records of a list, oldest first, taken under the lock while the worker
// may relink them. Any thread.
std::vector<FileOperation> listRecords(int list);

// What runs now, for the progress display: of several running records the sums of their
// bytes, and the time since the first of them started. Any thread.
struct QueueProgress {
    bool active = false;
    std::u16string destination;  // the first running record's
    std::int64_t done = 0;
    std::int64_t total = -1;      // -1 when any running record's size is unknown
    std::uint32_t elapsedMs = 0;  // since the first running record started
    int running = 0;
    int pending = 0;
};
QueueProgress queueProgress();

bool workerRunning();  // Any thread.

}  // namespace queue
