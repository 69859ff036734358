// The program on the headless screen: a device root of its own with a documents folder,
// an empty registry, no desktop, and the main window as Farlink starts it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "explorer/icons.h"
#include "explorer/provider.h"
#include "local/filters.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "tests/explorer/explorer_fixture.h"
#include "tests/local/local_fixture.h"
#include "tests/support/scoped_variable.h"

namespace app_test {

class Farlink : public ::testing::Test {
protected:
    Farlink() {
        root.file("home/me/notes.txt", "hello");
        root.file("home/me/page.htm", "<p>");
        root.file("home/me/photo.jpg", std::string(3000, 'j'));
        root.file("home/me/Projects/a.txt", "a");
        root.file("home/me/Projects/b.txt", "bb");
        root.file("home/me/Projects/sub/c.txt", "ccc");
        // Folders show in listing order, which differs between file systems: one per level
        // keeps the screens alike everywhere. Files are sorted by name.
        storeOption(u"Sort", 1, 4);
        // The explorer keeps its image list for the life of the program; each test has a
        // window system of its own.
        explorer::dropImageList();
    }
    ~Farlink() override {
        if (platform::isWindow(main)) platform::destroyWindow(main);
        local_test::settle();
        explorer::deviceProvider = pristine;
        explorer::currentProvider = &explorer::deviceProvider;
    }

    // Starts Farlink and waits for its first listing.
    void start() {
        main = app::createMainWindow();
        ASSERT_TRUE(main);
        ASSERT_TRUE(local_test::settle());
    }
    // Plays the script and waits until the listings it started are complete.
    void play() {
        // The program's own loop, so that the accelerators apply; it ends with the script.
        platform::runMessageLoop(resources::mainAccelerators());
        ASSERT_TRUE(local_test::settle());
    }
    // Carries out a command now; a dialog or box it opens plays the script meanwhile.
    void command(int id) {
        platform::sendMessage(main, platform::MessageId::command, id);
        play();
    }
    std::string screen() const { return terminal.screenText(); }
    static void storeOption(std::u16string_view name, std::uint32_t value, std::uint32_t size) {
        platform::RegistryKey key = platform::noKey;
        platform::createKey(platform::currentUserKey, u"\\Software\\Tarvik\\Ftp\\2.0", key);
        platform::setValue(key, name, platform::registryDword, &value, size);
        platform::closeKey(key);
    }
    // The screen as the script reaches this point (for modal boxes and dialogs).
    void capture(std::string& into) {
        terminal.atIdle([this, &into] { into = terminal.screenText(); });
    }


    local_test::TempRegistry registry;
    explorer_test::DeviceRoot root;
    test_support::ScopedVariable home{"HOME", root.path().string() + "/home/me"};
    test_support::ScopedVariable noDesktop{"DISPLAY", ""};
    test_support::ScopedVariable noWayland{"WAYLAND_DISPLAY", ""};
    platform::HeadlessTerminal terminal{60, 16};
    platform::WindowSystemScope scope{terminal, terminal.clock()};
    platform::Window main;
    // The Device view as built, before any test changed its settings.
    explorer::ViewProvider pristine = explorer::deviceProvider;
};

}  // namespace app_test
