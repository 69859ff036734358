#include "ui/dialog_runner.h"

#include "resources/commands.h"
#include "ui/help.h"
#include "ui/platform_type.h"
#include "ui/soft_keys.h"

namespace ui {

using platform::MessageId;
using platform::Window;

int runDialog(const FullScreenDialog& dialog, Window owner, const platform::DialogProcedure& procedure) {
    detectPlatform();
    const platform::DialogTemplate* chosen = isPocketPC() && dialog.touchTemplate ? dialog.touchTemplate
                                                                                  : dialog.keypadTemplate;
    const int result = platform::dialogBox(
        *chosen, owner,
        [&](Window window, MessageId message, platform::WParam wParam, platform::LParam lParam) -> platform::LResult {
            if (handleDialogBackKey(window, message, wParam, lParam)) return 1;
            if (message == MessageId::initDialog) {
                if (!initFullScreenDialog(window, *dialog.bar, true)) return 1;
                addHelpToSoftKeyMenu(window, platform::SoftKey::right);
            } else if (message == MessageId::help ||
                       (message == MessageId::command && platform::commandId(wParam) == resources::commandHelp)) {
                openHelp(window, dialog.helpTopic);
                return 1;
            }
            return procedure(window, message, wParam, lParam);
        });
    if (result == keybarFailed && !dialog.keybarCaption.empty()) showKeybarError(owner, dialog.keybarCaption);
    return result;
}

}  // namespace ui
