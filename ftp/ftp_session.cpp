// The control connection: session records, connect and greeting, line and reply
// reading, command sending, translated writes and waits.
#include "ftp/ftp_session.h"

#include "ftp/engine_internal.h"
#include "ftp/ftp_tls.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace ftp {

namespace detail {

void debugLine(const char* format, ...) {
    if (!std::getenv("FARLINK_DEBUG")) return;
    char line[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    const std::size_t length = std::strlen(line);
    std::fprintf(stderr, length && line[length - 1] == '\n' ? "%s" : "%s\n", line);
}

void setReply(FtpConnection* connection, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(connection->reply, replySize, format, arguments);
    va_end(arguments);
}

bool acceptCommandText(FtpConnection* control, std::string_view text) {
    if (text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos) return true;
    setReply(control, "Invalid character in command argument\n");
    return false;
}

CommandLine::~CommandLine() { explicit_bzero(text, length); }

bool CommandLine::set(std::string_view verb, std::optional<std::string_view> argument) {
    const std::size_t needed = verb.size() + (argument ? 1 + argument->size() : 0);
    if (needed >= sizeof text) return false;
    verb.copy(text, verb.size());
    if (argument) {
        text[verb.size()] = ' ';
        argument->copy(text + verb.size() + 1, argument->size());
    }
    length = needed;
    return true;
}

long sendLine(FtpConnection* connection, std::string_view text) {
    // A server that answers at once never lets a wait time out, where the stop is heard
    // otherwise: a stopped caller sends nothing more but its QUIT.
    if (stopAsked(*connection) && text != "QUIT") {
        setReply(connection, "stopped before sending the next command\n");
        return -1;
    }
    if (connection->tls) {
        std::string line(text);
        line += "\r\n";
        const long sent = tlsSend(connection, line.data(), line.size());
        explicit_bzero(line.data(), line.size());  // PASS carries the password
        return sent;
    }
    iovec parts[2] = {{const_cast<char*>(text.data()), text.size()}, {const_cast<char*>("\r\n"), 2}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    long sent;
    do {
        sent = sendmsg(connection->socket, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

int keepOffDescriptorZero(int descriptor) {
    if (descriptor != 0) return descriptor;
    const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, 1);
    close(descriptor);
    return moved;
}

int newSocket(int family) { return keepOffDescriptorZero(socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP)); }

void closeSocket(int& socket) {
    if (socket > 0) close(socket);
    socket = 0;
}

long sendBytes(int socket, const void* data, std::size_t length, int flags) {
    long sent;
    do {
        sent = send(socket, data, length, flags | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

namespace {

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

long receiveWaiting(FtpConnection* connection, void* buffer, std::size_t capacity) {
    if (connection->tls) return tlsReceive(connection, buffer, capacity);
    const int flags = connection->idleCallback ? MSG_DONTWAIT : 0;
    for (;;) {
        const long received = recv(connection->socket, buffer, capacity, flags);
        if (received >= 0) return received;
        if (errno == EINTR) continue;
        if (!flags || !wouldBlock()) return -1;
        if (!waitReady(connection)) return gaveUpWaiting;
    }
}

long sendWaiting(FtpConnection* connection, const void* data, std::size_t length) {
    if (connection->tls) return tlsSend(connection, data, length);
    // A blocking send of a large buffer could stall on a peer that stops reading, past
    // any wait period: with an idle callback every send takes only what fits.
    const int flags = connection->idleCallback ? MSG_DONTWAIT : 0;
    std::size_t sent = 0;
    while (sent < length) {
        const long result = sendBytes(connection->socket, static_cast<const char*>(data) + sent, length - sent, flags);
        if (result > 0) {
            sent += std::size_t(result);
        } else if (result < 0 && flags && wouldBlock()) {
            if (!waitReady(connection)) return gaveUpWaiting;
        } else {
            return -1;
        }
    }
    return long(sent);
}

int pollSocket(int socket, bool forWriting, int timeoutMs) {
    pollfd entry{socket, short(forWriting ? POLLOUT : POLLIN), 0};
    int result;
    do {
        result = poll(&entry, 1, timeoutMs);
    } while (result < 0 && errno == EINTR);
    return result;
}

int waitPeriodMs(const FtpConnection& connection) {
    return connection.idleSeconds * 1000 + connection.idleMicroseconds / 1000;
}

bool stopAsked(const FtpConnection& connection) {
    const std::atomic<bool>* stop = connection.stop    ? connection.stop
                                    : connection.owner ? connection.owner->stop
                                                       : nullptr;
    return stop && stop->load();
}

int waitSocket(const FtpConnection& timing, int socket, bool forWriting) {
    const int period = std::max(waitPeriodMs(timing), 0);
    int silentMs = 0;
    for (;;) {
        const int slice = std::min(period - silentMs, stopCheckMs);
        const int ready = pollSocket(socket, forWriting, slice);
        if (ready != 0) return ready > 0 ? 1 : -1;
        if (stopAsked(timing)) return 0;
        silentMs += slice;
        if (silentMs < period) continue;
        silentMs = 0;
        if (!timing.idleCallback(timing.callbackContext)) return 0;
    }
}

void SocketAddress::setPort(std::uint16_t port) {
    if (family() == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = htons(port);
    } else {
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = htons(port);
    }
}

std::uint16_t SocketAddress::port() const {
    if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

bool SocketAddress::sameHost(const SocketAddress& other) const {
    if (family() != other.family()) return false;
    if (family() == AF_INET6) {
        const auto& mine = reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr;
        const auto& theirs = reinterpret_cast<const sockaddr_in6*>(&other.storage)->sin6_addr;
        return std::memcmp(&mine, &theirs, sizeof mine) == 0;
    }
    return reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in*>(&other.storage)->sin_addr.s_addr;
}

bool peerAddress(int socket, SocketAddress& address) {
    address.size = sizeof address.storage;
    return getpeername(socket, address.get(), &address.size) == 0;
}

bool localAddress(int socket, SocketAddress& address) {
    address.size = sizeof address.storage;
    return getsockname(socket, address.get(), &address.size) == 0;
}

ConnectResult connectSocket(const FtpConnection& timing, int socket, const SocketAddress& address) {
    if (!timing.idleCallback) {
        return connect(socket, address.get(), address.size) == 0 ? ConnectResult::Connected : ConnectResult::Failed;
    }

    const int flags = fcntl(socket, F_GETFL);
    fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    ConnectResult result = connect(socket, address.get(), address.size) == 0 ? ConnectResult::Connected
                                                                             : ConnectResult::Failed;
    if (result == ConnectResult::Failed && errno == EINPROGRESS) {
        const int ready = waitSocket(timing, socket, true);
        if (ready == 0) result = ConnectResult::GaveUp;
        int error = 0;
        socklen_t size = sizeof error;
        if (ready > 0 && getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0) {
            result = ConnectResult::Connected;
        }
    }
    fcntl(socket, F_SETFL, flags);
    return result;
}

}  // namespace detail

using namespace detail;

namespace {

void resetLineBuffer(FtpConnection* connection) {
    connection->getPos = connection->putPos = connection->buffer;
    connection->available = 0;
    connection->spaceLeft = lineBufferSize;
}

void closeControl(FtpConnection* control) {
    endTls(control);
    closeSocket(control->socket);
}

bool isControl(const FtpConnection* connection) {
    return connection && connection->direction == ConnectionDirection::Control;
}

enum class StageResult { Sent, GaveUp, ShortSend };

// Sends the bytes staged by writeTranslated; `step` names the place in its diagnostics.
StageResult sendStage(FtpConnection* connection, int length, int step) {
    const long sent = sendWaiting(connection, connection->buffer, std::size_t(length));
    if (sent == length) return StageResult::Sent;
    if (sent == gaveUpWaiting) return StageResult::GaveUp;
    debugLine("write(%d) returned %ld, errno = %d\n", step, sent, errno);
    return StageResult::ShortSend;
}

// Fails an open: closes the socket and leaves `text` as the reason.
int failOpen(FtpConnection* control, const char* text, const char* debugText) {
    setReply(control, "%s", text);
    debugLine("%s", debugText);
    closeControl(control);
    return 0;
}

struct OpenFailure {
    const char* text;
    const char* debugText;
};
constexpr OpenFailure noSocket{"unable to create socket.\n", "FTP:: socket"};
constexpr OpenFailure noSocketOptions{"unable to set socket options.\n", "FTP:: setsockopt"};
constexpr OpenFailure connectFailed{"unable to connect to server.\n", "FTP:: connect"};

// The port: the digits after the ':', read modulo 65536 up to the first other
// character. False when no digit follows the ':'.
bool readPort(std::string_view text, unsigned& port) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    port = 0;
    for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        port = (port * 10 + unsigned(text[i] - '0')) % 65536;
    }
    return true;
}

// Splits "name", "name:port", "[address]", "[address]:port" or a bare IPv6 address
// (two or more ':' and no brackets, so no port) into host and port; `port` keeps its
// default when the text has none. False when the port is not a number. A '[' without
// its ']', or anything but ":port" after it, leaves a host that does not resolve.
bool splitHostAndPort(std::string_view text, std::string& host, unsigned& port) {
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            host = text;
            return true;
        }
        host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (rest.empty()) return true;
        if (rest[0] != ':') {
            host = text;
            return true;
        }
        return readPort(rest.substr(1), port);
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
        host = text;
        return true;
    }
    host = text.substr(0, colon);
    return readPort(text.substr(colon + 1), port);
}

// A dotted IPv4 address as itself; anything else through the resolver, both families.
std::vector<SocketAddress> resolveHost(const std::string& host) {
    std::vector<SocketAddress> addresses;
    if (const in_addr_t ipv4 = inet_addr(host.c_str()); ipv4 != INADDR_NONE) {
        SocketAddress& address = addresses.emplace_back();
        auto* ipv4Address = reinterpret_cast<sockaddr_in*>(&address.storage);
        ipv4Address->sin_family = AF_INET;
        ipv4Address->sin_addr.s_addr = ipv4;
        address.size = sizeof *ipv4Address;
        return addresses;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
    for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        SocketAddress& address = addresses.emplace_back();
        std::memcpy(&address.storage, entry->ai_addr, entry->ai_addrlen);
        address.size = entry->ai_addrlen;
    }
    freeaddrinfo(found);
    return addresses;
}

}  // namespace

FtpSession createSession() {
    FtpSession session;
    auto* control = new (std::nothrow) FtpConnection{};
    char* buffer = control ? new (std::nothrow) char[lineBufferSize] : nullptr;
    if (!buffer) {
        debugLine("FTP:: Memory Error");
        delete control;
        return session;
    }
    control->buffer = buffer;
    session.control = control;
    return session;
}

void release(FtpSession& session) {
    if (!session.control) return;
    closeControl(session.control);
    delete[] session.control->buffer;
    delete session.control;
    session.control = nullptr;
}

void setConnectionMode(FtpSession& session, ConnectionMode mode) {
    if (session.control) session.control->mode = mode;
}

const char* lastReply(const FtpSession& session) {
    return isControl(session.control) ? session.control->reply : nullptr;
}

int openControl(FtpSession& session, std::string_view hostText) {
    FtpConnection* control = session.control;
    if (!control) return 0;
    control->direction = ConnectionDirection::Control;
    control->owner = nullptr;
    control->transferred = 0;
    control->sinceProgress = 0;
    control->restartOffset = 0;
    control->extendedPassive = 0;
    control->currentType = 0;
    control->features = 0;
    control->unverifiedFingerprint[0] = '\0';
    closeControl(control);
    resetLineBuffer(control);

    const bool explicitTls = wantsExplicitTls(hostText);
    if (explicitTls) hostText.remove_prefix(explicitTlsPrefix.size());
    std::string host;
    unsigned port = defaultPort;
    if (!splitHostAndPort(hostText, host, port)) {
        return failOpen(control, "unable to get port number.\n", "FTP:: getservbyname");
    }
    std::vector<SocketAddress> addresses = resolveHost(host);
    if (addresses.empty()) return failOpen(control, "unable to resolve host address.\n", "FTP:: getaddrinfo");

    // The addresses in the resolver's order; the next one only after a failure that
    // left time for it.
    const OpenFailure* failure = &connectFailed;
    for (SocketAddress& address : addresses) {
        address.setPort(std::uint16_t(port));
        control->socket = newSocket(address.family());
        if (control->socket < 0) {
            control->socket = 0;
            failure = &noSocket;
            continue;
        }
        const int on = 1;
        if (setsockopt(control->socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
            closeSocket(control->socket);
            failure = &noSocketOptions;
            continue;
        }
        const ConnectResult result = connectSocket(*control, control->socket, address);
        if (result == ConnectResult::Connected) break;
        closeSocket(control->socket);
        failure = &connectFailed;
        if (result == ConnectResult::GaveUp) break;
    }
    if (control->socket == 0) return failOpen(control, failure->text, failure->debugText);
    if (!readReply('2', control) || (explicitTls && !startControlTls(control, host))) {
        closeControl(control);
        return 0;
    }
    return 1;
}

namespace detail {

int readLinePiece(char* buffer, int capacity, FtpConnection* connection, LineEnd& end) {
    end = LineEnd::Failed;
    if (!connection || !connection->buffer || connection->socket <= 0 ||
        connection->direction == ConnectionDirection::Write) {
        return -1;
    }
    end = LineEnd::Piece;
    if (capacity <= 0) return 0;
    int count = 0;
    bool endOfStream = false;
    buffer[0] = '\0';
    for (;;) {
        if (connection->available > 0) {
            const int room = capacity - 1 - count;
            const int limit = connection->available < room ? connection->available : room;
            const auto* lineFeed = static_cast<const char*>(std::memchr(connection->getPos, '\n', std::size_t(limit)));
            const int taken = lineFeed ? int(lineFeed - connection->getPos) + 1 : limit;
            std::memcpy(buffer + count, connection->getPos, std::size_t(taken));
            count += taken;
            buffer[count] = '\0';
            connection->getPos += taken;
            connection->available -= taken;
            if (lineFeed) break;
        }
        if (count == capacity - 1) return count;
        if (connection->getPos == connection->putPos) resetLineBuffer(connection);
        if (endOfStream) {
            end = LineEnd::EndOfStream;
            return count ? count : -1;
        }
        const long received = receiveWaiting(connection, connection->putPos, std::size_t(connection->spaceLeft));
        if (received == gaveUpWaiting) {
            end = LineEnd::GaveUp;
            return count;
        }
        if (received < 0) {
            debugLine("FTP:: Readline Read Error");
            end = LineEnd::Failed;
            return -1;
        }
        if (connection->direction == ConnectionDirection::Control && connection->traceCallback && received > 0) {
            char chunk[lineBufferSize + 1];
            std::memcpy(chunk, connection->putPos, std::size_t(received));
            chunk[received] = '\0';
            connection->traceCallback(chunk, connection->callbackContext, 1);
        }
        connection->putPos += received;
        connection->available += int(received);
        connection->spaceLeft -= int(received);
        endOfStream = received == 0;
    }
    end = LineEnd::Whole;
    if (count >= 2 && buffer[count - 2] == '\r') {
        buffer[count - 2] = '\n';
        buffer[--count] = '\0';
    }
    return count;
}

}  // namespace detail

int receiveLine(char* buffer, int capacity, FtpConnection* connection) {
    LineEnd end;
    return readLinePiece(buffer, capacity, connection, end);
}

namespace {

// Reads one reply line into `reply`. A line longer than `reply` keeps its first piece,
// which holds the code; the rest is dropped through its LF, or it would be read as the
// next line (or the next command's reply). Returns the length, or -1 when no line came.
int readReplyLine(FtpConnection* connection) {
    LineEnd end;
    const int length = readLinePiece(connection->reply, replySize, connection, end);
    LineEnd restEnd = end;
    // The dropped rest is bounded too: one endless line must not hold the caller either.
    for (int dropped = 0; restEnd == LineEnd::Piece;) {
        char rest[replySize];
        if (stopAsked(*connection)) {
            setReply(connection, "stopped while reading the server's reply\n");
            return -1;
        }
        if (dropped > maxReplyBytes) {
            setReply(connection, "The server's reply line went on beyond %d bytes; gave up reading it\n",
                     maxReplyBytes);
            return -1;
        }
        dropped += std::max(readLinePiece(rest, sizeof rest, connection, restEnd), 0);
    }
    if (end == LineEnd::GaveUp || restEnd == LineEnd::GaveUp) {
        // Half a line must not pass for a reply.
        setReply(connection, "timed out waiting for the server's reply\n");
        return -1;
    }
    return length;
}

}  // namespace

int readReply(char expectedClass, FtpConnection* connection, ReplyLineCallback onLine, void* lineContext) {
    if (!connection) return 0;
    const int length = readReplyLine(connection);
    if (length >= 0 && onLine) onLine(connection->reply, lineContext);
    if (length == -1) {
        debugLine("FTP:: Control socket read failed.");
        // A connection that ended or broke leaves no line: say so rather than nothing.
        if (connection->reply[0] == '\0') setReply(connection, "The connection to the server was lost\n");
        return 0;
    }
    if (length >= 4 && connection->reply[3] == '-') {
        const char endMarker[4] = {connection->reply[0], connection->reply[1], connection->reply[2], ' '};
        int lines = 1;
        int bytes = length;
        do {
            if (stopAsked(*connection)) {
                setReply(connection, "stopped while reading the server's reply\n");
                return 0;
            }
            if (++lines > maxReplyLines || bytes > maxReplyBytes) {
                setReply(connection, "The server's reply went on beyond %d lines or %d bytes; gave up reading it\n",
                         maxReplyLines, maxReplyBytes);
                return 0;
            }
            const int lineLength = readReplyLine(connection);
            if (lineLength == -1) {
                debugLine("FTP:: Control socket read 2 failed.");
                return 0;
            }
            if (onLine) onLine(connection->reply, lineContext);
            bytes += lineLength;
        } while (std::memcmp(connection->reply, endMarker, 4) != 0);
    }
    return connection->reply[0] == expectedClass;
}

int sendCommand(std::string_view command, char expectedClass, FtpConnection* connection, ReplyLineCallback onLine,
                void* lineContext) {
    if (!isControl(connection) || connection->socket == 0) return 0;
    if (!acceptCommandText(connection, command)) return 0;
    if (sendLine(connection, command) <= 0) {
        debugLine("FTP:: write");
        return 0;
    }
    if (connection->traceCallback) {
        char line[lineBufferSize];  // the trace wants a NUL-terminated text
        const std::size_t length = command.copy(line, sizeof line - 1);
        line[length] = '\0';
        connection->traceCallback(line, connection->callbackContext, 0);
    }
    return readReply(expectedClass, connection, onLine, lineContext);
}

int writeTranslated(const char* data, int length, FtpConnection* connection) {
    if (!connection || !connection->buffer || connection->direction != ConnectionDirection::Write) return -1;
    if (length < 1) return length;
    int staged = 0;
    int sentInput = 0;  // input bytes whose translation has gone out
    for (int i = 0; i < length; ++i) {
        const bool needsCr = data[i] == '\n' && (i == 0 || data[i - 1] != '\r');
        for (int part = needsCr ? 0 : 1; part < 2; ++part) {
            if (staged == lineBufferSize) {
                const StageResult result = sendStage(connection, staged, part == 0 ? 1 : 2);
                if (result != StageResult::Sent) return result == StageResult::GaveUp ? sentInput : -1;
                staged = 0;
                sentInput = i;
            }
            connection->buffer[staged++] = part == 0 ? '\r' : data[i];
        }
    }
    const StageResult result = sendStage(connection, staged, 3);
    if (result != StageResult::Sent) return result == StageResult::GaveUp ? sentInput : -1;
    return length;
}

int waitReady(FtpConnection* connection) {
    if (!connection->idleCallback) return 1;
    const int ready = waitSocket(*connection, connection->socket, connection->direction == ConnectionDirection::Write);
    if (ready < 0) {
        FtpConnection* control = connection->direction == ConnectionDirection::Control ? connection : connection->owner;
        if (control) setReply(control, "Unknown Error");
        return 0;
    }
    return ready;
}

int copyPeerAddress(FtpConnection* control, std::uint8_t passiveAddress[6]) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (getpeername(control->socket, reinterpret_cast<sockaddr*>(&peer), &size) != 0 || peer.sin_family != AF_INET) {
        debugLine("FTP:: getpeername");
        closeSocket(control->socket);
        return 0;
    }
    std::memcpy(passiveAddress + 2, &peer.sin_addr.s_addr, 4);
    return 1;
}

}  // namespace ftp
