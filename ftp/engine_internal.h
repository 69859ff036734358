// Helpers shared by the engine's source files; not part of the engine's interface.
#pragma once

#include "ftp/ftp_session.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <optional>
#include <string_view>

namespace ftp::detail {

// The engine's diagnostic lines ("FTP:: ..."). They go to standard error only when the
// environment variable FARLINK_DEBUG is set, so they never reach a user's screen.
void debugLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

void setReply(FtpConnection* connection, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Refuses a text bound for a command line that holds CR, LF or NUL, which would let it
// smuggle in commands of its own. Returns false after setting the control's reply.
bool acceptCommandText(FtpConnection* control, std::string_view text);

// Sends TYPE `typeCharacter` unless the server is in that type already; a refusal
// forgets the type, so that the next transfer asks again.
bool useType(FtpConnection* control, char typeCharacter);

// One command line, "VERB" or "VERB argument", built without allocating.
struct CommandLine {
    char text[256];
    std::size_t length = 0;

    ~CommandLine();  // wipes the line: PASS carries the password

    // False (and nothing built) when the line would take 256 characters or more.
    bool set(std::string_view verb, std::optional<std::string_view> argument);
    std::string_view view() const { return {text, length}; }
};

// Sends `text` and CR LF in one send (through TLS when the connection has it); returns
// the bytes sent, or 0 or less on a failure.
long sendLine(FtpConnection* connection, std::string_view text);

// A TCP socket of `family` (AF_INET, AF_INET6) that is closed on exec and never
// descriptor 0 (0 means "no socket").
int newSocket(int family);
int keepOffDescriptorZero(int descriptor);
void closeSocket(int& socket);

// send() that never raises SIGPIPE and retries after a signal; `flags` are added.
long sendBytes(int socket, const void* data, std::size_t length, int flags = 0);

// What receiveWaiting and sendWaiting return when waitReady gave up.
inline constexpr long gaveUpWaiting = -2;

// One recv on the connection's socket, waiting as waitReady waits. With an idle callback
// the receive is tried without blocking first and waited on only when it would block,
// so data already there costs no poll. Returns recv's result (0 at the end of the
// stream, -1 on an error) or gaveUpWaiting.
long receiveWaiting(FtpConnection* connection, void* buffer, std::size_t capacity);
// Sends all `length` bytes, waiting the same way whenever the socket takes no more.
// Returns `length`, -1 on an error (errno says which) or gaveUpWaiting.
long sendWaiting(FtpConnection* connection, const void* data, std::size_t length);

// An IPv4 or IPv6 socket address.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t size = sizeof storage;

    int family() const { return storage.ss_family; }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    void setPort(std::uint16_t port);
    std::uint16_t port() const;
    // The same host (family and address), whatever the ports.
    bool sameHost(const SocketAddress& other) const;
};

// getpeername and getsockname into a SocketAddress; false when they fail.
bool peerAddress(int socket, SocketAddress& address);
bool localAddress(int socket, SocketAddress& address);

enum class ConnectResult { Connected, Failed, GaveUp };

// Connects `socket`; with an idle callback installed on `timing` the connect is
// non-blocking and waited on as waitReady waits, so the caller can bound it. GaveUp
// when the idle callback ended the wait, which leaves the caller no time for another try.
ConnectResult connectSocket(const FtpConnection& timing, int socket, const SocketAddress& address);

// PASV: the IPv4 address and port the server gives, the address replaced by the
// control connection's peer address when `usePeerAddress` is set.
bool askPassive(FtpConnection* control, SocketAddress& target);
// EPSV: the port the server gives, on the control connection's peer address.
// Both: false with the reply kept when the server refused or its answer is malformed.
bool askExtendedPassive(FtpConnection* control, SocketAddress& target);
// The command that tells a server where to connect: PORT for an IPv4 `listener`, EPRT
// for an IPv6 one. False when it cannot be written.
bool formatPortCommand(const SocketAddress& listener, char* command, std::size_t capacity);

// How a call of readLinePiece ended.
enum class LineEnd {
    Whole,        // a line with its LF
    Piece,        // the caller's buffer filled up first: the rest of the line follows
    EndOfStream,  // the stream ended (after the bytes stored, if any; else the result is -1)
    Failed,       // a receive error (-1)
    GaveUp,       // waitReady gave up (the bytes stored so far)
};

// receiveLine's work, saying how it ended: a caller that must tell the end of the data
// from a failure looks at `end`, since the count alone cannot say.
int readLinePiece(char* buffer, int capacity, FtpConnection* connection, LineEnd& end);

// Polls one socket for reading or writing; timeoutMs as poll(). Returns poll's result.
int pollSocket(int socket, bool forWriting, int timeoutMs);
int waitPeriodMs(const FtpConnection& connection);
// Whether the caller asked `connection` (or its control connection) to stop.
bool stopAsked(const FtpConnection& connection);
// Waits for `socket` as `timing` says: in slices of at most stopCheckMs, giving up on a
// stop, and calling the idle callback after each whole wait period without readiness.
// 1 when ready, 0 when it gave up, -1 when poll failed. Pre: `timing` has an idle callback.
int waitSocket(const FtpConnection& timing, int socket, bool forWriting);

// TLS on a connection (ftp_tls.cpp). A connection whose `tls` is set moves its bytes
// only through tlsReceive and tlsSend, which receiveWaiting and sendWaiting call; its
// socket is non-blocking while TLS is on it, and waits follow waitReady's rule.

// AUTH TLS on a greeted control connection, then the handshake and the certificate
// check. False with the reason in the control's reply (the server's refusal, or why the
// certificate was not accepted); the caller closes the connection.
bool startControlTls(FtpConnection* control, std::string_view host);
// The handshake on a connected data connection, resuming the control connection's TLS
// session, and the check that the server shows the same certificate. False with the
// reason in the control's reply; the caller closes the data connection.
bool startDataTls(FtpConnection* data, FtpConnection* control);
// Sends close_notify when the socket takes it at once, and frees the connection's TLS
// state. With `awaitPeer` it first reads until the peer ends its side too (as waits
// allow), which an upload needs to reach the server whole. The socket stays open.
void endTls(FtpConnection* connection, bool awaitPeer = false);
// As receiveWaiting: bytes, 0 at the peer's close_notify, -1 on an error or a stream
// cut without one, or gaveUpWaiting.
long tlsReceive(FtpConnection* connection, void* buffer, std::size_t capacity);
// As sendWaiting.
long tlsSend(FtpConnection* connection, const void* data, std::size_t length);
// Whether TLS holds decrypted bytes that no poll of the socket would announce.
bool tlsPending(const FtpConnection* connection);

}  // namespace ftp::detail
