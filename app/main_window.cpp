#include "app/main_window.h"

#include "app/commands.h"
#include "app/filter_control.h"
#include "app/queue_progress.h"
#include "app/rename.h"
#include "app/type_ahead.h"
#include "explorer/listwindow.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "local/device.h"
#include "local/filters.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "platform/window/message_box.h"
#include "platform/window/soft_keys.h"
#include "queue/operation_queue.h"
#include "queue/queue_view.h"
#include "remote/remote_view.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "resources/strings.h"
#include "ui/help.h"
#include "ui/platform_type.h"
#include "ui/soft_keys.h"

namespace app {

MainWindow mainWindow;

namespace {

using platform::Key;
using platform::LParam;
using platform::LResult;
using platform::MessageId;
using platform::Window;
using platform::WParam;

void overrideViewKeys(Window bar, bool back, bool softKeys) {
    if (back) platform::softKeyBarOverrideKey(bar, Key::back, platform::overrideNoDefault | platform::overrideNotify);
    if (softKeys) {
        platform::softKeyBarOverrideKey(bar, Key::leftSoft, platform::overrideNotify);
        platform::softKeyBarOverrideKey(bar, Key::down, platform::overrideNotify);
    }
}

void layoutMainWindow() {
    if (!mainWindow.renaming && mainWindow.filterControl) {
        const platform::Rect client = platform::getClientRect(mainWindow.handle);
        const int filterHeight = platform::getWindowRect(mainWindow.filterControl).height();
        platform::moveWindow(mainWindow.filterControl, {0, 0, client.right, filterHeight});
        if (mainWindow.spinner) platform::spinnerSetBuddy(mainWindow.spinner, mainWindow.filterControl);
        platform::moveWindow(mainWindow.listView, {0, filterHeight, client.right, client.bottom});
    }
    const int focused = platform::listViewGetNextItem(mainWindow.listView, -1, platform::nextFocused);
    if (focused >= 0) platform::listViewEnsureVisible(mainWindow.listView, focused);
}

void createControls(Window window) {
    mainWindow.handle = window;
    const platform::Rect client = platform::getClientRect(window);
    local::setUpDeviceView();
    remote::initRemoteView(window);
    queue::initQueueView();
    bindQueue(window);
    createViewBar();
    ui::detectPlatform();
    if (ui::isPocketPC()) {
        mainWindow.filterControl = platform::createWindow({.kind = platform::ControlKind::dropDown,
                                                           .rect = {0, 0, client.right, 1},
                                                           .parent = window,
                                                           .id = resources::filterControlId});
    } else {
        mainWindow.filterControl = platform::createWindow({.kind = platform::ControlKind::selector,
                                                           .rect = {0, 0, client.right, 1},
                                                           .parent = window,
                                                           .id = resources::filterControlId});
        mainWindow.spinner = platform::createWindow({.kind = platform::ControlKind::spinner,
                                                     .text = u"Select a Filter",
                                                     .options = platform::spinnerWrap,
                                                     .parent = window});
        platform::spinnerSetBuddy(mainWindow.spinner, mainWindow.filterControl);
    }
    const int filterHeight = platform::getWindowRect(mainWindow.filterControl).height();
    mainWindow.listView = platform::createWindow({.kind = platform::ControlKind::listView,
                                                  .rect = {0, filterHeight, client.right, client.bottom},
                                                  .parent = window,
                                                  .id = resources::listViewId});
    hookFilterAndListKeys();
    explorer::attachExplorerWindows(window, mainWindow.listView, mainWindow.filterControl);
    platform::listViewSetItemCount(mainWindow.listView, 0);

    explorer::ViewProvider& view = *explorer::currentProvider;
    view.largeIcons = 0;
    if (!view.GetItem(static_cast<int>(view.filterIndex))) view.filterIndex = 0;
    if (!view.GetItem(0)) platform::postMessage(window, MessageId::command, resources::commandNewEntry);
    fillFilterControl();
    platform::setFocus(mainWindow.listView);
}

void showAbout(Window window) {
    platform::messageBox(window, u"Farlink " FARLINK_VERSION u"\r\rA keyboard-first FTP client for the terminal.",
                         u"About Farlink", platform::MessageBoxButtons::ok, platform::MessageBoxIcon::information);
}

// The left soft key held down long enough: its own command must not run on release,
// and the view's popup menu opens instead.
void onLongPressTimer(Window window) {
    platform::killTimer(window, longPressTimer);
    if (!platform::isKeyDown(Key::leftSoft)) return;
    mainWindow.softKeyLongPress = true;
    platform::releaseKey(Key::leftSoft);
    platform::postMessage(window, MessageId::command, resources::commandSoftKeyLongPress);
}

// Leaving Farlink stops the copies that wait or run: the user says so first.
bool mayQuit(Window window) {
    const int unfinished = queue::unfinishedCopies();
    if (unfinished == 0) return true;
    const std::u16string question = platform::toUtf16(std::to_string(unfinished)) +
                                    u" copies are still waiting or running. Stop them and quit?";
    return platform::messageBox(window, question, u"Farlink", platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

LResult mainWindowProcedure(Window window, MessageId message, WParam wParam, LParam lParam) {
    switch (message) {
    case MessageId::create:
        ui::followInputPanel(window);
        createControls(window);
        layoutMainWindow();
        return 0;
    case MessageId::size:
        if (mainWindow.listView) layoutMainWindow();
        return 0;
    case MessageId::activate:
    case MessageId::enable: {
        // Coming back to the window: the focus goes to the list, or to the filter control
        // when the list is empty; a focus already on either stays (the first activation
        // comes while the first listing has no rows yet).
        const Window focus = platform::getFocus();
        if (wParam != 0 && mainWindow.listView && focus != mainWindow.listView && focus != mainWindow.filterControl) {
            focusListOrFilter();
        }
        return 0;
    }
    case MessageId::paint: return 0;
    case MessageId::notify: {
        // Their answers are results of their own (-1: no row found), not a handled flag.
        LResult result = 0;
        if (static_cast<int>(wParam) == resources::listViewId &&
            (handleTypeAheadNotification(lParam, result) || handleRenameNotification(lParam, result))) {
            return result;
        }
        break;
    }
    case MessageId::help: ui::openHelp(window, resources::stringMainHelpTopic); return 0;
    case MessageId::close:
        if (!mayQuit(window)) return 0;
        break;
    case MessageId::command:
        switch (platform::commandId(wParam)) {
        case resources::commandDone:
            if (!mainWindow.renaming) platform::sendMessage(window, MessageId::close);
            return 0;
        case resources::commandHelp: ui::openHelp(window, resources::stringMainHelpTopic); return 0;
        case resources::commandAbout: showAbout(window); return 0;
        case resources::commandSoftKeyLongPress:
            // The popup menu opens at the bottom centre of the window.
            platform::postMessage(window, MessageId::command, resources::commandPopupMenu);
            return 0;
        default: break;
        }
        break;
    case MessageId::timer:
        if (handleQueueMessage(message, wParam)) return 0;
        if (static_cast<int>(wParam) == longPressTimer) {
            onLongPressTimer(window);
            return 0;
        }
        break;
    case MessageId::hotKey:
        if (static_cast<Key>(wParam) == Key::leftSoft && (lParam & platform::hotKeyPress)) {
            platform::setTimer(window, longPressTimer, longPressMs);
        }
        break;
    case MessageId::destroy:
        // A running copy is asked to stop while its place still exists; main waits for
        // it, bounded, once the loop has ended.
        queue::askQueueToStop();
        endQueueDisplay();
        explorer::stopPopulations();
        local::freeFilters();
        mainWindow = {};
        platform::postQuitMessage(0);
        return 0;
    default:
        if (handleQueueMessage(message, wParam)) return 0;
        break;
    }
    if (routeMessage(window, message, wParam, lParam)) return 1;
    return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

}  // namespace

void createViewBar() {
    const platform::SoftKeyBarResource* bar = resources::findSoftKeyBar(explorer::currentProvider->menuBarId);
    mainWindow.softKeyBar = bar ? platform::createSoftKeyBar(mainWindow.handle, *bar) : Window{};
    if (mainWindow.softKeyBar) overrideViewKeys(mainWindow.softKeyBar, true, true);
}

bool switchBar(int barId, bool overrideBack, bool overrideSoftKeys) {
    if (mainWindow.softKeyBar) platform::destroyWindow(mainWindow.softKeyBar);
    const platform::SoftKeyBarResource* bar = resources::findSoftKeyBar(barId);
    mainWindow.softKeyBar = bar ? platform::createSoftKeyBar(mainWindow.handle, *bar) : Window{};
    if (!mainWindow.softKeyBar) {
        createViewBar();
        return false;
    }
    ui::addHelpToSoftKeyMenu(mainWindow.handle, platform::SoftKey::right);
    overrideViewKeys(mainWindow.softKeyBar, overrideBack, overrideSoftKeys);
    return true;
}

void focusListOrFilter() {
    platform::setFocus(platform::listViewGetItemCount(mainWindow.listView) > 0 ? mainWindow.listView
                                                                               : mainWindow.filterControl);
}

bool finishListings(std::chrono::milliseconds limit) {
    if (mainWindow.handle) platform::destroyWindow(mainWindow.handle);
    explorer::stopPopulations();
    explorer::attachExplorerWindows({}, {}, {});
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto ended = [] {
        return explorer::waitForPopulations(std::chrono::milliseconds(0)) &&
               queue::waitForQueue(std::chrono::milliseconds(0));
    };
    const auto finished = [deadline, ended] { return ended() || std::chrono::steady_clock::now() >= deadline; };
    // A listing's window call waits for this thread: the loop answers it, and a hidden
    // window's timer ends the loop once the listings have ended or time is up.
    const Window waiter = platform::createWindow(
        {.options = platform::optionHidden,
         .procedure = [finished](Window self, MessageId message, WParam wParam, LParam lParam) {
             if (message == MessageId::timer && finished()) platform::postQuitMessage(0);
             return platform::defaultWindowProcedure(self, message, wParam, lParam);
         }});
    platform::setTimer(waiter, 1, 10);
    while (!finished()) {
        platform::runMessageLoop();  // at the end of input it returns at once
        if (!finished()) platform::waitForMessage(10);
    }
    platform::destroyWindow(waiter);
    if (!ended()) return false;
    queue::stopQueue();  // no worker runs: frees every record
    return true;
}

Window createMainWindow() {
    const std::u16string_view title = resources::loadString(resources::stringTitle).value_or(u"Farlink");
    const Window window = platform::createWindow({.text = title, .procedure = mainWindowProcedure});
    if (!window) return {};
    ui::detectPlatform();
    ui::addHelpToSoftKeyMenu(window, platform::SoftKey::right);
    ui::followInputPanel(window);
    return window;
}

}  // namespace app
