// libFuzzer target for what a server says: a loopback server answers each command of a
// whole session with replies and data made from the input, sent in pieces. After each
// step the engine must keep exactly the last line of the server's reply (cut at 255
// bytes) and nothing beyond it; an engine wait that gives up while the server is still
// talking is a finding.
#include "ftp/ftp_commands.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_transfer.h"
#include "tests/support/engine_files.h"
#include "tests/support/loopback.h"

#include <sys/socket.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

namespace {

using test_support::acceptWithin;
using test_support::closeIfOpen;
using test_support::readableWithin;

constexpr int serverWaitMs = 2000;
constexpr int engineWaitMs = 10;      // one wait period of the engine
constexpr int engineWaitLimit = 200;  // periods without data before the engine gives up

int listening(int& port) {
    const int socket = test_support::listenOnLoopback(port);
    if (socket < 0) std::abort();
    return socket;
}

// The reply as the server sends it: the first line and, when its fourth byte is '-',
// the lines up to the first that begins with its code and a blank (added when the input
// has none). What follows is cut, so that the reply is one reply.
std::string wholeReply(std::string text) {
    if (text.empty() || text.back() != '\n') text += "\r\n";
    std::size_t end = text.find('\n') + 1;
    if (end > 4 && text[3] == '-') {
        const std::string marker = text.substr(0, 3) + ' ';
        std::size_t line = end;
        for (; line < text.size(); line = text.find('\n', line) + 1) {
            if (text.compare(line, 4, marker) == 0) break;
        }
        if (line < text.size()) {
            end = text.find('\n', line) + 1;
        } else {
            text += marker + "\r\n";
            end = text.size();
        }
    }
    return text.substr(0, end);
}

// What the engine keeps of a whole reply: its last line, CR LF turned into LF, or the
// first 255 bytes of a longer line; read as the C text it is.
std::string keptLine(const std::string& reply) {
    const std::size_t start = reply.size() < 2 ? 0 : reply.rfind('\n', reply.size() - 2) + 1;  // npos + 1 is 0
    std::string line = reply.substr(start);
    if (line.size() > std::size_t(ftp::replySize - 1)) {
        line.resize(ftp::replySize - 1);
    } else if (line.size() >= 2 && line[line.size() - 2] == '\r') {
        line.erase(line.size() - 2, 1);
    }
    return line.substr(0, line.find('\0'));
}

// What the engine may check against the server: the line it must keep from the last
// reply, and the bytes of the last download. Written by the server thread.
struct Expectation {
    std::mutex lock;
    std::string reply;
    std::string data;
    bool closed = false;  // the server dropped the connection: nothing more to check
};

class FuzzServer {
public:
    FuzzServer(FuzzedDataProvider& input, int listener, Expectation& expected)
        : input_(input), listener_(listener), expected_(expected) {}
    ~FuzzServer() {
        closeIfOpen(control_);
        closeIfOpen(dataListener_);
    }

    void run() {
        control_ = acceptWithin(listener_, serverWaitMs);
        if (control_ < 0 || !reply("220")) return;
        std::string command;
        while (readCommand(command)) {
            const std::string verb = command.substr(0, command.find(' '));
            if (verb == "PASV") {
                if (!replyPassive()) return;
            } else if (verb == "LIST" || verb == "RETR") {
                if (!transfer()) return;
            } else if (!reply(verb == "USER" ? "331" : verb == "PASS" ? "230" : verb == "CWD" ? "250" : "200")) {
                return;
            }
        }
    }

private:
    // Sends a reply made from the input, which often starts with `usualCode`. False when
    // the input chose to drop the connection after it (sending it raw, perhaps cut).
    bool reply(const char* usualCode, std::string text = {}) {
        const auto choice = input_.ConsumeIntegral<std::uint8_t>();
        if (text.empty()) text = input_.ConsumeRandomLengthString(1200);
        if (choice & 2) {
            // Long lines from a few input bytes: one byte repeated somewhere in the text.
            const auto position = std::min<std::size_t>(input_.ConsumeIntegral<std::uint16_t>(), text.size());
            const auto count = input_.ConsumeIntegralInRange<std::size_t>(0, 1100);
            text.insert(position, count, input_.ConsumeIntegral<char>());
        }
        if (choice & 1) text = usualCode + text;
        const bool drop = (choice & 0xf0) == 0xf0;
        if (!drop) text = wholeReply(text);
        {
            std::lock_guard<std::mutex> hold(expected_.lock);
            expected_.reply = drop ? std::string() : keptLine(text);
            expected_.closed = expected_.closed || drop;
        }
        sendInPieces(control_, text);
        if (drop) closeIfOpen(control_);
        return !drop;
    }

    void sendInPieces(int socket, const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            const std::size_t piece = input_.ConsumeIntegralInRange<std::size_t>(1, 300);
            const long count = send(socket, bytes.data() + sent, std::min(piece, bytes.size() - sent), MSG_NOSIGNAL);
            if (count <= 0) return;
            sent += std::size_t(count);
        }
    }

    // The PASV reply: text from the input around "(h1,h2,h3,h4,p1,p2)", where the port
    // is always this server's, so that no connection goes anywhere else.
    bool replyPassive() {
        closeIfOpen(dataListener_);
        int port = 0;
        dataListener_ = listening(port);
        std::string before = input_.ConsumeRandomLengthString(300);
        std::string numbers;
        for (int i = 0; i < 4; ++i) numbers += std::to_string(input_.ConsumeIntegralInRange(0, 260)) + ",";
        std::string after = input_.ConsumeRandomLengthString(300);
        // The only '(' is the server's: a kept line without it names no address at all.
        before.erase(std::remove(before.begin(), before.end(), '('), before.end());
        after.erase(std::remove(after.begin(), after.end(), '('), after.end());
        return reply("227", before + "(" + numbers + std::to_string(port / 256) + "," + std::to_string(port % 256) +
                                ")" + after);
    }

    // The 1xx reply; when it is one, the data on a connection of its own, then the final reply.
    bool transfer() {
        if (!reply("150")) return false;
        {
            std::lock_guard<std::mutex> hold(expected_.lock);
            if (expected_.reply.empty() || expected_.reply[0] != '1' || dataListener_ < 0) return true;
        }
        int data = acceptWithin(dataListener_, serverWaitMs);
        closeIfOpen(dataListener_);
        const std::string bytes = input_.ConsumeRandomLengthString(4000);
        {
            std::lock_guard<std::mutex> hold(expected_.lock);
            expected_.data = bytes;
        }
        if (data >= 0) sendInPieces(data, bytes);
        closeIfOpen(data);
        return reply("226");
    }

    bool readCommand(std::string& line) {
        for (;;) {
            if (const auto end = pending_.find("\r\n"); end != std::string::npos) {
                line = pending_.substr(0, end);
                pending_.erase(0, end + 2);
                return true;
            }
            char chunk[1024];
            const long received = readableWithin(control_, serverWaitMs) ? recv(control_, chunk, sizeof chunk, 0) : -1;
            if (received <= 0) return false;
            pending_.append(chunk, std::size_t(received));
        }
    }

    FuzzedDataProvider& input_;
    int listener_;
    Expectation& expected_;
    int control_ = -1;
    int dataListener_ = -1;
    std::string pending_;
};

struct WaitBudget {
    int periods = 0;
    bool gaveUp = false;
};

int countIdlePeriod(void* context) {
    auto* budget = static_cast<WaitBudget*>(context);
    if (++budget->periods < engineWaitLimit) return 1;
    budget->gaveUp = true;
    return 0;
}

std::string readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// After each step of the engine: unless the server dropped the line, the engine kept
// exactly the line the server's last reply ends with, and nothing beyond it.
void checkStep(const ftp::FtpSession& session, Expectation& expected, const WaitBudget& budget) {
    std::lock_guard<std::mutex> hold(expected.lock);
    if (expected.closed) return;
    if (budget.gaveUp) __builtin_trap();  // the engine waited for bytes the server never owed it
    if (session.control->available != 0) __builtin_trap();
    if (expected.reply != ftp::lastReply(session)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int port = 0;
    static const int listener = listening(port);
    static const std::string folder = [] {
        char pattern[] = "/tmp/farlink-reply-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        return std::string(pattern);
    }();

    FuzzedDataProvider input(data, size);
    Expectation expected;
    FuzzServer server(input, listener, expected);
    std::thread serverThread([&] { server.run(); });

    ftp::FtpSession session = ftp::createSession();
    WaitBudget budget;
    session.control->idleCallback = countIdlePeriod;
    session.control->callbackContext = &budget;
    session.control->idleMicroseconds = engineWaitMs * 1000;
    if (ftp::openControl(session, "127.0.0.1:" + std::to_string(port))) {
        checkStep(session, expected, budget);
        session.control->usePeerAddress = 1;
        ftp::logIn(session, "user", "password");
        checkStep(session, expected, budget);
        ftp::changeFolder(session, "/folder");
        checkStep(session, expected, budget);
        ftp::listToFile(session, folder + "/listing", std::nullopt);
        checkStep(session, expected, budget);
        const int downloaded = test_support::download(session, folder + "/file", "/file", 'I', 0);
        checkStep(session, expected, budget);
        if (downloaded) {
            std::lock_guard<std::mutex> hold(expected.lock);
            if (!expected.closed && readWhole(folder + "/file") != expected.data) __builtin_trap();
        }
        if (session.control->socket && ftp::quit(session, 0)) checkStep(session, expected, budget);
    } else {
        checkStep(session, expected, budget);
    }
    ftp::release(session);
    serverThread.join();
    return 0;
}
