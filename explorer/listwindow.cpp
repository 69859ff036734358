#include "explorer/listwindow.h"

#include <atomic>
#include <functional>

#include "explorer/rows.h"
#include "platform/text.h"

namespace explorer {
namespace {

// Written once by attachExplorerWindows, read by populations.
std::atomic<std::uint32_t> mainWindowId{0};
std::atomic<std::uint32_t> listViewId{0};
std::atomic<std::uint32_t> filterControlId{0};
// A hidden child of the main window that runs a population's row changes on the UI
// thread, where the list reads the rows.
std::atomic<std::uint32_t> runnerId{0};

constexpr platform::MessageId runOnUiThread = platform::userMessage(1);

platform::Window window(const std::atomic<std::uint32_t>& id) { return platform::Window{id.load()}; }

platform::LResult runnerProcedure(platform::Window self, platform::MessageId message, platform::WParam wParam,
                                  platform::LParam lParam) {
    if (message != runOnUiThread) return platform::defaultWindowProcedure(self, message, wParam, lParam);
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return 1;
}

// Runs `change` on the UI thread and waits for it; runs it here when no window is
// attached (then nothing reads the rows concurrently).
void runOnUi(const std::function<void()>& change) {
    const platform::Window runner = window(runnerId);
    if (!runner || !platform::sendMessage(runner, runOnUiThread, 0, reinterpret_cast<platform::LParam>(&change))) {
        change();
    }
}

}  // namespace

void attachExplorerWindows(platform::Window mainWindow, platform::Window listView, platform::Window filterControl) {
    mainWindowId.store(mainWindow.id);
    listViewId.store(listView.id);
    filterControlId.store(filterControl.id);
    platform::CreateWindowArgs runner;
    runner.options = platform::optionHidden;
    runner.parent = mainWindow;
    runner.procedure = runnerProcedure;
    runnerId.store(mainWindow ? platform::createWindow(runner).id : 0);
}

platform::LResult handleListNotification(platform::LParam lParam) {
    const auto& header = *reinterpret_cast<const platform::NotifyHeader*>(lParam);
    if (header.code == platform::NotifyCode::listGetDisplayInfo) {
        auto& info = platform::notification<platform::ListViewDisplayInfo>(lParam);
        const ExplorerItem* row = rowByListIndex(info.item);
        if (info.mask & platform::displayText && info.text != nullptr && info.textCapacity > 0) {
            // Past the last row: the line that says how many entries are left out.
            const int dropped = droppedRowCount();
            const std::u16string notice = row == nullptr && dropped > 0 &&
                                                  info.item == folderRowCount() + fileRowCount()
                                              ? droppedRowsText(dropped)
                                              : std::u16string();
            const std::u16string_view text = row != nullptr ? platform::boundedView(row->displayName, platform::maxPath)
                                                            : std::u16string_view(notice);
            platform::copyBounded(info.text, static_cast<std::size_t>(info.textCapacity), text);
        }
        if (info.subItem == 0 && info.mask & platform::displayImage) {
            const bool highlighted = info.state & (platform::itemSelected | platform::itemFocused);
            info.image = row == nullptr ? -1 : highlighted ? row->selectedIconIndex : row->iconIndex;
        }
        return 1;
    }
    if (header.code == platform::NotifyCode::listStateChanged) {
        const auto& change = platform::notification<platform::ListViewStateChange>(lParam);
        platform::listViewRedrawItems(header.from, change.from, change.to);
        return 1;
    }
    return 0;
}

void setListItemCount(int count, bool redrawAll) {
    const platform::Window list = window(listViewId);
    if (!list) return;
    // The call returns once the UI thread has carried it out: after the count 0 no row
    // is drawn while the next listing rewrites the rows.
    platform::listViewSetItemCount(list, count, redrawAll ? 0u : unsigned(platform::countNoInvalidate));
}

void attachImageList(platform::ImageList images, platform::ImageListKind kind) {
    const platform::Window list = window(listViewId);
    if (list) platform::listViewSetImageList(list, images, kind);
}

void selectListIndex(int index) {
    const platform::Window list = window(listViewId);
    if (!list || index < 0) return;
    constexpr unsigned both = platform::itemSelected | platform::itemFocused;
    platform::listViewSetItemState(list, -1, 0, platform::itemSelected);
    platform::listViewSetItemState(list, index, both, both);
    platform::listViewEnsureVisible(list, index);
}

int listCountPerPage() {
    const platform::Window list = window(listViewId);
    return list ? platform::listViewGetCountPerPage(list) : 0;
}

void showBusy(bool busy) {
    if (window(mainWindowId)) platform::setWaitCursor(busy);
}

void setMainTitle(std::u16string_view title) {
    const platform::Window main = window(mainWindowId);
    if (main) platform::setWindowText(main, title);
}

void setFolderRowText(int row, std::u16string_view text) {
    runOnUi([row, text] { writeFolderRowText(row, text); });
}

void postMainCommand(int command) {
    const platform::Window main = window(mainWindowId);
    if (main) platform::postMessage(main, platform::MessageId::command, command);
}

void focusAfterPopulation(bool listHasRows) {
    const platform::Window main = window(mainWindowId);
    const platform::Window filter = window(filterControlId);
    // A dialog or box in front keeps the focus it has, and so does an open rename: taking
    // it would end the edit with a half-typed name.
    if (!main || platform::getForegroundWindow() != main) return;
    const platform::Window list = window(listViewId);
    const platform::Window edit = platform::listViewGetEditControl(list);
    if (edit && platform::getFocus() == edit) return;
    if (!listHasRows) {
        platform::setFocus(filter);
    } else if (platform::getFocus() != filter) {
        platform::setFocus(list);
    }
}

}  // namespace explorer
