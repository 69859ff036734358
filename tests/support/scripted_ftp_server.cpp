#include "tests/support/scripted_ftp_server.h"

#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace test_support {

namespace {

// Every wait of the server is bounded, so that a broken engine fails a test instead
// of hanging it.
constexpr int waitLimitMs = 10000;

sockaddr_in loopback(const std::string& host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, host.c_str(), &address.sin_addr);
    return address;
}

int acceptFrom(int listener) { return acceptWithin(listener, waitLimitMs); }

bool sendAll(int socket, const std::string& bytes) {
    return socket >= 0 && send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL) == long(bytes.size());
}

}  // namespace

ScriptStep send(std::string bytes) { return {ScriptStep::Kind::Send, std::move(bytes)}; }
ScriptStep expect(std::string line) { return {ScriptStep::Kind::Expect, std::move(line)}; }
ScriptStep closeControl() { return {ScriptStep::Kind::CloseControl, {}}; }
ScriptStep acceptControl() { return {ScriptStep::Kind::AcceptControl, {}}; }
ScriptStep useControl(int index) { return {ScriptStep::Kind::UseControl, std::to_string(index)}; }
ScriptStep replyPassive(std::string hostNumbers) { return {ScriptStep::Kind::ReplyPassive, std::move(hostNumbers)}; }
ScriptStep replyExtendedPassive() { return {ScriptStep::Kind::ReplyExtendedPassive, {}}; }
ScriptStep acceptData() { return {ScriptStep::Kind::AcceptData, {}}; }
ScriptStep connectData(std::string fromAddress) { return {ScriptStep::Kind::ConnectData, std::move(fromAddress)}; }
ScriptStep sendData(std::string bytes) { return {ScriptStep::Kind::SendData, std::move(bytes)}; }
ScriptStep receiveData() { return {ScriptStep::Kind::ReceiveData, {}}; }
ScriptStep closeData() { return {ScriptStep::Kind::CloseData, {}}; }
ScriptStep resetData() { return {ScriptStep::Kind::ResetData, {}}; }

ScriptedFtpServer::ScriptedFtpServer(std::vector<ScriptStep> script) : script_(std::move(script)) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    if (thread_.joinable()) thread_.join();
    closeIfOpen(listener_);
}

std::string ScriptedFtpServer::address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string ScriptedFtpServer::finish() {
    if (thread_.joinable()) thread_.join();
    return problem_.empty() ? std::string() : problem_ + "\n--- conversation ---\n" + conversation_;
}

void ScriptedFtpServer::run() {
    control_ = acceptFrom(listener_);
    if (control_ < 0) {
        problem_ = "no client connected";
        return;
    }
    linesHeard_ = 0;
    for (const ScriptStep& step : script_) {
        if (!runStep(step)) break;
    }
    // Whatever the client sends after the script is a deviation.
    std::string line;
    while (problem_.empty() && control_ >= 0 && readLine(line)) problem_ = "unexpected line: " + line;
    closeIfOpen(control_);
    for (auto& parked : parked_) closeIfOpen(parked.first);
    closeIfOpen(data_);
    closeIfOpen(dataListener_);
    closeIfOpen(stranger_);
}

bool ScriptedFtpServer::readLine(std::string& line) {
    for (;;) {
        if (const auto end = pending_.find("\r\n"); end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 2);
            conversation_ += "C: " + line + "\n";
            ++linesHeard_;
            return true;
        }
        char chunk[4096];
        const long received = readableWithin(control_, waitLimitMs) ? recv(control_, chunk, sizeof chunk, 0) : -1;
        if (received < 0) problem_ = "client neither sent a line nor closed";
        if (received <= 0) {
            if (!pending_.empty() && problem_.empty()) problem_ = "unterminated line: " + pending_;
            return false;
        }
        pending_.append(chunk, std::size_t(received));
    }
}

bool ScriptedFtpServer::runStep(const ScriptStep& step) {
    using Kind = ScriptStep::Kind;
    switch (step.kind) {
    case Kind::Send:
        conversation_ += "S: " + step.text;
        sendAll(control_, step.text);
        return true;
    case Kind::Expect: {
        std::string line;
        if (!readLine(line)) {
            if (problem_.empty()) problem_ = "connection closed; expected: " + step.text;
            return false;
        }
        if (line.rfind("PORT ", 0) == 0) lastPort_ = line.substr(5);
        const bool prefixOnly = !step.text.empty() && step.text.back() == '*';
        if (prefixOnly ? line.rfind(step.text.substr(0, step.text.size() - 1), 0) == 0 : line == step.text) return true;
        problem_ = "expected: " + step.text + "\n     got: " + line;
        return false;
    }
    case Kind::CloseControl: closeIfOpen(control_); return false;
    case Kind::AcceptControl:
        parked_.emplace_back(control_, std::move(pending_));
        pending_.clear();
        control_ = acceptFrom(listener_);
        conversation_ += "-- next control connection --\n";
        if (control_ < 0) problem_ = "no further client connected";
        return control_ >= 0;
    case Kind::UseControl: {
        auto& parked = parked_.at(std::stoul(step.text));
        std::swap(control_, parked.first);
        std::swap(pending_, parked.second);
        conversation_ += "-- parked control connection " + step.text + " --\n";
        return true;
    }
    case Kind::ReplyPassive:
    case Kind::ReplyExtendedPassive: {
        int port = 0;
        dataListener_ = listenOnLoopback(port);
        const std::string reply = step.kind == Kind::ReplyExtendedPassive
                                      ? "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n"
                                      : "227 Entering Passive Mode (" + step.text + "," + std::to_string(port / 256) +
                                            "," + std::to_string(port % 256) + ").\r\n";
        conversation_ += "S: " + reply;
        return sendAll(control_, reply);
    }
    case Kind::AcceptData:
        data_ = acceptFrom(dataListener_);
        closeIfOpen(dataListener_);
        if (data_ < 0) problem_ = "client did not open the data connection";
        return data_ >= 0;
    case Kind::ConnectData: {
        unsigned n[6];
        if (std::sscanf(lastPort_.c_str(), "%u,%u,%u,%u,%u,%u", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]) != 6) {
            problem_ = "no PORT command to connect to";
            return false;
        }
        char host[32];
        std::snprintf(host, sizeof host, "%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
        const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in from = loopback(step.text, 0);
        const sockaddr_in to = loopback(host, int(n[4] * 256 + n[5]));
        if (bind(socket, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
            connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            close(socket);
            problem_ = "could not connect to the client's PORT address";
            return false;
        }
        (step.text == "127.0.0.1" ? data_ : stranger_) = socket;
        return true;
    }
    case Kind::SendData: return sendAll(data_, step.text);
    case Kind::ReceiveData: {
        char chunk[65536];
        long received;
        while (data_ >= 0 && readableWithin(data_, waitLimitMs) &&
               (received = recv(data_, chunk, sizeof chunk, 0)) > 0) {
            uploaded_.append(chunk, std::size_t(received));
        }
        return true;
    }
    case Kind::CloseData: closeIfOpen(data_); return true;
    case Kind::ResetData: {
        const linger abort{1, 0};  // closing then sends RST, not FIN
        if (data_ >= 0) setsockopt(data_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        closeIfOpen(data_);
        return true;
    }
    }
    return false;
}

namespace conversation {

Script operator+(Script first, const Script& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Script operator+(Script first, ScriptStep step) {
    first.push_back(std::move(step));
    return first;
}

Script ask(const std::string& command, const std::string& reply) { return {expect(command), send(reply + "\r\n")}; }

Script login() { return Script{send("220 hello\r\n")} + ask("USER anonymous", "230 in"); }
Script probe() { return ask("NOOP", "200 ok"); }
Script bye() { return {expect("QUIT")}; }

Script listing(const std::string& folder, const std::string& lines, ScriptStep ending, const std::string& finalReply) {
    return {expect("CWD " + folder), send("250 ok\r\n"), expect("TYPE A"), send("200 ok\r\n"),
            expect("PASV"),          replyPassive(),     acceptData(),     expect("LIST -aL"),
            send("150 here\r\n"),    sendData(lines),    ending,           send(finalReply),
            expect("CWD /"),         send("250 ok\r\n")};
}

Script relisting(const std::string& folder, const std::string& lines) {
    Script script = listing(folder, lines);
    script.erase(script.begin() + 2, script.begin() + 4);  // TYPE A and its reply
    return script;
}

std::string unixLine(char type, const std::string& name, const std::string& size) {
    return std::string(1, type) + "rw-r----- 1 me us " + size + " Jan  1  2000 " + name + "\r\n";
}

}  // namespace conversation

}  // namespace test_support
