#include "sftp/sftp_protocol.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "sftp/sftp_internal.h"

namespace sftp {

namespace {

constexpr std::uint32_t protocolVersion = 3;
// Larger replies are refused; OpenSSH's server sends at most 256 KiB.
constexpr std::size_t largestReply = 1 << 20;
// What the server may send while earlier replies wait here: the channel's window.
constexpr std::size_t channelWindow = 8 << 20;
constexpr std::size_t inboxCapacity = channelWindow + largestReply;

void putNumber(std::string& bytes, std::uint32_t value) {
    const char big[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    bytes.append(big, 4);
}

std::uint32_t readNumber(const char* bytes) {
    const auto* unsigned_ = reinterpret_cast<const unsigned char*>(bytes);
    return std::uint32_t(unsigned_[0]) << 24 | std::uint32_t(unsigned_[1]) << 16 | std::uint32_t(unsigned_[2]) << 8 |
           unsigned_[3];
}

// Writes what the channel's window takes of the outbox, without waiting. False when the
// connection failed.
bool flushOutbox(SftpSession& session) {
    Traffic& traffic = session.traffic;
    while (traffic.outboxSent < traffic.outbox.size()) {
        const std::size_t left = traffic.outbox.size() - traffic.outboxSent;
        const int written = ssh_channel_write(session.channel, traffic.outbox.data() + traffic.outboxSent,
                                              std::uint32_t(std::min<std::size_t>(left, 1 << 20)));
        if (written < 0) return loseConnection(session, ssh_get_error(session.ssh));
        if (written == 0) break;  // the window is shut until the server reads on
        traffic.outboxSent += std::size_t(written);
    }
    if (traffic.outboxSent == traffic.outbox.size()) {
        traffic.outbox.clear();
        traffic.outboxSent = 0;
    } else if (traffic.outboxSent > (1 << 20)) {
        traffic.outbox.erase(0, traffic.outboxSent);
        traffic.outboxSent = 0;
    }
    return true;
}

// Reads what has come into the inbox, waiting at most `waitMs` for something. The size
// asked of libssh is the room left here, and libssh widens the channel's window to it:
// so the server may send as much as fits. False when the connection failed.
bool fillInbox(SftpSession& session, int waitMs) {
    Traffic& traffic = session.traffic;
    if (!traffic.inbox) traffic.inbox.reset(new char[inboxCapacity]);
    if (traffic.inboxStart > 0 && inboxCapacity - traffic.inboxEnd < largestReply) {
        std::memmove(traffic.inbox.get(), traffic.inbox.get() + traffic.inboxStart,
                     traffic.inboxEnd - traffic.inboxStart);
        traffic.inboxEnd -= traffic.inboxStart;
        traffic.inboxStart = 0;
    }
    const int got = ssh_channel_read_timeout(session.channel, traffic.inbox.get() + traffic.inboxEnd,
                                             std::uint32_t(inboxCapacity - traffic.inboxEnd), 0, waitMs);
    if (got < 0) return loseConnection(session, ssh_get_error(session.ssh));
    if (got == 0 && ssh_channel_is_eof(session.channel)) return loseConnection(session, "Connection lost");
    if (got > 0) {
        traffic.inboxEnd += std::size_t(got);
        traffic.lastHeard = std::chrono::steady_clock::now();
    }
    return true;
}

// Takes the next whole reply from the inbox. -1 for one too short or too long to be a reply.
int takeReply(SftpSession& session, Reply& reply) {
    Traffic& traffic = session.traffic;
    const std::size_t buffered = traffic.inboxEnd - traffic.inboxStart;
    if (buffered < 4) return 0;
    const char* start = traffic.inbox.get() + traffic.inboxStart;
    const std::size_t length = readNumber(start);
    if (length < 5 || length > largestReply) return -1;
    if (buffered < 4 + length) return 0;
    reply.type = std::uint8_t(start[4]);
    reply.id = readNumber(start + 5);
    reply.fields = Fields(std::string_view(start + 9, length - 5));
    traffic.inboxStart += 4 + length;
    if (traffic.inboxStart == traffic.inboxEnd) traffic.inboxStart = traffic.inboxEnd = 0;
    return 1;
}

}  // namespace

bool Attributes::isFolder() const { return (flags & permissions) && S_ISDIR(mode); }
bool Attributes::isRegularFile() const { return (flags & permissions) && S_ISREG(mode); }
bool Attributes::isLink() const { return (flags & permissions) && S_ISLNK(mode); }

Request::Request(std::uint8_t type, std::uint32_t id) : id_(id) {
    bytes_.assign(4, '\0');
    bytes_ += char(type);
    if (type != fxpInit) putNumber(bytes_, id);
}

Request& Request::number(std::uint32_t value) {
    putNumber(bytes_, value);
    return *this;
}

Request& Request::number64(std::uint64_t value) {
    putNumber(bytes_, std::uint32_t(value >> 32));
    putNumber(bytes_, std::uint32_t(value));
    return *this;
}

Request& Request::text(std::string_view value) {
    putNumber(bytes_, std::uint32_t(value.size()));
    bytes_ += value;
    return *this;
}

Request& Request::attributes(const Attributes& value) {
    number(value.flags);
    if (value.flags & Attributes::size) number64(value.bytes);
    if (value.flags & Attributes::permissions) number(value.mode);
    if (value.flags & Attributes::times) number(value.accessTime).number(value.modificationTime);
    return *this;
}

const std::string& Request::finish() {
    const std::uint32_t length = std::uint32_t(bytes_.size() - 4);
    for (int index = 0; index < 4; ++index) bytes_[std::size_t(index)] = char(length >> (24 - 8 * index));
    return bytes_;
}

std::uint32_t Fields::number() {
    if (rest_.size() < 4) {
        broken_ = true;
        rest_ = {};
        return 0;
    }
    const std::uint32_t value = readNumber(rest_.data());
    rest_.remove_prefix(4);
    return value;
}

std::uint64_t Fields::number64() {
    const std::uint64_t high = number();
    return high << 32 | number();
}

std::string_view Fields::text() {
    const std::size_t length = number();
    if (length > rest_.size()) {
        broken_ = true;
        rest_ = {};
        return {};
    }
    const std::string_view value = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return value;
}

Attributes Fields::attributes() {
    Attributes value;
    value.flags = number();
    if (value.flags & Attributes::size) value.bytes = number64();
    if (value.flags & Attributes::owners) number64();
    if (value.flags & Attributes::permissions) value.mode = number();
    if (value.flags & Attributes::times) {
        value.accessTime = number();
        value.modificationTime = number();
    }
    if (value.flags & Attributes::extended) {
        for (std::uint32_t count = number(); count > 0 && !broken_; --count) {
            text();
            text();
        }
    }
    return value;
}

Request newRequest(SftpSession& session, std::uint8_t type) { return Request(type, session.traffic.nextId++); }

std::uint32_t post(SftpSession& session, Request& request) {
    session.traffic.outbox += request.finish();
    return request.id();
}

bool receive(SftpSession& session, Reply& reply) {
    for (;;) {
        if (!session.channel) return loseConnection(session, "Not connected");
        if (!flushOutbox(session)) return false;
        const int taken = takeReply(session, reply);
        if (taken < 0) return loseConnection(session, "Bad message");
        if (taken > 0) {
            if (reply.type == fxpVersion || session.traffic.givenUp.erase(reply.id) == 0) return true;
            // A handle opened for a request given up is closed, so that none is left open.
            if (reply.type == fxpHandle) {
                Request closing = newRequest(session, fxpClose);
                closing.text(reply.fields.text());
                giveUp(session, post(session, closing));
            }
            continue;
        }
        if (stopAsked(session)) return loseConnection(session, "Stopped");
        if (std::chrono::steady_clock::now() - session.traffic.lastHeard > session.silenceLimit)
            return loseConnection(session, silenceText(session));
        if (!fillInbox(session, waitSliceMs)) return false;
    }
}

bool receiveFor(SftpSession& session, std::uint32_t id, Reply& reply) {
    while (receive(session, reply)) {
        if (reply.id == id) return true;
    }
    return false;
}

void giveUp(SftpSession& session, std::uint32_t id) { session.traffic.givenUp.insert(id); }

bool call(SftpSession& session, Request& request, Reply& reply) {
    const std::uint32_t id = post(session, request);
    return receiveFor(session, id, reply);
}

std::uint32_t statusOf(const Reply& reply) {
    if (reply.type != fxpStatus) return fxBadMessage;
    Fields fields = reply.fields;
    const std::uint32_t status = fields.number();
    return fields.broken() ? fxBadMessage : status;
}

std::string statusReason(const Reply& reply) {
    const std::uint32_t status = statusOf(reply);
    Fields fields = reply.fields;
    fields.number();
    const std::string_view message = status == fxBadMessage ? std::string_view() : fields.text();
    return message.empty() || fields.broken() ? statusText(status) : std::string(message);
}

int failWithReply(SftpSession& session, const Reply& reply) { return failWith(session, statusReason(reply)); }

const char* statusText(std::uint32_t status) {
    switch (status) {
    case fxEof: return "End of file";
    case fxNoSuchFile: return "No such file";
    case fxPermissionDenied: return "Permission denied";
    case fxBadMessage: return "Bad message";
    case fxNoConnection: return "No connection";
    case fxConnectionLost: return "Connection lost";
    case fxOperationUnsupported: return "Operation unsupported";
    case fxInvalidHandle: return "Invalid handle";
    case fxNoSuchPath: return "No such path";
    case fxFileAlreadyExists: return "File already exists";
    case fxWriteProtect: return "Write protected";
    case fxNoMedia: return "No media";
    default: return "Failure";
    }
}

int startProtocol(SftpSession& session) {
    Request init(fxpInit, 0);
    init.number(protocolVersion);
    post(session, init);
    Reply reply;
    if (!receive(session, reply)) return 0;
    if (reply.type != fxpVersion || reply.id < protocolVersion) {
        return failWith(session, "The server does not speak version 3 of SFTP");
    }
    while (!reply.fields.broken()) {
        const std::string_view name = reply.fields.text();
        const std::string_view data = reply.fields.text();
        if (name == "posix-rename@openssh.com" && data == "1") session.posixRename = true;
    }
    return 1;
}

}  // namespace sftp
