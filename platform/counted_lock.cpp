#include "platform/counted_lock.h"

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {
thread_local int heldLocks = 0;
}  // namespace

int countedLocksHeld() { return heldLocks; }

void countLockChange(int change) { heldLocks += change; }

void checkNoLockHeld([[maybe_unused]] std::source_location where) {
#ifndef NDEBUG
    if (heldLocks == 0) return;
    std::fprintf(stderr, "farlink: %s waits for the UI thread while its thread holds %d lock(s)\n",
                 where.function_name(), heldLocks);
    std::abort();
#endif
}

}  // namespace platform
