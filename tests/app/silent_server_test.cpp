// The program with a server that stops answering, whose silence outlasts every bound by
// far: a wait that ignored its bound would still be waiting when the test looks, and fail it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "platform/text.h"
#include "platform/window/window.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
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

    // Quits as the window's close does, answering the threads' calls meanwhile: the
    // listings and the queue's worker must end within the bound.
    void quit() {
        EXPECT_TRUE(app::finishListings(std::chrono::seconds(5)));
        main = {};
    }
};

TEST_F(SilentServer, AListingThatWaitsHoldsUpNoKeyAndACommandOnItsConnectionSaysItIsBusy) {
    ScriptedFtpServer server(login() + expect("CWD /pub/") + expect("never sent"));  // no reply
    startWithPlace(server.address(), {.timeout = 60000});
    explorer::remoteProvider.filterIndex = 0;
    remote::setRemoteCurrentFolder(u"/pub/");
    platform::sendMessage(main, platform::MessageId::command, resources::commandRemoteView);
    ASSERT_TRUE(loopUntil([&] { return server.linesHeard() == 2; }));  // the listing waits for CWD's reply

    const Clock::time_point started = Clock::now();
    terminal.pressKey(Key::back);  // up to "/": handled while the listing of /pub/ waits
    platform::runMessageLoop();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20)) << "the key waited for the listing";
    EXPECT_EQ(platform::toUtf8(explorer::remoteProvider.GetCurrentFolder()), "/");
    std::string menu;
    terminal.pressKey(Key::rightSoft);
    capture(menu);
    platform::runMessageLoop();
    EXPECT_NE(menu.find("Ftp Places"), std::string::npos) << menu;

    EXPECT_EQ(explorer::remoteProvider.DeleteFile(u"/pub/x"), 0);
    EXPECT_NE(platform::toUtf8(explorer::remoteProvider.GetLastErrorText()).find("busy"), std::string::npos)
        << platform::toUtf8(explorer::remoteProvider.GetLastErrorText());
    quit();
}

// Delete on a server that never answers DELE: the screen names the command while the keys
// go on, Cancel gives control back, and the place lists again on a new connection while
// the old one still hangs.
TEST_F(SilentServer, ADeleteThatWaitsIsCancelledAndThePlaceListsAnew) {
    ScriptedFtpServer server(login() + listing("/", unixLine('-', "a.txt")) + probe() + expect("DELE /a.txt") +
                             acceptControl() + login() + listing("/", unixLine('-', "b.txt")) + bye());
    startWithPlace(server.address(), {.timeout = 60000});
    command(resources::commandRemoteView);
    explorer::remoteProvider.confirm = 0;
    focus("a");
    terminal.holdWhile(nullptr);  // the keys go to the wait screen
    const int heard = server.linesHeard();
    std::string waiting;
    waitForScreen([&](const std::string&) { return server.linesHeard() == heard + 2; });  // NOOP, DELE
    capture(waiting);
    terminal.pressKey(Key::rightSoft);  // Cancel
    command(resources::commandDelete);
    EXPECT_NE(waiting.find("Deleting '/a.txt'..."), std::string::npos) << waiting;
    command(resources::commandRefresh);
    EXPECT_NE(rows().find("b"), std::string::npos) << rows();
    quit();
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// The server falls silent under a place that asks before it re-connects: while the
// probe waits the keys go on, once it gives up the question comes, and Yes lists again
// on a new connection (the silent one is never asked again).
TEST_F(SilentServer, AProbeThatGivesUpAsksWhileTheKeysGoOnAndYesListsAgain) {
    remote::setSilenceLimit(1500);
    ScriptedFtpServer server(login() + listing("/", unixLine('d', "pub")) + expect("NOOP") + expect("QUIT") +
                             acceptControl() + login() + listing("/pub/", unixLine('-', "a.txt")) + expect("QUIT"));
    startWithPlace(server.address(), {.autoReconnect = 0});
    command(resources::commandRemoteView);
    explorer::remoteProvider.SetCurrentFolder(u"/pub/");
    platform::sendMessage(main, platform::MessageId::command, resources::commandRefresh);

    std::string menu;
    terminal.pressKey(Key::rightSoft);
    capture(menu);
    terminal.pressKey(Key::back);
    platform::runMessageLoop();
    EXPECT_NE(menu.find("Ftp Places"), std::string::npos) << "the menu waited for the probe:\n" << menu;

    waitForBox("Connect - Farlink");
    const std::string question = shownBy({}, Key::leftSoft);  // Yes
    EXPECT_NE(question.find("has been disconnected would you like"), std::string::npos) << question;
    EXPECT_NE(rows().find("a"), std::string::npos) << rows();
    quit();
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
    remote::setSilenceLimit(remote::defaultSilenceLimitMs);
}

TEST_F(SilentServer, ExitDuringACopyThatWaitsForTheServerAsksThenLeavesWritingNothing) {
    ScriptedFtpServer server({expect("never sent")});  // takes the connection, never greets
    startWithPlace(server.address(), {.timeout = 60000});
    const std::string settings = readFile(registry.file());
    ASSERT_EQ(queue::queueCopyFile(u"/pub/new.txt", u"file://\\new.txt"), 1);
    ASSERT_TRUE(loopUntil([&] { return server.linesHeard() == 0; }));  // the copy waits for the greeting

    std::string question;
    capture(question);
    terminal.pressKey(Key::leftSoft);  // Yes
    platform::postMessage(main, platform::MessageId::close);
    platform::runMessageLoop();
    EXPECT_NE(question.find("1 copies are still waiting or running. Stop them"), std::string::npos) << question;
    quit();
    EXPECT_FALSE(queue::workerRunning());
    EXPECT_EQ(readFile(registry.file()), settings);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 0);
}

}  // namespace
