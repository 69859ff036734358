// The engine against the scripted server: each test checks the engine's result, its
// reply text and the exact conversation the server saw.
#include "ftp/ftp_commands.h"
#include "ftp/ftp_data.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_transfer.h"
#include "ftp/server_to_server.h"
#include "tests/support/engine_files.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace {

using namespace ftp;
using namespace test_support;
using Script = std::vector<ScriptStep>;

// The server's side of a transfer's opening, up to its 1xx reply. An empty `type`: the
// session is in the type already, and sends no TYPE.
Script passiveOpening(const std::string& type, const std::string& command) {
    Script script = {expect("PASV"), replyPassive(), acceptData(), expect(command), send("150 opening\r\n")};
    if (!type.empty()) script.insert(script.begin(), {expect("TYPE " + type), send("200 ok\r\n")});
    return script;
}

class Engine : public ::testing::Test {
protected:
    void TearDown() override { release(session); }
    // Starts a server that greets, then plays `parts` one after the other, and connects.
    void start(std::initializer_list<Script> parts) {
        Script script = {send("220 ready\r\n")};
        for (const Script& part : parts) script.insert(script.end(), part.begin(), part.end());
        server.emplace(std::move(script));
        ASSERT_EQ(1, openControl(session, server->address())) << reply();
    }
    // Closes the client's end; returns the server's verdict on the conversation.
    std::string finish() {
        release(session);
        return server->finish();
    }
    std::string reply() const { return lastReply(session); }

    FtpSession session = createSession();
    TemporaryFolder folder;
    std::optional<ScriptedFtpServer> server;
};

// --- control connection ---

TEST_F(Engine, OpensByHostNameAndReadsAMultiLineGreetingToItsOwnCode) {
    server.emplace(Script{send("220-Welcome\r\n"), send("230 other code\r\n220-same code, dash\r\n 220 indented\r\n"),
                          send("22"), send("0 ready\r\n")});
    // The port is read as a decimal number modulo 65536.
    const int port = std::stoi(server->address().substr(server->address().find(':') + 1));
    EXPECT_EQ(1, openControl(session, "localhost:" + std::to_string(port + 65536))) << reply();
    EXPECT_EQ("220 ready\n", reply());
    EXPECT_EQ("", finish());
}

TEST_F(Engine, FailedOpeningsSayWhyAndKeepNoSocket) {
    server.emplace(Script{send("421 too many users\r\n")});
    const std::string nobodyListens = "127.0.0.1:" + std::to_string(freePort());
    const std::pair<std::string, std::string> cases[] = {
        {server->address(), "421 too many users\n"},
        {"127.0.0.1:", "unable to get port number.\n"},
        {"127.0.0.1:x21", "unable to get port number.\n"},
        {nobodyListens, "unable to connect to server.\n"},
        {"[" + nobodyListens, "unable to resolve host address.\n"},
        {"[::1]x21", "unable to resolve host address.\n"},
        {"[::1]:x21", "unable to get port number.\n"},
        {"[::1]:", "unable to get port number.\n"},
        {"::1:x", "unable to resolve host address.\n"},
        {"[127.0.0.1]" + nobodyListens.substr(9), "unable to connect to server.\n"}};
    for (const auto& [host, expected] : cases) {
        EXPECT_EQ(0, openControl(session, host)) << host;
        EXPECT_EQ(expected, reply()) << host;
        EXPECT_EQ(0, session.control->socket) << host;
    }
    EXPECT_EQ("", finish());
}

TEST_F(Engine, ReceiveLineHandsOutLongLinesInPiecesAndKeepsLoneCr) {
    start({{send(std::string(300, 'a') + "\r\nbare\nlone\rcr\r\npartial"), closeControl()}});
    char line[replySize];
    const std::string expected[] = {std::string(255, 'a'), std::string(45, 'a') + "\n", "bare\n", "lone\rcr\n",
                                    "partial"};
    for (const std::string& text : expected) {
        EXPECT_EQ(int(text.size()), receiveLine(line, replySize, session.control));
        EXPECT_EQ(text, line);
    }
    EXPECT_EQ(-1, receiveLine(line, replySize, session.control));
    EXPECT_EQ("", finish());
}

TEST_F(Engine, IdleCallbackBoundsTheConnectAndTheWaitForTheGreeting) {
    // A listener whose queue is full leaves further connection attempts unanswered.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t size = sizeof address;
    bind(listener, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    listen(listener, 0);
    const std::string fullListener = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const int queued = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(0, ::connect(queued, reinterpret_cast<sockaddr*>(&address), sizeof address));
    server.emplace(Script{send("22")});  // half a greeting, then silence

    int calls = 0;
    session.control->idleCallback = [](void* context) { return int(++*static_cast<int*>(context) < 3); };
    session.control->callbackContext = &calls;
    session.control->idleMicroseconds = 20000;
    for (const std::string& host : {fullListener, server->address()}) {
        calls = 0;
        EXPECT_EQ(0, openControl(session, host)) << host;
        EXPECT_EQ(3, calls) << host;
    }
    EXPECT_EQ("timed out waiting for the server's reply\n", reply());
    EXPECT_EQ("", finish());
    close(queued);
    close(listener);
}

// --- commands ---

TEST_F(Engine, LogInFollowsTheClassOfEachReply) {
    const std::string longest(maxLoginLength, 'u');
    start({{expect("USER open"), send("230 no password needed\r\n"), expect("USER acct"), send("331 password\r\n"),
            expect("PASS pw"), send("332 need account\r\n"), expect("USER bad"), send("530 not allowed\r\n"),
            expect("USER " + longest), send("331 password\r\n"), expect("PASS pw"), send("230 in\r\n")}});
    std::string trace;
    session.control->traceCallback = [](const char* text, void* context, int received) {
        *static_cast<std::string*>(context) += (received ? "S: " : "C: ") + std::string(text) + (received ? "" : "\n");
    };
    session.control->callbackContext = &trace;
    EXPECT_EQ(1, logIn(session, "open", "never sent"));
    EXPECT_EQ("C: USER open\nS: 230 no password needed\r\n", trace);
    EXPECT_EQ(0, logIn(session, "acct", "pw"));
    EXPECT_EQ(0, logIn(session, "bad", "pw"));
    EXPECT_EQ("530 not allowed\n", reply());
    EXPECT_EQ(0, logIn(session, longest + "u", "pw"));
    EXPECT_EQ("530 not allowed\n", reply());
    EXPECT_EQ(1, logIn(session, longest, "pw"));
    EXPECT_EQ("", finish());
}

// A time is set with MFMT where FEAT lists it, else with MDTM's set form; FEAT is asked
// once per connection, and a server that knows neither says so by its refusal.
TEST_F(Engine, TimesAreSetWithMfmtWhereFeatListsItElseWithMdtm) {
    start({{expect("FEAT"), send("211-Features:\r\n MDTM\r\n MFMT\r\n211 End\r\n"), expect("MFMT 20240102030405 /f"),
            send("213 Modify=20240102030405; /f\r\n"), expect("MFMT 19700101000000 /g"), send("550 no such file\r\n"),
            acceptControl(), send("220 again\r\n"), expect("FEAT"), send("500 unknown\r\n"),
            expect("MDTM 20240102030405 /f"), send("502 not here\r\n")}});
    EXPECT_EQ(1, setModificationTime(session, "/f", 1704164645)) << reply();
    EXPECT_EQ(0, setModificationTime(session, "/g", 0));
    ASSERT_EQ(1, openControl(session, server->address())) << reply();
    EXPECT_EQ(-1, setModificationTime(session, "/f", 1704164645));
    EXPECT_EQ("", finish());
}

TEST_F(Engine, OverlongArgumentsAndARefusedRenameSendNothingMore) {
    const std::string path250(250, 'p');
    start({{expect("MKD " + path250), send("257 made\r\n"), expect("RNFR /missing"), send("550 no such file\r\n"),
            expect("NOOP" + std::string(251, ' ')), send("200 ok\r\n"), expect("TYPE I"), send("200 ok\r\n")},
           passiveOpening("", "RETR " + path250),
           {closeData(), send("226 done\r\n")}});
    EXPECT_EQ(1, makeFolder(session, path250));
    EXPECT_EQ(0, makeFolder(session, path250 + "p"));
    EXPECT_EQ("257 made\n", reply());
    EXPECT_EQ(0, renamePath(session, "/missing", "/new"));
    EXPECT_EQ("550 no such file\n", reply());
    EXPECT_EQ(1, sendSimple(session, "NOOP" + std::string(300, ' ')));
    // A transfer line of 256 characters is refused after its TYPE; one of 255 goes out.
    EXPECT_EQ(0, download(session, folder / "a", path250 + "p", 'I', 0));
    EXPECT_EQ(1, download(session, folder / "b", path250, 'I', 0)) << reply();
    EXPECT_EQ("", finish());
}

TEST_F(Engine, LineBreaksInArgumentsAreRefusedBeforeAnythingIsSent) {
    start({});
    const std::string local = folder / "kept";
    FtpSession sameServer = session;
    const std::string bad[] = {"a\r\nDELE x", "a\nb", std::string("a\0b", 3)};
    for (const std::string& text : bad) {
        SCOPED_TRACE(text);
        const int results[] = {logIn(session, text, "pw"),
                               logIn(session, "user", text),
                               makeFolder(session, text),
                               changeFolder(session, text),
                               removeFolder(session, text),
                               deleteFile(session, text),
                               renamePath(session, "/a", text),
                               sendSimple(session, text),
                               download(session, local, text, 'I', 0),
                               download(session, local, text, 'I', 5),
                               upload(session, local, text, 'I'),
                               listToFile(session, local + ".list", text),
                               serverToServer(session, sameServer, text, "/b", 'I', 0)};
        for (int result : results) EXPECT_EQ(0, result);
        EXPECT_EQ("Invalid character in command argument\n", reply());
    }
    EXPECT_EQ("", finish());
}

// A program started meanwhile (the opener of a file) must not inherit the connection: it
// would hold the server's session open after we closed it.
TEST_F(Engine, NoProgramInheritsTheConnectionAndQuitClosesEvenOneTheServerDropped) {
    start({{closeControl()}});
    ASSERT_EQ(0, std::system(("ls -l /proc/self/fd/ >" + (folder / "inherited")).c_str()));
    EXPECT_EQ(std::string::npos, readFile(folder / "inherited").find("socket:")) << readFile(folder / "inherited");
    EXPECT_EQ(1, quit(session, 1));
    EXPECT_EQ(0, session.control->socket);
    EXPECT_EQ(0, quit(session, 0));
    EXPECT_EQ("error: no anwser from server\n", reply());
    EXPECT_EQ("", finish());
}

TEST_F(Engine, ALongReplyLineKeepsItsFirstPieceAndDropsTheRest) {
    const std::string made = "257 \"" + std::string(300, 'm') + "\" created";
    // The tail of a long continuation line must not end the reply early.
    const std::string continued = "250-" + std::string(251, 'c') + "250 not the end\r\n250 changed\r\n";
    start({{expect("MKD m"), send(made + "\r\n"), expect("CWD m"), send(continued), expect("NOOP"),
            send("200 " + std::string(400, 'n') + "\r\n"), expect("DELE m"), send("550 no such file\r\n")}});
    EXPECT_EQ(1, makeFolder(session, "m"));
    EXPECT_EQ(made.substr(0, replySize - 1), reply());
    EXPECT_EQ(1, changeFolder(session, "m")) << reply();
    EXPECT_EQ("250 changed\n", reply());
    EXPECT_EQ(1, sendSimple(session, "NOOP"));
    EXPECT_EQ(0, deleteFile(session, "m"));
    EXPECT_EQ("550 no such file\n", reply());
    EXPECT_EQ("", finish());
}

// A server that streams a reply without end, in lines or in one line, or that falls
// silent, holds the engine no longer than its bounds, or than a stop of the caller, who
// once stopped sends nothing.
TEST_F(Engine, AnEndlessReplyOrAStopEndsTheWait) {
    std::string manyLines;
    for (int i = 0; i <= maxReplyLines; ++i) manyLines += "211-feature\r\n";
    const struct Case {
        const char* what;
        std::string reply;
        int stopAfterMs;  // -1: never
        const char* text;
    } cases[] = {
        {"more lines than a reply has", manyLines + "211 end\r\n", -1, "The server's reply went on beyond"},
        {"one line without end", "211-" + std::string(maxReplyBytes + 4096, 'x'), -1,
         "The server's reply line went on beyond"},
        {"silence, then a stop", "211-a first line\r\n", 300, "timed out waiting for the server's reply"},
        {"a stop before the command", "211 end\r\n", 0, "stopped before sending the next command"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        start({{expect("FEAT"), send(test.reply)}});
        std::atomic<bool> stop{test.stopAfterMs == 0};
        session.control->stop = &stop;
        session.control->idleCallback = [](void*) { return 1; };  // silence alone never gives up
        session.control->idleSeconds = 60;
        std::thread stopper([&] {
            if (test.stopAfterMs <= 0) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(test.stopAfterMs));
            stop = true;
        });
        EXPECT_EQ(0, sendCommand("FEAT", '2', session.control));
        EXPECT_TRUE(reply().starts_with(test.text)) << reply();
        stopper.join();
        release(session);
        server->finish();
        session = createSession();
    }
}

// --- data connections and transfers ---

// MDTM's answer is read exactly as RFC 3659 writes it, in UTC; anything else gives no
// time rather than a wrong one.
TEST(ModificationReply, ReadsOnlyTheExactFormWithADateThatExists) {
    const std::pair<const char*, std::int64_t> replies[] = {
        {"213 20240229235958.123\n", 1709251198},
        {"213 20230229000000\n", -1},   // not a leap year
        {"213 2024022923595\n", -1},    // 13 digits
        {"213 191240101000000\n", -1},  // the old "19" + years since 1900
        {"213 20240101240000\n", -1},   // hour 24
        {"213 19691231235959\n", -1},   // before 1970
        {"213 20240101000000 GMT\n", -1},
        {"550 20240101000000\n", -1},
    };
    for (const auto& [reply, time] : replies) EXPECT_EQ(time, parseModificationReply(reply)) << reply;
}

TEST(PassiveAddress, ReadsSixNumbersAfterTheParenthesis) {
    std::uint8_t address[6];
    ASSERT_TRUE(parsePassiveAddress("227 Entering Passive Mode (192,168,1,10,19,137).", address));
    EXPECT_EQ((std::vector<int>{19, 137, 192, 168, 1, 10}), std::vector<int>(address, address + 6));
    EXPECT_TRUE(parsePassiveAddress("227 =( 10, 0, 0, 1, 4, 1)", address));
    const char* refused[] = {"227 Entering Passive Mode 127,0,0,1,4,1",
                             "227 (127,0,0,1,4)",
                             "227 (127,0,0,1,4,256)",
                             "227 (127,0,0,1,4,)",
                             "227 (127,0,0,1,-4,1)",
                             "227 (127,0,0,1,40000,1)"};
    for (const char* reply : refused) EXPECT_FALSE(parsePassiveAddress(reply, address)) << reply;
}

TEST(ExtendedPassivePort, ReadsThePortBetweenTheDelimitersOnly) {
    const std::pair<const char*, int> accepted[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", 6446}, {"229 (!!!1!).", 1}, {"229 (###65535#) ok", 65535}};
    for (const auto& [reply, expected] : accepted) {
        std::uint16_t port = 0;
        EXPECT_TRUE(parseExtendedPassivePort(reply, port)) << reply;
        EXPECT_EQ(expected, port) << reply;
    }
    const char* refused[] = {"229 Entering Extended Passive Mode |||6446|",
                             "229 (|||0|)",
                             "229 (|||65536|)",
                             "229 (|||0006446|)",
                             "229 (||6446|)",
                             "229 (|!|6446|)",
                             "229 (|||6446!)",
                             "229 (|||6446|",
                             "229 (||||)",
                             "229 (1116441)",
                             "229 (",
                             "229 x (y) (|||6446|)"};  // the first '(' is the one read
    for (const char* reply : refused) {
        std::uint16_t port = 0;
        EXPECT_FALSE(parseExtendedPassivePort(reply, port)) << reply;
    }
}

// A server that does not know PASV (500, 502) is asked EPSV, and is not asked PASV again
// on that connection; any other refusal, or a malformed reply (which ones: the table
// above), is the transfer's failure. A new connection starts with PASV again.
TEST_F(Engine, PassiveRefusedAsUnknownFallsBackToEpsvForTheConnection) {
    const auto refused = [](const std::string& refusal) { return Script{expect("PASV"), send(refusal)}; };
    const Script type = {expect("TYPE I"), send("200 ok\r\n")};
    const auto extended = [](const std::string& command) {
        return Script{expect("EPSV"),          replyExtendedPassive(), acceptData(), expect(command),
                      send("150 opening\r\n"), sendData(command),      closeData(),  send("226 done\r\n")};
    };
    const std::string malformed = "229 Entering Extended Passive Mode (|||70000|)";
    start({type,
           refused("530 Not logged in\r\n"),
           refused("501 Syntax error\r\n"),
           refused("5021 odd\r\n"),
           refused("227 (127,0,0,1,300,1)\r\n"),
           refused("500 'PASV': command not understood\r\n"),
           extended("RETR /a"),
           extended("RETR /b"),
           {expect("EPSV"), send(malformed + "\r\n")},
           {acceptControl(), send("220 again\r\n")},
           type,
           refused("502 Command not implemented\r\n"),
           extended("RETR /c")});
    EXPECT_EQ(0, download(session, folder / "a", "/a", 'I', 0));
    EXPECT_EQ("530 Not logged in\n", reply());
    EXPECT_EQ(0, download(session, folder / "a", "/a", 'I', 0));
    EXPECT_EQ("501 Syntax error\n", reply());
    EXPECT_EQ(0, download(session, folder / "a", "/a", 'I', 0));
    EXPECT_EQ(0, download(session, folder / "x", "/x", 'I', 0));
    EXPECT_EQ("227 (127,0,0,1,300,1)\n", reply());
    EXPECT_EQ(1, download(session, folder / "a", "/a", 'I', 0)) << reply();
    EXPECT_EQ("RETR /a", readFile(folder / "a"));
    EXPECT_EQ(1, download(session, folder / "b", "/b", 'I', 0)) << reply();
    EXPECT_EQ("RETR /b", readFile(folder / "b"));
    EXPECT_EQ(0, download(session, folder / "x", "/x", 'I', 0));
    EXPECT_EQ(malformed + "\n", reply());
    ASSERT_EQ(1, openControl(session, server->address())) << reply();
    EXPECT_EQ(1, download(session, folder / "c", "/c", 'I', 0)) << reply();
    EXPECT_EQ("RETR /c", readFile(folder / "c"));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), names(folder.path()));
    EXPECT_EQ("", finish());
}

TEST_F(Engine, AFailedDownloadSaysWhy) {
    start({{expect("TYPE I"), send("200 ok\r\n"), expect("PASV"), replyPassive(), acceptData(), expect("RETR /gone"),
            send("550 no such file\r\n")},
           passiveOpening("", "RETR /cut"),
           {sendData("partial"), closeData(), send("426 connection lost\r\n")},
           passiveOpening("", "RETR /cancelled"),
           {sendData("data"), closeData(), send("226 done\r\n")},
           passiveOpening("", "RETR /dropped"),
           {sendData("half"), closeData(), closeControl()}});
    EXPECT_EQ(0, download(session, folder / "f", "/gone", 'I', 0));
    EXPECT_EQ("550 no such file\n", reply());
    EXPECT_EQ(0, download(session, folder / "f", "/cut", 'I', 0));
    EXPECT_EQ("426 connection lost\n", reply());
    // A cancel from the progress callback fails the transfer, whatever the server says.
    session.control->progressInterval = 1;
    session.control->progressCallback = [](std::int64_t, void*, std::int32_t, std::int32_t) { return 0; };
    EXPECT_EQ(0, download(session, folder / "f", "/cancelled", 'I', 0));
    EXPECT_EQ("Transfer incomplete\n", reply());
    session.control->progressCallback = nullptr;
    // A server gone before its final reply leaves no line to show: the failure says why.
    EXPECT_EQ(0, download(session, folder / "f", "/dropped", 'I', 0));
    EXPECT_EQ("The connection to the server was lost\n", reply());
    EXPECT_EQ("", finish());
}

// --- continued downloads ---

// The opening of a resumed passive download: REST asked first, then again before RETR
// (which the engine sends before it connects). An empty `type` as passiveOpening's.
Script resumedOpening(const std::string& offset, const std::string& command, const std::string& type = "") {
    Script script = {expect("REST " + offset), send("350 restarting\r\n"), expect("PASV"), replyPassive(),
                     expect("REST " + offset), send("350 restarting\r\n"), acceptData(),   expect(command),
                     send("150 opening\r\n")};
    if (!type.empty()) script.insert(script.begin() + 2, {expect("TYPE " + type), send("200 ok\r\n")});
    return script;
}

// A continuation asks REST for the rest, the bytes already there counting as moved; a
// server that cannot restart, or that takes REST yet sends the whole file, has the file
// fetched from its start instead of arriving twice over.
TEST_F(Engine, AContinuationFetchesTheRestOrStartsOver) {
    const std::string bytes = patternBytes(5000);
    const std::string other(bytes.rbegin(), bytes.rend());
    const std::string partial = folder / "partial";
    start({resumedOpening("2000", "RETR /rest", "I"),
           {sendData(bytes.substr(2000)), closeData(), send("226 done\r\n"), expect("REST 2000"),
            send("502 not implemented\r\n")},
           passiveOpening("", "RETR /refused"),
           {sendData(bytes), closeData(), send("226 done\r\n")},
           resumedOpening("2000", "RETR /ignored"),
           {sendData(other), closeData(), send("226 done\r\n")},
           passiveOpening("", "RETR /ignored"),
           {sendData(other), closeData(), send("226 done\r\n")}});
    std::int64_t lastCount = 0;
    session.control->progressInterval = 1;
    session.control->callbackContext = &lastCount;
    session.control->progressCallback = [](std::int64_t transferred, void* context, std::int32_t, std::int32_t) {
        *static_cast<std::int64_t*>(context) = transferred;
        return 1;
    };
    for (const std::string name : {"/rest", "/refused", "/ignored"}) {
        const std::string& whole = name == "/ignored" ? other : bytes;
        writeFile(partial, whole.substr(0, 2000));
        lastCount = 0;
        EXPECT_EQ(1, download(session, partial, name, 'I', 2000, 5000)) << name << reply();
        EXPECT_TRUE(whole == readFile(partial)) << name;
        EXPECT_EQ(lastCount, 5000) << name;  // the bytes already there count as moved
    }
    EXPECT_EQ("", finish());
}

TEST_F(Engine, ListingsArriveWithLfLineEndsAndAnEmptyOneEmptiesTheFile) {
    const std::string listing = folder / "tmp.dir";
    start({passiveOpening("A", "LIST -aL"),
           {sendData("-rw-r--r-- 1 a b 1 Jan  1  2020 one\r\nd"), sendData("rwxr-xr-x 2 a b 0 Jan  1  2020 two\r\n"),
            closeData(), send("226 done\r\n")},
           passiveOpening("", "LIST -aL"),
           {closeData(), send("226 empty\r\n")}});
    EXPECT_EQ(1, listToFile(session, listing, std::nullopt)) << reply();
    EXPECT_EQ("-rw-r--r-- 1 a b 1 Jan  1  2020 one\ndrwxr-xr-x 2 a b 0 Jan  1  2020 two\n", readFile(listing));
    EXPECT_EQ(1, listToFile(session, listing, std::nullopt)) << reply();
    EXPECT_EQ("", readFile(listing));
    EXPECT_EQ("", finish());
}

// An exact listing keeps what MLSD says of a name only where LIST gives it the same
// kind: a link MLSD shows as its target, a name LIST lacks or gives twice as different
// kinds, each becomes a link; a name ending in CR is skipped, never cut. The session stays
// in the folder: no CWD back. A failed MLSD keeps its reason; a server without MLST is
// not listed at all.
TEST_F(Engine, AnExactListingTakesEachKindOnlyWhereListSaysTheSame) {
    const std::string listing = folder / "tmp.dir";
    const Script into = {expect("CWD /d"), send("250 ok\r\n")};
    start({{expect("FEAT"), send("211-Features:\r\n MLST type*;size*;modify*;\r\n211 End\r\n")},
           into,
           passiveOpening("A", "LIST -a"),
           {sendData("-rw-r--r-- 1 u g 1 Jan 01 2020 file\r\ndrwxr-xr-x 2 u g 1 Jan 01 2020 dir\r\n"
                     "lrwxrwxrwx 1 u g 4 Jan 01 2020 link -> /etc\r\n-rw-r--r-- 1 u g 1 Jan 01 2020 twice\r\n"
                     "drwxr-xr-x 2 u g 1 Jan 01 2020 twice\r\ndrwxr-xr-x 2 u g 1 Jan 01 2020 kind\r\n"),
            closeData(), send("226 done\r\n")},
           passiveOpening("", "MLSD"),
           {sendData("type=cdir; /d\r\ntype=file;size=1;modify=20200101000000; file\r\ntype=dir; dir\r\n"
                     "type=dir; link\r\ntype=file;size=1; twice\r\ntype=file;size=1; kind\r\n"
                     "type=file;size=1; unlisted\r\ntype=file;size=1; cr\r\r\n"),
            closeData(), send("226 done\r\n")},
           into,
           passiveOpening("", "LIST -a"),
           {closeData(), send("226 done\r\n")},
           passiveOpening("", "MLSD"),
           {closeData(), send("451 cut short\r\n")},
           {acceptControl(), send("220 again\r\n"), expect("FEAT"), send("211-Features:\r\n MDTM\r\n211 End\r\n")},
           into,
           passiveOpening("A", "LIST -a"),
           {sendData("lrwxrwxrwx 1 u g 4 Jan 01 2020 link -> /etc\r\n"), closeData(), send("226 done\r\n")}});
    ASSERT_EQ(1, listExactToFile(session, listing, "/d")) << reply();
    EXPECT_EQ(
        "+r,s1,m1577836800,\tfile\n+/,\tdir\n+r,/,\tlink\n+r,/,\ttwice\n+r,/,\tkind\n+r,/,\tunlisted\n"
        "+!,\tcr%0D\n",
        readFile(listing));
    EXPECT_EQ(0, listExactToFile(session, listing, "/d"));
    EXPECT_EQ("451 cut short\n", reply());
    // Without MLSD the LIST lines are the listing: links as the server shows them.
    ASSERT_EQ(1, openControl(session, server->address())) << reply();
    EXPECT_EQ(1, listExactToFile(session, listing, "/d")) << reply();
    EXPECT_EQ("lrwxrwxrwx 1 u g 4 Jan 01 2020 link -> /etc\n", readFile(listing));
    EXPECT_EQ("", finish());
}

TEST_F(Engine, AsciiUploadTurnsLfIntoCrLfAcrossStagingBlocks) {
    std::string text = "kept\r\n";
    std::string expected = text;
    for (int i = 0; i < 150; ++i) {
        text += "0123456789abcde\n";
        expected += "0123456789abcde\r\n";
    }
    writeFile(folder / "text", text);
    start({passiveOpening("A", "STOR /t"), {receiveData(), send("226 done\r\n")}});
    EXPECT_EQ(1, upload(session, folder / "text", "/t", 'A')) << reply();
    EXPECT_EQ("", finish());
    EXPECT_EQ(expected, server->uploaded());
}

// A data connection cut by a reset fails the transfer whatever the server says; an upload
// to one the server closed fails without SIGPIPE.
TEST_F(Engine, ADataConnectionEndedEarlyFailsTheTransfer) {
    writeFile(folder / "big", patternBytes(1 << 20));
    start({passiveOpening("A", "LIST -aL"),
           {sendData("-rw-r--r-- 1 a b 1 Jan  1  2020 one\r\n"), resetData(), send("226 done\r\n")},
           passiveOpening("I", "RETR /f"),
           {sendData("abc"), resetData(), send("226 done\r\n")},
           passiveOpening("", "STOR /big"),
           {closeData(), send("426 connection closed\r\n")}});
    EXPECT_EQ(0, listToFile(session, folder / "tmp.dir", std::nullopt));
    EXPECT_EQ("Transfer incomplete\n", reply());
    EXPECT_EQ(0, download(session, folder / "f", "/f", 'I', 0));
    EXPECT_EQ("Transfer incomplete\n", reply());
    EXPECT_EQ((std::vector<std::string>{"big", "tmp.dir"}), names(folder.path()));
    EXPECT_EQ(0, upload(session, folder / "big", "/big", 'I'));
    EXPECT_EQ("426 connection closed\n", reply());
    EXPECT_EQ("", finish());
}

// Sends are bounded by the wait periods as receives are: a server that stops reading
// in the middle of an upload ends it once the idle callback gives up, and the control
// connection stays in step.
TEST_F(Engine, UploadToAServerThatStopsReadingGivesUpAfterTheWaitPeriods) {
    writeFile(folder / "big", patternBytes(16 << 20));  // more than the socket buffers hold
    const std::string types[] = {"I", "A"};
    Script script;
    for (const std::string& type : types) {
        script.insert(script.end(), {expect("TYPE " + type), send("200 ok\r\n"), expect("PASV"), replyPassive(),
                                     acceptData(), expect("STOR /big"), send("150 opening\r\n"),
                                     send("426 stalled\r\n"), expect("NOOP"), closeData(), send("200 ok\r\n")});
    }
    start({script});
    int calls = 0;
    session.control->idleCallback = [](void* context) { return int(++*static_cast<int*>(context) < 3); };
    session.control->callbackContext = &calls;
    session.control->idleMicroseconds = 20000;
    for (const std::string& type : types) {
        calls = 0;
        EXPECT_EQ(0, upload(session, folder / "big", "/big", type[0])) << type;
        EXPECT_EQ(3, calls) << type;
        EXPECT_EQ("426 stalled\n", reply()) << type;
        EXPECT_EQ(1, sendSimple(session, "NOOP")) << type << reply();
    }
    EXPECT_EQ("", finish());
}

// --- active mode ---

// A stranger's data connection, queued first so that the engine meets it first, is not
// taken. A refusal that comes in one segment with the 150 is read at once, not after the
// wait for a connection, and is not left for the next command.
TEST_F(Engine, ActiveDownloadTakesOnlyTheServersConnectionAndReportsItsRefusal) {
    start({{expect("TYPE I"), send("200 ok\r\n"), expect("PORT 127,0,0,1,*"), send("200 ok\r\n")},
           {expect("RETR /f"), send("150 opening\r\n"), connectData("127.0.0.2"), connectData(),
            sendData("from server"), closeData(), send("226 done\r\n"), expect("PORT 127,0,0,1,*"), send("200 ok\r\n"),
            expect("RETR /missing"), send("550 no such file\r\n"), expect("PORT 127,0,0,1,*"), send("200 ok\r\n")},
           {expect("RETR /g"), send("150 opening\r\n425 cannot open data connection\r\n"), expect("NOOP"),
            send("200 ok\r\n")}});
    setConnectionMode(session, ConnectionMode::Active);
    EXPECT_EQ(1, download(session, folder / "f", "/f", 'I', 0)) << reply();
    EXPECT_EQ("from server", readFile(folder / "f"));
    EXPECT_EQ(0, download(session, folder / "a", "/missing", 'I', 0));
    EXPECT_EQ("550 no such file\n", reply());
    EXPECT_EQ(0, download(session, folder / "b", "/g", 'I', 0));
    EXPECT_EQ("425 cannot open data connection\n", reply());
    EXPECT_EQ(1, sendSimple(session, "NOOP"));
    EXPECT_EQ("200 ok\n", reply());
    EXPECT_EQ(std::vector<std::string>{"f"}, names(folder.path()));
    EXPECT_EQ("", finish());
}

TEST_F(Engine, ActiveAcceptGivesUpWhenTheServerNeverConnects) {
    start({{expect("PORT 127,0,0,1,*"), send("200 ok\r\n"), expect("RETR /f"), send("150 opening\r\n")}});
    FtpConnection* data = nullptr;
    ASSERT_EQ(1, openActiveData(session.control, &data, 'I', ConnectionDirection::Read, "RETR /f")) << reply();
    EXPECT_EQ(0, acceptData(data, session.control, 1));
    EXPECT_EQ("timed out waiting for connection", reply());
    EXPECT_EQ(0, data->socket);
    EXPECT_EQ(1, closeData(data));
    EXPECT_EQ("", finish());
}

// --- server to server ---

TEST_F(Engine, ServerToServerNeedsBothFinalRepliesAndStopsAtEachRefusal) {
    // Source and target are one connection here: it is asked its TYPE once.
    const auto opening = [](const std::string& passiveReply) { return Script{expect("PASV"), send(passiveReply)}; };
    const std::string passive = "227 Entering Passive Mode (127,0,0,1,4,1).\r\n";
    const Script started = {expect("PORT 127,0,0,1,4,1"), send("200 ok\r\n"), expect("RETR /a"),
                            send("150 go\r\n"),           expect("STOR /b"),  send("150 go\r\n")};
    start({{expect("TYPE I"), send("200 ok\r\n")},
           opening(passive),
           started,
           {send("226 sent\r\n226 stored\r\n")},
           opening(passive),
           started,
           {send("226 sent\r\n426 aborted\r\n")},
           opening("500 no passive\r\n"),
           opening("227 passive 127,0,0,1,4,1\r\n"),
           opening(passive),
           {expect("PORT 127,0,0,1,4,1"), send("200 ok\r\n"), expect("RETR /a"), send("150 go\r\n"), expect("STOR /b"),
            send("553 not allowed\r\n"), expect("PASV"), send("227 (127,0,0,1,4,2)\r\n"),
            send("425 no data connection\r\n")},
           opening(passive),
           {expect("PORT 127,0,0,1,4,1"), send("200 ok\r\n"), expect("RETR /a"), send("150 go\r\n")}});
    EXPECT_EQ(1, serverToServer(session, session, "/a", "/b", 'I', 0)) << reply();
    EXPECT_EQ(0, serverToServer(session, session, "/a", "/b", 'I', 0));
    EXPECT_EQ("426 aborted\n", reply());
    EXPECT_EQ(0, serverToServer(session, session, "/a", "/b", 'I', 0));
    EXPECT_EQ("500 no passive\n", reply());
    EXPECT_EQ(0, serverToServer(session, session, "/a", "/b", 'I', 0));
    EXPECT_EQ("227 passive 127,0,0,1,4,1\n", reply());
    EXPECT_EQ(0, serverToServer(session, session, "/a", "/b", 'I', 0));
    EXPECT_EQ("425 no data connection\n", reply());
    // A second command too long to send ends the copy there: nothing to clean up after.
    EXPECT_EQ(0, serverToServer(session, session, "/a", "/" + std::string(250, 'b'), 'I', 0));
    EXPECT_EQ("", finish());
}

}  // namespace
