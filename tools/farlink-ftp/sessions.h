// How farlink-ftp reaches servers: through the program's own sessions (session/), opened
// from an address with the command line's login, time-out and --trust; the reason of a
// failure as the tool prints it; and downloads that leave nothing behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "ftp/ftp_url.h"
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
    int timeoutSeconds = 60;  // every wait, connecting included
    session::TrustDecisions* trust = nullptr;
    std::string netrcText;  // ~/.netrc, or --netrc-file
};

// A logged-in session to the server of `url`: FTP's password from the address, else
// FARLINK_PASSWORD, else the netrc entry, else an anonymous login; SFTP's from the
// address, else FARLINK_PASSWORD (keys with a passphrase only through ssh-agent). Null
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

// Downloads `remote` into `local` through a partial file of its own beside it, which
// replaces `local` only when whole (with `expectedSize` bytes, when >= 0) and goes
// after a failure: nothing continues it from here.
int downloadWhole(session::ServerSession& server, const std::string& remote, const std::string& local,
                  std::int64_t expectedSize);
// The partial file of such a download of `local`: a name of its own, since downloads over
// several connections may go into one folder at once.
std::string partialFor(const std::string& local);
// Removes what a failed download left in `partial`, when it is a file of this user's.
void dropPartial(const std::string& partial);

}  // namespace tool
