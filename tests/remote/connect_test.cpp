// Connecting places: the Connection Manager's calls on an injected clock, login and its
// failures against the scripted server, lost connections and edits against real servers,
// and one place used from two threads.
#include "remote/connect.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp_commands.h"
#include "ftp/ftp_transfer.h"
#include "platform/connection_manager.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/places.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

using test_support::addPlace;
using test_support::placeError;

using platform::Key;
using platform::toUtf16;
using platform::toUtf8;
using remote::PlaceUse;
using namespace test_support;

// Records every call as a line and answers as told.
class FakeConnectionManager final : public platform::ConnectionManager {
public:
    platform::WaitResult waitReady(std::uint32_t milliseconds) override {
        calls.push_back("waitReady " + std::to_string(milliseconds));
        return ready;
    }
    std::uint32_t connectionStatus(platform::NetworkConnection connection) override {
        calls.push_back("status " + std::to_string(connection));
        return status;
    }
    platform::DestinationNetwork mapUrl(std::u16string_view url) override {
        calls.push_back("mapUrl " + toUtf8(url));
        return {9};
    }
    int establish(const platform::ConnectionRequest& request, platform::NetworkConnection& connection,
                  std::uint32_t timeoutMs, std::uint32_t& statusWord) override {
        calls.push_back("establish size " + std::to_string(request.size) + " parameters " +
                        std::to_string(request.parameters) + " flags " + std::to_string(request.flags) + " priority " +
                        std::to_string(request.priority) + " destination " + std::to_string(request.destination[0]) +
                        " within " + std::to_string(timeoutMs));
        statusWord = established ? platform::connectionStatusConnected : platform::connectionStatusDisconnected;
        connection = established ? ++lastConnection : platform::noNetworkConnection;
        return established;
    }
    void release(platform::NetworkConnection connection, bool cache) override {
        calls.push_back("release " + std::to_string(connection) + (cache ? " cached" : ""));
    }
    std::vector<std::string> takeCalls() { return std::exchange(calls, {}); }

    std::vector<std::string> calls;
    platform::WaitResult ready = platform::WaitResult::signaled;
    std::uint32_t status = platform::connectionStatusConnected;
    int established = 1;
    platform::NetworkConnection lastConnection = 6;
};

std::atomic<std::uint32_t> now{0};
std::uint32_t fakeTicks() { return now.load(); }

class Connect : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setConnectionManager(&manager);
        now = 0xFFFFF000;  // the rules hold across the tick count's wrap
        remote::startNetworkClock(fakeTicks);
    }
    void TearDown() override {
        remote::shutdownRemote();
        platform::setConnectionManager(nullptr);
    }

    static int ensureConnected(int index) {
        PlaceUse use = remote::usePlace(index);
        return remote::ensureConnected(use);
    }

    TemporaryRegistry registry;
    FakeConnectionManager manager;
};

// The network is asked at most every 10 s, from the start on, whatever the last answer was.
TEST_F(Connect, TheNetworkIsCheckedAtMostEvery10Seconds) {
    addPlace("ftp.example.com:2121", {.user = "me", .password = "pw"});
    const std::uint32_t start = now;
    struct Step {
        std::uint32_t at;  // ms after the start
        platform::WaitResult ready;
        std::uint32_t status;
        int established;
        std::vector<std::string> calls;
        int result;
        std::string error;  // tag and text, " " for none
    };
    using platform::WaitResult;
    const std::string request =
        "mapUrl ftp://ftp.example.com:2121/|establish size 64 parameters 1 flags 15 priority 32768 destination 9 "
        "within 30000";
    const auto lines = [](const std::string& text) {
        std::vector<std::string> result;
        for (std::size_t begin = 0, end; begin <= text.size(); begin = end + 1) {
            end = std::min(text.find('|', begin), text.size());
            result.push_back(text.substr(begin, end - begin));
        }
        return result;
    };
    const Step steps[] = {
        {10000, WaitResult::signaled, 0, 1, {}, 1, " "},
        {10001, WaitResult::signaled, 0, 0, lines("waitReady 5000|" + request), 0,
         "(KVT-CTN-2) Unable to establish an Internet connection."},
        {20001, WaitResult::signaled, 0, 1, {}, 1, " "},  // a failed check is not repeated at once either
        {20002, WaitResult::failed, 0, 1, lines("waitReady 5000|" + request), 1, " "},  // only a time-out stops
        {30003, WaitResult::signaled, platform::connectionStatusConnected, 1, {"status 7"}, 1, " "},
        {40004,
         WaitResult::timeout,
         platform::connectionStatusDisconnected,
         1,
         {"status 7", "release 7 cached", "waitReady 5000"},
         0,
         "(KVT-CTN-1) Connection Manager Not Ready."},
        {50005, WaitResult::signaled, 0, 1, lines("waitReady 5000|" + request), 1, " "},
    };
    for (const Step& step : steps) {
        now = start + step.at;
        manager.ready = step.ready;
        manager.status = step.status;
        manager.established = step.established;
        PlaceUse use = remote::usePlace(0);
        use.place->errorTag.clear();
        use.place->errorText.clear();
        EXPECT_EQ(remote::bringUpNetwork(*use.place), step.result) << step.at;
        EXPECT_EQ(manager.takeCalls(), step.calls) << step.at;
        EXPECT_EQ(toUtf8(use.place->errorTag) + " " + use.place->errorText, step.error) << step.at;
    }
    remote::shutdownRemote();
    EXPECT_EQ(manager.takeCalls(), std::vector<std::string>{"release 8 cached"});
}

// Whatever the host's interfaces, a server on this host is always reachable.
TEST(HostConnectionManager, ALoopbackDestinationIsAlwaysConnected) {
    platform::ConnectionManager& host = platform::connectionManager();
    for (const char16_t* url :
         {u"ftp://127.0.0.1:21/", u"ftp://127.4.5.6:2121/", u"ftp://localhost:21/", u"ftp://LocalHost:65535/"}) {
        platform::ConnectionRequest request;
        request.destination = host.mapUrl(url);
        platform::NetworkConnection connection = platform::noNetworkConnection;
        std::uint32_t status = 0;
        EXPECT_EQ(host.establish(request, connection, 30000, status), 1) << toUtf8(url);
        EXPECT_EQ(status, platform::connectionStatusConnected) << toUtf8(url);
        EXPECT_EQ(host.connectionStatus(connection), platform::connectionStatusConnected) << toUtf8(url);
    }
    EXPECT_NE(host.mapUrl(u"ftp://128.0.0.1:21/"), host.mapUrl(u"ftp://127.0.0.1:21/"));
    EXPECT_NE(host.mapUrl(u"ftp://localhost.example.com:21/"), host.mapUrl(u"ftp://localhost:21/"));
}

TEST_F(Connect, ARefusedLoginShowsTheServersWordsAndQuits) {
    ScriptedFtpServer server({send("220 hello\r\n"), expect("USER me"), send("331 password please\r\n"),
                              expect("PASS wrong"), send("530 Login incorrect.\r\n"), expect("QUIT"),
                              send("221 bye\r\n")});
    addPlace(server.address(), {.user = "me", .password = "wrong"});
    EXPECT_EQ(ensureConnected(0), 0);
    EXPECT_EQ(placeError(0), "(KVT-FC-2) 530 Login incorrect.\n");
    EXPECT_EQ(server.finish(), "");
}

TEST_F(Connect, AServerThatNeverGreetsIsGivenUpAfterThePlacesTimeOut) {
    ScriptedFtpServer server({});
    addPlace(server.address(), {.user = "me", .password = "pw", .timeout = 300});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ensureConnected(0), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(placeError(0), "(KVT-FC-1) The server did not answer within 300 ms; gave up waiting.\n");
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_EQ(server.finish(), "");
}

// Only a connection that is still open can have been lost: a failed attempt is simply
// made again.
TEST_F(Connect, AFailedConnectionIsTriedAgainWithoutAQuestion) {
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(getsockname(closed, reinterpret_cast<sockaddr*>(&address), &size), 0);
    close(closed);  // nothing listens there now
    addPlace("127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
             {.user = "me", .password = "pw", .autoReconnect = 0});

    HeadlessScreen screen{70, 12};
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(ensureConnected(0), 0);
        EXPECT_EQ(placeError(0), "(KVT-FC-1) unable to connect to server.\n") << attempt;
    }
    EXPECT_EQ(shown, "");
}

// Data connections go where the control connection went, whatever address PASV names.
TEST_F(Connect, APassivePlaceTakesDataFromThePeerAddress) {
    ScriptedFtpServer server({send("220 hello\r\n"), expect("USER anonymous"), send("230 in\r\n"), expect("TYPE I"),
                              send("200 ok\r\n"), expect("PASV"), replyPassive("127,0,0,2"), acceptData(),
                              expect("RETR /f"), send("150 opening\r\n"), sendData("abc"), closeData(),
                              send("226 done\r\n"), expect("QUIT")});
    addPlace(server.address());
    TemporaryFolder folder;
    {
        PlaceUse use = remote::usePlace(0);
        ASSERT_EQ(remote::ensureConnected(use), 1) << use.place->errorText;
        EXPECT_EQ(ftp::download(*use.place->session, folder / "f", "/f", 'I', 0), 1)
            << ftp::lastReply(*use.place->session);
    }
    EXPECT_EQ(readFile(folder / "f"), "abc");
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

TEST_F(Connect, EditingTheConnectedPlaceConnectsAnewWithTheNewSettings) {
    const auto login = [](const std::string& greeting) {
        return std::vector<ScriptStep>{send(greeting),    expect("USER me"),  send("331 password please\r\n"),
                                       expect("PASS pw"), send("230 in\r\n"), expect("QUIT")};
    };
    ScriptedFtpServer first(login("220 first\r\n"));
    ScriptedFtpServer second(login("220 second\r\n"));
    addPlace(first.address(), {.user = "me", .password = "pw"});
    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);

    remote::PlaceDialogData data = *remote::placeDialogData(0, {});
    data.port = std::uint32_t(std::stoul(second.address().substr(second.address().rfind(':') + 1)));
    ASSERT_EQ(remote::applyPlaceDialogData(0, data), 1);
    EXPECT_FALSE(remote::placeAt(0)->session);
    EXPECT_EQ(first.finish(), "");  // told QUIT

    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
    EXPECT_STREQ(ftp::lastReply(*remote::placeAt(0)->session), "230 in\n");
    remote::shutdownRemote();
    EXPECT_EQ(second.finish(), "");
}

// Without the place's lock the two threads' commands and replies would cross on the one
// connection and the script would break.
TEST_F(Connect, TwoThreadsTakeTurnsOnAPlacesSession) {
    constexpr int rounds = 20;
    std::vector<ScriptStep> script = {send("220 hello\r\n"), expect("USER anonymous"), send("230 in\r\n")};
    // Each use sends its own NOOP; every ensureConnected but the first probes with one.
    for (int i = 0; i < 4 * rounds - 1; ++i) {
        script.push_back(expect("NOOP"));
        script.push_back(send("200 ok\r\n"));
    }
    script.push_back(expect("QUIT"));
    ScriptedFtpServer server(std::move(script));
    addPlace(server.address());
    std::atomic<int> failures{0};
    const auto work = [&failures] {
        for (int i = 0; i < rounds; ++i) {
            PlaceUse use = remote::usePlace(0);
            if (!remote::ensureConnected(use) || !ftp::sendSimple(*use.place->session, "NOOP")) ++failures;
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(failures, 0);
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

struct NoPlacesCase {
    int index;
    Key answer;
    int hookResult;
    bool asked;
    bool saved;
};

int hookCalls = 0;
int hookResult = 0;
int addPlaceHook(int index, const explorer::OwnerRecord&) {
    ++hookCalls;
    if (!hookResult) return 0;
    return remote::applyPlaceDialogData(index, *remote::placeDialogData(index, {}));
}

TEST_F(Connect, WithoutPlacesTheUserIsOfferedANewOne) {
    remote::setEditPlaceHook(addPlaceHook);
    const NoPlacesCase table[] = {
        {0, Key::rightSoft, 1, true, false},  // No
        {0, Key::leftSoft, 0, true, false},   // Yes, then the editor is cancelled
        {1, Key::leftSoft, 1, false, false},  // another index: no question
        {0, Key::leftSoft, 1, true, true},    // Yes, and a place is made and saved
    };
    for (const NoPlacesCase& test : table) {
        remote::shutdownRemote();
        HeadlessScreen screen{70, 12};
        std::string shown;
        screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
        screen.terminal.pressKey(test.answer);
        hookCalls = 0;
        hookResult = test.hookResult;
        EXPECT_EQ(ensureConnected(test.index), 0);
        EXPECT_EQ(shown.find("No Ftp Places exist, would you like to add a new Ftp Place?") != std::string::npos,
                  test.asked)
            << shown;
        EXPECT_EQ(hookCalls, test.asked && test.answer == Key::leftSoft ? 1 : 0) << test.index;
        EXPECT_EQ(storedValue(remote::placesKeyPath, u"0").exists, test.saved) << test.index;
    }
    remote::setEditPlaceHook(nullptr);
}

// Real servers end the connection after QUIT, as they do after an idle time-out.
void dropFromTheServerSide(int index) {
    PlaceUse use = remote::usePlace(index);
    ftp::sendCommand("QUIT", '2', use.place->session->control);
}

class RealServerConnect : public Connect, public ::testing::WithParamInterface<FtpServerKind> {
protected:
    void SetUp() override {
        Connect::SetUp();
        ASSERT_EQ(server.error(), "");
        writeFile(server.hostPath("f"), "content");
    }
    int download(int index) {
        PlaceUse use = remote::usePlace(index);
        return ftp::download(*use.place->session, folder / "copy", server.remotePath("f"), 'I', 0) &&
               readFile(folder / "copy") == "content";
    }

    TemporaryFolder root;
    TemporaryFolder folder;
    RealFtpServer server{GetParam(), root.path()};
};

TEST_P(RealServerConnect, ADroppedConnectionIsMadeAgainWithoutAQuestion) {
    addPlace(server.address(), {.user = server.user(), .password = server.password()});
    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
    ASSERT_TRUE(download(0));
    dropFromTheServerSide(0);

    HeadlessScreen screen{70, 12};
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
    EXPECT_EQ(shown, "");
    EXPECT_TRUE(download(0));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerConnect, ::testing::Values(FtpServerKind::Pyftpdlib, FtpServerKind::Vsftpd),
                         [](const auto& info) {
                             return std::string(info.param == FtpServerKind::Pyftpdlib ? "Pyftpdlib" : "Vsftpd");
                         });

class AskingServerConnect : public RealServerConnect {};

TEST_P(AskingServerConnect, ADroppedConnectionIsMadeAgainOnlyWhenTheUserSaysSo) {
    addPlace(server.address(), {.user = server.user(), .password = server.password(), .autoReconnect = 0});
    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
    for (const Key answer : {Key::rightSoft, Key::leftSoft}) {
        dropFromTheServerSide(0);
        HeadlessScreen screen{70, 12};
        std::string shown;
        screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
        screen.terminal.pressKey(answer);
        EXPECT_EQ(ensureConnected(0), answer == Key::leftSoft ? 1 : 0) << placeError(0);
        EXPECT_NE(shown.find("Connect - Farlink"), std::string::npos) << shown;
        EXPECT_NE(shown.find("disconnected would you like to re-connect?"), std::string::npos) << shown;
        EXPECT_EQ(placeError(0), " ");  // a No is no failure to report
    }
    EXPECT_TRUE(download(0));
}

INSTANTIATE_TEST_SUITE_P(Servers, AskingServerConnect, ::testing::Values(FtpServerKind::Pyftpdlib),
                         [](const auto&) { return std::string("Pyftpdlib"); });

}  // namespace
