#include "app/server_command.h"

#include <memory>

#include "app/main_window.h"
#include "resources/strings.h"
#include "ui/wait_screen.h"

namespace app {

bool runOnView(const explorer::ViewProvider& view, std::u16string_view caption, std::u16string doing,
               std::function<void(const explorer::ViewProvider& view)> work) {
    if (&view != &explorer::remoteProvider) {
        work(view);
        return true;
    }
    // The thread works on the place the view shows now, whatever the user selects later.
    const auto copy = std::make_shared<const explorer::ViewProvider>(view);
    const ui::WaitScreen screen{
        .caption = caption, .text = std::move(doing), .helpTopic = resources::stringMainHelpTopic};
    return ui::runWhileWaiting(mainWindow.handle, screen, [copy, work = std::move(work)] {
        explorer::setThreadView(copy.get());
        work(*copy);
        explorer::setThreadView(nullptr);
    });
}

}  // namespace app
