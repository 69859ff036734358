// The FTP engine's session and connection record, and the control connection:
// opening it, reading lines and replies, sending commands, waiting on sockets.
// The engine speaks 8-bit text, keeps no global state and takes no locks: a session
// and its connections are used by one thread at a time. Results: 1 success, 0 failure;
// the reason of a failure is in the control connection's `reply` (`lastReply`).
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace ftp {

enum class ConnectionDirection : std::int32_t { Control = 0, Read = 1, Write = 2 };
enum class ConnectionMode : std::int32_t { Passive = 1, Active = 2 };

// Called with each line of a reply as it is read (NUL-terminated, its LF kept).
using ReplyLineCallback = void (*)(const char* line, void* context);
// Called whenever `sinceProgress` exceeds `progressInterval`; returning 0 cancels.
using ProgressCallback = int (*)(std::int64_t transferred, void* context, std::int32_t interval,
                                 std::int32_t sinceProgress);
// Called each time a wait period passes without the socket becoming ready; 0 gives up.
using IdleCallback = int (*)(void* context);
// Called with each command line sent (received 0) and each chunk received (received 1).
using TraceCallback = void (*)(const char* text, void* context, int received);

inline constexpr int lineBufferSize = 1024;
// A wait checks the connection's stop flag at least this often.
inline constexpr int stopCheckMs = 250;
// A reply longer than this, in lines or in bytes, is no reply: a server that streams
// lines for ever must not hold the caller.
inline constexpr int maxReplyLines = 1000;
inline constexpr int maxReplyBytes = 64 * 1024;
inline constexpr int replySize = 256;
inline constexpr int defaultPort = 21;
// A SHA-256 fingerprint as "AB:CD:...": 32 bytes, 95 characters, and the NUL.
inline constexpr int fingerprintSize = 96;

// A connection's TLS state (ftp_tls.cpp).
struct TlsChannel;

// One connection: the control connection, or the data connection of one transfer.
struct FtpConnection {
    char* putPos = nullptr;  // where the next received bytes go
    char* getPos = nullptr;  // first byte not yet handed out
    int socket = 0;          // 0: none
    std::int32_t available = 0;
    std::int32_t spaceLeft = 0;
    char* buffer = nullptr;  // lineBufferSize bytes; control and type 'A' data connections
    ConnectionDirection direction = ConnectionDirection::Control;
    FtpConnection* owner = nullptr;  // a data connection's control connection
    ConnectionMode mode = ConnectionMode::Passive;
    std::int32_t idleSeconds = 0;
    std::int32_t idleMicroseconds = 0;
    ProgressCallback progressCallback = nullptr;
    IdleCallback idleCallback = nullptr;
    TraceCallback traceCallback = nullptr;
    void* callbackContext = nullptr;
    // Set by the caller (null: none): once it is true, every wait of a connection with an
    // idle callback, and the reading of a reply, give up within stopCheckMs. Data
    // connections take their control connection's.
    const std::atomic<bool>* stop = nullptr;
    std::int64_t transferred = 0;
    std::int32_t progressInterval = 0;
    std::int32_t sinceProgress = 0;
    char reply[replySize] = {};       // last reply line, or the engine's own failure text
    std::int64_t restartOffset = 0;   // announced with REST before the next transfer
    std::uint8_t usePeerAddress = 0;  // passive data goes to the control peer's address
    // The server refused PASV as unknown: passive data of this session uses EPSV.
    std::uint8_t extendedPassive = 0;
    // Control only: the TYPE the server last accepted (0: none yet), so that a transfer
    // of the same type sends none; and what FEAT said (featuresAsked and the features
    // found), asked once per connection. Both start over with each open.
    char currentType = 0;
    std::uint8_t features = 0;
    TlsChannel* tls = nullptr;  // null: clear text
    // Control only: the certificate accepted beyond the trust store, and the one that
    // made the last open fail; empty: none.
    char trustedFingerprint[fingerprintSize] = {};
    char unverifiedFingerprint[fingerprintSize] = {};
};

// What a caller holds for one server. The caller owns the object; `control` is owned
// by the session (null when its allocation failed).
struct FtpSession {
    FtpConnection* control = nullptr;
};

FtpSession createSession();
// Frees the control record. Pre: the connection was closed with `quit` (a socket
// still open is closed without a word to the server).
void release(FtpSession& session);
void setConnectionMode(FtpSession& session, ConnectionMode mode);
// The control connection's last reply or failure text; null without a control record.
const char* lastReply(const FtpSession& session);

// Connects to "host", "host:port", "[IPv6 address]", "[IPv6 address]:port" or a bare
// IPv6 address (two or more ':', no port); port 21 by default. A name is tried at each
// of its addresses, IPv4 and IPv6, in the resolver's order, until one connects or a
// wait gives up. Reads the greeting: 1 when greeted with a 2xx reply. The session's
// data connections take the family of the address it connected to. After a "ftpes://"
// prefix the connection is then secured with AUTH TLS (ftp_tls.h); a refusal fails the
// open with the server's reply.
int openControl(FtpSession& session, std::string_view host);

// Sends `command` plus CR LF on a control connection and reads the reply; 1 when the
// reply's class (its first character) is `expectedClass`.
int sendCommand(std::string_view command, char expectedClass, FtpConnection* connection,
                ReplyLineCallback onLine = nullptr, void* lineContext = nullptr);
// Reads one reply (all lines of a multi-line one) into `reply`, which keeps its last line;
// `onLine` (when given) sees every line. A reply of more than maxReplyLines lines or
// maxReplyBytes bytes fails, as does a stop.
int readReply(char expectedClass, FtpConnection* connection, ReplyLineCallback onLine = nullptr,
              void* lineContext = nullptr);
// Reads one line into `buffer` (NUL-terminated, CR LF turned into LF); a line longer
// than capacity - 1 comes in pieces. Returns the bytes stored, or -1 on an error or at
// the end of the stream with nothing read.
int receiveLine(char* buffer, int capacity, FtpConnection* connection);
// Sends `data` on a Write connection, LF becoming CR LF. Returns `length`, -1 on a
// short send, or the bytes consumed when `waitReady` gives up.
int writeTranslated(const char* data, int length, FtpConnection* connection);
// Waits until the socket is ready, calling the idle callback after each wait period
// without readiness, and giving up when it returns 0 or the stop flag is set. Without an
// idle callback it returns 1 at once.
int waitReady(FtpConnection* connection);
// Replaces bytes 2-5 of a passive address (port high, port low, IPv4 address) with
// the control connection's peer address. On failure (an IPv6 peer among them) the
// control socket is closed.
int copyPeerAddress(FtpConnection* control, std::uint8_t passiveAddress[6]);

}  // namespace ftp
