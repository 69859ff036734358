// How farlink-ftp reaches servers: through the program's own sessions (session/), opened
// from an address with the command line's login, time-out, --trust and
// --no-temp-upload; and the reason of a failure as the tool prints it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "ftp/ftp_url.h"
#include "ftp/netrc.h"
#include "session/server_session.h"

namespace tool {

// --trust: the one certificate or host key accepted beyond the trust store and
// known_hosts, for every server of the command; nothing is remembered.
class CommandLineTrust final : public session::TrustDecisions {
public:
    explicit CommandLineTrust(std::string fingerprint) : fingerprint_(std::move(fingerprint)) {}
    std::string trustedCertificate(std::string_view) override { return fingerprint_; }
    bool rememberCertificate(std::string_view, std::string_view) override { return false; }
    std::string trustedHostKey(std::string_view) override { return fingerprint_; }

private:
    const std::string fingerprint_;
};

struct Options {
    bool active = false;
    bool uploadThroughTemporary = true;  // off with --no-temp-upload
    int timeoutSeconds = 60;             // every wait, connecting included
    session::TrustDecisions* trust = nullptr;
    ftp::NetrcFile netrc;  // ~/.netrc, or --netrc-file
};

// A logged-in session to the server of `url`, with the password as ftp::chooseLogin
// chooses it for FTP (anonymous without a user); over SFTP the address's, else
// FARLINK_PASSWORD when the address or ~/.ssh/config names the user (keys with a
// passphrase only through ssh-agent). Null
// with the reason, as printed, in `reason`: after a certificate or host key that was not
// trusted, with a line giving the fingerprint --trust takes.
std::unique_ptr<session::ServerSession> openSession(const ftp::FtpUrl& url, const Options& options,
                                                    std::string& reason);

// Why the last operation of `server` failed, as printed: the server's words or the
// reason; when a wait gave up, "timed out: nothing moved for N s (--timeout)" and the
// server's last reply.
std::string failureOf(session::ServerSession& server, int timeoutSeconds);

// The same for one file of a batch that failed.
std::string failureOf(const session::TransferOutcome& outcome, session::ServerSession& server, int timeoutSeconds);

}  // namespace tool
