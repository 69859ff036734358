// SFTP (version 3 of the file transfer protocol) spoken by the engine itself over the
// session's SSH channel, because libssh 0.10's own SFTP calls cannot keep writes in
// flight and keep its channel window small: requests carry ids of their own and go out
// as the channel's window takes them; replies are read as they come, in any order, and
// one whose request was given up is dropped when it arrives. Waits are slices of at most
// 100 ms: the stop flag is heard between them and the silence limit counted from the
// last byte heard. Only the engine's own sources include this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sftp {

struct SftpSession;

// Message types.
enum : std::uint8_t {
    fxpInit = 1,
    fxpVersion = 2,
    fxpOpen = 3,
    fxpClose = 4,
    fxpRead = 5,
    fxpWrite = 6,
    fxpLstat = 7,
    fxpFstat = 8,
    fxpSetstat = 9,
    fxpFsetstat = 10,
    fxpOpendir = 11,
    fxpReaddir = 12,
    fxpRemove = 13,
    fxpMkdir = 14,
    fxpRmdir = 15,
    fxpStat = 17,
    fxpRename = 18,
    fxpStatus = 101,
    fxpHandle = 102,
    fxpData = 103,
    fxpName = 104,
    fxpAttrs = 105,
    fxpExtended = 200,
};

// Status codes (those past 8 belong to later versions; some servers send them anyway).
enum : std::uint32_t {
    fxOk = 0,
    fxEof = 1,
    fxNoSuchFile = 2,
    fxPermissionDenied = 3,
    fxFailure = 4,
    fxBadMessage = 5,
    fxNoConnection = 6,
    fxConnectionLost = 7,
    fxOperationUnsupported = 8,
    fxInvalidHandle = 9,
    fxNoSuchPath = 10,
    fxFileAlreadyExists = 11,
    fxWriteProtect = 12,
    fxNoMedia = 13,
};

// Open flags.
enum : std::uint32_t { openRead = 0x1, openWrite = 0x2, openCreate = 0x8, openTruncate = 0x10 };

// What the server says of a file; `flags` tells which fields it gave.
struct Attributes {
    enum : std::uint32_t { size = 0x1, owners = 0x2, permissions = 0x4, times = 0x8, extended = 0x80000000 };
    std::uint32_t flags = 0;
    std::uint64_t bytes = 0;
    std::uint32_t mode = 0;  // permissions and kind, as stat's st_mode
    std::uint32_t accessTime = 0;
    std::uint32_t modificationTime = 0;

    // The kind from the mode; a server that gives no mode gives no kind.
    bool isFolder() const;
    bool isRegularFile() const;
    bool isLink() const;
};

// One request as it is written: its length (set by finish), type and id, then its fields.
class Request {
public:
    Request(std::uint8_t type, std::uint32_t id);
    Request& number(std::uint32_t value);
    Request& number64(std::uint64_t value);
    Request& text(std::string_view value);  // its length, then its bytes
    Request& attributes(const Attributes& value);
    // The whole message.
    const std::string& finish();
    std::uint32_t id() const { return id_; }

private:
    std::string bytes_;
    std::uint32_t id_;
};

// The fields of a reply, read in order. A read past the end gives zeros or empty text
// and leaves broken() set.
class Fields {
public:
    explicit Fields(std::string_view bytes = {}) : rest_(bytes) {}
    std::uint32_t number();
    std::uint64_t number64();
    std::string_view text();
    Attributes attributes();
    bool broken() const { return broken_; }

private:
    std::string_view rest_;
    bool broken_ = false;
};

// A reply: its type and the id of its request (for VERSION, the version), and the fields
// after them, which stay readable until the next receive.
struct Reply {
    std::uint8_t type = 0;
    std::uint32_t id = 0;
    Fields fields;
};

// The waits' slice: a stop is heard within it.
inline constexpr int waitSliceMs = 100;

// Sends INIT on the channel just opened and reads VERSION, noting the extensions the
// server offers. 0 with the error set.
int startProtocol(SftpSession& session);
// A new request of `type` with the session's next id.
Request newRequest(SftpSession& session, std::uint8_t type);
// Queues the request to go out as the channel takes it; returns its id.
std::uint32_t post(SftpSession& session, Request& request);
// The next reply whose request was not given up, waiting for it in slices while the
// queued requests go out. False when the wait ended the connection: a stop, the silence
// limit, or the connection failing (the error set, the session lost).
bool receive(SftpSession& session, Reply& reply);
// The reply to `id`, other replies dropped: for requests made one at a time.
bool receiveFor(SftpSession& session, std::uint32_t id, Reply& reply);
// Drops the reply to `id` when it arrives.
void giveUp(SftpSession& session, std::uint32_t id);
// One request answered by one reply. False as receive, and for a reply that is broken.
bool call(SftpSession& session, Request& request, Reply& reply);

// The status of a STATUS reply; fxBadMessage for a reply of another type, or broken.
std::uint32_t statusOf(const Reply& reply);
// A failed request's reason: the server's message, else the status's name (as libssh
// named the codes), or "Bad message" for an unexpected reply.
std::string statusReason(const Reply& reply);
// Records statusReason as the last error. Returns 0.
int failWithReply(SftpSession& session, const Reply& reply);
const char* statusText(std::uint32_t status);

}  // namespace sftp
