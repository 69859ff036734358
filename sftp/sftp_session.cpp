#include "sftp/sftp_session.h"

#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "sftp/sftp_login.h"

namespace sftp {

namespace {

using Clock = std::chrono::steady_clock;

// How long a stop may wait for the operation to notice it between two replies before
// the connection is cut.
constexpr auto stopGrace = std::chrono::milliseconds(150);
constexpr auto watchTick = std::chrono::milliseconds(50);
// Reads of this size keep OpenSSH's server at its best; it answers up to 255 KiB.
constexpr std::uint32_t readChunk = 64 * 1024;
// OpenSSH's server drops messages over 256 KiB; a write carries about 40 bytes more.
constexpr std::size_t writeChunk = 255 * 1024;

enum class Cut { none, stopped, silent };

}  // namespace

// libssh 0.10 waits for an SFTP reply in an unbounded poll when the session blocks, and
// its SFTP requests spin rather than wait when it does not. So each operation runs with
// this watch beside it: on a stop, or a silence past the limit, it shuts the socket
// down, which ends libssh's wait at once with an error and leaves the connection dead.
// The socket is the engine's own (libssh is given it), so it is never closed under the
// watch.
struct Watch {
    std::mutex mutex;
    std::condition_variable wake;
    std::thread thread;
    bool ending = false;
    int socket = -1;  // while an operation runs
    const std::atomic<bool>* stop = nullptr;
    std::chrono::milliseconds limit{0};
    Clock::time_point lastProgress;
    std::optional<Clock::time_point> stopSeen;
    Cut cut = Cut::none;

    void run() {
        std::unique_lock lock(mutex);
        while (!ending) {
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
    void cutSocket(Cut reason) {
        shutdown(socket, SHUT_RDWR);
        socket = -1;
        cut = reason;
    }
};

struct SftpSession {
    ssh_session ssh = nullptr;
    sftp_session channel = nullptr;
    int socket = -1;
    std::string error;
    std::optional<HostKeyProblem> keyProblem;
    // After an unknown key: the connection that met it, kept for trustHostKey.
    ssh_session untrusted = nullptr;
    int untrustedSocket = -1;
    const std::atomic<bool>* stop = nullptr;
    std::chrono::milliseconds silenceLimit{60000};
    // The connection failed under a request: freed once the request has let go of its
    // handles (a file handle closes through the channel).
    bool lost = false;
    Watch watch;
};

namespace {

void freeConnection(ssh_session& ssh, int& socket) {
    if (ssh) {
        ssh_disconnect(ssh);
        ssh_free(ssh);
        ssh = nullptr;
    }
    if (socket >= 0) {
        ::close(socket);
        socket = -1;
    }
}

bool stopAsked(const SftpSession& session) { return session.stop && session.stop->load(); }

// Keeps the watch on `session`'s socket for the life of one operation.
class Watching {
public:
    explicit Watching(SftpSession& session) : watch_(session.watch) {
        std::lock_guard lock(watch_.mutex);
        if (!watch_.thread.joinable()) watch_.thread = std::thread([&watch = watch_] { watch.run(); });
        watch_.socket = session.socket;
        watch_.stop = session.stop;
        watch_.limit = session.silenceLimit;
        watch_.lastProgress = Clock::now();
        watch_.stopSeen.reset();
        watch_.cut = Cut::none;
    }
    ~Watching() {
        std::lock_guard lock(watch_.mutex);
        watch_.socket = -1;
    }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

    void progressed() {
        std::lock_guard lock(watch_.mutex);
        watch_.lastProgress = Clock::now();
    }
    Cut cut() {
        std::lock_guard lock(watch_.mutex);
        return watch_.cut;
    }

private:
    Watch& watch_;
};

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

// Names a listing must not carry: they would stand for another entry, climb out of the
// folder, or hold bytes a terminal takes as commands.
bool hostileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) return true;
    for (const char16_t unit : platform::nameFromHost(name)) {
        if (platform::isNameEscape(unit) && platform::escapedByte(unit) != '\\') return true;
        if (platform::isControlCharacter(unit)) return true;
    }
    return false;
}

// One fact line of the listing file, or empty for an entry left out.
std::string factLine(const sftp_attributes_struct& entry) {
    const std::string_view name = entry.name ? entry.name : "";
    if (hostileName(name)) return {};
    std::string line = "+";
    if (entry.type == SSH_FILEXFER_TYPE_DIRECTORY) {
        line += "/,";
    } else if (entry.type == SSH_FILEXFER_TYPE_SYMLINK) {
        // Either may work; a walk that sees "r" never enters it.
        line += "r,/,";
    } else if (entry.type == SSH_FILEXFER_TYPE_REGULAR) {
        line += "r,";
        if (entry.flags & SSH_FILEXFER_ATTR_SIZE) line += "s" + std::to_string(entry.size) + ",";
    }
    if (entry.flags & SSH_FILEXFER_ATTR_ACMODTIME) line += "m" + std::to_string(entry.mtime) + ",";
    line += "\t";
    line += name;
    line += "\n";  // as the FTP listing file holds its lines
    return line;
}

bool writeAll(int file, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(file, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= std::size_t(written);
    }
    return true;
}

struct FileCloser {
    void operator()(sftp_file file) const { sftp_close(file); }
};
using RemoteFile = std::unique_ptr<sftp_file_struct, FileCloser>;

struct LocalFile {
    int descriptor;
    explicit LocalFile(int opened) : descriptor(opened) {}
    ~LocalFile() {
        if (descriptor >= 0) ::close(descriptor);
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    // False when the bytes written may not all have reached the file.
    bool close() {
        const int result = ::close(descriptor);
        descriptor = -1;
        return result == 0;
    }
};

struct ReadRequest {
    std::uint32_t id;
    std::uint32_t length;
};

// Takes the replies of the reads still in flight, so that none is left for later
// requests to meet.
void drain(sftp_file file, std::deque<ReadRequest>& inFlight, std::vector<char>& buffer) {
    for (const ReadRequest& request : inFlight) {
        if (sftp_async_read(file, buffer.data(), request.length, request.id) < 0) break;
    }
    inFlight.clear();
}

}  // namespace

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

int listToFile(SftpSession& session, std::string_view folder, std::string_view listingPath) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string path(folder);
    const std::string localPath(listingPath);
    sftp_dir dir = sftp_opendir(session.channel, path.c_str());
    if (!dir) return fail(session, watching);
    LocalFile listing(::open(localPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    bool written = listing.descriptor >= 0;
    while (written && !stopAsked(session)) {
        sftp_attributes entry = sftp_readdir(session.channel, dir);
        if (!entry) break;
        watching.progressed();
        const std::string line = factLine(*entry);
        sftp_attributes_free(entry);
        written = writeAll(listing.descriptor, line.data(), line.size());
    }
    const bool complete = written && sftp_dir_eof(dir) == 1;
    const bool closed = sftp_closedir(dir) == SSH_NO_ERROR;
    written = listing.close() && written;
    if (complete && closed && written) return 1;
    // A listing cut short must not pass for the whole folder.
    ::unlink(localPath.c_str());
    if (!written) return failWith(session, "Cannot write the listing file " + localPath);
    if (stopAsked(session)) return failWith(session, "Stopped");
    return fail(session, watching);
}

int download(SftpSession& session, std::string_view remotePath, std::string_view localPath, std::int64_t offset,
             const Progress& progress) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string path(remotePath);
    const RemoteFile file(sftp_open(session.channel, path.c_str(), O_RDONLY, 0));
    if (!file) return fail(session, watching);
    sftp_attributes attributes = sftp_fstat(file.get());
    if (!attributes) return fail(session, watching);
    const std::int64_t size = (attributes->flags & SSH_FILEXFER_ATTR_SIZE) ? std::int64_t(attributes->size)
                                                                           : std::int64_t(-1);
    sftp_attributes_free(attributes);
    if (offset > 0 && sftp_seek64(file.get(), std::uint64_t(offset)) != 0) return failWith(session, "Cannot seek");

    const std::string local(localPath);
    LocalFile target(::open(local.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (offset > 0 ? O_APPEND : O_TRUNC), 0644));
    if (target.descriptor < 0) return failWith(session, "Cannot write " + local + ": " + std::strerror(errno));

    std::vector<char> buffer(readChunk);
    std::deque<ReadRequest> inFlight;
    std::int64_t position = offset;
    bool atEnd = false;
    while (!atEnd) {
        while (int(inFlight.size()) < readsInFlight) {
            const int id = sftp_async_read_begin(file.get(), readChunk);
            if (id < 0) return fail(session, watching);
            inFlight.push_back({std::uint32_t(id), readChunk});
        }
        const ReadRequest request = inFlight.front();
        inFlight.pop_front();
        const int got = sftp_async_read(file.get(), buffer.data(), request.length, request.id);
        if (got < 0) return fail(session, watching);
        watching.progressed();
        if (got == 0) {
            atEnd = true;
            drain(file.get(), inFlight, buffer);
            break;
        }
        if (!writeAll(target.descriptor, buffer.data(), std::size_t(got))) {
            return failWith(session, "Cannot write " + local + ": " + std::strerror(errno));
        }
        position += got;
        const bool goOn = !stopAsked(session) && (!progress || progress(position - offset));
        if (!goOn || std::uint32_t(got) < request.length) {
            // The reads after a short one asked for the wrong offsets: ask again from here.
            drain(file.get(), inFlight, buffer);
            if (!goOn) return failWith(session, "Stopped");
            if (sftp_seek64(file.get(), std::uint64_t(position)) != 0) return failWith(session, "Cannot seek");
        }
    }
    if (!target.close()) return failWith(session, "Cannot write " + local + ": " + std::strerror(errno));
    if (size >= 0 && position != size) {
        return failWith(session, "The file changed while it was read: " + std::to_string(position) + " bytes of " +
                                     std::to_string(size));
    }
    return 1;
}

int upload(SftpSession& session, std::string_view localPath, std::string_view remotePath, std::int64_t offset,
           const Progress& progress) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string local(localPath);
    LocalFile source(::open(local.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.descriptor < 0) return failWith(session, "Cannot read " + local + ": " + std::strerror(errno));
    const std::string path(remotePath);
    sftp_file opened = sftp_open(session.channel, path.c_str(), O_WRONLY | O_CREAT | (offset == 0 ? O_TRUNC : 0), 0644);
    if (!opened) return fail(session, watching);
    RemoteFile file(opened);
    if (offset > 0 && sftp_seek64(file.get(), std::uint64_t(offset)) != 0) return failWith(session, "Cannot seek");

    std::vector<char> buffer(writeChunk);
    std::int64_t position = offset;
    for (;;) {
        const ssize_t got = pread(source.descriptor, buffer.data(), buffer.size(), position);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failWith(session, "Cannot read " + local + ": " + std::strerror(errno));
        if (got == 0) break;
        if (sftp_write(file.get(), buffer.data(), std::size_t(got)) != got) return fail(session, watching);
        watching.progressed();
        position += got;
        if (stopAsked(session) || (progress && !progress(position - offset))) return failWith(session, "Stopped");
    }
    // The server reports a write it could not finish when the file closes.
    if (sftp_close(file.release()) != SSH_NO_ERROR) return fail(session, watching);
    return 1;
}

std::int64_t fileSize(SftpSession& session, std::string_view path) {
    if (!ready(session)) return -1;
    Watching watching(session);
    const std::string name(path);
    sftp_attributes attributes = sftp_stat(session.channel, name.c_str());
    if (!attributes) {
        fail(session, watching);
        return -1;
    }
    const bool sized = attributes->type == SSH_FILEXFER_TYPE_REGULAR && (attributes->flags & SSH_FILEXFER_ATTR_SIZE);
    const std::int64_t size = sized ? std::int64_t(attributes->size) : -1;
    sftp_attributes_free(attributes);
    return size;
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
