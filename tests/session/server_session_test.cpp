// The session layer over FTP (a scripted server) and SFTP (OpenSSH's sshd): an operation
// hears the stop of the thread that runs it, and that thread's alone; a download or an
// upload replaces its target whole or not at all.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_flag.h"
#include "session/server_session.h"
#include "tests/support/processes.h"
#include "tests/support/real_sftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace test_support;

enum class Protocol { ftp, sftp };

// A session to a server of the protocol, opened on a thread of its own whose stop flag
// is `flag`; over FTP the server plays a login, then `afterLogin`.
struct Opened {
    Opened(Protocol protocol, const std::atomic<bool>* flag, std::vector<ScriptStep> afterLogin) {
        session::ServerLogin login;  // a silence limit of 60 s
        if (protocol == Protocol::sftp) {
            sshd.emplace();
            EXPECT_EQ(sshd->error(), "");
            sshd->writeKnownHosts(KnownKey::serverKey);
            home.emplace("HOME", sshd->home());
            login.host = "sftp://127.0.0.1";
            login.port = std::uint32_t(sshd->port());
            login.user = sshd->user();
        } else {
            std::vector<ScriptStep> script = {send("220 ready\r\n"), expect("USER anonymous"), send("331 password\r\n"),
                                              expect("PASS x"), send("230 in\r\n")};
            script.insert(script.end(), afterLogin.begin(), afterLogin.end());
            ftp.emplace(script);
            login.host = ftp->address();
            login.user = "anonymous";
            login.password = "x";
        }
        server = protocol == Protocol::sftp ? session::newSftpSession() : session::newFtpSession();
        std::thread([&] {
            platform::setThreadStopFlag(flag);
            session::OpenFailure failure = session::OpenFailure::none;
            std::string reason;
            EXPECT_EQ(server->open(login, failure, reason), 1) << reason;
            platform::setThreadStopFlag(nullptr);
        }).join();
    }

    std::optional<ScriptedFtpServer> ftp;
    std::optional<RealSftpServer> sshd;
    std::optional<ScopedVariable> home;
    ScopedVariable agent{"SSH_AUTH_SOCK", ""};
    std::unique_ptr<session::ServerSession> server;
};

class StopFlags : public ::testing::TestWithParam<Protocol> {};

// A Synchronize reading connects the place's session and ends; a Cancel that comes
// after must not stop the next browse, whose thread never heard of it.
TEST_P(StopFlags, AConnectingThreadsStopDoesNotStayWithItsSession) {
    auto flag = std::make_unique<std::atomic<bool>>(false);
    Opened opened(GetParam(), flag.get(),
                  {expect("CWD /"), send("250 ok\r\n"), expect("TYPE A"), send("200 ok\r\n"), expect("PASV"),
                   replyPassive(), acceptData(), expect("LIST -aL"), send("150 opening\r\n"), closeData(),
                   send("226 done\r\n"), expect("CWD /"), send("250 ok\r\n")});
    flag->store(true);
    flag.reset();
    const TemporaryFolder folder;
    EXPECT_EQ(opened.server->listToFile("/", folder / "listing"), 1) << opened.server->failureText();
}

// The server stops answering while a thread that did not open the session waits on it:
// that thread's Cancel ends the wait, long before the silence limit.
TEST_P(StopFlags, ACancelIsHeardOnASessionThatAnotherThreadOpened) {
    Opened opened(GetParam(), nullptr, {expect("NOOP")});
    if (opened.sshd) opened.sshd->freeze();
    std::atomic<bool> cancel = false;
    std::promise<std::string> ended;
    std::thread prober([&] {
        platform::setThreadStopFlag(&cancel);
        bool lost = false;
        ended.set_value(opened.server->probe(lost) ? "answered" : opened.server->failureText());
        platform::setThreadStopFlag(nullptr);
    });
    cancel = true;
    std::future<std::string> result = ended.get_future();
    const bool heard = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (opened.sshd) opened.sshd->thaw();
    prober.join();
    EXPECT_TRUE(heard) << "the Cancel was not heard";
    EXPECT_EQ(result.get(), "Stopped.\n");
}

INSTANTIATE_TEST_SUITE_P(Protocols, StopFlags, ::testing::Values(Protocol::ftp, Protocol::sftp),
                         [](const auto& info) { return info.param == Protocol::ftp ? "Ftp" : "Sftp"; });

class WholeFiles : public ::testing::TestWithParam<Protocol> {};

// The names in a folder, sorted, one a line.
std::string namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& name : names) text += name + "\n";
    return text;
}

// Each way a download can go wrong leaves the user's file byte for byte, with nothing of
// ours beside it, and says why: a file shorter or longer than announced; a link put in
// place of a folder on the way, or of the target, after the plan named them; a folder
// that takes no new inode (a tmpfs of two, which needs root: without, the row is skipped
// saying so); one its user may not write (as nobody, in a child process, when the test
// runs as root). A whole file then replaces the target, with its source's bits.
TEST_P(WholeFiles, ADownloadReplacesItsTargetWholeOrNotAtAll) {
    const bool sftp = GetParam() == Protocol::sftp;
    std::vector<ScriptStep> script = {expect("TYPE I"), send("200 ok\r\n")};
    for (const std::string bytes : {"abc", "bbbbbb", "whole"})
        script.insert(script.end(),
                      {expect("PASV"), replyPassive(), acceptData(), expect("RETR /" + bytes.substr(0, 1)),
                       send("150 opening\r\n"), sendData(bytes), closeData(), send("226 done\r\n")});
    Opened opened(GetParam(), nullptr, script);
    const std::string served = sftp ? opened.sshd->home() : "";
    for (const std::string bytes : {"abc", "bbbbbb", "whole"})
        if (sftp) writeFile(served + "/" + bytes.substr(0, 1), bytes);
    if (sftp) chmod((served + "/w").c_str(), 0640);
    const TemporaryFolder local, elsewhere;
    std::filesystem::permissions(local.path(), std::filesystem::perms::all);
    bool mounted = false;
    for (const std::string folder : {"", "/sub", "/full", "/locked"}) {
        std::filesystem::create_directories(local.path() + folder);
        if (folder == "/full") mounted = mount("tmpfs", (local / "full").c_str(), "tmpfs", 0, "nr_inodes=2") == 0;
        writeFile(local.path() + folder + "/target", "precious");
        chmod((local.path() + folder + "/target").c_str(), 0666);
    }
    symlink((local / "target").c_str(), (local / "link").c_str());
    const std::string names = namesIn(local.path());
    const struct {
        std::string remote, below, why;
        std::int64_t size;
    } rows[] = {
        {"/a", "target", "The file arrived with 3 bytes where the server announced 5", 5},
        {"/b", "target", "The file arrived with 6 bytes where the server announced 1", 1},
        {"/w", "sub/target", "sub is a link now", -1},
        {"/w", "link", "link is a link now", -1},
        {"/w", "full/target", "cannot create a temporary file in " + local / "full" + ": No space left on device", -1},
        {"/w", "locked/target", "cannot create a temporary file in " + local / "locked" + ": Permission denied", -1},
    };
    // The plan named sub a folder; it is a link by the time the download comes.
    std::filesystem::rename(local / "sub", elsewhere / "sub");
    symlink((elsewhere / "sub").c_str(), (local / "sub").c_str());
    chmod((local / "locked").c_str(), 0555);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.below);
        const session::DownloadTarget target{.file = {local.path(), row.below}, .expectedSize = row.size};
        std::string said;
        const auto attempt = [&] {
            if (opened.server->download(served + row.remote, target)) return 3;
            said = opened.server->failureText();
            return said == row.why + "\n" ? 1 : 2;
        };
        if (row.below == "full/target" && !mounted) {
            std::cout << "[ SKIPPED  ] a folder out of inodes: no tmpfs can be mounted here (it needs root)\n";
            continue;
        }
        if (row.below == "locked/target") {
            ASSERT_EQ(opened.server->download(served + "/w", {.file = {local.path(), "target"}, .sourceMode = 0600}), 1)
                << opened.server->failureText();
            EXPECT_EQ(readFile(local / "target"), "whole");
            struct stat info {};
            EXPECT_EQ(lstat((local / "target").c_str(), &info) == 0 ? info.st_mode & 0777 : 0, sftp ? 0640u : 0600u);
            EXPECT_EQ(withoutRootRights(attempt), 1);  // the session is the child's from here
        } else {
            EXPECT_EQ(attempt(), 1) << said;
            EXPECT_EQ(readFile(local.path() + "/" + row.below), "precious");
        }
    }
    EXPECT_EQ(namesIn(local.path()), names);
    EXPECT_EQ(readFile(local / "locked/target") + readFile(elsewhere / "sub/target"), "preciousprecious");
    umount((local / "full").c_str());
}

INSTANTIATE_TEST_SUITE_P(Protocols, WholeFiles, ::testing::Values(Protocol::ftp, Protocol::sftp),
                         [](const auto& info) { return info.param == Protocol::ftp ? "Ftp" : "Sftp"; });

}  // namespace
