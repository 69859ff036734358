// The everyday journeys. What goes wrong on the way is the lower layers' (tests/queue,
// tests/explorer, tests/remote); a journey keeps the box that says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/text.h"
#include "platform/window/keys.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"

namespace journeys {
namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace resources;
using test_support::patternBytes;
using test_support::readFile;

// Every byte value, and line ends of both kinds: a text-mode transfer would change it.
std::string everyByte() {
    std::string bytes;
    for (int round = 0; round < 40; ++round) {
        for (int value = 0; value < 256; ++value) bytes += char(value);
        bytes += "line\r\nline\n";
    }
    return bytes;
}

// The place dialog chooses the kind of data connection: on every setup.
using FirstPlace = Journey;
using Everyday = Journey;

TEST_P(FirstPlace, ANewUsersFirstPlaceThroughTheDialogsThenThreeLevelsDownAndBackToTheRoot) {
    serve("one/two/three/leaf.txt", "leaf");
    const bool vsftpd = GetParam().kind == FtpServerKind::Vsftpd;
    start();
    terminal.pressKey(Key::leftSoft);  // Remote
    terminal.advanceTime(550);
    terminal.pressKey(Key::leftSoft);  // Yes to the offer of a place: its dialog, in the host field
    terminal.pressKey(Key::end);
    for (int i = 0; i < 15; ++i) terminal.pressKey(Key::back);  // "ftp.example.com"
    terminal.typeText(u"127.0.0.1");
    terminal.pressKeys({Key::up, Key::end});
    for (int i = 0; i < 14; ++i) terminal.pressKey(Key::back);  // "My  Connection"
    terminal.typeText(u"Box");
    terminal.pressKeys({Key::down, Key::down});  // "Anonymous"
    if (vsftpd) {
        terminal.pressKey(Key::action);
    } else {
        terminal.pressKey(Key::down);
        terminal.typeText(platform::toUtf16(server.user()));
        terminal.pressKey(Key::down);
        terminal.typeText(platform::toUtf16(server.password()));
    }
    terminal.pressKeys({Key::rightSoft, Key::action});                // Menu, "Advanced"
    terminal.pressKeys({Key::down, Key::end, Key::back, Key::back});  // the port's "21"
    const std::string port = server.address().substr(server.address().rfind(':') + 1);
    terminal.typeText(platform::toUtf16(port));
    terminal.pressKeys({Key::down, Key::down});  // "Enable Passive Mode"
    if (!GetParam().passive) terminal.pressKey(Key::action);
    terminal.pressKeys({Key::leftSoft, Key::leftSoft});  // Done, Done
    play();
    const std::shared_ptr<remote::FtpPlace> place = remote::placeAt(0);
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(std::to_string(place->port) + " passive " + std::to_string(place->passive),
              port + " passive " + (GetParam().passive ? "1" : "0"));

    const std::string rootScreen = terminal.screenText();
    EXPECT_EQ(rootScreen, std::string(" / - Farlink\n"
                                      " < Box                                                    >\n") +
                              (vsftpd ? " [D]  pub\n" : " [D]  one\n") +
                              "\n\n\n\n\n\n\n\n\n\n"
                              " Device                                                Menu");
    const std::string top = vsftpd ? "/pub/" : "/";
    if (vsftpd) open("pub");
    for (const char* folder : {"one", "two", "three"}) open(folder);
    EXPECT_EQ(terminal.screenText(), " " + top +
                                         "one/two/three/ - Farlink\n"
                                         " < Box                                                    >\n"
                                         " [T]  leaf\n"
                                         "\n\n\n\n\n\n\n\n\n\n"
                                         " Device                                                Menu");
    for (int level = vsftpd ? 4 : 3; level > 0; --level) {
        terminal.pressKey(Key::back);
        play();
    }
    EXPECT_EQ(terminal.screenText(), rootScreen);
}

TEST_P(Everyday, CopyToDeviceAndToRemoteKeepEveryByteOfFilesAndTrees) {
    serve("files/report.txt", everyByte());
    serve("files/tree/a.bin", patternBytes(70000));
    serve("files/tree/sub/b.txt", "line\r\nline\n");
    serve("files/tree/sub/deeper/c.bin", patternBytes(3));
    serveFolder("files/tree/empty");
    root.file("local.bin", patternBytes(100000));
    root.file("localtree/x.bin", everyByte());
    root.file("localtree/inner/y.txt", "y\r\n");
    root.folder("localtree/void");
    startWithPlace();
    openRemote();
    open("files");
    focus("report");
    command(commandCopyTo);
    focus("tree");
    command(commandCopyTo);
    drainQueue();
    EXPECT_EQ(bytesDiffer(everyByte(), root.read("report.txt")), "");
    EXPECT_EQ(bytesDiffer(treeText(served("files/tree")), treeText(root.at("tree"))), "");

    command(commandDeviceView);
    focus("local");
    command(commandCopyTo);
    focus("localtree");
    command(commandCopyTo);
    drainQueue();
    EXPECT_EQ(bytesDiffer(patternBytes(100000), readFile(served("files/local.bin"))), "");
    EXPECT_EQ(bytesDiffer(treeText(root.at("localtree")), treeText(served("files/localtree"))), "");
    EXPECT_EQ(boxes.ftpErrorBoxes(), 0) << boxes.lastBoxScreen();  // a failed copy shows one
}

TEST_P(Everyday, NewFoldersAndATreeDeletedAfterTheQuestion) {
    serve("doomed/a.txt", "a");
    serve("doomed/sub/b.txt", "b");
    serve("doomed/sub/deeper/c.txt", "c");
    serveFolder("doomed/empty");
    serveFolder("keep");
    startWithPlace();
    openRemote();
    // Each new folder comes up in the rename; Discard keeps its name.
    command(commandNewFolder);
    EXPECT_EQ(terminal.rowText(screenRows - 1), " Rename                                             Discard");
    command(commandRenameDiscard);
    command(commandNewFolder);
    command(commandRenameDiscard);
    EXPECT_TRUE(fs::is_directory(served("New Folder")));
    EXPECT_TRUE(fs::is_directory(served("New Folder (1)")));

    focus("doomed");
    const std::string question = shownBy({Key::del}, Key::leftSoft);  // Yes
    const std::string folder = GetParam().kind == FtpServerKind::Vsftpd ? "/pub/doomed" : "/doomed";
    EXPECT_NE(question.find("The folder '" + folder + "' is not empty"), std::string::npos) << question;
    EXPECT_FALSE(fs::exists(served("doomed")));
    // Folders keep the server's listing order.
    const std::string shown = rows();
    for (const char* row : {" [D]  New Folder\n", " [D]  New Folder (1)\n", " [D]  keep\n"})
        EXPECT_NE(shown.find(row), std::string::npos) << shown;
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 3) << shown;
    EXPECT_EQ(boxes.ftpErrorBoxes(), 0) << boxes.lastBoxScreen();
}

// Copy and Paste in the Remote view copy within the server, and from one place's server
// to another's; a paste onto itself, and a cut from another place, are refused, saying why.
TEST_P(Everyday, CopyAndPasteWithinAServerAndBetweenTwoPlaces) {
    serve("within/original.txt", everyByte());
    serveFolder("within/dest");
    test_support::TemporaryFolder otherRoot;
    test_support::RealFtpServer other(test_support::FtpServerKind::Pyftpdlib, otherRoot.path());
    ASSERT_EQ(other.error(), "");
    savePlace(serverLogin());
    test_support::addPlace(other.address(), {.user = other.user(), .password = other.password(), .name = u"Other"});
    ASSERT_EQ(remote::savePlaces(), 1);
    start();
    openRemote();
    open("within");
    focus("original");
    command(commandCopy);
    command(commandPaste);  // onto itself: refused (why: tests/remote/remote_files_test.cpp)
    EXPECT_EQ(boxCaption(boxes.lastBoxScreen()), "Paste Error");
    open("dest");
    command(commandPaste);
    drainQueue();
    EXPECT_EQ(bytesDiffer(everyByte(), readFile(served("within/dest/original.txt"))), "");

    terminal.pressKeys({Key::up, Key::right});  // the place "Other"
    play();
    command(commandPaste);
    drainQueue();
    EXPECT_EQ(bytesDiffer(everyByte(), readFile(other.hostPath("original.txt"))), "");
    EXPECT_EQ(boxes.ftpErrorBoxes(), 0) << boxes.lastBoxScreen();

    terminal.pressKeys({Key::left});  // back to "Box", in the folder it was left in, to cut there
    play();
    command(commandUpFolder);
    focus("original");
    command(commandCut);
    terminal.pressKeys({Key::up, Key::right});
    play();
    command(commandPaste);
    EXPECT_EQ(boxCaption(boxes.lastBoxScreen()), "Paste Error");
    EXPECT_NE(boxes.lastBoxScreen().find("copied on another"), std::string::npos) << boxes.lastBoxScreen();
    EXPECT_TRUE(fs::exists(served("within/original.txt")));
    EXPECT_EQ(queue::listRecords(queue::listFailed).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Servers, FirstPlace, ::testing::ValuesIn(everySetup), setupParamName);
INSTANTIATE_TEST_SUITE_P(Servers, Everyday, ::testing::ValuesIn(bothServers), setupParamName);

}  // namespace
}  // namespace journeys
