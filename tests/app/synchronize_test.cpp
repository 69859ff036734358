// Synchronize... from the Remote view against pyftpdlib on loopback: the choices, the
// preview with rows left out, the question before removals, and what reaches the queue
// and the two folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "platform/text.h"
#include "platform/window/keys.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace resources;
using test_support::FtpServerKind;
using test_support::readFile;

// Farlink with the Device view in "\docs\" and the Remote view in the server's "box".
class Synchronize : public test_support::FarlinkScreen {
protected:
    Synchronize() : FarlinkScreen(60, 14) {
        fs::create_directories(served.path() + "/box");
        root.folder("docs");
        sortByName();
    }

    void startInFolders() {
        ASSERT_EQ(server.error(), "");
        test_support::addPlace(server.address(),
                               {.user = server.user(), .password = server.password(), .name = u"Box"});
        ASSERT_EQ(remote::savePlaces(), 1);
        queue::clearQueue();  // the records of the tests before
        start();
        open("docs");
        command(commandRemoteView);
        open("box");
    }

    // The keys of the choices dialog: Right moves a list to its second choice.
    void choose(bool toDevice, bool mirror) {
        if (toDevice) terminal.pressKey(Key::right);
        terminal.pressKey(Key::down);
        if (mirror) terminal.pressKey(Key::right);
        terminal.pressKey(Key::leftSoft);  // Done
    }

    // The preview comes once a thread has read the two folders.
    void waitForPreview() { waitForText(" Synchronize: "); }

    std::string box(const std::string& name) const { return served.path() + "/box/" + name; }

    test_support::TemporaryFolder served;
    test_support::RealFtpServer server{FtpServerKind::Pyftpdlib, served.path()};
};

TEST_F(Synchronize, RowsLeftOutWithSpaceAreNotCopiedAndAFolderTakesItsContentsAlong) {
    root.file("docs/a.txt", "a");
    root.file("docs/b.txt", "b");
    root.file("docs/new/c.txt", "c");
    root.file("docs/new/d.txt", "d");
    startInFolders();
    choose(false, false);
    waitForPreview();
    // b.txt out; the new folder out with what goes into it; c.txt back, with its folder.
    for (int row = 0; row < 3; ++row) {
        terminal.pressKey(Key::down);
        terminal.typeText(u" ");
    }
    std::string preview;
    capture(preview);
    terminal.pressKey(Key::up);  // the folder out again, and all in it
    terminal.typeText(u" ");
    terminal.pressKey(Key::leftSoft);  // Start
    command(commandSynchronize);
    drainQueue();
    EXPECT_EQ(preview,
              " Synchronize: 3 of 5 chosen\n"
              " \\docs\\ -> /box/\n"
              "      [x] Copy a.txt (new)\n"
              "      [ ] Copy b.txt (new)\n"
              "      [x] New folder new (new)\n"
              "      [x] Copy new/c.txt (new)\n"
              "      [ ] Copy new/d.txt (new)\n"
              "\n\n\n\n\n\n"
              " Start                                               Cancel");
    EXPECT_EQ(readFile(box("a.txt")), "a");
    for (const char* name : {"b.txt", "new"}) EXPECT_FALSE(fs::exists(box(name))) << name;
    EXPECT_EQ(boxes.closedBoxes().size(), 0u) << boxes.lastBoxScreen();
}

// From the server, mirrored: the removal is asked about with its count, and the device
// file that a server link stands beside is neither replaced nor removed.
TEST_F(Synchronize, AMirrorAsksBeforeItsRemovalsAndLeavesWhatALinkNamesAlone) {
    root.file("docs/same.txt", "same");
    root.file("docs/old.txt", "old");
    root.file("docs/linked.txt", "mine");
    test_support::writeFile(box("same.txt"), "same");
    test_support::writeFile(box("fresh.txt"), "fresh");
    test_support::writeFile(served.path() + "/outside.txt", "outside");
    fs::create_symlink("../outside.txt", box("linked.txt"));
    startInFolders();
    choose(true, true);
    waitForPreview();
    std::string preview;
    capture(preview);
    terminal.pressKey(Key::leftSoft);  // Start
    std::string question;
    capture(question);
    terminal.pressKey(Key::action);  // Yes
    command(commandSynchronize);
    drainQueue();
    EXPECT_NE(preview.find("      [x] Copy fresh.txt (new)\n"
                           "      [x] Delete old.txt (not on the other side)\n"
                           "       -  Skip linked.txt: a link (server)\n"),
              std::string::npos)
        << preview;
    EXPECT_NE(test_support::boxWords(question).find("Delete1fileonthedevice?"), std::string::npos) << question;
    EXPECT_EQ(root.read("docs/fresh.txt"), "fresh");
    EXPECT_EQ(root.read("docs/linked.txt"), "mine");
    EXPECT_EQ(queuedDestinations(), (std::set<std::string>{"file://\\docs\\fresh.txt", "file://\\docs\\old.txt"}));
}

// A folder the server does not list: at the top it ends the synchronisation, saying why;
// below it, the tree is not whole and nothing is removed on its strength.
TEST_F(Synchronize, AFolderTheServerDoesNotListRemovesNothing) {
    root.file("docs/a.txt", "a");
    test_support::writeFile(box("extra.txt"), "extra");
    fs::create_directories(box("bad\xff"));
    test_support::writeFile(box("bad\xff/inside.txt"), "inside");
    startInFolders();
    choose(false, true);
    waitForBox("Synchronize");
    std::string problems;
    capture(problems);
    terminal.pressKey(Key::action);  // OK
    waitForPreview();
    std::string preview;
    capture(preview);
    terminal.pressKey(Key::rightSoft);  // Cancel
    command(commandSynchronize);
    EXPECT_NE(test_support::boxWords(problems).find("Nothingwillbedeleted."), std::string::npos) << problems;
    EXPECT_NE(preview.find(" Synchronize: 1 of 1 chosen\n"), std::string::npos) << preview;
    EXPECT_EQ(preview.find("Delete"), std::string::npos) << preview;

    fs::remove_all(box(""));
    choose(false, true);
    waitForBox("Synchronize");
    std::string failure;
    capture(failure);
    terminal.pressKey(Key::action);  // OK
    command(commandSynchronize);
    EXPECT_NE(test_support::boxWords(failure).find("Theserverfoldercannotberead"), std::string::npos) << failure;
}

TEST_F(Synchronize, CancelInThePreviewQueuesNothing) {
    root.file("docs/a.txt", "a");
    startInFolders();
    choose(false, false);
    waitForPreview();
    terminal.pressKey(Key::rightSoft);  // Cancel
    command(commandSynchronize);
    EXPECT_TRUE(queuedDestinations().empty());
    EXPECT_FALSE(fs::exists(box("a.txt")));
}

}  // namespace
