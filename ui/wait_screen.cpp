#include "ui/wait_screen.h"

#include <atomic>
#include <memory>

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
}  // namespace

bool runWhileWaiting(platform::Window owner, const WaitScreen& screen, std::function<void()> work) {
    const auto stop = std::make_shared<std::atomic<bool>>(false);
    const FullScreenDialog dialog{.keypadTemplate = &resources::waitingDialog,
                                  .keybarCaption = screen.caption,
                                  .helpTopic = screen.helpTopic,
                                  .bar = &resources::waitingBar};
    const int result = runDialog(
        dialog, owner,
        [&](platform::Window window, platform::MessageId message, platform::WParam,
            platform::LParam) -> platform::LResult {
            if (message == workDoneMessage) {
                platform::endDialog(window, resources::commandDone);
                return 1;
            }
            if (message != platform::MessageId::initDialog) return 0;
            platform::setWindowText(window, screen.caption);
            platform::setWindowText(platform::getDialogItem(window, resources::waitingText), screen.text);
            const bool started = explorer::startListingThread([stop, work = std::move(work), window] {
                platform::setThreadStopFlag(stop.get());
                work();
                platform::setThreadStopFlag(nullptr);
                if (!*stop) platform::postMessage(window, workDoneMessage);
            });
            if (!started) {
                platform::messageBox(window, u"This cannot be done now: no thread could be started.", screen.caption,
                                     platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
                platform::endDialog(window, resources::commandCancel);
            }
            return 1;
        });
    if (result == resources::commandDone) return true;
    *stop = true;
    return false;
}

}  // namespace ui
