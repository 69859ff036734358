// The journey to an SFTP server (sshd on loopback) that the user's known_hosts does not know yet.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/text.h"
#include "platform/window/keys.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_sftp_server.h"

namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace resources;
using namespace test_support;

class SftpJourney : public FarlinkScreen {
protected:
    explicit SftpJourney(RealSftpServerOptions options = {}) : FarlinkScreen(60, 14, "/home/me"), server(options) {
        // The user's ssh folder: the client key and config the server was made for.
        fs::create_directories(sshFolder);
        fs::copy(server.home() + "/.ssh", sshFolder, fs::copy_options::recursive);
        const int index = addPlace("sftp://127.0.0.1:" + std::to_string(server.port()),
                                   {.user = server.user(), .password = "", .name = u"Box"});
        remote::PlaceDialogData data = *remote::placeDialogData(index, {});
        platform::copyBounded(data.startupFolder, 260, platform::toUtf16(served.path()));
        platform::copyBounded(data.currentFolder, 260, platform::toUtf16(served.path() + "/"));
        remote::applyPlaceDialogData(index, data);
        remote::savePlaces();
    }

    RealSftpServer server;
    const std::string sshFolder = root.at("home/me/.ssh");
    TemporaryFolder served;
};

TEST_F(SftpJourney, TheKeyIsTrustedOnceAndFilesGoBothWays) {
    ASSERT_EQ(server.error(), "");
    writeFile(served / "a.bin", patternBytes(300000));  // trees: tests/remote/sftp_place_test.cpp
    root.file("home/me/up.txt", "up");
    start();

    const std::string question = askedByCommand(commandRemoteView, Key::leftSoft);  // Yes
    EXPECT_NE(boxWords(question).find(server.hostKeyFingerprint()), std::string::npos) << question;
    EXPECT_NE(readFile(sshFolder + "/known_hosts").find("[127.0.0.1]:" + std::to_string(server.port())),
              std::string::npos);

    focus("a");
    command(commandCopyTo);
    command(commandDeviceView);
    focus("up");
    command(commandCopyTo);
    drainQueue();
    EXPECT_TRUE(root.read("home/me/a.bin") == patternBytes(300000));
    EXPECT_EQ(readFile(served / "up.txt"), "up");
    EXPECT_TRUE(boxes.closedBoxes().empty()) << boxes.lastBoxScreen();  // a failed copy shows one
}

// Down from the server and back up: the downloads took the server's times, so the way
// back finds nothing to do.
TEST_F(SftpJourney, ASynchronisationDownAndBackFindsTheFoldersAlike) {
    ASSERT_EQ(server.error(), "");
    fs::create_directories(served / "sub");
    for (const std::string name : {"a.txt", "sub/b.txt"}) {
        writeFile(served / name, name);
        fs::last_write_time(served / name, fs::file_time_type::clock::now() - std::chrono::hours(24));
    }
    fs::create_directories(root.at("home/me/copy"));
    start();
    open("copy");
    askedByCommand(commandRemoteView, Key::leftSoft);  // Yes

    terminal.pressKey(Key::right);     // Server to Device
    terminal.pressKey(Key::leftSoft);  // Done
    waitForText(" Synchronize: ");
    terminal.pressKey(Key::leftSoft);  // Start
    command(commandSynchronize);
    drainQueue();
    EXPECT_EQ(root.read("home/me/copy/sub/b.txt"), "sub/b.txt");

    queue::clearQueue();
    command(commandRemoteView);
    terminal.pressKey(Key::leftSoft);  // Done: Device to Server
    waitForBox("Synchronize");
    const std::string alike = shownByCommand(commandSynchronize, Key::leftSoft);  // OK
    EXPECT_NE(boxWords(alike).find("Thetwofoldersarealike"), std::string::npos) << alike;
    EXPECT_TRUE(queue::listRecords(queue::listPending).empty());
}

// A key that changed is refused, and the known_hosts line to remove, which ends a
// sentence longer than a row, is read whole: in a box while browsing, and in the
// Properties of a queued copy's failed record.
TEST_F(SftpJourney, AChangedKeyIsRefusedNamingItsLineInABoxAndInTheFailedRecord) {
    ASSERT_EQ(server.error(), "");
    server.writeKnownHosts(KnownKey::anotherKey);
    fs::copy_file(server.knownHostsPath(), sshFolder + "/known_hosts", fs::copy_options::overwrite_existing);
    start();
    const std::string line = boxWords(sshFolder + "/known_hosts:2");
    const std::string refusal = askedByCommand(commandRemoteView, Key::leftSoft);  // OK
    EXPECT_NE(boxWords(refusal).find(line), std::string::npos) << refusal;
    queue::queueCopyFile(platform::toUtf16(served / "f"), u"file://\\home\\me\\f");
    drainQueue();
    command(commandQueueView);
    terminal.pressKeys({Key::up, Key::right, Key::right, Key::right, Key::down});  // the Failed list's record
    play();
    const std::string properties = shownByCommand(commandProperties, Key::leftSoft);
    EXPECT_NE(boxWords(properties).find(line), std::string::npos) << properties;
}

class LockedKeyJourney : public SftpJourney {
protected:
    LockedKeyJourney() : SftpJourney({.clientPassphrase = "open sesame"}) {}
};

// The key's passphrase is asked in a box that shows nothing of it, used for that login,
// and stored nowhere.
TEST_F(LockedKeyJourney, AsksForTheKeysPassphraseAndKeepsItNowhere) {
    ASSERT_EQ(server.error(), "");
    server.writeKnownHosts(KnownKey::serverKey);
    fs::copy_file(server.knownHostsPath(), sshFolder + "/known_hosts", fs::copy_options::overwrite_existing);
    writeFile(served / "listed", "x");
    start();

    platform::sendMessage(main, platform::MessageId::command, commandRemoteView);
    waitForBox("Connect - Farlink");
    terminal.typeText(u"open sesame");
    const std::string typed = shownBy({}, Key::leftSoft);  // OK
    EXPECT_NE(boxWords(typed).find("id_ed25519"), std::string::npos) << typed;
    EXPECT_EQ(typed.find("open"), std::string::npos) << typed;
    EXPECT_NE(rows().find("listed"), std::string::npos) << terminal.screenText();
    EXPECT_EQ(readFile(registry.file()).find("open sesame"), std::string::npos);
}

}  // namespace
