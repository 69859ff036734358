// Farlink as a user meets it: start-up in the documents folder, opening folders, Back,
// the menus, sorting, Delete Current, deleting a folder that is not empty or a link on
// the server, and shutdown while a listing runs.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "explorer/icons.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "local/filters.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/list_view.h"
#include "platform/window/terminal.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/view_fixtures.h"
#include "ui/platform_type.h"

namespace {

using platform::Key;
using namespace resources;
using namespace test_support::conversation;

// The program on the headless screen: a device root of its own with a documents folder,
// an empty registry, no desktop, and the main window as Farlink starts it.
class MainWindow : public test_support::FarlinkScreen {
protected:
    MainWindow() : FarlinkScreen(60, 16, "/home/me") {
        root.file("home/me/notes.txt", "hello");
        root.file("home/me/page.htm", "<p>");
        root.file("home/me/photo.jpg", std::string(3000, 'j'));
        root.file("home/me/Projects/a.txt", "a");
        root.file("home/me/Projects/b.txt", "bb");
        root.file("home/me/Projects/sub/c.txt", "ccc");
        // Folders show in listing order, which differs between file systems: one per level
        // keeps the screens alike everywhere. Files are sorted by name.
        sortByName();
    }
};

TEST_F(MainWindow, StartsInTheDocumentsFolderAndBackGoesUpThenLeaves) {
    start();
    EXPECT_EQ(terminal.screenText(),
              " \\home\\me\\ - Farlink\n"
              " < All Files                                              >\n"
              " [..] ..\n"
              " [D]  Projects\n"
              " [T]  notes\n"
              " [H]  page\n"
              " [I]  photo\n"
              "\n\n\n\n\n\n\n\n"
              " Remote                                                Menu");
    terminal.pressKeys({Key::down, Key::action});
    play();
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\Projects\\ - Farlink");
    EXPECT_EQ(rows(), " [..] ..\n [D]  sub\n [T]  a\n [T]  b\n");

    terminal.pressKey(Key::back);
    play();
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink");
    // The folder just left comes up selected.
    EXPECT_EQ(platform::listViewGetNextItem(app::mainWindow.listView, -1, platform::nextSelected), 1);

    terminal.pressKeys({Key::back, Key::back});
    play();
    EXPECT_EQ(terminal.rowText(0), " \\ - Farlink");
    terminal.pressKey(Key::back);
    play();
    EXPECT_FALSE(platform::isWindow(main)) << "Back at the root leaves Farlink";
}

TEST_F(MainWindow, TheRightSoftKeyOpensTheMenuAHeldLeftOneThePopupAndAShortOneItsCommand) {
    start();
    const std::string menu = shownBy({Key::rightSoft}, Key::back);
    EXPECT_NE(menu.find("| Settings"), std::string::npos) << menu;
    EXPECT_TRUE(menu.ends_with(" Select                                              Cancel")) << menu;

    // A press let go before the long press's time runs the key's own command (the Remote
    // view, which has no place yet), though the terminal's auto-repeat began; one held
    // past it, or Shift+F1, opens the popup instead, and the key's command does not run.
    const struct {
        const char* how;
        std::function<void()> press;
        bool popup;
    } presses[] = {
        {"tapped", [this] { terminal.pressKey(Key::leftSoft); }, false},
        {"held 300 ms", [this] { terminal.holdKey(Key::leftSoft, 300, 200); }, false},
        {"held 700 ms", [this] { terminal.holdKey(Key::leftSoft, 700); }, true},
        {"Shift+F1", [this] { terminal.pressKey(Key::leftSoft, platform::keyShift); }, true},
    };
    for (const auto& press : presses) {
        SCOPED_TRACE(press.how);
        press.press();
        terminal.advanceTime(1000);
        const std::string shown = shownBy({}, press.popup ? Key::back : Key::rightSoft);  // No to the question
        EXPECT_EQ(shown.find("| Open ") != std::string::npos, press.popup) << shown;
        EXPECT_EQ(shown.find("No Ftp Places exist") != std::string::npos, !press.popup) << shown;
        command(commandDeviceView);
    }
}

TEST_F(MainWindow, SortCommandsReorderTheRows) {
    root.file("home/me/big.bin", std::string(5000, 'b'));
    start();
    command(commandSortSize);
    command(commandDescending);
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [F]  big\n [I]  photo\n [T]  notes\n [H]  page\n");
    command(commandSortType);
    command(commandAscending);
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [F]  big\n [H]  page\n [I]  photo\n [T]  notes\n");
}

// Delete Current removes the current filter without a question (the one before becomes
// current) and the current place, from the list and from the settings file.
TEST_F(MainWindow, DeleteCurrentRemovesTheFilterOrThePlace) {
    startWithPlace("127.0.0.1:1", {.name = u"Loopback"});  // nothing listens: the view shows its error row
    terminal.pressKey(Key::leftSoft);                      // the new filter as offered
    command(commandNewEntry);
    ASSERT_EQ(explorer::deviceProvider.filterIndex, 13u);
    EXPECT_TRUE(test_support::storedValue(local::filtersKeyPath, u"13").exists);
    command(commandDeleteCurrent);
    EXPECT_EQ(terminal.rowText(1), " < Executable Files                                       >");
    EXPECT_FALSE(test_support::storedValue(local::filtersKeyPath, u"13").exists);

    command(commandRemoteView);
    EXPECT_EQ(terminal.rowText(1), " < Loopback                                               >");
    command(commandDeleteCurrent);
    EXPECT_EQ(remote::placeCount(), 0);
    EXPECT_FALSE(test_support::storedValue(remote::placesKeyPath, u"0").exists);
    EXPECT_EQ(terminal.rowText(1), " <                                                        >");
}

// A damaged place: a box says so, and the settings as they were are kept aside (the places
// that load: tests/remote/places_test.cpp).
TEST_F(MainWindow, AStoredPlaceThatIsDamagedIsLeftOutSayingSo) {
    for (int i = 0; i < 3; ++i) test_support::addPlace("127.0.0.1:1");
    ASSERT_EQ(remote::savePlaces(), 1);
    ASSERT_TRUE(test_support::storeValue(remote::placesKeyPath, u"1", platform::registryBinary, "cut", 3));
    const std::string settings = test_support::readFile(registry.file());
    start();
    EXPECT_NE(boxes.lastBoxScreen().find("1 damaged place is left out"), std::string::npos) << boxes.lastBoxScreen();
    const std::vector<std::string> files = test_support::names(registry.folder());
    ASSERT_EQ(files.size(), 2u);  // the settings, then the copy kept aside
    EXPECT_TRUE(files[1].starts_with("registry.reg.broken-")) << files[1];
    EXPECT_EQ(test_support::readFile(registry.folder() + "/" + files[1]), settings);
}

// Connecting with no place, from a thread that is not the UI thread: the question and
// the new place's dialog are shown by the UI thread while that thread waits.
TEST_F(MainWindow, APlaceOfferedWhileConnectingFromAnotherThreadIsEditedOnTheUiThread) {
    start();
    std::thread connecting;
    std::atomic<int> connected{-1};
    std::string dialog;
    terminal.atIdle([&] {
        connecting = std::thread([&] {
            remote::SessionUse use = remote::useSession(0);
            connected = remote::ensureConnected(use);
        });
    });
    waitForBox("Farlink");
    terminal.pressKey(Key::leftSoft);  // Yes
    waitForText(" Ftp Connection");
    capture(dialog);
    terminal.pressKey(Key::leftSoft);  // Done
    play();
    connecting.join();
    EXPECT_EQ(connected, 0) << "the operation that asked is not carried out";
    EXPECT_NE(dialog.find(" Ftp Connection"), std::string::npos) << dialog;
    EXPECT_EQ(remote::placeCount(), 1);  // saved: tests/remote/connect_test.cpp
}

// (That a tree delete never follows a link is the walk's: tests/explorer.)
TEST_F(MainWindow, DeletingTheParentRowBeepsAndAFolderThatIsNotEmptyAsksFirst) {
    start();
    terminal.pressKey(Key::del);
    play();
    EXPECT_EQ(terminal.bellCount(), 1);
    EXPECT_TRUE(std::filesystem::exists(root.at("home/me")));

    const std::string question = shownBy({Key::down, Key::del}, Key::rightSoft);
    EXPECT_EQ(test_support::boxCaption(question), "Confirm Delete");
    EXPECT_NE(test_support::boxWords(question).find(
                  "(?)Thefolder'\\home\\me\\Projects'isnotempty,wouldyouliketodeleteallfilesandfolders?"),
              std::string::npos)
        << question;
    EXPECT_TRUE(std::filesystem::exists(root.at("home/me/Projects/sub/c.txt")));

    terminal.pressKey(Key::del);
    terminal.pressKey(Key::leftSoft);
    play();
    EXPECT_FALSE(std::filesystem::exists(root.at("home/me/Projects")));
    EXPECT_EQ(rows(), " [..] ..\n [T]  notes\n [H]  page\n [I]  photo\n");
}

// A link to a folder on the server goes as a link, never emptied through it: the server
// refuses RMD for it, and DELE removes it.
TEST_F(MainWindow, ARemoteLinkToAFolderGoesAsALink) {
    test_support::ScriptedFtpServer server(login() + listing("/", unixLine('l', "ln -> /keep")) + probe() +
                                           ask("RMD /ln", "550 Not a directory.") + probe() +
                                           ask("DELE /ln", "250 ok") + probe() + relisting("/", "") + bye());
    startWithPlace(server.address());
    command(commandRemoteView);
    EXPECT_EQ(rows(), " [D]  ln\n");
    terminal.pressKey(Key::del);
    play();
    EXPECT_EQ(rows(), " [..] .. (No Files)\n");
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// Opened on the Remote view, as `farlink --remote` opens: the top folder is listed once,
// and a newcomer's first Enter opens the highlighted folder.
TEST_F(MainWindow, OpenedOnTheRemoteViewTheFirstEnterOpensTheHighlightedFolder) {
    test_support::ScriptedFtpServer server(login() + listing("/", unixLine('d', "box")) + probe() +
                                           relisting("/box/", unixLine('-', "a.txt")) + bye());
    test_support::addPlace(server.address());
    ASSERT_EQ(remote::savePlaces(), 1);
    main = app::createMainWindow();
    platform::postMessage(main, platform::MessageId::command, commandRemoteView);
    play();
    EXPECT_EQ(rows(), " [D]  box\n");
    terminal.pressKey(Key::action);
    play();
    EXPECT_EQ(terminal.rowText(0), " /box/ - Farlink");
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// (That a touch screen's menus have no Help is the soft keys': tests/remote/place_dialog_test.cpp.)
TEST_F(MainWindow, OnTouchScreensTheFilterIsADropDownList) {
    ui::setPlatformType(ui::pocketPCPlatform);
    start();
    ui::setPlatformType(ui::keypadPlatform);
    EXPECT_EQ(platform::getWindowKind(app::mainWindow.filterControl), platform::ControlKind::dropDown);
    EXPECT_EQ(terminal.rowText(1), " All Files                                                v");
}

// Shutdown while a listing runs. A listing's window calls wait for the UI thread, so
// the shutdown answers them; a listing blocked in the view is left unable to touch a
// window, even one of a window system made later (window ids start again there).
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
};
Gate callGate;  // one for each test: the listings hold on to them
Gate viewGate;

void waitAt(Gate& gate) {
    std::unique_lock lock(gate.lock);
    gate.entered = true;
    gate.changed.notify_all();
    gate.changed.wait(lock, [&] { return gate.open; });
}
// Answers the listing's window calls until it waits at the gate.
bool waitUntilEntered(Gate& gate) {
    return test_support::loopUntil([&] {
        std::lock_guard lock(gate.lock);
        return gate.entered;
    });
}
void openGate(Gate& gate) {
    std::lock_guard lock(gate.lock);
    gate.open = true;
    gate.changed.notify_all();
}

TEST_F(MainWindow, ShutdownAnswersTheWindowCallsOfAListing) {
    start();
    explorer::deviceProvider.FindNext = [](platform::FindHandle, platform::FindData&) {
        waitAt(callGate);
        platform::isWindow(platform::Window{1});  // waits for the UI thread
        platform::setLastError(platform::errorNoMoreFiles);
        return 0;
    };
    explorer::Refresh();
    ASSERT_TRUE(waitUntilEntered(callGate));
    openGate(callGate);
    EXPECT_TRUE(app::finishListings(std::chrono::seconds(5)));
}

TEST(Shutdown, AListingBlockedInTheViewTouchesNoWindowAfterwards) {
    test_support::TemporaryRegistry registry;
    test_support::DeviceRoot root;
    root.file("home/me/a.txt");
    test_support::ScopedVariable home{"HOME", root.path() + "/home/me"};
    const explorer::ViewProvider pristine = explorer::deviceProvider;
    explorer::dropImageList();
    {
        platform::HeadlessTerminal terminal{60, 16};
        platform::WindowSystemScope scope{terminal, terminal.clock()};
        ASSERT_TRUE(app::createMainWindow());
        ASSERT_TRUE(test_support::settle());
        explorer::deviceProvider.FindNext = [](platform::FindHandle, platform::FindData&) {
            waitAt(viewGate);
            platform::setLastError(platform::errorNoMoreFiles);
            return 0;
        };
        explorer::Refresh();
        ASSERT_TRUE(waitUntilEntered(viewGate));
        EXPECT_FALSE(app::finishListings(std::chrono::milliseconds(300)));
    }
    platform::HeadlessTerminal terminal{60, 16};
    platform::WindowSystemScope scope{terminal, terminal.clock()};
    const platform::Window other = platform::createWindow({.text = u"Other"});
    openGate(viewGate);
    EXPECT_TRUE(test_support::settle());
    EXPECT_EQ(platform::getWindowText(other), u"Other");
    explorer::deviceProvider = pristine;
    explorer::currentProvider = &explorer::deviceProvider;
}

}  // namespace
