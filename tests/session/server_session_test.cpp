// The session layer's stop flags, over FTP (a scripted server) and SFTP (OpenSSH's sshd):
// an operation hears the stop of the thread that runs it, and that thread's alone.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/stop_flag.h"
#include "session/server_session.h"
#include "tests/support/real_sftp_server.h"
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
            EXPECT_EQ(sshd->server.error(), "");
            sshd->server.writeKnownHosts(KnownKey::serverKey);
            login.host = "sftp://127.0.0.1";
            login.port = std::uint32_t(sshd->server.port());
            login.user = sshd->server.user();
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
    std::optional<SshClient> sshd;
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
    if (opened.sshd) opened.sshd->server.freeze();
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
    if (opened.sshd) opened.sshd->server.thaw();
    prober.join();
    EXPECT_TRUE(heard) << "the Cancel was not heard";
    EXPECT_EQ(result.get(), "Stopped.\n");
}

INSTANTIATE_TEST_SUITE_P(Protocols, StopFlags, ::testing::Values(Protocol::ftp, Protocol::sftp),
                         [](const auto& info) { return info.param == Protocol::ftp ? "Ftp" : "Sftp"; });

}  // namespace
