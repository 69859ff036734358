#include "app/type_ahead.h"

#include "app/filter_control.h"
#include "app/main_window.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "explorer/type_ahead.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "resources/commands.h"

namespace app {
namespace {

using platform::Key;

void setTypeAhead(const std::u16string& text) {
    explorer::setTypeAheadText(text);
    refreshFilterLabel();
}

// Left and Right step through the filter control's entries; the ends stay where they are.
void stepFilter(int step) {
    const platform::Window control = mainWindow.filterControl;
    const int selection = platform::selectorGetSelection(control);
    const int wanted = selection + step;
    if (selection < 0 || wanted < 0) return;
    if (platform::selectorSetSelection(control, wanted) == wanted) {
        explorer::currentProvider->filterIndex = static_cast<std::uint32_t>(wanted);
    }
    refreshFilterLabel();
}

}  // namespace

bool handleTypeAheadNotification(platform::LParam lParam, platform::LResult& result) {
    const auto& header = platform::notification<platform::NotifyHeader>(lParam);
    if (header.code == platform::NotifyCode::listFindItem) {
        const auto& request = platform::notification<platform::ListViewFindItem>(lParam);
        // In the Queue view R is Retry: its rows are records, not names to look for.
        if (explorer::currentProvider == &explorer::queueProvider && request.digitKey == Key::none &&
            (request.character == u'r' || request.character == u'R')) {
            platform::postMessage(mainWindow.handle, platform::MessageId::command, resources::commandRetry);
            result = -1;
            return true;
        }
        setTypeAhead(explorer::typeAheadAfterCharacter(explorer::typeAheadText(), request.character, request.digitKey));
        result = -1;
        return true;
    }
    if (header.code != platform::NotifyCode::listKeyDown) return false;
    result = 0;
    // The keys belong to the rename's edit while one is open, and to the grid's own
    // movement in icon mode.
    if (mainWindow.renaming || platform::listViewGetMode(mainWindow.listView) != platform::ListViewMode::report) {
        return true;
    }
    switch (platform::notification<platform::ListViewKeyDown>(lParam).key) {
    case Key::backspace: eraseTypeAhead(); break;
    case Key::left: stepFilter(-1); break;
    case Key::right: stepFilter(1); break;
    default: break;
    }
    return true;
}

bool eraseTypeAhead() {
    const std::u16string& text = explorer::typeAheadText();
    if (text.empty()) return false;
    setTypeAhead(explorer::typeAheadAfterErase(text));
    return true;
}

}  // namespace app
