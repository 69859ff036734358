#include "app/filter_control.h"

#include "app/main_window.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "resources/commands.h"

namespace app {

using platform::Key;
using platform::MessageId;
using platform::Window;

void fillFilterControl() {
    const Window control = mainWindow.filterControl;
    const explorer::ViewProvider& view = *explorer::currentProvider;
    platform::selectorReset(control);
    for (int index = 0;; ++index) {
        const std::optional<std::u16string> name = view.GetItem(index);
        if (!name) break;
        platform::selectorAddString(control, *name);
    }
    platform::selectorSetSelection(control, static_cast<int>(view.filterIndex));
    refreshFilterLabel();
}

namespace {

void rewriteEntry(Window control, int index, std::u16string_view text) {
    platform::selectorDeleteString(control, index);
    platform::selectorInsertString(control, index, text);
}

}  // namespace

void refreshFilterLabel() {
    const Window control = mainWindow.filterControl;
    const int selection = platform::selectorGetSelection(control);
    if (selection >= 0) {
        const explorer::ViewProvider& view = *explorer::currentProvider;
        // The entry left by Left, Right or the spinner drops the bracket it carried.
        for (int index = 0; index < platform::selectorGetCount(control); ++index) {
            const std::u16string name = view.GetItem(index).value_or(u"");
            if (index != selection && platform::selectorGetText(control, index) != name)
                rewriteEntry(control, index, name);
        }
        std::u16string text = view.GetItem(selection).value_or(u"");
        const std::u16string& typeAhead = explorer::typeAheadText();
        if (!typeAhead.empty()) text += u" (" + typeAhead + u")";
        rewriteEntry(control, selection, text);
        platform::selectorSetSelection(control, selection);
    }
    platform::postMessage(mainWindow.handle, MessageId::command, resources::commandRefresh);
}

void hookFilterAndListKeys() {
    auto filterProcedure = std::make_shared<platform::WindowProcedure>();
    *filterProcedure = platform::setWindowProcedure(
        mainWindow.filterControl,
        [filterProcedure](Window window, MessageId message, platform::WParam wParam,
                          platform::LParam lParam) -> platform::LResult {
            // A drop-down that is open uses Up and Down itself, in its own list window.
            if (message == MessageId::keyDown) {
                const Key key = static_cast<Key>(wParam);
                if (key == Key::up) return 0;
                if (key == Key::down) {
                    if (platform::listViewGetItemCount(mainWindow.listView) > 0)
                        platform::setFocus(mainWindow.listView);
                    return 0;
                }
            }
            return (*filterProcedure)(window, message, wParam, lParam);
        });
    auto listProcedure = std::make_shared<platform::WindowProcedure>();
    *listProcedure = platform::setWindowProcedure(
        mainWindow.listView,
        [listProcedure](Window window, MessageId message, platform::WParam wParam,
                        platform::LParam lParam) -> platform::LResult {
            if (message == MessageId::keyDown && static_cast<Key>(wParam) == Key::up &&
                platform::listViewGetNextItem(window, -1, platform::nextFocused) == 0) {
                platform::setFocus(mainWindow.filterControl);
                return 0;
            }
            return (*listProcedure)(window, message, wParam, lParam);
        });
}

}  // namespace app
