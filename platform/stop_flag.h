// The stop flag of a thread: what asks the work running on it to give up (a Stop of the
// queue, a Cancel, the end of the program). Its network waits, and its waits for a
// place's connection, hear it within stopCheckMs. A session operation takes the flag of
// the thread that runs it, for that operation only. Any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

// A wait that hears the stop looks at it at least this often.
inline constexpr std::uint32_t stopCheckMs = 250;

// Names the flag of the calling thread; null: none. The flag must outlive its naming.
void setThreadStopFlag(const std::atomic<bool>* flag);
const std::atomic<bool>* threadStopFlag();
// Whether the calling thread was asked to stop: work that goes step by step asks it
// before each step, and a stopped thread asks the user no question.
bool threadStopped();

}  // namespace platform
