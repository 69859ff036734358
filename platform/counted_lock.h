// Counted locks: the locks that guard state other threads share (a place's, the queue's,
// the registry's) count themselves per thread, so that a call that waits for the UI
// thread can check that its thread holds none of them: the UI thread may be waiting for
// that very lock, and neither would ever go on. Debug builds abort on such a call.
#pragma once

#include <chrono>
#include <mutex>
#include <source_location>
#include <thread>

namespace platform {

// How many counted locks the calling thread holds now. Any thread.
int countedLocksHeld();
// Adds `change` to the calling thread's count. Any thread.
void countLockChange(int change);

// In debug builds: aborts, naming the call at `where`, when the calling thread holds a
// counted lock. A call that waits for the UI thread makes this check first. Any thread.
void checkNoLockHeld(std::source_location where);

// A mutex that counts while its holder holds it; it works with std::lock_guard and
// std::unique_lock as std::mutex does. try_lock_for polls in short naps rather than use
// std::timed_mutex, whose timed wait ThreadSanitizer cannot see.
class CountedMutex {
public:
    void lock() {
        mutex_.lock();
        countLockChange(1);
    }
    bool try_lock() {
        if (!mutex_.try_lock()) return false;
        countLockChange(1);
        return true;
    }
    template <class Rep, class Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (!try_lock()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    void unlock() {
        countLockChange(-1);
        mutex_.unlock();
    }

private:
    std::mutex mutex_;
};

}  // namespace platform
