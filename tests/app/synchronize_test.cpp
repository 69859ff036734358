// Synchronize... from the Remote view against pyftpdlib on loopback.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <set>
#include <string>

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
        queue::clearQueue();  // the records of the tests before
        startWithPlace(server.address(), {.user = server.user(), .password = server.password(), .name = u"Box"});
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
    // The screen as the keys reach this point, which `key` then leaves.
    const std::string& shownThen(Key key) {
        std::string& shown = screens.emplace_back();
        capture(shown);
        terminal.pressKey(key);
        return shown;
    }

    std::string box(const std::string& name) const { return served.path() + "/box/" + name; }

    std::deque<std::string> screens;  // as shownThen captures them
    test_support::TemporaryFolder served;
    test_support::RealFtpServer server{FtpServerKind::Pyftpdlib, served.path()};
};

TEST_F(Synchronize, RowsLeftOutWithSpaceAreNotCopiedAndAFolderTakesItsContentsAlong) {
    for (const std::string name : {"a.txt", "b.txt", "new/c.txt", "new/d.txt"}) root.file("docs/" + name, name);
    startInFolders();
    choose(false, false);
    waitForPreview();
    // b.txt out; the new folder out with what goes into it; c.txt back, with its folder.
    for (int row = 0; row < 3; ++row) {
        terminal.pressKey(Key::down);
        terminal.typeText(u" ");
    }
    const std::string& preview = shownThen(Key::up);
    terminal.typeText(u" ");           // the folder out again, and all in it
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
    EXPECT_EQ(readFile(box("a.txt")), "a.txt");
    for (const char* name : {"b.txt", "new"}) EXPECT_FALSE(fs::exists(box(name))) << name;
    EXPECT_EQ(boxes.closedBoxes().size(), 0u) << boxes.lastBoxScreen();
}

// From the server, mirrored: the removal is asked about with its count, the device
// file that a server link stands beside is neither replaced nor removed, and a device
// folder 64 levels down is held, with the folders that hold it.
TEST_F(Synchronize, AMirrorAsksBeforeItsRemovalsAndLeavesWhatALinkOrAHeldFolderNamesAlone) {
    std::string deep = "docs/d";
    for (int level = 1; level < 64; ++level) deep += "/d";
    root.folder(deep);
    // The server's same.txt first: written later, it would be the newer.
    for (const std::string name : {"same.txt", "fresh.txt"}) test_support::writeFile(box(name), name);
    for (const std::string name : {"same.txt", "old.txt", "linked.txt"}) root.file("docs/" + name, name);
    test_support::writeFile(served.path() + "/outside.txt", "outside");
    fs::create_symlink("../outside.txt", box("linked.txt"));
    startInFolders();
    choose(true, true);
    waitForPreview();
    const std::string& preview = shownThen(Key::leftSoft);  // Start
    const std::string& question = shownThen(Key::action);   // Yes
    command(commandSynchronize);
    drainQueue();
    EXPECT_NE(preview.find("      [x] Copy fresh.txt (new)\n"
                           "      [x] Delete old.txt (not on the other side)\n"
                           "       -  Hold d/d/d/d/d/d/d/d"),
              std::string::npos)
        << preview;
    EXPECT_NE(preview.find("       -  Skip linked.txt: a link (server)\n"), std::string::npos) << preview;
    EXPECT_NE(test_support::boxWords(question).find("Delete1fileonthedevice?"), std::string::npos) << question;
    EXPECT_EQ(root.read("docs/fresh.txt"), "fresh.txt");
    EXPECT_EQ(root.read("docs/linked.txt"), "linked.txt");
    EXPECT_EQ(queuedDestinations(), (std::set<std::string>{"file://\\docs\\fresh.txt", "file://\\docs\\old.txt"}));
}

// A server folder that cannot be listed at all ends the synchronisation, saying why
// (below the top it is held, as above).
TEST_F(Synchronize, AServerFolderThatCannotBeListedEndsItSayingWhy) {
    startInFolders();
    fs::remove_all(box(""));
    choose(false, true);
    waitForBox("Synchronize");
    const std::string& failure = shownThen(Key::action);  // OK
    command(commandSynchronize);
    EXPECT_NE(test_support::boxWords(failure).find("Theserverfoldercannotberead"), std::string::npos) << failure;
}

}  // namespace
