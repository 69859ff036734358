#include "sftp/sftp_session.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sftp/sftp_internal.h"
#include "sftp/sftp_login.h"
#include "sftp/sftp_protocol.h"

namespace sftp {

namespace {

// How long a stop may wait for the operation to notice it between two replies before
// the connection is cut.
constexpr auto stopGrace = std::chrono::milliseconds(150);
constexpr auto watchTick = std::chrono::milliseconds(50);

}  // namespace

void Watch::run() {
    std::unique_lock lock(mutex);
    while (!ending) {
        if (socket < 0) {
            wake.wait(lock);
            continue;
        }
        wake.wait_for(lock, watchTick);
        if (socket < 0) continue;
        const auto now = Clock::now();
        if (stop && stop->load()) {
            if (!stopSeen) stopSeen = now;
            if (now - *stopSeen >= stopGrace) cutSocket(Cut::stopped);
        } else if (now - lastProgress > limit) {
            cutSocket(Cut::silent);
        }
    }
}

void Watch::cutSocket(Cut reason) {
    shutdown(socket, SHUT_RDWR);
    socket = -1;
    cut = reason;
}

namespace {

void freeConnection(ssh_session& ssh, int& socket) {
    if (ssh) {
        // libssh 0.10 closes the socket it was given when a connection fails, and
        // leaves it open otherwise, still naming it until the disconnection.
        const int given = ssh_get_fd(ssh);
        ssh_disconnect(ssh);
        ssh_free(ssh);
        if (given >= 0) ::close(given);
        ssh = nullptr;
    }
    if (socket >= 0) {
        ::close(socket);
        socket = -1;
    }
}

void closeChannel(SftpSession& session) {
    session.lost = false;
    if (session.channel) {
        ssh_channel_free(session.channel);
        session.channel = nullptr;
    }
    session.traffic = {};
    session.posixRename = false;
    {
        // The watch must not cut a socket number that a later open may reuse.
        std::lock_guard lock(session.watch.mutex);
        session.watch.socket = -1;
    }
    freeConnection(session.ssh, session.socket);
}

// Why the watch cut the connection; empty when it did not.
std::string cutReason(Cut cut, const SftpSession& session) {
    if (cut == Cut::stopped) return "Stopped";
    if (cut == Cut::silent) return silenceText(session);
    return "";
}

// A TCP connection to the first address of `host` that answers within the timeout;
// -1 with `error` set.
int connectSocket(const std::string& host, unsigned port, const OpenOptions& options, std::string& error) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (resolved != 0) {
        error = host + ": " + gai_strerror(resolved);
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.connectTimeoutMs);
    int connected = -1;
    error = "Connection timed out";
    for (addrinfo* address = addresses; address && connected < 0; address = address->ai_next) {
        const int socket = ::socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (socket < 0) continue;
        int result = ::connect(socket, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
        while (result == EINPROGRESS) {
            if (options.stop && options.stop->load()) {
                error = "Stopped";
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            pollfd waiting{socket, POLLOUT, 0};
            if (poll(&waiting, 1, int(std::min<long long>(left.count(), 250))) > 0) {
                socklen_t size = sizeof result;
                getsockopt(socket, SOL_SOCKET, SO_ERROR, &result, &size);
            }
        }
        if (result == 0) {
            // libssh then waits on it with poll, blocking mode or not.
            fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) & ~O_NONBLOCK);
            // Read requests are small packets sent while replies stream in: held back
            // by Nagle's algorithm for the peer's delayed ACK, they stalled downloads
            // to a third of their speed.
            const int on = 1;
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            connected = socket;
        } else {
            if (result != EINPROGRESS) error = std::strerror(result);
            ::close(socket);
        }
    }
    freeaddrinfo(addresses);
    if (connected >= 0) error.clear();
    return connected;
}

std::string optionText(ssh_session ssh, ssh_options_e option) {
    char* value = nullptr;
    if (ssh_options_get(ssh, option, &value) != SSH_OK) return {};
    std::string result = value;
    ssh_string_free_char(value);
    return result;
}

}  // namespace

bool stopAsked(const SftpSession& session) { return session.stop && session.stop->load(); }

std::string silenceText(const SftpSession& session) {
    return "The server did not answer for " + std::to_string(session.silenceLimit.count() / 1000) + " s";
}

int failWith(SftpSession& session, std::string reason) {
    session.error = std::move(reason);
    return 0;
}

bool loseConnection(SftpSession& session, std::string reason) {
    session.error = std::move(reason);
    session.lost = true;
    return false;
}

bool ready(SftpSession& session) {
    session.error.clear();
    if (session.lost) closeChannel(session);
    if (session.channel) {
        session.traffic.lastHeard = Clock::now();
        return true;
    }
    session.error = "Not connected";
    return false;
}

SftpSession* createSession() { return new SftpSession; }

void release(SftpSession* session) {
    if (!session) return;
    close(*session);
    freeConnection(session->untrusted, session->untrustedSocket);
    {
        std::lock_guard lock(session->watch.mutex);
        session->watch.ending = true;
    }
    session->watch.wake.notify_all();
    if (session->watch.thread.joinable()) session->watch.thread.join();
    delete session;
}

int open(SftpSession& session, const OpenOptions& options) {
    close(session);
    // A key met before and not trusted since is not trusted now.
    freeConnection(session.untrusted, session.untrustedSocket);
    session.error.clear();
    session.keyProblem.reset();
    session.stop = options.stop;
    session.silenceLimit = std::chrono::milliseconds(options.silenceLimitMs);

    session.ssh = ssh_new();
    if (!session.ssh) return failWith(session, "Out of memory");
    // libssh would take its folder from the password database; the user's HOME rules.
    const char* home = std::getenv("HOME");
    const std::string sshFolder = home && *home ? std::string(home) + "/.ssh" : "";
    if (!sshFolder.empty()) {
        ssh_options_set(session.ssh, SSH_OPTIONS_SSH_DIR, sshFolder.c_str());
        ssh_options_set(session.ssh, SSH_OPTIONS_KNOWNHOSTS, (sshFolder + "/known_hosts").c_str());
    }
    ssh_options_set(session.ssh, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/etc/ssh/ssh_known_hosts");
    ssh_options_set(session.ssh, SSH_OPTIONS_HOST, options.host.c_str());
    // The config first, so that what the caller gives wins over it, as on ssh's command line.
    if (ssh_options_parse_config(session.ssh, nullptr) != SSH_OK) {
        failWith(session, std::string("~/.ssh/config: ") + ssh_get_error(session.ssh));
        close(session);
        return 0;
    }
    if (options.port > 0) ssh_options_set(session.ssh, SSH_OPTIONS_PORT, &options.port);
    // libssh names the user only from here on, after the config, when neither did.
    const bool userNamed = !options.user.empty() || !optionText(session.ssh, SSH_OPTIONS_USER).empty();
    if (!options.user.empty()) ssh_options_set(session.ssh, SSH_OPTIONS_USER, options.user.c_str());
    // libssh bounds its greeting, key exchange and login waits by its own 10 s; the watch
    // bounds them by the silence limit, so libssh's is put past it.
    const long libsshTimeout = long(options.silenceLimitMs / 1000) + 2;
    ssh_options_set(session.ssh, SSH_OPTIONS_TIMEOUT, &libsshTimeout);

    // The engine connects itself, so that the connection's wait is bounded and hears
    // the stop flag, and so that the watch has the socket from the first byte on.
    unsigned port = defaultPort;
    ssh_options_get_port(session.ssh, &port);
    session.socket = connectSocket(optionText(session.ssh, SSH_OPTIONS_HOST), port, options, session.error);
    if (session.socket < 0) {
        close(session);
        return 0;
    }
    // libssh closes the socket it is given, perhaps in the middle of a failing request:
    // it gets a duplicate, so that the number the watch may shut down stays ours.
    int duplicate = fcntl(session.socket, F_DUPFD_CLOEXEC, 0);
    if (duplicate < 0 || ssh_options_set(session.ssh, SSH_OPTIONS_FD, &duplicate) != SSH_OK) {
        if (duplicate >= 0) ::close(duplicate);
        failWith(session, "Cannot use the connection");
        close(session);
        return 0;
    }

    Watching watching(session);
    std::string reason;
    auto failOpen = [&](std::string text) {
        session.error = cutReason(watching.cut(), session);
        if (session.error.empty()) session.error = std::move(text);
    };
    if (ssh_connect(session.ssh) != SSH_OK) {
        failOpen(ssh_get_error(session.ssh));
        close(session);
        return 0;
    }
    watching.progressed();
    if (!checkHostKey(session.ssh, options, reason, session.keyProblem)) {
        failOpen(reason);
        if (session.keyProblem && session.keyProblem->check == HostKeyCheck::unknown) {
            session.untrusted = std::exchange(session.ssh, nullptr);
            session.untrustedSocket = std::exchange(session.socket, -1);
        }
        close(session);
        return 0;
    }
    watching.progressed();
    if (!logIn(session.ssh, options, options.passwordForNamedUserOnly && !userNamed, sshFolder, reason)) {
        failOpen(reason);
        close(session);
        return 0;
    }
    watching.progressed();
    session.channel = ssh_channel_new(session.ssh);
    if (!session.channel || ssh_channel_open_session(session.channel) != SSH_OK ||
        ssh_channel_request_subsystem(session.channel, "sftp") != SSH_OK) {
        failOpen(std::string("The SFTP channel did not open: ") + ssh_get_error(session.ssh));
        close(session);
        return 0;
    }
    // From here on libssh never waits: the engine's requests wait in slices of their own.
    ssh_set_blocking(session.ssh, 0);
    session.traffic.lastHeard = Clock::now();
    if (!startProtocol(session)) {
        failOpen(session.error);
        close(session);
        return 0;
    }
    return 1;
}

void setStopFlag(SftpSession& session, const std::atomic<bool>* stop) { session.stop = stop; }

bool isOpen(const SftpSession& session) { return session.channel != nullptr && !session.lost; }

void close(SftpSession& session) {
    // The goodbye is sent under the watch: a server that stopped reading cannot hold it.
    Watching watching(session);
    closeChannel(session);
}

const std::string& lastError(const SftpSession& session) { return session.error; }

std::optional<HostKeyProblem> hostKeyProblem(const SftpSession& session) { return session.keyProblem; }

int trustHostKey(SftpSession& session) {
    if (!session.untrusted) return failWith(session, "No host key to trust");
    const int result = ssh_session_update_known_hosts(session.untrusted);
    if (result != SSH_OK) failWith(session, std::string("known_hosts: ") + ssh_get_error(session.untrusted));
    freeConnection(session.untrusted, session.untrustedSocket);
    if (result != SSH_OK) return 0;
    session.error.clear();
    return 1;
}

namespace {

// What `path` names, as STAT gives it (through a link, as a copy reads). False with the
// error set.
bool statPath(SftpSession& session, std::string_view path, Attributes& attributes) {
    if (!ready(session)) return false;
    Request request = newRequest(session, fxpStat);
    request.text(path);
    Reply reply;
    if (!call(session, request, reply)) return false;
    if (reply.type != fxpAttrs) return failWithReply(session, reply);
    attributes = reply.fields.attributes();
    if (reply.fields.broken()) return failWith(session, statusText(fxBadMessage));
    return true;
}

// A request answered by a status: 1 for OK, else 0 with the status's reason.
int statusCall(SftpSession& session, Request& request) {
    Reply reply;
    if (!call(session, request, reply)) return 0;
    return statusOf(reply) == fxOk ? 1 : failWithReply(session, reply);
}

// A request on one path, answered by a status.
int pathCall(SftpSession& session, std::uint8_t type, std::string_view path) {
    if (!ready(session)) return 0;
    Request request = newRequest(session, type);
    request.text(path);
    return statusCall(session, request);
}

}  // namespace

std::int64_t fileSize(SftpSession& session, std::string_view path) {
    Attributes attributes;
    if (!statPath(session, path, attributes)) return -1;
    return attributes.isRegularFile() && (attributes.flags & Attributes::size) ? std::int64_t(attributes.bytes) : -1;
}

std::int64_t modificationTime(SftpSession& session, std::string_view path) {
    Attributes attributes;
    if (!statPath(session, path, attributes)) return -1;
    return attributes.flags & Attributes::times ? std::int64_t(attributes.modificationTime) : -1;
}

int setModificationTime(SftpSession& session, std::string_view path, std::int64_t time) {
    // Version 3 of the protocol carries times in 32 bits.
    if (time < 0 || time > std::int64_t(UINT32_MAX)) return failWith(session, "The time is out of the server's range");
    if (!ready(session)) return 0;
    Attributes attributes;
    attributes.flags = Attributes::times;
    attributes.accessTime = attributes.modificationTime = std::uint32_t(time);
    Request request = newRequest(session, fxpSetstat);
    request.text(path).attributes(attributes);
    return statusCall(session, request);
}

int isFolder(SftpSession& session, std::string_view path) {
    Attributes attributes;
    return statPath(session, path, attributes) && attributes.isFolder() ? 1 : 0;
}

int rename(SftpSession& session, std::string_view from, std::string_view to) {
    if (!ready(session)) return 0;
    Request request = newRequest(session, fxpRename);
    request.text(from).text(to);
    return statusCall(session, request);
}

int renameOver(SftpSession& session, std::string_view from, std::string_view to) {
    if (!ready(session)) return 0;
    if (!session.posixRename) {
        // The target goes first, since a server of version 3 refuses to rename onto a
        // file; a target that stays fails the rename.
        removeFile(session, to);
        return rename(session, from, to);
    }
    Request request = newRequest(session, fxpExtended);
    request.text("posix-rename@openssh.com").text(from).text(to);
    return statusCall(session, request);
}

int removeFile(SftpSession& session, std::string_view path) { return pathCall(session, fxpRemove, path); }

int removeFolder(SftpSession& session, std::string_view path) { return pathCall(session, fxpRmdir, path); }

int makeFolder(SftpSession& session, std::string_view path, int sourceMode) {
    if (!ready(session)) return 0;
    Attributes attributes;
    if (sourceMode >= 0) {
        attributes.flags = Attributes::permissions;
        attributes.mode = (std::uint32_t(sourceMode) & 0777) | 0700;  // its owner may fill it
    }
    Request request = newRequest(session, fxpMkdir);
    request.text(path).attributes(attributes);
    Reply reply;
    if (!call(session, request, reply)) return 0;
    if (statusOf(reply) == fxOk) return 1;
    // Servers of version 3 say only "Failure" when the name is taken: a look tells.
    if (statusOf(reply) == fxFailure) {
        Request look = newRequest(session, fxpLstat);
        look.text(path);
        Reply found;
        if (!call(session, look, found)) return 0;
        if (found.type == fxpAttrs) return failWith(session, statusText(fxFileAlreadyExists));
    }
    return failWithReply(session, reply);
}

int probe(SftpSession& session) {
    Attributes attributes;
    return statPath(session, ".", attributes) ? 1 : 0;
}

}  // namespace sftp
