// Times a Device-view population of a folder of 1024 files on the headless screen: from
// Refresh until the list holds its final count, and until the first screenful of rows
// is in the list. Prints the median and the best of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "explorer/listwindow.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "local/device.h"
#include "platform/files.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/list_view.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int fileCount = 1024;
constexpr int runs = 15;

platform::LResult mainProcedure(platform::Window window, platform::MessageId message, platform::WParam wParam,
                                platform::LParam lParam) {
    if (message == platform::MessageId::notify) return explorer::handleListNotification(lParam);
    return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

double milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

void report(const std::string& what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-44s median %8.2f ms   best %8.2f ms\n", what.c_str(), times[times.size() / 2], times.front());
}

}  // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "farlink-bench-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data());
    fs::create_directories(root / "files");
    for (int i = 0; i < fileCount; ++i) {
        std::ofstream(root / "files" / ("file" + std::to_string(i) + (i % 3 ? ".txt" : ".jpg"))) << i;
    }
    platform::setDeviceRoot(root.string());

    platform::HeadlessTerminal terminal(80, 24);
    platform::WindowSystemScope scope(terminal, terminal.clock());
    const platform::Window main = platform::createWindow({.text = u"Farlink", .procedure = mainProcedure});
    const platform::Rect client = platform::getClientRect(main);
    const platform::Window filter = platform::createWindow(
        {.kind = platform::ControlKind::selector, .rect = {0, 0, client.right, 1}, .parent = main, .id = 18503});
    const platform::Window list = platform::createWindow({.kind = platform::ControlKind::listView,
                                                          .rect = {0, 1, client.right, client.bottom},
                                                          .parent = main,
                                                          .id = 18501});
    explorer::attachExplorerWindows(main, list, filter);
    local::setUpDeviceView();
    explorer::deviceProvider.sortKey = explorer::sortName;
    explorer::deviceProvider.SetCurrentFolder(u"\\files\\");
    const int screenful = platform::listViewGetCountPerPage(list);

    std::vector<double> toFinal;
    std::vector<double> toFirstScreen;
    for (int run = 0; run < runs; ++run) {
        // Start from an empty list, as a folder opened for the first time.
        explorer::clearRows();
        platform::listViewSetItemCount(list, 0);
        const Clock::time_point start = Clock::now();
        explorer::Refresh();
        Clock::time_point firstScreen{};
        for (;;) {
            platform::runUntilIdle();
            if (firstScreen == Clock::time_point{} && platform::listViewGetItemCount(list) >= screenful) {
                firstScreen = Clock::now();
            }
            if (explorer::waitForPopulations(std::chrono::milliseconds(0))) break;
            platform::waitForMessage(1000);
        }
        platform::runUntilIdle();
        toFinal.push_back(milliseconds(Clock::now() - start));
        toFirstScreen.push_back(milliseconds(firstScreen - start));
        if (platform::listViewGetItemCount(list) != fileCount + 1) {
            std::fprintf(stderr, "explorer bench: the list holds %d rows, not %d\n",
                         platform::listViewGetItemCount(list), fileCount + 1);
            return 1;
        }
    }
    std::printf("Device view, folder of %d files, sorted by name, %d runs:\n", fileCount, runs);
    report("Refresh to the final count", toFinal);
    report("Refresh to the first screenful (" + std::to_string(screenful) + " rows)", toFirstScreen);
    explorer::attachExplorerWindows({}, {}, {});
    fs::remove_all(root);
    return 0;
}
