// What the SFTP engine's sources share: the session record, the watch that bounds the
// waits libssh makes itself (connecting, logging in, opening the channel, leaving), and
// how a failure is recorded.
#pragma once

#include <libssh/libssh.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

#include "sftp/sftp_session.h"

namespace sftp {

using Clock = std::chrono::steady_clock;

enum class Cut { none, stopped, silent };

// libssh waits in an unbounded poll while it connects, logs in and opens a channel. So
// these steps run with this watch beside them: on a stop, or a silence past the limit,
// it shuts the socket down, which ends libssh's wait at once with an error and leaves the
// connection dead. The socket is the engine's own (libssh works on a duplicate), so its
// number is never reused under the watch. Between them the watch sleeps; the SFTP
// requests wait in slices of their own (sftp_protocol.h).
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

    // The thread's loop, until `ending`.
    void run();
    void cutSocket(Cut reason);
};

// Bytes the channel has yet to take, and bytes read from it that are not yet replies.
struct Traffic {
    std::string outbox;
    std::size_t outboxSent = 0;
    // Room for the largest reply and for all the data the channel's window lets the
    // server send meanwhile; the window is what is free here.
    std::unique_ptr<char[]> inbox;
    std::size_t inboxStart = 0;
    std::size_t inboxEnd = 0;
    std::unordered_set<std::uint32_t> givenUp;
    std::uint32_t nextId = 1;
    // The start of the silence: the last byte heard, or the start of the operation.
    std::chrono::steady_clock::time_point lastHeard;
};

struct SftpSession {
    ssh_session ssh = nullptr;
    ssh_channel channel = nullptr;  // the SFTP subsystem's, once open
    Traffic traffic;
    bool posixRename = false;  // the server offers posix-rename@openssh.com
    int socket = -1;
    std::string error;
    std::optional<HostKeyProblem> keyProblem;
    // After an unknown key: the connection that met it, kept for trustHostKey.
    ssh_session untrusted = nullptr;
    int untrustedSocket = -1;
    const std::atomic<bool>* stop = nullptr;
    std::chrono::milliseconds silenceLimit{60000};
    // A wait ended the connection: it is freed before the next request.
    bool lost = false;
    Watch watch;
};

// Keeps the watch on `session`'s socket for the life of one step that libssh waits in.
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
        watch_.wake.notify_all();
    }
    ~Watching() {
        std::lock_guard lock(watch_.mutex);
        watch_.socket = -1;
        watch_.stop = nullptr;
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

// Whether the session can take a request, the silence counted from now; else the
// failure is recorded.
bool ready(SftpSession& session);
int failWith(SftpSession& session, std::string reason);
// Ends the connection after a failed wait (a stop, silence, a broken connection): the
// reason is recorded and the session counts as closed.
bool loseConnection(SftpSession& session, std::string reason);
// The one place the engine reads the stop flag.
bool stopAsked(const SftpSession& session);
std::string silenceText(const SftpSession& session);

}  // namespace sftp
