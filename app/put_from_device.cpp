#include "app/put_from_device.h"

#include <string>

#include "app/main_window.h"
#include "explorer/provider.h"
#include "explorer/url.h"
#include "platform/window/message_box.h"
#include "queue/operation_queue.h"
#include "ui/file_dialog.h"

namespace app {

void putFromDevice() {
    explorer::ViewProvider& remote = explorer::remoteProvider;
    if (explorer::currentProvider != &remote) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return;
    }
    ui::OpenFileRequest request{.owner = mainWindow.handle,
                                .initialFolder = explorer::deviceProvider.GetCurrentFolder(),
                                .title = u"Select file to Upload",
                                .flags = ui::pathMustExist | ui::fileMustExist};
    if (!ui::selectFile(request)) return;
    // The name as it stands: split into name and extension and joined again, "notes."
    // would lose its dot.
    const std::u16string name = request.file.substr(request.file.find_last_of(u"\\/") + 1);
    const std::u16string source = std::u16string(explorer::phoneScheme) + request.file;
    const std::u16string destination = remote.GetCurrentFolder() + name;
    if (!queue::queueCopyFile(source, destination)) {
        platform::messageBox(
            mainWindow.handle, u"The upload of '" + request.file + u"' could not be queued: a path would be too long.",
            u"Put From Device", platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
    }
}

}  // namespace app
