// The screen that waits, with Cancel, while a command's work runs on a thread of its own:
// for remote commands that may take a while (Synchronize reading two trees, a server file
// downloaded to be viewed or edited, and sent back). The UI thread never waits on the
// network meanwhile.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/window/window.h"

namespace ui {

struct WaitScreen {
    std::u16string_view caption;  // the command's name: the screen's title
    std::u16string text;          // what is being done
    int helpTopic = 0;            // the string id of the help topic
};

// Runs `work` on a listing thread (explorer/population.h) while the screen shows over
// `owner`; work that ends within 80 ms shows none (the keys wait meanwhile). Cancel sets
// the thread's stop flag (platform/stop_flag.h), which `work` hears.
// True once `work` has ended; false when the user cancelled first, or when no thread could
// be started (a box then said so). After a Cancel the thread ends on its own, later:
// `work` must own (share) what it uses. UI thread only.
bool runWhileWaiting(platform::Window owner, const WaitScreen& screen, std::function<void()> work);

}  // namespace ui
