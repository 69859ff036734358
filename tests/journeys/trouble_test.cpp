// Journeys when things go wrong (why a connection fails, and what it asks: tests/remote).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "platform/window/list_view.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"

namespace journeys {
namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace resources;

class Trouble : public Journey {
protected:
    // The Remote view of "files" on a place with that choice, the server restarted under
    // it, and a file more there since.
    void restartUnderTheListing(std::uint8_t autoReconnect) {
        serve("files/a.txt", "a");
        test_support::PlaceLogin login = serverLogin();
        login.autoReconnect = autoReconnect;
        startWithPlace(login);
        openRemote();
        open("files");
        server.restart();
        ASSERT_EQ(server.error(), "");
        serve("files/b.txt", "b");
    }
};

TEST_P(Trouble, WithAutomaticReconnectTheListingAfterAServerRestartAsksNothing) {
    restartUnderTheListing(1);
    command(commandRefresh);
    EXPECT_EQ(rows(), " [T]  a\n [T]  b\n");
    EXPECT_TRUE(boxes.closedBoxes().empty()) << boxes.lastBoxScreen();
}

// No is no failure to report: no box says so, and the next use asks again; Yes goes on.
TEST_P(Trouble, WithoutAutomaticReconnectTheListingAfterAServerRestartAsksFirst) {
    restartUnderTheListing(0);
    for (const Key answer : {Key::rightSoft, Key::leftSoft}) {  // No, then Yes
        const std::string question = askedByCommand(commandRefresh, answer);
        EXPECT_NE(test_support::boxWords(question).find(
                      "TheconnectiontoBoxhasbeendisconnectedwouldyouliketore-connect?127.0.0.1"),
                  std::string::npos)
            << question;
        EXPECT_EQ(boxes.ftpErrorBoxes(), 0) << boxes.lastBoxScreen();
    }
    EXPECT_EQ(rows(), " [T]  a\n [T]  b\n");
}

TEST_P(Trouble, ARefusedLoginSaysSoInTheFtpErrorBox) {
    const bool vsftpd = GetParam().kind == FtpServerKind::Vsftpd;
    test_support::PlaceLogin refused = serverLogin();
    if (vsftpd) refused.user = "joe";  // anonymous only
    else refused.password = "wrong";
    startWithPlace(refused);
    command(commandRemoteView);
    command(commandNewFolder);
    const std::string words = test_support::boxWords(boxes.lastBoxScreen());
    EXPECT_NE(words.find(vsftpd ? "'Box'.NewFolderError(KVT-FC-2)Description:530ThisFTPserverisanonymousonly."
                                : "'Box'.NewFolderError(KVT-FC-2)Description:530Authenticationfailed."),
              std::string::npos)
        << words;
}

TEST_P(Trouble, AFolderTheServerRefusesSaysSoInTheFtpErrorBox) {
    serve("gone/a.txt", "a");
    startWithPlace();
    openRemote();
    fs::remove_all(served("gone"));  // someone else took it away meanwhile
    focus("gone");
    command(commandCopyTo);
    drainQueue();
    const std::string words = test_support::boxWords(boxes.lastBoxScreen());
    EXPECT_NE(words.find("'Box'.CopyFolderError(KVT-CP-3)Description:Unabletofindfilesinthesourcefolder."),
              std::string::npos)
        << words;
    // The progress line still shows the copy that failed while its box is open.
    EXPECT_TRUE(boxes.lastBoxScreen().ends_with(" 0 B")) << boxes.lastBoxScreen();
}

TEST_P(Trouble, OneFailureAmongTwentyCopiesGivesOneBox) {
    char name[16];
    for (int i = 1; i <= 20; ++i) {
        std::snprintf(name, sizeof name, "many/f%02d.bin", i);
        serve(name, test_support::patternBytes(1000 + i));
    }
    root.folder("f13.bin");  // the copy of f13 cannot replace a folder
    startWithPlace();
    openRemote();
    open("many");
    // Rows are chosen without keys: the box of the failure, which comes while the copies
    // are being queued, would take one.
    for (int row = 0; row < 20; ++row) {
        platform::listViewSetItemState(app::mainWindow.listView, row, platform::itemFocused | platform::itemSelected,
                                       platform::itemFocused | platform::itemSelected);
        command(commandCopyTo);
    }
    drainQueue();
    EXPECT_EQ(queue::listRecords(queue::listSuccessful).size(), 19u);
    EXPECT_EQ(boxes.ftpErrorBoxes(), 1) << boxes.lastBoxScreen();
    for (int i = 1; i <= 20; ++i) {
        if (i == 13) continue;
        std::snprintf(name, sizeof name, "f%02d.bin", i);
        EXPECT_EQ(bytesDiffer(test_support::patternBytes(1000 + i), root.read(name)), "") << name;
    }
    command(commandQueueView);
    terminal.pressKeys({Key::up, Key::right, Key::right, Key::right});  // the Failed list
    play();
    EXPECT_EQ(rows(),
              " [F]  \xE2\xA7\xB5"
              "f13\n");
}

// R on the Failed list queues a failed download again, and once the server has the file it
// arrives whole (what a failed one leaves: tests/queue/queued_copies_test.cpp).
TEST_P(Trouble, ADownloadThatFailedIsRetriedWithRFromTheFailedList) {
    const std::string bytes = test_support::patternBytes(300000);
    serve("files/big.bin", bytes);
    startWithPlace();
    openRemote();
    open("files");
    fs::rename(served("files/big.bin"), served("files/away.bin"));  // listed, yet gone
    focus("big");
    command(commandCopyTo);
    drainQueue();
    ASSERT_EQ(queue::listRecords(queue::listFailed).size(), 1u);
    EXPECT_EQ(boxes.ftpErrorBoxes(), 1) << boxes.lastBoxScreen();

    fs::rename(served("files/away.bin"), served("files/big.bin"));
    command(commandQueueView);
    terminal.pressKeys({Key::up, Key::right, Key::right, Key::right});  // the Failed list
    play();
    terminal.pressKey(Key::down);  // its record
    terminal.typeText(u"r");
    play();
    drainQueue();
    EXPECT_TRUE(queue::listRecords(queue::listFailed).empty());
    EXPECT_EQ(queue::listRecords(queue::listSuccessful).size(), 1u);
    EXPECT_EQ(bytesDiffer(bytes, root.read("big.bin")), "");
    EXPECT_EQ(rows(), "      .. (No Files)\n");  // the Failed list, shown again
}

INSTANTIATE_TEST_SUITE_P(Servers, Trouble, ::testing::ValuesIn(bothServers), setupParamName);

}  // namespace
}  // namespace journeys
