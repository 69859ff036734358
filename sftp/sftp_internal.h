// What the SFTP engine's sources share: the session record, the watch that bounds each
// operation's waits, and how a request's failure is recorded.
#pragma once

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "sftp/sftp_session.h"

namespace sftp {

using Clock = std::chrono::steady_clock;

enum class Cut { none, stopped, silent };

// libssh 0.10 waits for an SFTP reply in an unbounded poll when the session blocks, and
// its SFTP requests spin rather than wait when it does not. So each operation runs with
// this watch beside it: on a stop, or a silence past the limit, it shuts the socket
// down, which ends libssh's wait at once with an error and leaves the connection dead.
// The socket is the engine's own (libssh works on a duplicate), so its number is never
// reused under the watch. Between operations the watch sleeps.
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

// Whether the session can take a request; else the failure is recorded.
bool ready(SftpSession& session);
// Records why an SFTP request failed: the server's status, or, when the connection
// itself failed (cut by the watch, or lost), that reason; the session then counts as
// closed.
int fail(SftpSession& session, Watching& watching);
int failWith(SftpSession& session, std::string reason);
bool stopAsked(const SftpSession& session);

}  // namespace sftp
