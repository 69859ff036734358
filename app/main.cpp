// Farlink's entry point: reads the command line and the environment, keeps to one
// instance per settings folder, and runs the main window in this terminal.
#include <sys/prctl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/instance_lock.h"
#include "app/main_window.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/ncurses_terminal.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"
#include "remote/connect.h"
#include "remote/partial_downloads.h"
#include "remote/remote_listing.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "ui/platform_type.h"

namespace {

void printUsage(std::FILE* out) {
    std::fputs(
        "Usage: farlink [--root DIR] [--platform keypad|touch] [--remote]\n"
        "       farlink --help | --version\n"
        "\n"
        "A keyboard-first FTP client for the terminal.\n"
        "  --root DIR       the folder shown as the device's file system (default /)\n"
        "  --platform KIND  keypad (default) or touch\n"
        "  --remote         open on the Remote view (as the Remote soft key would)\n"
        "\n"
        "Environment: FARLINK_ROOT (as --root), FARLINK_PLATFORM=PocketPC (as --platform touch),\n"
        "FARLINK_HOME (the folder of the settings file).\n",
        out);
}

struct Options {
    std::string root;
    std::string platform;  // empty: FARLINK_PLATFORM or keypad
    bool remote = false;
};

// 0 to run; otherwise the exit code (after --help, --version or a bad argument).
int parseCommandLine(int argc, char** argv, Options& options, bool& exitNow) {
    exitNow = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--version") {
            std::printf("farlink %s\n", FARLINK_VERSION);
            exitNow = true;
            return 0;
        }
        if (argument == "--help") {
            printUsage(stdout);
            exitNow = true;
            return 0;
        }
        if (argument == "--remote") {
            options.remote = true;
            continue;
        }
        if ((argument == "--root" || argument == "--platform") && i + 1 < argc) {
            (argument == "--root" ? options.root : options.platform) = argv[++i];
            continue;
        }
        std::fprintf(stderr, "farlink: unexpected argument '%s'\n", argument.c_str());
        printUsage(stderr);
        exitNow = true;
        return 2;
    }
    if (!options.platform.empty() && options.platform != "keypad" && options.platform != "touch") {
        std::fprintf(stderr, "farlink: --platform must be keypad or touch, not '%s'\n", options.platform.c_str());
        exitNow = true;
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_DUMPABLE, 0);  // a core dump would hold the places' passwords
    Options options;
    bool exitNow = false;
    const int parsed = parseCommandLine(argc, argv, options, exitNow);
    if (exitNow) return parsed;

    if (options.root.empty()) {
        if (const char* root = std::getenv("FARLINK_ROOT"); root && *root) options.root = root;
    }
    if (!options.root.empty()) {
        std::error_code error;
        const std::filesystem::path root = std::filesystem::canonical(options.root, error);
        if (error || !std::filesystem::is_directory(root, error)) {
            std::fprintf(stderr, "farlink: the root '%s' is not a folder\n", options.root.c_str());
            return 2;
        }
        platform::setDeviceRoot(root.string());
    }
    if (!options.platform.empty()) {
        ui::setPlatformType(options.platform == "touch" ? ui::pocketPCPlatform : ui::keypadPlatform);
    }

    const std::string registryFile = platform::defaultRegistryFile();
    int lock = -1;
    switch (app::acquireInstanceLock(app::instanceLockFile(registryFile), lock)) {
    case app::InstanceLockResult::heldByAnother: std::puts("Farlink is already running."); return 0;
    case app::InstanceLockResult::unavailable:
        std::fprintf(stderr, "farlink: cannot lock %s; not checking for another Farlink\n",
                     app::instanceLockFile(registryFile).c_str());
        break;
    case app::InstanceLockResult::acquired: break;
    }
    platform::useRegistryFile(registryFile);
    // The records that a Retry could continue a partial for went with the last run.
    remote::removeLeftPartials();

    std::unique_ptr<platform::TerminalBackend> terminal = platform::openNcursesTerminal();
    if (!terminal) {
        std::fputs("farlink: standard input and output must be a terminal\n", stderr);
        return 1;
    }
    int code = 0;
    bool listingsEnded = true;
    {
        platform::SteadyClock clock;
        platform::WindowSystemScope scope(*terminal, clock);
        if (const platform::Window window = app::createMainWindow()) {
            if (options.remote)
                platform::postMessage(window, platform::MessageId::command, resources::commandRemoteView);
            code = platform::runMessageLoop(resources::mainAccelerators());
        }
        // Listings and the queue's worker call the windows: they end, or are made unable
        // to, before the windows go.
        listingsEnded = app::finishListings(std::chrono::seconds(5));
        if (!listingsEnded) scope.keepStateAfterEnd();
        // The places and their connections go once nothing lists them any more; a listing
        // still blocked may hold one, and the program then leaves without waiting for it.
        if (listingsEnded) {
            remote::shutdownRemote();
            remote::removeListingCache();
        }
    }
    if (!listingsEnded) {
        // A listing or a copy is blocked (in the file system, a hung mount say). It touches
        // no window when it wakes, but static destructors would pull its state away: leave
        // without them. The settings are written whole at every change; the terminal is
        // restored.
        terminal.reset();
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
