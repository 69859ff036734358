// Data connections in passive and active mode.
#include "ftp/ftp_data.h"

#include "ftp/engine_internal.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace ftp {

using namespace detail;

namespace {

// The checks both openers make before anything is sent.
bool checkOpening(FtpConnection* control, char type, ConnectionDirection direction, std::string_view command) {
    if (!control || control->direction != ConnectionDirection::Control) return false;
    if (direction != ConnectionDirection::Read && direction != ConnectionDirection::Write) {
        setReply(control, "Invalid direction %d\n", int(direction));
        return false;
    }
    if (type != 'A' && type != 'I') {
        setReply(control, "Invalid mode %c\n", type);
        return false;
    }
    return acceptCommandText(control, command);
}

int newDataSocket(int family) {
    const int socket = newSocket(family);
    if (socket < 0) {
        debugLine("FTP:: socket");
        return -1;
    }
    const int on = 1;
    const linger noLinger{0, 0};
    if (setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(socket, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger) != 0) {
        debugLine("FTP:: setsockopt");
        close(socket);
        return -1;
    }
    return socket;
}

bool announceRestart(FtpConnection* control) {
    if (control->restartOffset == 0) return true;
    char command[32];
    const int length = std::snprintf(command, sizeof command, "REST %lld",
                                     static_cast<long long>(control->restartOffset));
    return sendCommand(std::string_view(command, std::size_t(length)), '3', control);
}

// A data record as the Data model gives it, or null after the debug line.
FtpConnection* newDataRecord(const FtpConnection* control, char type, ConnectionDirection direction) {
    auto* data = new (std::nothrow) FtpConnection{};
    if (!data) {
        debugLine("FTP:: calloc");
        return nullptr;
    }
    if (type == 'A') {
        data->buffer = new (std::nothrow) char[lineBufferSize];
        if (!data->buffer) {
            debugLine("FTP:: calloc");
            delete data;
            return nullptr;
        }
    }
    data->direction = direction;
    data->idleSeconds = control->idleSeconds;
    data->idleMicroseconds = control->idleMicroseconds;
    if (data->idleSeconds || data->idleMicroseconds) data->idleCallback = control->idleCallback;
    data->progressInterval = control->progressInterval;
    if (data->progressInterval) data->progressCallback = control->progressCallback;
    data->callbackContext = control->callbackContext;
    data->stop = control->stop;
    return data;
}

void freeDataRecord(FtpConnection* data) {
    delete[] data->buffer;
    delete data;
}

// Whether a refusal says that the server does not know the command (500, 502): the one
// refusal of PASV after which EPSV is worth asking.
bool refusedAsUnknown(const char* reply) {
    return (std::strncmp(reply, "500", 3) == 0 || std::strncmp(reply, "502", 3) == 0) &&
           (reply[3] < '0' || reply[3] > '9');
}

}  // namespace

namespace detail {

bool askPassive(FtpConnection* control, SocketAddress& target) {
    std::uint8_t passiveAddress[6];
    if (!sendCommand("PASV", '2', control) || !parsePassiveAddress(control->reply, passiveAddress)) return false;
    if (control->usePeerAddress && !copyPeerAddress(control, passiveAddress)) return false;
    auto* address = reinterpret_cast<sockaddr_in*>(&target.storage);
    *address = {};
    address->sin_family = AF_INET;
    std::memcpy(&address->sin_port, passiveAddress, 2);
    std::memcpy(&address->sin_addr.s_addr, passiveAddress + 2, 4);
    target.size = sizeof *address;
    return true;
}

bool askExtendedPassive(FtpConnection* control, SocketAddress& target) {
    std::uint16_t port = 0;
    if (!sendCommand("EPSV", '2', control) || !parseExtendedPassivePort(control->reply, port)) return false;
    if (!peerAddress(control->socket, target)) {
        setReply(control, "Unknown Error");
        return false;
    }
    target.setPort(port);
    return true;
}

// "PORT h1,h2,h3,h4,p1,p2" for an IPv4 listener, "EPRT |2|address|port|" for an IPv6 one.
bool formatPortCommand(const SocketAddress& listener, char* command, std::size_t capacity) {
    if (listener.family() == AF_INET6) {
        char host[INET6_ADDRSTRLEN];
        const auto& address = reinterpret_cast<const sockaddr_in6*>(&listener.storage)->sin6_addr;
        if (!inet_ntop(AF_INET6, &address, host, sizeof host)) return false;
        std::snprintf(command, capacity, "EPRT |2|%s|%u|", host, unsigned(listener.port()));
        return true;
    }
    const auto& address = reinterpret_cast<const sockaddr_in*>(&listener.storage)->sin_addr;
    const auto* host = reinterpret_cast<const std::uint8_t*>(&address.s_addr);
    const unsigned port = listener.port();
    std::snprintf(command, capacity, "PORT %u,%u,%u,%u,%u,%u", host[0], host[1], host[2], host[3], port >> 8,
                  port & 0xff);
    return true;
}

}  // namespace detail

bool parseExtendedPassivePort(const char* reply, std::uint16_t& port) {
    const char* text = std::strchr(reply, '(');
    if (!text) return false;
    const char delimiter = text[1];
    if (delimiter < 33 || delimiter > 126 || (delimiter >= '0' && delimiter <= '9')) return false;
    text += 2;
    if (text[0] != delimiter || text[1] != delimiter) return false;
    text += 2;
    unsigned value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && digits < 5; ++text, ++digits) value = value * 10 + unsigned(*text - '0');
    if (digits == 0 || value < 1 || value > 65535 || text[0] != delimiter || text[1] != ')') return false;
    port = std::uint16_t(value);
    return true;
}

bool parsePassiveAddress(const char* reply, std::uint8_t passiveAddress[6]) {
    const char* text = std::strchr(reply, '(');
    if (!text) return false;
    ++text;
    std::uint8_t numbers[6];
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && *text++ != ',') return false;
        while (*text == ' ') ++text;  // as scanf's %hhu allows
        unsigned value = 0;
        int digits = 0;
        for (; *text >= '0' && *text <= '9' && digits < 4; ++text, ++digits) value = value * 10 + unsigned(*text - '0');
        if (digits == 0 || value > 255) return false;
        numbers[i] = std::uint8_t(value);
    }
    passiveAddress[0] = numbers[4];
    passiveAddress[1] = numbers[5];
    std::memcpy(passiveAddress + 2, numbers, 4);
    return true;
}

namespace {

// Asks where a passive data connection goes. An IPv4 session asks with PASV as it always
// has, and with EPSV only once the server refused PASV as unknown (remembered for the
// session); an IPv6 session, which PASV cannot carry, asks with EPSV.
bool askPassiveAddress(FtpConnection* control, SocketAddress& target) {
    SocketAddress peer;
    const bool ipv6 = peerAddress(control->socket, peer) && peer.family() == AF_INET6;
    if (ipv6 || control->extendedPassive) return askExtendedPassive(control, target);
    if (askPassive(control, target)) return true;
    if (!refusedAsUnknown(control->reply)) return false;
    control->extendedPassive = 1;
    return askExtendedPassive(control, target);
}

}  // namespace

int openPassiveData(FtpConnection* control, FtpConnection** place, char type, ConnectionDirection direction,
                    std::string_view command) {
    if (!checkOpening(control, type, direction, command)) return 0;
    SocketAddress address;
    if (!askPassiveAddress(control, address)) return 0;
    if (!announceRestart(control)) return 0;

    int socket = newDataSocket(address.family());
    if (socket < 0) return 0;
    if (connectSocket(*control, socket, address) != ConnectResult::Connected) {
        setReply(control, "PASV Connect failed\n");
        closeSocket(socket);
        return 0;
    }
    if (sendLine(control, command) <= 0) {
        setReply(control, "Unable to issue STOR\n");
        closeSocket(socket);
        return 0;
    }
    if (!readReply('1', control)) {
        closeSocket(socket);
        return 0;
    }
    FtpConnection* data = newDataRecord(control, type, direction);
    if (!data) {
        setReply(control, "PASV Out of memory error\n");
        closeSocket(socket);
        return 0;
    }
    data->socket = socket;
    data->owner = control;
    *place = data;
    return 1;
}

int openActiveData(FtpConnection* control, FtpConnection** place, char type, ConnectionDirection direction,
                   std::string_view command) {
    if (!checkOpening(control, type, direction, command)) return 0;
    SocketAddress local;
    if (!localAddress(control->socket, local)) {
        debugLine("FTP:: getsockname");
        return 0;
    }
    int socket = newDataSocket(local.family());
    if (socket < 0) return 0;
    local.setPort(0);
    if (bind(socket, local.get(), local.size) != 0) {
        debugLine("FTP:: bind");
        closeSocket(socket);
        return 0;
    }
    if (listen(socket, 1) != 0) {
        debugLine("FTP:: listen");
        closeSocket(socket);
        return 0;
    }
    char portCommand[96];
    if (!localAddress(socket, local) || !formatPortCommand(local, portCommand, sizeof portCommand)) {
        closeSocket(socket);
        return 0;
    }
    if (!sendCommand(portCommand, '2', control) || !announceRestart(control)) {
        closeSocket(socket);
        return 0;
    }
    FtpConnection* data = newDataRecord(control, type, direction);
    if (!data) {
        closeSocket(socket);
        return 0;
    }
    if (!sendCommand(command, '1', control)) {
        closeSocket(socket);
        freeDataRecord(data);
        return 0;
    }
    data->socket = socket;
    *place = data;
    return 1;
}

int acceptData(FtpConnection* data, FtpConnection* control, int waitSeconds) {
    auto fail = [&](const char* text) {
        if (text) setReply(control, "%s", text);
        closeSocket(data->socket);
        return 0;
    };
    SocketAddress controlPeer;
    if (!peerAddress(control->socket, controlPeer)) return fail("Unknown Error");

    // Non-blocking, so that a connection that is gone before accept() cannot stall it.
    fcntl(data->socket, F_SETFL, fcntl(data->socket, F_GETFL) | O_NONBLOCK);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(waitSeconds);
    for (;;) {
        // A reply already read into the line buffer (it came in one segment with the
        // 1xx) is as ready as one still in the socket.
        const bool replyBuffered = control->available > 0 || tlsPending(control);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd sockets[2] = {{data->socket, POLLIN, 0}, {control->socket, POLLIN, 0}};
        const int ready = poll(sockets, 2, replyBuffered || left <= 0 ? 0 : int(std::min<long>(left, stopCheckMs)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return fail("Unknown Error");
        if (ready == 0 && !replyBuffered && stopAsked(*control)) return fail("stopped waiting for connection");
        if (ready == 0 && !replyBuffered && left > stopCheckMs) continue;
        if (ready == 0 && !replyBuffered) return fail("timed out waiting for connection");
        if (sockets[0].revents) {
            SocketAddress peer;
            const int accepted = keepOffDescriptorZero(accept4(data->socket, peer.get(), &peer.size, SOCK_CLOEXEC));
            if (accepted < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED)) continue;
            if (accepted < 0) return fail("Unknown Error");
            if (!peer.sameHost(controlPeer)) {
                // Someone else raced the server to our port: drop it and keep waiting.
                close(accepted);
                continue;
            }
            closeSocket(data->socket);
            data->socket = accepted;
            data->owner = control;
            return 1;
        }
        // The server answered instead of connecting: its line says why.
        fail(nullptr);
        readReply('2', control);
        return 0;
    }
}

int closeData(FtpConnection* data) {
    if (!data || data->direction == ConnectionDirection::Control) return 0;
    // close_notify first: it tells the server that an upload ended rather than broke off.
    endTls(data, data->direction == ConnectionDirection::Write);
    if (data->socket > 0) shutdown(data->socket, SHUT_RDWR);
    closeSocket(data->socket);
    FtpConnection* owner = data->owner;
    freeDataRecord(data);
    return owner ? readReply('2', owner) : 1;
}

}  // namespace ftp
