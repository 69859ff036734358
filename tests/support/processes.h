// Child processes for the real-server fixtures: servers started in a group of their
// own, tools run to their end (a command line too), and the children a server forked for its sessions.
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
// Runs `work` without root's right to write any file: as nobody (65534) in a child
// process when the tests run as root, else in this one. Returns work's result (0-255),
// -1 when the child did not exit, 99 when it could not become nobody. The child holds
// the parent's sockets too, so a server that gives up cannot end its wait: an alarm
// ends the child after 10 s.
int withoutRootRights(const std::function<int()>& work);

}  // namespace test_support
