#include "tests/support/real_sftp_server.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "tests/support/loopback.h"

namespace test_support {

namespace {

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

// As ScriptedFiles orders them.
constexpr const char* modeNames[] = {"plain",        "hostile",       "short-reads", "broken-listing",
                                     "out-of-order", "failing-reads", "full-disk"};
// As ScriptedLogin orders them.
constexpr const char* loginNames[] = {"password", "password-any-user", "keyboard-interactive", "one-time-code"};

}  // namespace

RealSftpServer::RealSftpServer(RealSftpServerOptions options) {
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
        if (process_.startListening({FARLINK_SSHD, "-D", "-e", "-f", config}, port_)) {
            error_.clear();
            return;
        }
        error_ = "sshd did not start (" FARLINK_SSHD ", which scripts/install-deps unpacks): " + readFile(log);
        if (error_.find("Address already in use") == std::string::npos) return;
    }
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
    for (const pid_t process : process_.tree()) kill(process, SIGSTOP);
}

void RealSftpServer::thaw() const {
    for (const pid_t process : process_.tree()) kill(process, SIGCONT);
}

int RealSftpServer::openFilesBelow(const std::string& folder) const {
    int count = 0;
    for (const pid_t process : process_.tree()) {
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator("/proc/" + std::to_string(process) + "/fd", error)) {
            const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
            if (!error && target.string().starts_with(folder + "/")) ++count;
        }
    }
    return count;
}

std::string SshClient::url(const std::string& path) const {
    return "sftp://" + server.user() + "@127.0.0.1:" + std::to_string(server.port()) + path;
}

ScriptedSftpServer::ScriptedSftpServer(const std::string& root, ScriptedLogin login, ScriptedFiles files) {
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
    if (!process_.startListening({"/usr/bin/python3", FARLINK_SCRIPTED_SFTP_SERVER, work_ + "/port", root, "tester",
                                  "secret", work_ + "/host_key", loginNames[int(login)], modeNames[int(files)]},
                                 port_)) {
        error_ = "the asyncssh server did not start (python3-asyncssh): " + readFile(log);
    }
}

SshAgent::SshAgent(const std::string& keyPath) {
    if (work_.empty()) {
        error_ = "cannot create the agent's work folder";
        return;
    }
    socket_ = work_ + "/agent.socket";
    const auto listening = [this] {
        struct stat status {};
        return stat(socket_.c_str(), &status) == 0;
    };
    const ScopedVariable agent("SSH_AUTH_SOCK", socket_);
    if (!process_.start({"/usr/bin/ssh-agent", "-D", "-a", socket_}, listening) ||
        !runToEnd({"/usr/bin/ssh-add", keyPath}, work_ + "/ssh-add.log")) {
        error_ = "ssh-agent did not take the key (openssh-client): " + process_.log() +
                 readFile(work_ + "/ssh-add.log");
    }
}

}  // namespace test_support
