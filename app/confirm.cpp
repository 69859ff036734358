#include "app/confirm.h"

#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/server_command.h"
#include "platform/window/message_box.h"

namespace app {
namespace {

bool askYesNo(const std::u16string& question, std::u16string_view caption) {
    return platform::messageBox(mainWindow.handle, question, caption, platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

}  // namespace

bool confirmDelete(const explorer::ViewProvider& view, std::u16string_view path, bool folder) {
    const std::uint32_t choice = view.confirm;
    const bool asks = choice == confirmAnyOverwriteAndDelete || choice == confirmDeletes ||
                      choice == (folder ? confirmDeleteFolder : confirmDeleteFile);
    if (!asks) return true;
    const std::u16string what = folder ? u"the folder '" : u"'";
    return askYesNo(u"Are you sure you want to delete " + what + std::u16string(path) + u"'?", u"Confirm Delete");
}

bool confirmReplace(const explorer::ViewProvider& view, const explorer::ViewProvider& holder, std::u16string_view path,
                    std::u16string_view caption) {
    if (view.confirm != confirmAnyOverwriteAndDelete && view.confirm != confirmOverwrite) return true;
    const auto exists = std::make_shared<bool>(false);
    const bool ended = runOnView(holder, caption, u"Looking for '" + std::u16string(path) + u"'...",
                                 [path = std::u16string(path), exists](const explorer::ViewProvider& holder) {
                                     platform::FileAttributeData existing{};
                                     *exists = holder.GetAttributes(path, 0, existing) != 0;
                                 });
    if (!ended) return false;
    if (!*exists) return true;
    return askYesNo(u"'" + std::u16string(path) + u"' already exists. Do you want to replace it?", u"Confirm Replace");
}

}  // namespace app
