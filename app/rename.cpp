#include "app/rename.h"

#include <memory>
#include <utility>

#include "app/confirm.h"
#include "app/main_window.h"
#include "app/server_command.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "explorer/rows.h"
#include "explorer/url.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "platform/window/message_box.h"
#include "resources/menus.h"

namespace app {
namespace {

explorer::ViewProvider& view() { return *explorer::currentProvider; }

// The entry being renamed, taken when the edit opens: a listing that runs meanwhile may
// put another entry at the row's index.
std::u16string renameSource;

void tellRefused(std::u16string_view text) {
    platform::messageBox(mainWindow.handle, text, u"Rename Error", platform::MessageBoxButtons::ok,
                         platform::MessageBoxIcon::exclamation);
}

// Begin: the edit shows the row's full path with the name part selected (without its
// extension), under the rename bar. Nonzero refuses the edit.
platform::LResult onBeginLabelEdit(const platform::ListViewLabelEdit& begin) {
    const explorer::ExplorerItem* row = explorer::rowByListIndex(begin.item);
    if (!row) return 1;
    const std::u16string_view shown = platform::boundedView(row->displayName, platform::maxPath);
    // The parent row stands for the folder above, not for an entry.
    if (shown == u".." || shown.starts_with(u".. ")) {
        platform::messageBeep(platform::MessageBoxIcon::exclamation);
        return 1;
    }
    if (!switchBar(resources::renameBar.id, true, false)) return 1;
    mainWindow.renaming = true;
    const std::u16string_view path = platform::boundedView(row->path, platform::maxPath);
    renameSource = path;
    const std::size_t separator = path.find_last_of(u"\\/");
    const std::size_t nameStart = separator == std::u16string_view::npos ? 0 : separator + 1;
    std::size_t nameEnd = path.size() - explorer::typeText(path).size();
    if (nameEnd <= nameStart) nameEnd = path.size();
    const platform::Window edit = platform::listViewGetEditControl(mainWindow.listView);
    platform::editSetOptions(edit, platform::editClearOnBackHeld, platform::editClearOnBackHeld);
    platform::setWindowText(edit, path);
    platform::editSetSelection(edit, static_cast<int>(nameStart), static_cast<int>(nameEnd));
    platform::listViewEnsureVisible(mainWindow.listView, begin.item);
    return 0;
}

void onEndLabelEdit(const platform::ListViewLabelEdit& end) {
    platform::setFocus(mainWindow.listView);
    mainWindow.renaming = false;
    switchBar(static_cast<int>(view().menuBarId), true, true);
    const std::u16string source = std::exchange(renameSource, {});
    if (!end.text || end.textLength == 0 || source.empty()) return;
    const RenameTarget target = renameTarget({end.text, end.textLength}, view().GetCurrentFolder());
    if (target.path.empty()) {
        tellRefused(target.refusal);
        return;
    }
    if (target.path == source) return;
    if (!confirmReplace(view(), view(), target.path, u"Rename")) return;
    const auto moved = std::make_shared<bool>(false);
    if (!runOnView(view(), u"Rename", u"Renaming '" + source + u"'...",
                   [source, path = target.path, moved](const explorer::ViewProvider& view) {
                       *moved = view.Move(source, path) != 0;
                   }))
        return;
    if (!*moved) {
        view().ShowError(u"Rename Error");
        return;
    }
    // The row with the new name comes up selected.
    explorer::rememberPath(target.path);
    explorer::Refresh();
}

}  // namespace

void beginRename() {
    const int index = platform::listViewGetNextItem(mainWindow.listView, -1, platform::nextFocused);
    if (index >= 0) platform::listViewEditLabel(mainWindow.listView, index);
}

void endRename(bool discard) {
    const platform::Window edit = platform::listViewGetEditControl(mainWindow.listView);
    if (!edit) return;
    if (discard) platform::setWindowText(edit, u"");
    // The edit commits when it loses the focus.
    focusListOrFilter();
}

bool handleRenameNotification(platform::LParam lParam, platform::LResult& result) {
    const auto& header = platform::notification<platform::NotifyHeader>(lParam);
    if (header.code == platform::NotifyCode::listBeginLabelEdit) {
        result = onBeginLabelEdit(platform::notification<platform::ListViewLabelEdit>(lParam));
        return true;
    }
    if (header.code == platform::NotifyCode::listEndLabelEdit) {
        onEndLabelEdit(platform::notification<platform::ListViewLabelEdit>(lParam));
        result = 0;
        return true;
    }
    return false;
}

RenameTarget renameTarget(std::u16string_view text, std::u16string_view folder) {
    if (text.find(u'\0') != std::u16string_view::npos) {
        return {{}, u"The new name holds a NUL character, which no file name can hold."};
    }
    std::u16string path;
    if (explorer::isSeparator(text.front())) {
        path = text;
    } else if (text.find_first_of(u"\\/") != std::u16string_view::npos) {
        return {{},
                u"The name '" + std::u16string(text) +
                    u"' holds a '\\' or '/', which no name can hold. To move the entry, give its full path, "
                    u"beginning with '\\'."};
    } else {
        path = std::u16string(folder) + std::u16string(text);
    }
    if (path.size() >= platform::maxPath)
        return {{}, u"The new path is too long: a path holds at most 259 characters."};
    return {path, {}};
}

}  // namespace app
