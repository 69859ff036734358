// The session layer over FTP (a scripted server) and SFTP (OpenSSH's sshd): an operation
// hears the stop of the thread that runs it, and that thread's alone; a download or an
// upload replaces its target whole or not at all.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_flag.h"
#include "session/server_session.h"
#include "tests/support/processes.h"
#include "tests/support/real_sftp_server.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace test_support;
using namespace test_support::conversation;

enum class Protocol { ftp, sftp };

// A session to a server of the protocol, opened on a thread of its own whose stop flag
// is `flag`; over FTP the server plays a login, then `afterLogin`.
struct Opened {
    Opened(Protocol protocol, const std::atomic<bool>* flag, std::vector<ScriptStep> afterLogin) {
        session::ServerLogin login;  // a silence limit of 60 s
        if (protocol == Protocol::sftp) {
            sshd.emplace();
            EXPECT_EQ(sshd->server.error(), "");
            sshd->server.writeKnownHosts(KnownKey::serverKey);
            login.host = "sftp://127.0.0.1";
            login.port = std::uint32_t(sshd->server.port());
            login.user = sshd->server.user();
        } else {
            ftp.emplace(conversation::login() + afterLogin);
            login.host = ftp->address();
            login.user = "anonymous";
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
    std::optional<SshClient> sshd;
    std::unique_ptr<session::ServerSession> server;
};

class StopFlags : public ::testing::TestWithParam<Protocol> {};

// A Synchronize reading connects the place's session and ends; a Cancel that comes
// after must not stop the next browse, whose thread never heard of it.
TEST_P(StopFlags, AConnectingThreadsStopDoesNotStayWithItsSession) {
    auto flag = std::make_unique<std::atomic<bool>>(false);
    Opened opened(GetParam(), flag.get(), listing("/", ""));
    flag->store(true);
    flag.reset();
    const TemporaryFolder folder;
    EXPECT_EQ(opened.server->listToFile("/", folder / "listing"), 1) << opened.server->failureText();
}

// The Cancel of the thread that runs a download, not of the one that opened the session,
// is heard while the data flows: a download whose data never waits still ends.
TEST_P(StopFlags, ACancelEndsADownloadWhoseDataKeepsFlowing) {
    const std::string bytes = patternBytes(64 << 20);
    const TemporaryFolder folder;
    writeFile(folder / "f", bytes);
    Opened opened(GetParam(), nullptr,
                  {expect("TYPE I"), send("200 ok\r\n"), expect("PASV"), replyPassive(), acceptData(),
                   expect("RETR " + (folder / "f")), send("150 opening\r\n"), sendData(bytes), closeData(),
                   send("226 done\r\n")});
    std::atomic<bool> cancel = false, ended = false;
    session::TransferWatch watch;
    opened.server->watchTransfers(&watch);
    std::string result;
    std::thread downloading([&] {
        platform::setThreadStopFlag(&cancel);
        const bool done = opened.server->download(folder / "f", {.file = {folder.path(), "copy"}});
        result = done ? "done" : opened.server->failureText();
        ended = true;
    });
    while (watch.done == 0 && !ended) std::this_thread::yield();
    cancel = true;
    downloading.join();
    EXPECT_EQ(result, "Stopped.\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "copy"));
}

INSTANTIATE_TEST_SUITE_P(Protocols, StopFlags, ::testing::Values(Protocol::ftp, Protocol::sftp),
                         [](const auto& info) { return info.param == Protocol::ftp ? "Ftp" : "Sftp"; });

class WholeFiles : public ::testing::TestWithParam<Protocol> {};

// Each way a download can go wrong leaves the user's file byte for byte, with nothing of
// ours beside it, and says why: a file shorter or longer than announced; a link put in
// place of a folder on the way, or of the target, after the plan named them; a folder
// that takes no new inode, and a disk that fills up (tmpfs mounts, which need root:
// without, those rows are skipped, saying so); a folder, and a target, its user may not
// write (as nobody, in a child process, when the test runs as root). A whole file then
// replaces the target, with its source's permission bits.
TEST_P(WholeFiles, ADownloadReplacesItsTargetWholeOrNotAtAll) {
    const bool sftp = GetParam() == Protocol::sftp;
    const TemporaryFolder local, elsewhere;
    std::filesystem::permissions(local.path(), std::filesystem::perms::all);
    std::set<std::string> unmounted;
    for (const std::string folder : {"", "/sub", "/full", "/small", "/locked", "/ro"}) {
        std::filesystem::create_directories(local.path() + folder);
        const char* options = folder == "/full" ? "nr_inodes=2" : folder == "/small" ? "size=4096" : nullptr;
        if (options && mount("tmpfs", (local.path() + folder).c_str(), "tmpfs", 0, options) != 0)
            unmounted.insert(folder.substr(1) + "/target");
        writeFile(local.path() + folder + "/target", "precious");
        chmod((local.path() + folder + "/target").c_str(), folder == "/ro" ? 0444 : 0666);
    }
    symlink((local / "target").c_str(), (local / "link").c_str());
    const std::vector<std::string> before = names(local.path());
    const std::map<std::string, std::string> served = {
        {"a", "abc"}, {"b", "bbbbbb"}, {"d", patternBytes(8192)}, {"w", "whole"}};
    std::vector<ScriptStep> script = {expect("TYPE I"), send("200 ok\r\n")};
    for (const auto& [name, bytes] : served) {
        if (name == "d" && unmounted.count("small/target")) continue;
        script.insert(script.end(), {expect("PASV"), replyPassive(), acceptData(), expect("RETR /" + name),
                                     send("150 opening\r\n"), sendData(bytes), closeData(), send("226 done\r\n")});
    }
    Opened opened(GetParam(), nullptr, script);
    const std::string remote = sftp ? opened.sshd->server.home() + "/" : "/";
    for (const auto& [name, bytes] : served)
        if (sftp) writeFile(remote + name, bytes);
    if (sftp) chmod((remote + "w").c_str(), 0640);
    const struct {
        std::string remote, below, why;
        std::int64_t size = -1;
    } rows[] = {
        {"a", "target", "The file arrived with 3 bytes where the server announced 5", 5},
        {"b", "target", "The file arrived with 6 bytes where the server announced 1", 1},
        {"w", "sub/target", "sub is a link now"},
        {"w", "link", "link is a link now"},
        {"w", "full/target", "cannot create a temporary file in " + local / "full" + ": No space left on device"},
        {"d", "small/target", "Local file error: No space left on device"},
        {"w", "locked/target", "cannot create a temporary file in " + local / "locked" + ": Permission denied"},
        {"w", "ro/target", "cannot write ro/target: Permission denied"},
    };
    // The plan named sub a folder; it is a link by the time the download comes.
    std::filesystem::rename(local / "sub", elsewhere / "sub");
    symlink((elsewhere / "sub").c_str(), (local / "sub").c_str());
    chmod((local / "locked").c_str(), 0555);
    const auto attempt = [&](const auto& row) {
        if (opened.server->download(remote + row.remote, {.file = {local.path(), row.below}, .expectedSize = row.size}))
            return false;
        const std::string said = opened.server->failureText();
        EXPECT_EQ(said, row.why + "\n") << row.below;
        return said == row.why + "\n" && readFile(local.path() + "/" + row.below) == "precious";
    };
    // The last two rows run in the child, last of all: the session is the child's from there.
    for (std::size_t at = 0; at + 2 < std::size(rows); ++at) {
        if (unmounted.count(rows[at].below))
            std::cout << "[ SKIPPED  ] " << rows[at].below << ": no tmpfs can be mounted here (it needs root)\n";
        else EXPECT_TRUE(attempt(rows[at])) << rows[at].below;
    }
    ASSERT_EQ(opened.server->download(remote + "w", {.file = {local.path(), "target"}, .sourceMode = 0600}), 1)
        << opened.server->failureText();
    EXPECT_EQ(readFile(local / "target"), "whole");
    struct stat info {};
    EXPECT_EQ(lstat((local / "target").c_str(), &info) == 0 ? info.st_mode & 0777 : 0, sftp ? 0640u : 0600u);
    EXPECT_EQ(withoutRootRights([&] { return int(attempt(rows[6])) + int(attempt(rows[7])); }), 2);
    EXPECT_EQ(names(local.path()), before);
    EXPECT_EQ(readFile(elsewhere / "sub/target"), "precious");
    for (const char* folder : {"full", "small"}) umount((local / folder).c_str());
}

// A cut upload leaves the server's file byte for byte and its temporary file goes; a
// link in place of the local file is not read; a whole upload goes to a temporary name
// first (FTP: STOR of it, then RNFR and RNTO) and keeps the local file's bits (SFTP).
TEST_P(WholeFiles, AnUploadReplacesTheServersFileWholeOrNotAtAll) {
    const bool sftp = GetParam() == Protocol::sftp;
    const Script opening = {expect("PASV"), replyPassive(), acceptData(), expect("STOR /.farlink-*"),
                            send("150 go\r\n")};
    Opened opened(GetParam(), nullptr,
                  ask("TYPE I", "200 ok") + opening + closeData() + send("426 cut\r\n") +
                      ask("DELE /.farlink-*", "250 gone") + opening + receiveData() + send("226 done\r\n") +
                      ask("RNFR /.farlink-*", "350 go on") + ask("RNTO /f", "250 renamed") + bye());
    const std::string served = sftp ? opened.sshd->server.home() : "";
    if (sftp) writeFile(served + "/f", "the server's own");
    const TemporaryFolder local;
    const std::string bytes = patternBytes(4 << 20);
    writeFile(local / "big", bytes);
    chmod((local / "big").c_str(), 0600);
    symlink((local / "big").c_str(), (local / "link").c_str());
    session::ServerSession& server = *opened.server;
    EXPECT_EQ(server.upload({local.path(), "link"}, served + "/f"), 0);
    EXPECT_EQ(server.failureText(), "link is a link now\n");
    session::TransferWatch watch;
    watch.stop = sftp;  // FTP's server cuts the upload itself
    server.watchTransfers(&watch);
    EXPECT_EQ(server.upload({local.path(), "big"}, served + "/f"), 0);
    EXPECT_NE(server.failureText(), "");
    watch.stop = false;
    if (sftp) {
        EXPECT_EQ(readFile(served + "/f"), "the server's own");
        for (const std::string& name : names(served)) EXPECT_FALSE(name.starts_with(".farlink-")) << name;
    }
    ASSERT_EQ(server.upload({local.path(), "big"}, served + "/f"), 1) << server.failureText();
    server.watchTransfers(nullptr);
    if (!sftp) {
        server.quit(true);
        EXPECT_EQ(opened.ftp->finish(), "");
        return;
    }
    struct stat info {};
    EXPECT_TRUE(readFile(served + "/f") == bytes);
    EXPECT_EQ(stat((served + "/f").c_str(), &info) == 0 ? info.st_mode & 0777 : 0, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, WholeFiles, ::testing::Values(Protocol::ftp, Protocol::sftp),
                         [](const auto& info) { return info.param == Protocol::ftp ? "Ftp" : "Sftp"; });

}  // namespace
