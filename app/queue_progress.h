// The queue as the user meets it outside the Queue view: it is bound to the Remote view's
// places at start-up, and while a copy runs its progress (bytes, percentage, rate, time
// left, records waiting) is drawn between the soft-key labels, refreshed twice a second.
// When nothing runs nothing is drawn and no timer runs. UI thread only.
#pragma once

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
// The status text for a moment of the queue; empty when nothing runs or waits.
std::u16string progressText(const queue::QueueProgress& progress);

}  // namespace app
