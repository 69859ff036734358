// SSH servers on loopback for the SFTP tests: sshd with keys and a HOME made for the test,
// asyncssh's scripted server, and an ssh-agent holding a key. When one cannot start,
// error() says why.
#pragma once

#include <string>

#include "tests/support/processes.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace test_support {

struct RealSftpServerOptions {
    std::string clientPassphrase;  // the client key's; empty: none
    // False: the client key is made outside HOME (for an agent to hold), so that only
    // the agent can log in.
    bool clientKeyInHome = true;
};

// Which key a known_hosts line written for the server holds.
enum class KnownKey { serverKey, anotherKey };

class RealSftpServer {
public:
    explicit RealSftpServer(RealSftpServerOptions options = {});

    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const std::string& user() const { return user_; }
    // The HOME for the client: .ssh/ holds the client key (unless kept out) and an
    // empty config; nothing else.
    const std::string& home() const { return home_; }
    std::string knownHostsPath() const { return home_ + "/.ssh/known_hosts"; }
    std::string clientKeyPath() const { return clientKey_; }
    // The host key's fingerprint as `ssh-keygen -lf` prints it ("SHA256:...").
    const std::string& hostKeyFingerprint() const { return fingerprint_; }
    // Writes known_hosts as two lines: one for another host, then one for this server
    // ("[127.0.0.1]:PORT") with its own key or another one of the same type.
    void writeKnownHosts(KnownKey key) const;
    // Stops and continues the server and the sessions it serves: a new connection
    // finds no greeting, and a request no answer.
    void freeze() const;
    void thaw() const;
    // How many files below `folder` the server and its sessions hold open.
    int openFilesBelow(const std::string& folder) const;

private:
    ServerProcess process_{"sshd"};
    const std::string& work_ = process_.work();  // the config, keys, log and HOME
    std::string home_;
    std::string user_;
    std::string clientKey_;
    std::string fingerprint_;
    std::string error_;
    int port_ = 0;
};

// The client's side of a test against sshd: while it lives, HOME is the server's client
// HOME and no agent is reachable, so that only the key and known_hosts made there count.
struct SshClient {
    explicit SshClient(RealSftpServerOptions options = {}) : server(std::move(options)) {}
    // "sftp://USER@127.0.0.1:PORT" followed by `path`.
    std::string url(const std::string& path) const;

    RealSftpServer server;
    ScopedVariable home{"HOME", server.home()};
    ScopedVariable agent{"SSH_AUTH_SOCK", ""};
    TemporaryFolder files;  // the server's files, by their paths on this host
};

// passwordAnyUser: any user name with the password; oneTimeCode: a keyboard-interactive
// prompt for a code, which the password passes.
enum class ScriptedLogin { password, passwordAnyUser, keyboardInteractive, oneTimeCode };
// hostileNames: every listing also holds names a client must leave out; shortReads:
// each read is answered with at most 1000 bytes, wherever it is in the file;
// brokenListing: a listing fails after its first 128 names; outOfOrder: every other read
// or write of 64 KiB is answered 20 ms late, after those that follow it; failingReads: a
// read past the first 256 KiB of a file fails; fullDisk: a write reaching past 256 KiB
// fails ("Failure"), as on a full disk.
enum class ScriptedFiles { plain, hostileNames, shortReads, brokenListing, outOfOrder, failingReads, fullDisk };

// asyncssh serving `root` as "/" to user "tester" with password "secret".
class ScriptedSftpServer {
public:
    ScriptedSftpServer(const std::string& root, ScriptedLogin login, ScriptedFiles files = ScriptedFiles::plain);

    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // Its host key's fingerprint, for the client to trust.
    const std::string& hostKeyFingerprint() const { return fingerprint_; }

private:
    ServerProcess process_{"sshd"};
    const std::string& work_ = process_.work();
    std::string fingerprint_;
    std::string error_;
    int port_ = 0;
};

// ssh-agent on a socket of its own, holding one key; socket() is for SSH_AUTH_SOCK.
class SshAgent {
public:
    explicit SshAgent(const std::string& keyPath);

    const std::string& error() const { return error_; }
    const std::string& socket() const { return socket_; }

private:
    ServerProcess process_{"agent"};
    const std::string& work_ = process_.work();
    std::string socket_;
    std::string error_;
};

}  // namespace test_support
