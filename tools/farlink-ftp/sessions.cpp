#include "tools/farlink-ftp/sessions.h"

#include <cstdlib>

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
        if (url.password) {
            login.password = *url.password;
        } else if (environmentPassword) {
            login.password = environmentPassword;
            login.passwordForNamedUserOnly = true;
        }
    } else {
        const ftp::Login chosen = ftp::chooseLogin(url.host, url.user, url.password, environmentPassword, options.netrc,
                                                   "farlink@");
        login.user = chosen.user;
        login.password = chosen.password;
    }
    login.passive = !options.active;
    login.uploadThroughTemporary = options.uploadThroughTemporary;
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

}  // namespace tool
