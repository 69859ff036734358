// Journeys when things go wrong: the server restarted under a connected place, a refused
// login, a server that is down and a folder the server refuses, one failure among
// twenty queued copies, and a failed download tried again from the Failed list.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "platform/window/list_view.h"
#include "queue/operation_queue.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"

namespace journeys {
namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace resources;
using test_support::FtpServerKind;

using Trouble = Journey;

TEST_P(Trouble, WithAutomaticReconnectTheListingAfterAServerRestartAsksNothing) {
    serve("files/a.txt", "a");
    test_support::PlaceLogin login = serverLogin();
    login.autoReconnect = 1;
    savePlace(login);
    start();
    openRemote();
    open("files");
    server.restart();
    ASSERT_EQ(server.error(), "");
    serve("files/b.txt", "b");
    command(commandRefresh);
    EXPECT_EQ(rows(), " [T]  a\n [T]  b\n");
    EXPECT_TRUE(boxes.closedBoxes().empty()) << boxes.lastBoxScreen();
}

TEST_P(Trouble, WithoutAutomaticReconnectTheListingAfterAServerRestartAsksFirst) {
    serve("files/a.txt", "a");
    test_support::PlaceLogin login = serverLogin();
    login.autoReconnect = 0;
    savePlace(login);
    start();
    openRemote();
    open("files");
    server.restart();
    ASSERT_EQ(server.error(), "");
    serve("files/b.txt", "b");
    std::string question;
    platform::sendMessage(main, platform::MessageId::command, commandRefresh);
    waitForBox("Connect - Farlink");
    capture(question);
    terminal.pressKey(Key::leftSoft);  // Yes
    play();
    EXPECT_EQ(rows(), " [T]  a\n [T]  b\n");
    const std::size_t box = question.find(" +- Connect - Farlink");
    ASSERT_NE(box, std::string::npos) << question;
    EXPECT_EQ(question.substr(box),
              " +- Connect - Farlink ------------------------------------+\n"
              " |                                                        |\n"
              " | (?) The connection to Box has been disconnected would  |\n"
              " |     you like to re-connect?                            |\n"
              " |                                                        |\n"
              " |     127.0.0.1                                          |\n"
              " |                                                        |\n"
              " +--------------------------------------------------------+\n"
              "\n\n\n"
              " Yes                                                     No");
}

// The "Ftp Error" box, closed by the end of the keys, as the screen showed it.
TEST_P(Trouble, ARefusedLoginSaysSoInTheFtpErrorBox) {
    const bool vsftpd = GetParam().kind == FtpServerKind::Vsftpd;
    test_support::PlaceLogin login = serverLogin();
    if (vsftpd) login.user = "joe";  // anonymous only
    else login.password = "wrong";
    savePlace(login);
    start();
    command(commandRemoteView);
    command(commandNewFolder);
    EXPECT_EQ(boxes.lastBoxScreen(), vsftpd ? " / - Farlink\n"
                                              " < Box                                                    >\n"
                                              " [..] (+- Ftp Error --------------------------------+y.\n"
                                              "       |                                            |\n"
                                              "       | (x) An error ocured with 'Box'.            |\n"
                                              "       |                                            |\n"
                                              "       |     New Folder Error (KVT-FC-2)            |\n"
                                              "       |     Description:                           |\n"
                                              "       |     530 This FTP server is anonymous only. |\n"
                                              "       |                                            |\n"
                                              "       +--------------------------------------------+\n"
                                              "\n\n"
                                              " OK"
                                            : " / - Farlink\n"
                                              " < Box                                                    >\n"
                                              " [..] (KVT-F+- Ftp Error ---------------------+\n"
                                              "            |                                 |\n"
                                              "            | (x) An error ocured with 'Box'. |\n"
                                              "            |                                 |\n"
                                              "            |     New Folder Error (KVT-FC-2) |\n"
                                              "            |     Description:                |\n"
                                              "            |     530 Authentication failed.  |\n"
                                              "            |                                 |\n"
                                              "            +---------------------------------+\n"
                                              "\n\n"
                                              " OK");
}

TEST_P(Trouble, AServerThatIsDownSaysSoInTheFtpErrorBox) {
    savePlace(serverLogin());
    server.stop();
    start();
    command(commandRemoteView);
    command(commandNewFolder);
    EXPECT_EQ(boxes.lastBoxScreen(),
              " / - Farlink\n"
              " < Box                                                    >\n"
              " [..] (KVT-F+- Ftp Error ----------------------+\n"
              "            |                                  |\n"
              "            | (x) An error ocured with 'Box'.  |\n"
              "            |                                  |\n"
              "            |     New Folder Error (KVT-FC-1)  |\n"
              "            |     Description:                 |\n"
              "            |     unable to connect to server. |\n"
              "            |                                  |\n"
              "            +----------------------------------+\n"
              "\n\n"
              " OK");
}

TEST_P(Trouble, AFolderTheServerRefusesSaysSoInTheFtpErrorBox) {
    serve("gone/a.txt", "a");
    savePlace(serverLogin());
    start();
    openRemote();
    fs::remove_all(served("gone"));  // someone else took it away meanwhile
    focus("gone");
    command(commandCopyTo);
    drainQueue();
    // The progress line still shows the copy that failed while its box is open.
    EXPECT_EQ(boxes.lastBoxScreen(), " " + server.remotePath("") +
                                         " - Farlink\n"
                                         " < Box                                                    >\n"
                                         " [D] +- Ftp Error ------------------------------------+\n"
                                         "     |                                                |\n"
                                         "     | (x) An error ocured with 'Box'.                |\n"
                                         "     |                                                |\n"
                                         "     |     Copy Folder Error (KVT-CP-3)               |\n"
                                         "     |     Description:                               |\n"
                                         "     |     Unable to find files in the source folder. |\n"
                                         "     |                                                |\n"
                                         "     +------------------------------------------------+\n"
                                         "\n\n"
                                         " OK                         0 B");
}

TEST_P(Trouble, OneFailureAmongTwentyCopiesGivesOneBox) {
    char name[16];
    for (int i = 1; i <= 20; ++i) {
        std::snprintf(name, sizeof name, "many/f%02d.bin", i);
        serve(name, test_support::patternBytes(1000 + i));
    }
    root.folder("f13.bin");  // the copy of f13 cannot replace a folder
    savePlace(serverLogin());
    start();
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
    ASSERT_EQ(queue::listRecords(queue::listFailed).size(), 1u);
    EXPECT_EQ(boxes.ftpErrorBoxes(), 1) << boxes.lastBoxScreen();
    for (int i = 1; i <= 20; ++i) {
        if (i == 13) continue;
        std::snprintf(name, sizeof name, "f%02d.bin", i);
        EXPECT_EQ(bytesDiffer(test_support::patternBytes(1000 + i), root.read(name)), "") << name;
    }
    command(commandQueueView);
    terminal.pressKeys({Key::up, Key::right, Key::right, Key::right});  // the Failed list
    play();
    EXPECT_EQ(terminal.screenText(),
              " Queue - Farlink\n"
              " < Failed Operations                                      >\n"
              " [F]  \xE2\xA7\xB5"
              "f13\n"
              "\n\n\n\n\n\n\n\n\n\n"
              " Refresh                                               Menu");
}

// A download that failed leaves nothing that looks like the user's file; R on the Failed
// list queues it again, and once the server has the file it arrives whole.
TEST_P(Trouble, ADownloadThatFailedIsRetriedWithRFromTheFailedList) {
    const std::string bytes = test_support::patternBytes(300000);
    serve("files/big.bin", bytes);
    savePlace(serverLogin());
    start();
    openRemote();
    open("files");
    fs::rename(served("files/big.bin"), served("files/away.bin"));  // listed, yet gone
    focus("big");
    command(commandCopyTo);
    drainQueue();
    ASSERT_EQ(queue::listRecords(queue::listFailed).size(), 1u);
    EXPECT_EQ(boxes.ftpErrorBoxes(), 1) << boxes.lastBoxScreen();
    EXPECT_EQ(std::distance(fs::directory_iterator(root.path()), {}), 0);

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
    EXPECT_EQ(std::distance(fs::directory_iterator(root.path()), {}), 1);
    EXPECT_EQ(rows(), "      .. (No Files)\n");  // the Failed list, shown again
}

INSTANTIATE_TEST_SUITE_P(Servers, Trouble, ::testing::ValuesIn(everySetup), setupName);

}  // namespace
}  // namespace journeys
