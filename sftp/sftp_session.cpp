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

const char* statusText(int status) {
    switch (status) {
    case SSH_FX_EOF: return "End of file";
    case SSH_FX_NO_SUCH_FILE: return "No such file";
    case SSH_FX_PERMISSION_DENIED: return "Permission denied";
    case SSH_FX_BAD_MESSAGE: return "Bad message";
    case SSH_FX_NO_CONNECTION: return "No connection";
    case SSH_FX_CONNECTION_LOST: return "Connection lost";
    case SSH_FX_OP_UNSUPPORTED: return "Operation unsupported";
    case SSH_FX_INVALID_HANDLE: return "Invalid handle";
    case SSH_FX_NO_SUCH_PATH: return "No such path";
    case SSH_FX_FILE_ALREADY_EXISTS: return "File already exists";
    case SSH_FX_WRITE_PROTECT: return "Write protected";
    case SSH_FX_NO_MEDIA: return "No media";
    default: return "Failure";
    }
}

void closeChannel(SftpSession& session) {
    session.lost = false;
    if (session.channel) {
        sftp_free(session.channel);
        session.channel = nullptr;
    }
    {
        // The watch must not cut a socket number that a later open may reuse.
        std::lock_guard lock(session.watch.mutex);
        session.watch.socket = -1;
    }
    freeConnection(session.ssh, session.socket);
}

// Why the watch cut the connection; empty when it did not.
std::string cutReason(Cut cut, std::chrono::milliseconds silenceLimit) {
    if (cut == Cut::stopped) return "Stopped";
    if (cut == Cut::silent)
        return "The server did not answer for " + std::to_string(silenceLimit.count() / 1000) + " s";
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

// Records why an SFTP request failed: the server's status, or, when the connection
// itself failed (cut by the watch, or lost), that reason; the session then counts as
// closed.
int fail(SftpSession& session, Watching& watching) {
    session.lost = watching.cut() != Cut::none || !ssh_is_connected(session.ssh) ||
                   !ssh_channel_is_open(session.channel->channel);
    session.error = cutReason(watching.cut(), session.silenceLimit);
    if (session.error.empty() && session.lost) session.error = ssh_get_error(session.ssh);
    if (session.error.empty() && session.lost) session.error = "Connection lost";
    if (session.error.empty()) session.error = statusText(sftp_get_error(session.channel));
    return 0;
}

int failWith(SftpSession& session, std::string reason) {
    session.error = std::move(reason);
    return 0;
}

// Whether the session can take a request; else the failure is recorded.
bool ready(SftpSession& session) {
    session.error.clear();
    if (session.lost) closeChannel(session);
    if (session.channel) {
        // The status of an earlier request must not explain a later failure.
        session.channel->errnum = SSH_FX_OK;
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
        session.error = cutReason(watching.cut(), session.silenceLimit);
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
    if (!logIn(session.ssh, options, sshFolder, reason)) {
        failOpen(reason);
        close(session);
        return 0;
    }
    watching.progressed();
    session.channel = sftp_new(session.ssh);
    if (!session.channel || sftp_init(session.channel) != SSH_OK) {
        failOpen(std::string("The SFTP channel did not open: ") + ssh_get_error(session.ssh));
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

// One fact of what `path` names, as stat gives it (through a link, as a copy reads);
// -1 when it cannot be had.
std::int64_t statFact(SftpSession& session, std::string_view path,
                      std::int64_t (*fact)(const sftp_attributes_struct& attributes)) {
    if (!ready(session)) return -1;
    Watching watching(session);
    const std::string name(path);
    sftp_attributes attributes = sftp_stat(session.channel, name.c_str());
    if (!attributes) {
        fail(session, watching);
        return -1;
    }
    const std::int64_t value = fact(*attributes);
    sftp_attributes_free(attributes);
    return value;
}

}  // namespace

std::int64_t fileSize(SftpSession& session, std::string_view path) {
    return statFact(session, path, [](const sftp_attributes_struct& attributes) -> std::int64_t {
        const bool sized = attributes.type == SSH_FILEXFER_TYPE_REGULAR && (attributes.flags & SSH_FILEXFER_ATTR_SIZE);
        return sized ? std::int64_t(attributes.size) : -1;
    });
}

std::int64_t modificationTime(SftpSession& session, std::string_view path) {
    return statFact(session, path, [](const sftp_attributes_struct& attributes) -> std::int64_t {
        return attributes.flags & SSH_FILEXFER_ATTR_ACMODTIME ? std::int64_t(attributes.mtime) : -1;
    });
}

int setModificationTime(SftpSession& session, std::string_view path, std::int64_t time) {
    // Version 3 of the protocol carries times in 32 bits.
    if (time < 0 || time > std::int64_t(UINT32_MAX)) return failWith(session, "The time is out of the server's range");
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string name(path);
    sftp_attributes_struct attributes{};
    attributes.flags = SSH_FILEXFER_ATTR_ACMODTIME;
    attributes.atime = attributes.mtime = std::uint32_t(time);
    return sftp_setstat(session.channel, name.c_str(), &attributes) == 0 ? 1 : fail(session, watching);
}

int isFolder(SftpSession& session, std::string_view path) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string name(path);
    sftp_attributes attributes = sftp_stat(session.channel, name.c_str());
    if (!attributes) return fail(session, watching);
    const bool folder = attributes->type == SSH_FILEXFER_TYPE_DIRECTORY;
    sftp_attributes_free(attributes);
    return folder ? 1 : 0;
}

int rename(SftpSession& session, std::string_view from, std::string_view to) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string source(from), target(to);
    return sftp_rename(session.channel, source.c_str(), target.c_str()) == 0 ? 1 : fail(session, watching);
}

int removeFile(SftpSession& session, std::string_view path) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string name(path);
    return sftp_unlink(session.channel, name.c_str()) == 0 ? 1 : fail(session, watching);
}

int removeFolder(SftpSession& session, std::string_view path) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string name(path);
    return sftp_rmdir(session.channel, name.c_str()) == 0 ? 1 : fail(session, watching);
}

int makeFolder(SftpSession& session, std::string_view path) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string name(path);
    return sftp_mkdir(session.channel, name.c_str(), 0755) == 0 ? 1 : fail(session, watching);
}

int probe(SftpSession& session) {
    if (!ready(session)) return 0;
    Watching watching(session);
    sftp_attributes attributes = sftp_stat(session.channel, ".");
    if (!attributes) return fail(session, watching);
    sftp_attributes_free(attributes);
    return 1;
}

}  // namespace sftp
