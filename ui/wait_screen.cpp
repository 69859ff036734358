#include "ui/wait_screen.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "explorer/population.h"
#include "platform/stop_flag.h"
#include "platform/window/dialog.h"
#include "platform/window/message_box.h"
#include "resources/commands.h"
#include "resources/dialogs.h"
#include "ui/dialog_runner.h"

namespace ui {
namespace {

constexpr platform::MessageId workDoneMessage = platform::userMessage(1);
// Work that ends within this shows no screen: a quick command does not flash one, and
// the keys typed meanwhile reach what comes after it. Short enough that a key waits no
// longer than a person notices.
constexpr auto screenDelay = std::chrono::milliseconds(80);

// What the command and its thread share: the thread may outlive the command.
struct Waiting {
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;        // under lock
    platform::Window screen;  // under lock: the screen, once it shows
};

}  // namespace

bool runWhileWaiting(platform::Window owner, const WaitScreen& screen, std::function<void()> work) {
    const auto waiting = std::make_shared<Waiting>();
    const bool started = explorer::startListingThread([waiting, work = std::move(work)] {
        platform::setThreadStopFlag(&waiting->stop);
        work();
        platform::setThreadStopFlag(nullptr);
        platform::Window shown;
        {
            std::lock_guard guard(waiting->lock);
            waiting->done = true;
            shown = waiting->screen;
        }
        waiting->ended.notify_all();
        if (shown && !waiting->stop) platform::postMessage(shown, workDoneMessage);
    });
    if (!started) {
        platform::messageBox(owner, u"This cannot be done now: no thread could be started.", screen.caption,
                             platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
        return false;
    }
    {
        // A box the work asks for meanwhile waits at most this long for the UI thread.
        std::unique_lock guard(waiting->lock);
        if (waiting->ended.wait_for(guard, screenDelay, [&] { return waiting->done; })) return true;
    }
    const FullScreenDialog dialog{.keypadTemplate = &resources::waitingDialog,
                                  .keybarCaption = screen.caption,
                                  .helpTopic = screen.helpTopic,
                                  .bar = &resources::waitingBar};
    const int result = runDialog(dialog, owner,
                                 [&](platform::Window window, platform::MessageId message, platform::WParam,
                                     platform::LParam) -> platform::LResult {
                                     if (message == workDoneMessage) {
                                         platform::endDialog(window, resources::commandDone);
                                         return 1;
                                     }
                                     if (message != platform::MessageId::initDialog) return 0;
                                     platform::setWindowText(window, screen.caption);
                                     platform::setWindowText(platform::getDialogItem(window, resources::waitingText),
                                                             screen.text);
                                     bool done = false;
                                     {
                                         std::lock_guard guard(waiting->lock);
                                         done = waiting->done;
                                         if (!done) waiting->screen = window;
                                     }
                                     if (done) platform::endDialog(window, resources::commandDone);
                                     return 1;
                                 });
    if (result == resources::commandDone) return true;
    waiting->stop = true;
    return false;
}

}  // namespace ui
