#include "tools/farlink-ftp/sessions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "ftp/netrc.h"

namespace tool {
namespace {

std::string timedOut(session::ServerSession& server, int timeoutSeconds) {
    return "timed out: nothing moved for " + std::to_string(timeoutSeconds) + " s (--timeout)\n" + server.lastMessage();
}

}  // namespace

std::unique_ptr<session::ServerSession> openSession(const ftp::FtpUrl& url, const Options& options,
                                                    std::string& reason) {
    const char* environmentPassword = std::getenv("FARLINK_PASSWORD");
    session::ServerLogin login;
    login.host = (url.explicitTls ? "ftpes://" : "") + url.host;
    login.port = std::uint32_t(url.port);
    if (url.secureShell) {
        login.user = url.user.value_or("");
        login.password = url.password ? *url.password : environmentPassword ? environmentPassword : "";
    } else {
        const ftp::Login chosen = ftp::chooseLogin(url.host, url.user, url.password, environmentPassword,
                                                   options.netrcText, "farlink@");
        login.user = chosen.user;
        login.password = chosen.password;
    }
    login.passive = !options.active;
    login.connectWaitMs = login.silenceLimitMs = std::uint32_t(options.timeoutSeconds) * 1000;
    login.trust = options.trust;
    std::unique_ptr<session::ServerSession> server = url.secureShell ? session::newSftpSession()
                                                                     : session::newFtpSession();
    session::OpenFailure failure = session::OpenFailure::none;
    if (server->open(login, failure, reason)) return server;
    if (server->gaveUpWaiting()) reason = timedOut(*server, options.timeoutSeconds);
    const std::string identity = server->untrustedIdentity();
    if (identity == "certificate") {
        reason += "farlink-ftp: the server's certificate could not be verified; its SHA-256 fingerprint is " +
                  server->presentedFingerprint() + " (--trust accepts it)\n";
    } else if (identity == "host key") {
        reason += "farlink-ftp: the server's host key is not in known_hosts; its fingerprint is " +
                  server->presentedFingerprint() + " (--trust accepts it)\n";
    }
    return nullptr;
}

std::string failureOf(session::ServerSession& server, int timeoutSeconds) {
    if (!server.gaveUpWaiting()) return server.failureText();
    const std::string text = timedOut(server, timeoutSeconds);
    server.failureText();  // drops the connection, whose late reply must answer nothing
    return text;
}

std::string failureOf(const session::TransferOutcome& outcome, session::ServerSession& server, int timeoutSeconds) {
    return outcome.gaveUpWaiting ? timedOut(server, timeoutSeconds) : outcome.failure;
}

std::string partialFor(const std::string& local) {
    static std::atomic<int> made = 0;
    return session::partialPathBeside(
        local, ".farlink-ftp-" + std::to_string(getpid()) + "-" + std::to_string(made++) + ".part");
}

void dropPartial(const std::string& partial) {
    // Only a file of this user's is removed, never what took the name meanwhile.
    struct stat left {};
    if (lstat(partial.c_str(), &left) == 0 && S_ISREG(left.st_mode) && left.st_uid == geteuid())
        unlink(partial.c_str());
}

int downloadWhole(session::ServerSession& server, const std::string& remote, const std::string& local,
                  std::int64_t expectedSize) {
    const std::string partial = partialFor(local);
    const int result = server.download(remote, local, partial, false, expectedSize);
    if (!result) dropPartial(partial);
    return result;
}

}  // namespace tool
