// A scripted FTP server on 127.0.0.1 for protocol tests: it plays one client a script of
// expected command lines and replies sent exactly as written (so a reply can be cut
// anywhere), and checks the whole conversation. Below it, the pieces scripts are made of.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test_support {

struct ScriptStep {
    enum class Kind {
        Send,
        Expect,
        CloseControl,
        AcceptControl,
        UseControl,
        ReplyPassive,
        ReplyExtendedPassive,
        AcceptData,
        ConnectData,
        SendData,
        ReceiveData,
        CloseData,
        ResetData
    };
    Kind kind;
    std::string text;
};

// Bytes on the control connection, exactly as given (add "\r\n" to end a line).
ScriptStep send(std::string bytes);
// One command line from the client, given without its CR LF; a final '*' matches any
// rest of the line.
ScriptStep expect(std::string line);
ScriptStep closeControl();
// Accepts another control connection and goes on with it; the current one is parked,
// open, as parked connection number 0, 1, ... in the order parked.
ScriptStep acceptControl();
// Goes on with parked connection `index`, which the current one takes the place of.
ScriptStep useControl(int index);
// Listens for a data connection and replies "227 Entering Passive Mode (HOST,p1,p2).",
// HOST being the given numbers (the listener itself is always on 127.0.0.1).
ScriptStep replyPassive(std::string hostNumbers = "127,0,0,1");
// Listens for a data connection and replies "229 Entering Extended Passive Mode (|||port|)".
ScriptStep replyExtendedPassive();
ScriptStep acceptData();
// Connects to the address of the client's last PORT command, from `fromAddress`.
ScriptStep connectData(std::string fromAddress = "127.0.0.1");
ScriptStep sendData(std::string bytes);
// Reads the data connection until the client closes it (see uploaded()).
ScriptStep receiveData();
ScriptStep closeData();
// Aborts the data connection with a reset instead of an orderly close.
ScriptStep resetData();

class ScriptedFtpServer {
public:
    explicit ScriptedFtpServer(std::vector<ScriptStep> script);
    ~ScriptedFtpServer();

    // "127.0.0.1:PORT", as openControl takes it.
    std::string address() const;
    // Waits until the script has run and the client has closed its end. Returns "" when
    // the client sent exactly the expected lines and nothing more; otherwise what went
    // wrong, followed by the whole conversation.
    std::string finish();
    // After finish(): the bytes that receiveData steps got.
    const std::string& uploaded() const { return uploaded_; }
    // How many command lines the client has sent so far; -1 until it connected, so that
    // a test can wait for the client to be waiting at a step. Any thread.
    int linesHeard() const { return linesHeard_; }

private:
    void run();
    bool runStep(const ScriptStep& step);
    bool readLine(std::string& line);

    std::vector<ScriptStep> script_;
    int listener_ = -1;
    int port_ = 0;
    int control_ = -1;
    std::vector<std::pair<int, std::string>> parked_;  // control connections and their pending bytes
    int dataListener_ = -1;
    int data_ = -1;
    int stranger_ = -1;     // a data connection from another address, kept open
    std::string pending_;   // control bytes received beyond the last line
    std::string lastPort_;  // arguments of the last PORT command
    std::string conversation_;
    std::string problem_;
    std::string uploaded_;
    std::atomic<int> linesHeard_{-1};
    std::thread thread_;
};

// Pieces of scripted conversations (a namespace of their own, so that the operator does
// not meet other tests' own).
namespace conversation {

using Script = std::vector<ScriptStep>;
Script operator+(Script first, const Script& second);
Script operator+(Script first, ScriptStep step);
// A command line the client must send and the server's reply to it ("\r\n" added).
Script ask(const std::string& command, const std::string& reply);
// The greeting and an anonymous login.
Script login();
// The keep-alive probe before each use of a connected place.
Script probe();
// The QUIT of a place dropped at the end of a test.
Script bye();
// The listing of `folder` ("CWD", then "LIST -aL" over a passive data connection that
// ends with `ending`, answered with `finalReply`) and the change back to "/".
Script listing(const std::string& folder, const std::string& lines, ScriptStep ending = closeData(),
               const std::string& finalReply = "226 done\r\n");
// The same on a connection in type A already (no file moved since its last listing),
// which sends no TYPE.
Script relisting(const std::string& folder, const std::string& lines);
// A long-listing line dated 2000-01-01.
std::string unixLine(char type, const std::string& name, const std::string& size = "5");

}  // namespace conversation

}  // namespace test_support
