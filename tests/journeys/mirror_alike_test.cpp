// One tree carried up by farlink-ftp mirror --reverse --delete and by Synchronize's
// Mirror: both plan alike and leave the server alike.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "platform/text.h"
#include "platform/window/keys.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"
#include "tests/support/processes.h"
#include "tests/support/real_sftp_server.h"

namespace journeys {
namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace test_support;

enum class Server { pyftpdlib, sshd };

class MirrorAlike : public FarlinkScreen, public ::testing::WithParamInterface<Server> {
protected:
    MirrorAlike() : FarlinkScreen(60, 14, "/home/me") {}

    ScopedVariable agent{"SSH_AUTH_SOCK", ""};
};

TEST_P(MirrorAlike, TheToolAndSynchronizePlanAlikeAndLeaveTheServerAlike) {
    TemporaryFolder served;
    std::unique_ptr<RealFtpServer> ftp;
    std::unique_ptr<RealSftpServer> sshd;
    std::string folder, url;
    if (GetParam() == Server::sshd) {
        sshd = std::make_unique<RealSftpServer>();
        ASSERT_EQ(sshd->error(), "");
        // The user's ssh folder: the client key, and the server's key known already.
        sshd->writeKnownHosts(KnownKey::serverKey);
        fs::create_directories(root.at("home/me/.ssh"));
        fs::copy(sshd->home() + "/.ssh", root.at("home/me/.ssh"), fs::copy_options::recursive);
        folder = served.path() + "/";
        url = "sftp://" + sshd->user() + "@127.0.0.1:" + std::to_string(sshd->port()) + folder;
        addPlace("sftp://127.0.0.1:" + std::to_string(sshd->port()), {.user = sshd->user(), .password = ""});
    } else {
        ftp = std::make_unique<RealFtpServer>(FtpServerKind::Pyftpdlib, served.path());
        ASSERT_EQ(ftp->error(), "");
        folder = ftp->remotePath("");
        url = ftp->url(folder);
        addPlace(ftp->address(), {.user = ftp->user(), .password = ftp->password()});
    }
    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    platform::copyBounded(data.currentFolder, 260, platform::toUtf16(folder));
    remote::applyPlaceDialogData(0, data);
    ASSERT_EQ(remote::savePlaces(), 1);
    // Files of an hour ago on both sides: same.txt is alike, b.txt differs in size.
    const std::string host = ftp ? ftp->hostPath("") : folder;
    const std::string site = root.at("home/me/site/");
    const auto put = [](const std::string& path, const std::string& bytes) {
        fs::create_directories(fs::path(path).parent_path());
        writeFile(path, bytes);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    };
    for (const std::string& top : {host + "byProgram/", host + "byTool/"}) {
        for (const auto& [path, bytes] :
             {std::pair{"sub/b.txt", "b"}, {"sub/same.txt", "same"}, {"extra.txt", "x"}, {"old/deeper/x", "x"}})
            put(top + path, bytes);
    }
    for (const auto& [path, bytes] :
         {std::pair{"a.txt", "new"}, {"sub/b.txt", "bbbb"}, {"sub/same.txt", "same"}, {"new/c.txt", "c"}})
        put(site + path, bytes);

    const std::string mirror = std::string(FARLINK_FTP_PROGRAM) + " mirror --reverse --delete ";
    std::string planned, output, errors;
    EXPECT_EQ(runCommand(mirror + "--dry-run " + url + "byTool/ " + site, cacheHome.path(), planned, errors), 0)
        << errors;
    EXPECT_EQ(runCommand(mirror + url + "byTool/ " + site, cacheHome.path(), output, errors), 0) << errors;

    queue::clearQueue();
    start();
    open("site");
    command(resources::commandRemoteView);
    open("byProgram");
    terminal.pressKey(Key::down);
    terminal.pressKey(Key::right);     // Mirror
    terminal.pressKey(Key::leftSoft);  // Done
    waitForText(" Synchronize: ");
    std::string preview;
    capture(preview);
    terminal.pressKey(Key::leftSoft);  // Start
    terminal.pressKey(Key::action);    // Yes, delete
    command(resources::commandSynchronize);
    drainQueue();

    // The preview's rows are the tool's actions, in its order.
    const std::map<std::string, std::string> shown = {
        {"put", "Copy"}, {"mkdir", "New folder"}, {"rm", "Delete"}, {"rmdir", "Delete folder"}};
    std::istringstream lines(planned);
    std::size_t at = 0;
    for (std::string verb, path; lines >> verb >> path && verb != "planned";) {
        at = preview.find("[x] " + shown.at(verb) + " " + path + " (", at);
        EXPECT_NE(at, std::string::npos) << verb << " " << path << "\n" << preview;
    }
    EXPECT_NE(preview.find(" Synchronize: 8 of 8 chosen\n"), std::string::npos) << preview;
    EXPECT_NE(planned.find("planned 8, failed 0\n"), std::string::npos) << planned;
    EXPECT_EQ(bytesDiffer(treeText(host + "byTool"), treeText(host + "byProgram")), "");
    EXPECT_EQ(bytesDiffer(treeText(site), treeText(host + "byTool")), "");
    EXPECT_EQ(boxes.closedBoxes().size(), 0u) << boxes.lastBoxScreen();
}

INSTANTIATE_TEST_SUITE_P(Servers, MirrorAlike, ::testing::Values(Server::pyftpdlib, Server::sshd),
                         [](const auto& info) { return info.param == Server::sshd ? "Sshd" : "Pyftpdlib"; });

}  // namespace
}  // namespace journeys
