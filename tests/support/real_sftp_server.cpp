#include "tests/support/real_sftp_server.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/processes.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace test_support {

namespace {

std::string makeWorkFolder() {
    std::string pattern = "/tmp/farlink-sshd-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

void removeWorkFolder(const std::string& folder) {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

bool makeKey(const std::string& path, const std::string& passphrase, const std::string& log) {
    return runToEnd({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", passphrase, "-C", "farlink-test", "-f", path},
                    log);
}

// "SHA256:..." from `ssh-keygen -lf` ("256 SHA256:... COMMENT (ED25519)"); empty when it failed.
std::string fingerprintOf(const std::string& publicKeyPath, const std::string& work) {
    const std::string printed = work + "/fingerprint";
    if (!runToEnd({"/usr/bin/ssh-keygen", "-lf", publicKeyPath}, printed)) return "";
    std::istringstream words(readFile(printed));
    std::string bits, fingerprint;
    words >> bits >> fingerprint;
    return fingerprint;
}

// The process and everything it forked, the process first.
std::vector<pid_t> processTree(pid_t pid) {
    std::vector<pid_t> tree;
    if (pid > 0) tree.push_back(pid);
    for (std::size_t next = 0; next < tree.size(); ++next) {
        for (const pid_t child : childrenOf(tree[next])) tree.push_back(child);
    }
    return tree;
}

// The process and everything it forked, the forks first, each by its id.
void stopTree(pid_t& pid) {
    if (pid <= 0) return;
    const std::vector<pid_t> tree = processTree(pid);
    for (std::size_t index = tree.size(); index-- > 1;) {
        kill(tree[index], SIGCONT);
        kill(tree[index], SIGKILL);
    }
    kill(pid, SIGCONT);
    kill(pid, SIGTERM);
    int status = 0;
    for (int tries = 0; tries < 100 && waitpid(pid, &status, WNOHANG) == 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (kill(pid, 0) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    pid = -1;
}

// Waits until the server answers on its port, which `portFile` gives when it picks its own.
bool waitUntilListening(pid_t& pid, int& port, const std::string& portFile = "") {
    for (int tries = 0; tries < 200; ++tries) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        if (port == 0 && !portFile.empty()) {
            const std::string text = readFile(portFile);
            if (text != "<missing>") port = std::atoi(text.c_str());
        }
        if (port != 0 && loopbackAccepts(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

const char* modeName(ScriptedFiles files) {
    switch (files) {
    case ScriptedFiles::plain: return "plain";
    case ScriptedFiles::hostileNames: return "hostile";
    case ScriptedFiles::shortReads: return "short-reads";
    case ScriptedFiles::brokenListing: return "broken-listing";
    case ScriptedFiles::outOfOrder: return "out-of-order";
    case ScriptedFiles::failingReads: return "failing-reads";
    case ScriptedFiles::fullDisk: return "full-disk";
    }
    return "plain";
}

// As ScriptedLogin orders them.
constexpr const char* loginNames[] = {"password", "password-any-user", "keyboard-interactive", "one-time-code"};

}  // namespace

RealSftpServer::RealSftpServer(RealSftpServerOptions options) : work_(makeWorkFolder()) {
    if (work_.empty()) {
        error_ = "cannot create the server's work folder";
        return;
    }
    home_ = work_ + "/home";
    const std::string sshFolder = home_ + "/.ssh";
    std::filesystem::create_directories(sshFolder);
    chmod(sshFolder.c_str(), 0700);
    writeFile(sshFolder + "/config", "");
    const passwd* account = getpwuid(getuid());
    user_ = account ? account->pw_name : "root";
    clientKey_ = options.clientKeyInHome ? sshFolder + "/id_ed25519" : work_ + "/agent_key";
    const std::string log = work_ + "/server.log";
    if (!makeKey(work_ + "/host_key", "", log) || !makeKey(work_ + "/other_host_key", "", log) ||
        !makeKey(clientKey_, options.clientPassphrase, log)) {
        error_ = "ssh-keygen failed (openssh-client): " + readFile(log);
        return;
    }
    fingerprint_ = fingerprintOf(work_ + "/host_key.pub", work_);
    writeFile(work_ + "/authorized_keys", readFile(clientKey_ + ".pub"));
    // sshd refuses to start without its privilege separation folder.
    mkdir("/run/sshd", 0755);
    // A free port may be taken by another test's server before sshd binds it: try another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freePort();
        const std::string config = work_ + "/sshd_config";
        writeFile(config, "Port " + std::to_string(port_) + "\nListenAddress 127.0.0.1\nHostKey " + work_ +
                              "/host_key\nPidFile " + work_ + "/sshd.pid\nAuthorizedKeysFile " + work_ +
                              "/authorized_keys\nPermitRootLogin yes\nStrictModes no\nUsePAM no\n"
                              "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                              "Subsystem sftp internal-sftp\nLogLevel ERROR\nMaxStartups 100\n");
        pid_ = spawnServer({FARLINK_SSHD, "-D", "-e", "-f", config}, log);
        if (pid_ >= 0 && waitUntilListening(pid_, port_)) {
            error_.clear();
            return;
        }
        error_ = "sshd did not start (" FARLINK_SSHD ", which scripts/install-deps unpacks): " + readFile(log);
        if (error_.find("Address already in use") == std::string::npos) return;
    }
}

RealSftpServer::~RealSftpServer() {
    stopTree(pid_);
    removeWorkFolder(work_);
}

void RealSftpServer::writeKnownHosts(KnownKey key) const {
    const std::string keyFile = work_ + (key == KnownKey::serverKey ? "/host_key.pub" : "/other_host_key.pub");
    std::istringstream words(readFile(keyFile));
    std::string type, base64;
    words >> type >> base64;
    writeFile(knownHostsPath(), "otherhost.example " + type + " " + base64 + "\n[127.0.0.1]:" + std::to_string(port_) +
                                    " " + type + " " + base64 + "\n");
}

void RealSftpServer::freeze() const {
    for (const pid_t process : processTree(pid_)) kill(process, SIGSTOP);
}

void RealSftpServer::thaw() const {
    for (const pid_t process : processTree(pid_)) kill(process, SIGCONT);
}

int RealSftpServer::openFilesBelow(const std::string& folder) const {
    int count = 0;
    for (const pid_t process : processTree(pid_)) {
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
            const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
            if (!error && target.string().starts_with(folder + "/")) ++count;
        }
    }
    return count;
}

ScriptedSftpServer::ScriptedSftpServer(const std::string& root, ScriptedLogin login, ScriptedFiles files)
    : work_(makeWorkFolder()) {
    if (work_.empty()) {
        error_ = "cannot create the server's work folder";
        return;
    }
    const std::string log = work_ + "/server.log";
    if (!makeKey(work_ + "/host_key", "", log)) {
        error_ = "ssh-keygen failed (openssh-client): " + readFile(log);
        return;
    }
    fingerprint_ = fingerprintOf(work_ + "/host_key.pub", work_);
    pid_ = spawnServer({"/usr/bin/python3", FARLINK_SCRIPTED_SFTP_SERVER, work_ + "/port", root, "tester", "secret",
                        work_ + "/host_key", loginNames[int(login)], modeName(files)},
                       log);
    if (pid_ < 0 || !waitUntilListening(pid_, port_, work_ + "/port")) {
        error_ = "the asyncssh server did not start (python3-asyncssh): " + readFile(log);
    }
}

ScriptedSftpServer::~ScriptedSftpServer() {
    stopTree(pid_);
    removeWorkFolder(work_);
}

SshAgent::SshAgent(const std::string& keyPath) : work_(makeWorkFolder()) {
    if (work_.empty()) {
        error_ = "cannot create the agent's work folder";
        return;
    }
    socket_ = work_ + "/agent.socket";
    const std::string log = work_ + "/agent.log";
    pid_ = spawnServer({"/usr/bin/ssh-agent", "-D", "-a", socket_}, log);
    struct stat status {};
    for (int tries = 0; tries < 200 && stat(socket_.c_str(), &status) != 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const ScopedVariable agent("SSH_AUTH_SOCK", socket_);
    if (pid_ < 0 || !runToEnd({"/usr/bin/ssh-add", keyPath}, log)) {
        error_ = "ssh-agent did not take the key (openssh-client): " + readFile(log);
    }
}

SshAgent::~SshAgent() {
    stopTree(pid_);
    removeWorkFolder(work_);
}

}  // namespace test_support
