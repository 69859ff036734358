// Connecting places: the Connection Manager on an injected clock, logins, edits, threads.
#include "remote/connect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ftp/ftp_commands.h"
#include "ftp/ftp_transfer.h"
#include "platform/connection_manager.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "remote/places.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"

namespace {

using platform::Key;
using platform::toUtf8;
using remote::SessionUse;
using namespace test_support;
using namespace test_support::conversation;

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

    std::vector<std::string> calls;
    platform::WaitResult ready = platform::WaitResult::signaled;
    std::uint32_t status = platform::connectionStatusConnected;
    int established = 1;
    platform::NetworkConnection lastConnection = 6;
};

std::atomic<std::uint32_t> now{0};
std::uint32_t fakeTicks() { return now.load(); }

int ensureConnected(int index) {
    SessionUse use = remote::useSession(index);
    return remote::ensureConnected(use);
}

// A loopback port where nothing listens.
std::string closedAddress() { return "127.0.0.1:" + std::to_string(freePort()); }

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

    TemporaryRegistry registry;
    FakeConnectionManager manager;
};

// The network is asked at most every 10 s, from the start on, whatever the last answer was.
TEST_F(Connect, TheNetworkIsCheckedAtMostEvery10Seconds) {
    addPlace("ftp.example.com:2121", {.user = "me", .password = "pw"});
    const std::uint32_t start = now;
    using platform::WaitResult;
    const std::vector<std::string> request = {
        "waitReady 5000", "mapUrl ftp://ftp.example.com:2121/",
        "establish size 64 parameters 1 flags 15 priority 32768 destination 9 within 30000"};
    const std::uint32_t connected = platform::connectionStatusConnected;
    const std::uint32_t disconnected = platform::connectionStatusDisconnected;
    const struct Step {
        std::uint32_t at;  // ms after the start
        WaitResult ready;
        std::uint32_t status;
        int established;
        std::vector<std::string> calls;
        std::string error;  // tag and text; " " for none, and then the result is 1
    } steps[] = {
        {10000, WaitResult::signaled, 0, 1, {}, " "},
        {10001, WaitResult::signaled, 0, 0, request, "(KVT-CTN-2) Unable to establish an Internet connection."},
        {20001, WaitResult::signaled, 0, 1, {}, " "},     // a failed check is not repeated at once either
        {20002, WaitResult::failed, 0, 1, request, " "},  // only a time-out stops
        {30003, WaitResult::signaled, connected, 1, {"status 7"}, " "},
        {40004,
         WaitResult::timeout,
         disconnected,
         1,
         {"status 7", "release 7 cached", "waitReady 5000"},
         "(KVT-CTN-1) Connection Manager Not Ready."},
        {50005, WaitResult::signaled, 0, 1, request, " "},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.at);
        now = start + step.at;
        manager.ready = step.ready;
        manager.status = step.status;
        manager.established = step.established;
        remote::FtpPlace& place = *remote::placeAt(0);
        remote::setPlaceError(place, u"", "");
        EXPECT_EQ(remote::bringUpNetwork(place), step.error == " " ? 1 : 0);
        EXPECT_EQ(std::exchange(manager.calls, {}), step.calls);
        EXPECT_EQ(placeError(0), step.error);
    }
    remote::shutdownRemote();
    EXPECT_EQ(manager.calls, std::vector<std::string>{"release 8 cached"});
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

// A refused login quits with the server's words; a server that never greets is given up
// after the place's time-out; a connection that failed (only an open one can be lost)
// is simply tried again. None of them asks anything.
TEST_F(Connect, AFailedConnectionSaysWhyAndAsksNothing) {
    const struct Case {
        const char* what;
        std::optional<Script> script;  // none: nothing listens
        std::string error;
    } cases[] = {
        {"refused login",
         Script{send("220 hello\r\n")} + ask("USER me", "331 password please") +
             ask("PASS pw", "530 Login incorrect.") + ask("QUIT", "221 bye"),
         "(KVT-FC-2) 530 Login incorrect.\n"},
        {"no greeting", Script{}, "(KVT-FC-1) The server did not answer within 300 ms; gave up waiting.\n"},
        {"nothing listens", std::nullopt, "(KVT-FC-1) unable to connect to server.\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        std::optional<ScriptedFtpServer> server;
        if (test.script) server.emplace(*test.script);
        addPlace(server ? server->address() : closedAddress(),
                 {.user = "me", .password = "pw", .autoReconnect = 0, .timeout = 300});
        HeadlessScreen screen{70, 12};  // a question asked would show on it
        std::string shown;
        screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
        for (int attempt = 0; attempt < (server ? 1 : 2); ++attempt) {
            EXPECT_EQ(ensureConnected(0), 0);
            EXPECT_EQ(placeError(0), test.error);
        }
        EXPECT_EQ(shown, "");
        if (server) {
            EXPECT_EQ(server->finish(), "");
        }
        remote::removePlace(0);
    }
}

// Data connections go where the control connection went, whatever address PASV names.
TEST_F(Connect, APassivePlaceTakesDataFromThePeerAddress) {
    ScriptedFtpServer server(login() + ask("TYPE I", "200 ok") + expect("PASV") + replyPassive("127,0,0,2") +
                             acceptData() + ask("RETR /f", "150 opening") + sendData("abc") + closeData() +
                             send("226 done\r\n") + expect("QUIT"));
    addPlace(server.address());
    TemporaryFolder folder;
    {
        SessionUse use = remote::useSession(0);
        ASSERT_EQ(remote::ensureConnected(use), 1) << placeError(0);
        EXPECT_EQ((*use.session)->download("/f", {.file = {folder.path(), "f"}}), 1) << (*use.session)->failureText();
    }
    EXPECT_EQ(readFile(folder / "f"), "abc");
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// Editing the connected place connects anew with the new settings. A copy runs on the
// place it was queued for: once that place names another server, its thread connects
// nowhere, even between two files of one copy, and says why.
TEST_F(Connect, AnEditedPlaceConnectsAnewButNotForACopyQueuedBefore) {
    const auto login = [](const std::string& greeting) {
        return Script{send(greeting)} + ask("USER me", "331 password please") + ask("PASS pw", "230 in");
    };
    // The UI thread's connection, then the copy's own.
    ScriptedFtpServer first(login("220 first\r\n") + acceptControl() + login("220 first\r\n") + expect("QUIT") +
                            useControl(0) + expect("QUIT"));
    ScriptedFtpServer second(login("220 second\r\n") + expect("QUIT"));
    addPlace(first.address(), {.user = "me", .password = "pw"});
    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
    std::thread([&] {  // a worker: its session of its own goes with it
        const std::shared_ptr<remote::FtpPlace> place = remote::placeAt(0);
        remote::pinPlaceForThread(place, remote::settingsOf(*place).revision);
        ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
        remote::PlaceDialogData data = *remote::placeDialogData(0, {});
        data.port = std::uint32_t(std::stoul(second.address().substr(second.address().rfind(':') + 1)));
        ASSERT_EQ(remote::applyPlaceDialogData(0, data), 1);
        EXPECT_EQ(ensureConnected(0), 0);
        EXPECT_EQ(placeError(0), "(KVT-FC-1) The Ftp Place this was queued for now names another server or user.\n");
        remote::pinPlaceForThread(nullptr, 0);
    })
        .join();
    ASSERT_EQ(ensureConnected(0), 1) << placeError(0);
    EXPECT_EQ(first.finish(), "");  // both told QUIT
    EXPECT_EQ(remote::placeAt(0)->session->lastMessage(), "230 in\n");
    remote::shutdownRemote();
    EXPECT_EQ(second.finish(), "");
}

// A stopped thread opens no connection at all, not even one it would leave at once.
TEST_F(Connect, AStoppedThreadConnectsNowhere) {
    int port = 0;
    int listener = listenOnLoopback(port);
    addPlace("127.0.0.1:" + std::to_string(port));
    std::atomic<bool> stop{true};
    platform::setThreadStopFlag(&stop);
    EXPECT_EQ(ensureConnected(0), 0);
    platform::setThreadStopFlag(nullptr);
    EXPECT_EQ(placeError(0), "(KVT-FC-1) Stopped.\n");
    int connection = acceptWithin(listener, 0);
    EXPECT_LT(connection, 0);
    closeIfOpen(connection);
    closeIfOpen(listener);
}

// Without the place's session lock the two threads' commands and replies would cross on the one
// connection and the script would break.
TEST_F(Connect, TwoThreadsTakeTurnsOnAPlacesSession) {
    constexpr int rounds = 20;
    Script script = login();
    // Each use sends its own NOOP; every ensureConnected but the first probes with one.
    for (int i = 0; i < 4 * rounds - 1; ++i) script = script + probe();
    script.push_back(expect("QUIT"));
    ScriptedFtpServer server(std::move(script));
    addPlace(server.address());
    std::atomic<int> failures{0};
    const auto work = [&failures] {
        for (int i = 0; i < rounds; ++i) {
            SessionUse use = remote::useSession(0);
            bool lost = false;
            if (!remote::ensureConnected(use) || !(*use.session)->probe(lost)) ++failures;
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(failures, 0);
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

int hookCalls = 0;
int hookResult = 0;
int addPlaceHook(int index, const explorer::OwnerRecord&) {
    ++hookCalls;
    if (!hookResult) return 0;
    return remote::applyPlaceDialogData(index, *remote::placeDialogData(index, {}));
}

TEST_F(Connect, WithoutPlacesTheUserIsOfferedANewOne) {
    remote::setEditPlaceHook(addPlaceHook);
    const struct Case {
        int index;
        Key answer;
        int hookResult;
        bool asked;
        bool saved;
    } table[] = {
        {0, Key::rightSoft, 1, true, false},  // No
        {0, Key::leftSoft, 0, true, false},   // Yes, then the editor is cancelled
        {1, Key::leftSoft, 1, false, false},  // another index: no question
        {0, Key::leftSoft, 1, true, true},    // Yes, and a place is made and saved
    };
    for (const Case& test : table) {
        SCOPED_TRACE(test.index);
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
        EXPECT_EQ(hookCalls, test.asked && test.answer == Key::leftSoft ? 1 : 0);
        EXPECT_EQ(storedValue(remote::placesKeyPath, u"0").exists, test.saved);
    }
    remote::setEditPlaceHook(nullptr);
}

}  // namespace
