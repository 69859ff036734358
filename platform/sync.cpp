#include "platform/sync.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "platform/errors.h"

namespace platform {
namespace {

enum class Kind { mutex, event };

// One mutex or event. `state` guards every field below it; `changed` is notified
// whenever the object may have become free or set.
struct SyncObject {
    explicit SyncObject(Kind objectKind) : kind(objectKind) {}
    const Kind kind;
    std::mutex state;
    std::condition_variable changed;
    std::optional<std::thread::id> owner;  // mutex: the owning thread
    unsigned count = 0;                    // mutex: times the owner took it
    bool manualReset = false;              // event
    bool set = false;                      // event
};

struct Objects {
    std::mutex lock;
    std::map<SyncHandle, std::shared_ptr<SyncObject>> handles;
    std::map<std::u16string, std::weak_ptr<SyncObject>> named;
    SyncHandle nextHandle = 1;
};

// Function-local so that objects can be created by static initialisers.
Objects& objects() {
    static Objects instance;
    return instance;
}

std::shared_ptr<SyncObject> objectOf(SyncHandle handle) {
    Objects& all = objects();
    std::lock_guard guard(all.lock);
    const auto found = all.handles.find(handle);
    return found == all.handles.end() ? nullptr : found->second;
}

// Returns a new handle to the object called `name` (a new object when it has none or
// no object of that name is open); `created` tells which.
SyncHandle openObject(std::u16string_view name, Kind kind, std::shared_ptr<SyncObject>& object, bool& created) {
    Objects& all = objects();
    std::lock_guard guard(all.lock);
    created = false;
    if (!name.empty()) {
        const auto found = all.named.find(std::u16string(name));
        if (found != all.named.end()) object = found->second.lock();
    }
    if (object && object->kind != kind) {
        setLastError(errorInvalidHandle);
        return noSyncHandle;
    }
    if (!object) {
        object = std::make_shared<SyncObject>(kind);
        created = true;
        if (!name.empty()) all.named[std::u16string(name)] = object;
    }
    const SyncHandle handle = all.nextHandle++;
    all.handles.emplace(handle, object);
    setLastError(created ? errorSuccess : errorAlreadyExists);
    return handle;
}

bool fail(std::uint32_t code) {
    setLastError(code);
    return false;
}

// Takes the mutex or consumes the event if that can be done now. Pre: `state` held.
bool tryAcquire(SyncObject& object) {
    if (object.kind == Kind::event) {
        if (!object.set) return false;
        if (!object.manualReset) object.set = false;
        return true;
    }
    const std::thread::id self = std::this_thread::get_id();
    if (object.owner && *object.owner != self) return false;
    object.owner = self;
    ++object.count;
    return true;
}

}  // namespace

SyncHandle createMutex(std::u16string_view name, bool initiallyOwned) {
    std::shared_ptr<SyncObject> object;
    bool created = false;
    const SyncHandle handle = openObject(name, Kind::mutex, object, created);
    if (handle != noSyncHandle && created && initiallyOwned) {
        std::lock_guard guard(object->state);
        tryAcquire(*object);
    }
    return handle;
}

bool releaseMutex(SyncHandle mutex) {
    const auto object = objectOf(mutex);
    if (!object || object->kind != Kind::mutex) return fail(errorInvalidHandle);
    {
        std::lock_guard guard(object->state);
        if (object->owner != std::this_thread::get_id()) return fail(errorNotOwner);
        if (--object->count > 0) return true;
        object->owner.reset();
    }
    object->changed.notify_all();
    return true;
}

SyncHandle createEvent(std::u16string_view name, bool manualReset, bool initiallySet) {
    std::shared_ptr<SyncObject> object;
    bool created = false;
    const SyncHandle handle = openObject(name, Kind::event, object, created);
    if (handle != noSyncHandle && created) {
        std::lock_guard guard(object->state);
        object->manualReset = manualReset;
        object->set = initiallySet;
    }
    return handle;
}

bool setEvent(SyncHandle event) {
    const auto object = objectOf(event);
    if (!object || object->kind != Kind::event) return fail(errorInvalidHandle);
    {
        std::lock_guard guard(object->state);
        object->set = true;
    }
    object->changed.notify_all();
    return true;
}

bool resetEvent(SyncHandle event) {
    const auto object = objectOf(event);
    if (!object || object->kind != Kind::event) return fail(errorInvalidHandle);
    std::lock_guard guard(object->state);
    object->set = false;
    return true;
}

WaitResult waitFor(SyncHandle handle, std::uint32_t milliseconds) {
    // Held for the whole wait, so closing the last handle meanwhile is harmless.
    const auto object = objectOf(handle);
    if (!object) {
        setLastError(errorInvalidHandle);
        return WaitResult::failed;
    }
    std::unique_lock guard(object->state);
    auto ready = [&] { return tryAcquire(*object); };
    if (milliseconds == waitForever) {
        object->changed.wait(guard, ready);
        return WaitResult::signaled;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return object->changed.wait_until(guard, deadline, ready) ? WaitResult::signaled : WaitResult::timeout;
}

bool closeHandle(SyncHandle handle) {
    Objects& all = objects();
    std::lock_guard guard(all.lock);
    if (all.handles.erase(handle) == 0) return fail(errorInvalidHandle);
    std::erase_if(all.named, [](const auto& entry) { return entry.second.expired(); });
    return true;
}

bool startThread(std::function<void()> body, bool belowNormalPriority) {
    try {
        std::thread([body = std::move(body), belowNormalPriority] {
            if (belowNormalPriority) {
                // A higher nice value for this thread only (Linux keeps one per
                // thread); a host that refuses leaves the thread at normal priority.
                const auto self = static_cast<id_t>(gettid());
                errno = 0;
                const int nice = getpriority(PRIO_PROCESS, self);
                if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(nice + 4, 19));
            }
            body();
        }).detach();
    } catch (const std::system_error&) {
        return fail(errorNotEnoughMemory);
    }
    return true;
}

}  // namespace platform
