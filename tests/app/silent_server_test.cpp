// The program with a server that stops answering: the keys, the menu and the commands go
// on while a listing or a copy waits for it, a command that needs the busy connection
// says so within its bound, and Exit asks, then leaves within its bound, writing nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "platform/text.h"
#include "platform/window/window.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"
#include "resources/commands.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/scripted_ftp_server.h"

namespace {

using namespace test_support;
using namespace test_support::conversation;
using Clock = std::chrono::steady_clock;
using platform::Key;

class SilentServer : public FarlinkScreen {
protected:
    SilentServer() : FarlinkScreen(60, 16) {}

    // Farlink on the Device view with a place for `server`, and its settings as stored.
    void startWith(const ScriptedFtpServer& server, std::uint32_t timeout = 3000) {
        PlaceLogin login;
        login.timeout = timeout;
        addPlace(server.address(), login);
        ASSERT_EQ(remote::savePlaces(), 1);
        start();
    }
    // Lets the thread that talks to the server come to its wait, answering its window
    // calls on the way (a listing shows that it is busy before it connects).
    static void letItWait() {
        for (int i = 0; i < 30; ++i) {
            platform::runMessageLoop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Quits as the window's close does and answers the threads' calls meanwhile; the
    // time it took.
    Clock::duration quit() {
        const Clock::time_point started = Clock::now();
        EXPECT_TRUE(app::finishListings(std::chrono::seconds(5)));
        main = {};
        return Clock::now() - started;
    }

    TemporaryFolder cacheHome;
    ScopedVariable cacheVariable{"XDG_CACHE_HOME", cacheHome.path()};
};

TEST_F(SilentServer, AListingThatWaitsHoldsUpNoKeyAndACommandOnItsConnectionSaysItIsBusy) {
    ScriptedFtpServer server(login() + expect("CWD /pub/") + expect("never sent"));  // no reply
    startWith(server);
    explorer::remoteProvider.filterIndex = 0;
    remote::setRemoteCurrentFolder(u"/pub/");
    platform::sendMessage(main, platform::MessageId::command, resources::commandRemoteView);
    for (int i = 0; i < 100 && explorer::waitForPopulations(std::chrono::milliseconds(0)); ++i) {
        platform::runMessageLoop();  // until the listing has started
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    letItWait();

    Clock::time_point started = Clock::now();
    terminal.pressKey(Key::back);  // up to "/": handled while the listing of /pub/ waits
    platform::runMessageLoop();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(platform::toUtf8(explorer::remoteProvider.GetCurrentFolder()), "/");
    std::string menu;
    terminal.pressKey(Key::rightSoft);
    capture(menu);
    platform::runMessageLoop();
    EXPECT_NE(menu.find("Ftp Places"), std::string::npos) << menu;

    started = Clock::now();
    EXPECT_EQ(explorer::remoteProvider.DeleteFile(u"/pub/x"), 0);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
    EXPECT_NE(platform::toUtf8(explorer::remoteProvider.GetLastErrorText()).find("busy"), std::string::npos)
        << platform::toUtf8(explorer::remoteProvider.GetLastErrorText());

    EXPECT_LT(quit(), std::chrono::seconds(2));
}

TEST_F(SilentServer, ExitDuringACopyThatWaitsForTheServerAsksThenLeavesWritingNothing) {
    ScriptedFtpServer server({expect("never sent")});  // takes the connection, never greets
    startWith(server, 30000);
    const std::string settings = readFile(registry.file());
    ASSERT_EQ(queue::queueCopyFile(u"/pub/new.txt", u"file://\\new.txt"), 1);
    letItWait();

    std::string question;
    capture(question);
    terminal.pressKey(Key::leftSoft);  // Yes
    platform::postMessage(main, platform::MessageId::close);
    platform::runMessageLoop();
    EXPECT_NE(question.find("1 copies are still waiting or running. Stop them"), std::string::npos) << question;
    EXPECT_LT(quit(), std::chrono::seconds(6));
    EXPECT_FALSE(queue::workerRunning());
    EXPECT_EQ(readFile(registry.file()), settings);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 0);
}

}  // namespace
