// The Remote view as a user meets it on a real server: a remote file's properties, and
// renaming and moving on the server among names that a command line could misread (the
// journeys list folders, delete trees and show a refused login).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "explorer/provider.h"
#include "platform/window/list_view.h"
#include "queue/operation_queue.h"
#include "resources/commands.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using platform::Key;
using namespace resources;
using test_support::FtpServerKind;

// Farlink on the headless screen with one place for a pyftpdlib server on loopback,
// whose folder "box" holds a sub-folder and files with awkward names.
class RemoteView : public test_support::FarlinkScreen {
protected:
    RemoteView() : FarlinkScreen(60, 16) {
        std::filesystem::create_directories(served.path() + "/box/sub");
        for (const char* name : {"a b.txt",
                                 "\xC3\xBC"
                                 "ber.txt",
                                 "-dash.txt"})
            std::ofstream(served.path() + "/box/" + name) << "text";
        std::ofstream(served.path() + "/box/sub/inner.txt") << "in";
        sortByName();
    }

    // Starts Farlink with the place "Box" for the server, and opens the Remote view and
    // its folder "box".
    void startInBox() {
        ASSERT_EQ(server.error(), "");
        startWithPlace(server.address(), {.user = server.user(), .password = server.password(), .name = u"Box"});
        command(commandRemoteView);
        terminal.pressKeys({Key::down, Key::action});
        play();
    }

    test_support::TemporaryFolder served;
    test_support::RealFtpServer server{FtpServerKind::Pyftpdlib, served.path()};
};

// A file of the server shows its properties; Open shows its bytes in the pager (never the
// device file of its path) through a private copy that goes when the pager ends, and the
// screen comes back as it was.
TEST_F(RemoteView, PropertiesOfAFileAndOpenInThePager) {
    root.file("box/a b.txt", "the device's own");
    root.file("pager", "#!/bin/sh\necho \"$1\" > \"$0.seen\"; cat \"$1\" >> \"$0.seen\"\n");
    std::filesystem::permissions(root.at("pager"), std::filesystem::perms::owner_all);
    const test_support::ScopedVariable pager("PAGER", root.at("pager"));
    startInBox();
    // Noon UTC, 2001-02-03: the same local date within 11 hours of UTC.
    const auto noon = std::filesystem::file_time_type::clock::from_sys(
        std::chrono::sys_seconds{std::chrono::seconds{981201600}});
    std::filesystem::last_write_time(served.path() + "/box/a b.txt", noon);
    terminal.pressKeys({Key::down, Key::down});
    play();
    std::string shown = shownByCommand(commandProperties, Key::leftSoft);
    // The folder's listing describes the file: its size and time.
    for (const char* line : {"Filename: a b.txt\n", "File Size: 4 B\n", "Modified: 02/03/2001\n"})
        EXPECT_NE(shown.find(line), std::string::npos) << shown;
    const std::string before = terminal.screenText();
    command(commandOpen);
    const std::string seen = root.read("pager.seen");
    EXPECT_TRUE(seen.ends_with("/a b.txt\ntext")) << seen;
    EXPECT_FALSE(std::filesystem::exists(seen.substr(0, seen.find('\n'))));
    EXPECT_EQ(terminal.screenText(), before);
}

// Edit File: an unchanged copy sends nothing, a changed one goes back, and when the
// server's file changed meanwhile No keeps the user's version in the documents folder.
TEST_F(RemoteView, EditFileSendsOnlyAChangeTheServerDidNotOvertake) {
    const std::string file = served.path() + "/box/a b.txt";
    root.file("editor", "#!/bin/sh\n[ -n \"$THEIRS\" ] && printf theirs > \"" + file +
                            "\"\n[ -n \"$MINE\" ] && printf %s \"$MINE\" > \"$1\"\nexit 0\n");
    std::filesystem::permissions(root.at("editor"), std::filesystem::perms::owner_all);
    const test_support::ScopedVariable visual("VISUAL", root.at("editor"));
    startInBox();
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(48);
    std::filesystem::last_write_time(file, longAgo);
    terminal.pressKeys({Key::down, Key::down});
    play();
    std::optional<test_support::ScopedVariable> mine;
    for (const char* version : {"", "mine"}) {
        mine.emplace("MINE", version);
        waitForText("- Farlink");
        command(commandEditFile);
        // The unchanged copy was not sent: the server's file keeps its time.
        EXPECT_EQ(std::filesystem::last_write_time(file) == longAgo, !*version);
    }
    EXPECT_EQ(test_support::readFile(file), "mine");

    const test_support::ScopedVariable theirs("THEIRS", "1");
    mine.emplace("MINE", "mine2");
    std::string question, kept;
    waitForBox("Edit File");
    capture(question);
    terminal.pressKey(Key::rightSoft);  // No
    waitForBox("Edit File");
    capture(kept);
    terminal.pressKey(Key::leftSoft);
    command(commandEditFile);
    EXPECT_NE(test_support::boxWords(question).find("'ab.txt'changedontheserverwhileyoueditedit."), std::string::npos)
        << question;
    EXPECT_EQ(test_support::readFile(file), "theirs");
    EXPECT_NE(test_support::boxWords(kept).find("iskeptin\\ab.txt(edited"), std::string::npos) << kept;
    for (const auto& entry : std::filesystem::directory_iterator(root.path())) {
        if (entry.path().filename().string().starts_with("a b.txt (edited ")) {
            EXPECT_EQ(test_support::readFile(entry.path()), "mine2");
        }
    }
}

TEST_F(RemoteView, RenameMovesOnlyWithAFullPathAndAReplaceAsksWhenTheOptionSaysSo) {
    startInBox();
    terminal.pressKeys({Key::down, Key::down});  // "a b.txt"
    play();
    std::string open;
    capture(open);
    terminal.typeText(u"c d");         // replaces the selected name part
    terminal.pressKey(Key::leftSoft);  // Rename
    command(commandRename);
    EXPECT_NE(open.find(" [T]   /box/a b.txt\n"), std::string::npos) << open;
    EXPECT_TRUE(std::filesystem::exists(served.path() + "/box/c d.txt"));
    EXPECT_FALSE(std::filesystem::exists(served.path() + "/box/a b.txt"));
    EXPECT_EQ(terminal.rowText(4), " [T]  c d");

    setRenameText(u"/box/sub/c d.txt");
    terminal.pressKey(Key::leftSoft);
    command(commandRename);
    EXPECT_TRUE(std::filesystem::exists(served.path() + "/box/sub/c d.txt"));

    // A bare name with '/' inside would move the entry on the server: it is refused.
    terminal.pressKeys({Key::home, Key::down});  // "-dash.txt"
    play();
    setRenameText(u"sub/x.txt");
    terminal.pressKey(Key::leftSoft);
    const std::string box = shownByCommand(commandRename, Key::leftSoft);  // OK
    EXPECT_NE(box.find("Rename Error"), std::string::npos) << box;

    // With "Overwrite" in the Confirm option, renaming onto an existing name asks first.
    explorer::remoteProvider.confirm = 3;
    setRenameText(u"\u00fcber.txt");
    terminal.pressKey(Key::leftSoft);
    std::string question = shownByCommand(commandRename, Key::rightSoft);  // No
    EXPECT_NE(question.find("Confirm Replace"), std::string::npos) << question;
    EXPECT_TRUE(std::filesystem::exists(served.path() + "/box/-dash.txt"));

    // So does a copy to the device onto a file that is there; No queues nothing.
    root.file("-dash.txt", "mine");
    question = shownByCommand(commandCopyTo, Key::rightSoft);  // No
    EXPECT_NE(question.find("'\\-dash.txt' already exists"), std::string::npos) << question;
    EXPECT_EQ(queue::queueProgress().pending, 0);
    EXPECT_FALSE(queue::queueProgress().active);
    EXPECT_EQ(root.read("-dash.txt"), "mine");
}

}  // namespace
