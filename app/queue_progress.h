// The queue as the user meets it outside the Queue view: it is bound to the Remote view's
// places and simultaneous copies at start-up, and while copies run their progress (bytes,
// percentage, rate, time left, records running and waiting) is drawn between the
// soft-key labels, refreshed twice a second.
// When nothing runs nothing is drawn and no timer runs. UI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "platform/window/window.h"
#include "queue/operation_queue.h"

namespace app {

// Binds the queue to the Remote view's places and to the progress display of `window`.
void bindQueue(platform::Window window);
// The window goes: the display ends with it (after the queue has stopped).
void endQueueDisplay();
// The main window's messages of the display: true when `message` was one.
bool handleQueueMessage(platform::MessageId message, platform::WParam wParam);
// What the last look at the queue saw of the active copy.
struct ProgressLook {
    std::u16string destination;
    std::int64_t done = -1;
    std::uint32_t movedAtMs = 0;  // the copy's elapsed time when its bytes last moved
};
// How long the bytes of the active copy have stood still, from successive looks at the
// queue (the copy's elapsed time is the clock); `seen` keeps what the last look saw.
std::uint32_t stillFor(ProgressLook& seen, const queue::QueueProgress& progress);
// The status text for a moment of the queue; empty when nothing runs or waits. Of
// several running copies it tells the sums of their bytes and how many run. Bytes that
// have stood still for `stillMs` of a few seconds show "stalled" instead of a rate and a
// time left that would only fall.
std::u16string progressText(const queue::QueueProgress& progress, std::uint32_t stillMs);

}  // namespace app
