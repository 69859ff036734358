// Sync: named in-process mutexes and events with the platform's wait semantics, and
// detached threads. A mutex is owned by the thread that took it, may be taken again by
// its owner (counted) and only its owner releases it. An auto-reset event wakes one
// waiter and resets itself. Objects with the same name are the same object; creating
// one that exists returns it and sets errorAlreadyExists. Any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace platform {

using SyncHandle = std::uintptr_t;
inline constexpr SyncHandle noSyncHandle = 0;
inline constexpr std::uint32_t waitForever = 0xFFFFFFFF;

enum class WaitResult { signaled, timeout, failed };

SyncHandle createMutex(std::u16string_view name, bool initiallyOwned);
bool releaseMutex(SyncHandle mutex);
SyncHandle createEvent(std::u16string_view name, bool manualReset, bool initiallySet);
bool setEvent(SyncHandle event);
bool resetEvent(SyncHandle event);
// Waits for a mutex to be free (and takes it) or an event to be set. 0 only tests.
WaitResult waitFor(SyncHandle object, std::uint32_t milliseconds);
// The object lives while any handle to it is open.
bool closeHandle(SyncHandle object);

// Starts a detached thread; with belowNormalPriority the thread asks the host for a
// lower scheduling priority where it allows (nice + 4). False when no thread could be
// started. `body` must not throw. A mutex still owned when its thread ends stays taken.
bool startThread(std::function<void()> body, bool belowNormalPriority);

}  // namespace platform
