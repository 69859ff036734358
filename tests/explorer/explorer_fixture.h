// Test fixtures of the explorer: a temporary folder as the device root, and a headless
// screen with the main window, the filter control and the list view attached to the
// explorer, whose loop is pumped while populations run.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "explorer/icons.h"
#include "explorer/listwindow.h"
#include "explorer/population.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/list_view.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"

namespace explorer_test {

namespace fs = std::filesystem;

// A fresh host folder that stands for the device's "\" while the object lives.
class DeviceRoot {
public:
    DeviceRoot() {
        std::string pattern = (fs::temp_directory_path() / "farlink-explorer-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
        previous_ = platform::deviceRoot();
        platform::setDeviceRoot(path_.string());
    }
    ~DeviceRoot() {
        platform::setDeviceRoot(previous_);
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    // Host path of a relative device path written with '/'.
    fs::path at(const std::string& relative) const { return path_ / relative; }
    void folder(const std::string& relative) const { fs::create_directories(at(relative)); }
    void file(const std::string& relative, const std::string& content = "x") const {
        fs::create_directories(at(relative).parent_path());
        std::ofstream(at(relative), std::ios::binary) << content;
    }
    std::string read(const std::string& relative) const {
        std::ifstream in(at(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    fs::path path_;
    std::string previous_;
};

inline platform::LResult mainProcedure(platform::Window window, platform::MessageId message, platform::WParam wParam,
                                       platform::LParam lParam) {
    if (message == platform::MessageId::notify && wParam == 18501) return explorer::handleListNotification(lParam);
    return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

// The main window as the program lays it out: title line, filter control, list view.
class Screen {
public:
    explicit Screen(int columns = 40, int rows = 12) : terminal(columns, rows), scope(terminal, terminal.clock()) {
        main = platform::createWindow({.text = u"Farlink", .procedure = mainProcedure});
        const platform::Rect client = platform::getClientRect(main);
        filter = platform::createWindow(
            {.kind = platform::ControlKind::selector, .rect = {0, 0, client.right, 1}, .parent = main, .id = 18503});
        list = platform::createWindow({.kind = platform::ControlKind::listView,
                                       .rect = {0, 1, client.right, client.bottom},
                                       .parent = main,
                                       .id = 18501});
        platform::selectorAddString(filter, u"All Files");
        platform::selectorSetSelection(filter, 0);
        explorer::attachExplorerWindows(main, list, filter);
        explorer::dropImageList();  // the next population makes one for this list view
        platform::setFocus(list);
    }
    ~Screen() { explorer::attachExplorerWindows({}, {}, {}); }

    // Runs the loop until no population is left, within a generous bound.
    bool settle() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            platform::runUntilIdle();
            if (explorer::waitForPopulations(std::chrono::milliseconds(0))) {
                platform::runUntilIdle();
                return true;
            }
            platform::waitForMessage(20);
        }
        return false;
    }
    bool refresh() {
        explorer::Refresh();
        return settle();
    }
    int selectedIndex() const { return platform::listViewGetNextItem(list, -1, platform::nextSelected); }
    int itemCount() const { return platform::listViewGetItemCount(list); }
    std::string title() const { return platform::toUtf8(platform::getWindowText(main)); }
    std::string rowName(int index) const {
        const explorer::ExplorerItem* row = explorer::rowByListIndex(index);
        return row != nullptr ? platform::toUtf8(row->displayName) : "<none>";
    }

    platform::HeadlessTerminal terminal;
    platform::WindowSystemScope scope;
    platform::Window main;
    platform::Window filter;
    platform::Window list;
};

}  // namespace explorer_test
