// Child processes for the real-server fixtures: servers started in a group of their
// own, each with a work folder and a bounded wait until it is ready, tools run to their
// end (a command line too), and the children a server forked for its sessions.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace test_support {

// Starts `arguments` in a process group of its own, all output (and, for vsftpd's
// fatal errors, standard input) going to `logPath`; -1 when it could not start.
pid_t spawnServer(const std::vector<std::string>& arguments, const std::string& logPath);
// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> childrenOf(pid_t parent);
// Runs a program to its end, its output going to `logPath`; true when it exited with 0.
bool runToEnd(const std::vector<std::string>& arguments, const std::string& logPath);
// Runs `commandLine` through the shell, its standard output and error going through
// files in `folder`; returns its exit status (-1 when it did not exit), with what it wrote.
int runCommand(const std::string& commandLine, const std::string& folder, std::string& output, std::string& errors);
// Runs `work` as nobody in a child when the tests run as root, else here; returns work's
// result (0-255), -1 when the child did not exit (an alarm ends it after 10 s: it holds the
// parent's sockets, so a server cannot end its wait), 99 when it could not become nobody.
int withoutRootRights(const std::function<int()>& work);

// A server run as a child process for a test: a work folder of its own for its
// configuration, keys and log, removed at the end; the process from start() until stop()
// or the end, which stop it and everything it forked, each by its id.
class ServerProcess {
public:
    // The work folder is /tmp/farlink-NAME-XXXXXX; work() is empty when it could not be made.
    explicit ServerProcess(const std::string& name);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    const std::string& work() const { return work_; }
    // Starts `arguments`, all output going to the log, and waits (ten seconds at most)
    // until `ready` holds; false when the process could not start, exited or was not
    // ready in time.
    bool start(const std::vector<std::string>& arguments, const std::function<bool()>& ready);
    // start() until the server listens on `port` on loopback; with `port` 0, until the
    // server has written the one it took to the file "port" of the work folder (which
    // it renames there once written) and listens there.
    bool startListening(const std::vector<std::string>& arguments, int& port, bool ipv6 = false);
    // A process stopped (SIGSTOP) is continued first.
    void stop();
    // The process and everything it forked, the process first; empty when it is not running.
    std::vector<pid_t> tree() const;
    // What the server wrote to its output.
    std::string log() const;

private:
    std::string work_;
    pid_t pid_ = -1;
};

}  // namespace test_support
