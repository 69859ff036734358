// session/: one connection to a server, whatever it speaks, for the program and for
// farlink-ftp alike. The FTP engine (ftp/) and the SFTP engine (sftp/) stand behind it;
// it knows nothing of places, views or windows, and is told whom to trust.
//
// A session is used by one thread at a time; each operation hears the stop flag of the
// thread that runs it (platform/stop_flag.h), for that operation only. Results: 1
// success, 0 failure with the reason in failureText().
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "session/local_files.h"

namespace session {

inline constexpr std::u16string_view sftpPrefix = u"sftp://";
inline constexpr std::uint32_t ftpDefaultPort = 21;
inline constexpr std::uint32_t sftpDefaultPort = 22;

// What a long transfer reports while it runs, and how it is asked to stop. Any thread.
// A batch counts the bytes of all its files, and the sizes of those whose size is known.
struct TransferWatch {
    std::atomic<std::int64_t> done{0};    // bytes moved by the current transfer
    std::atomic<std::int64_t> total{-1};  // its size; -1 when unknown
    std::atomic<bool> stop{false};
    // The copy is a retry: a download continues the partial file a failed try left.
    std::atomic<bool> resume{false};
};
// The watch of the calling thread's copies: the queue's worker names its own, and the
// Remote view's copy operations on that thread report to it. Null: none. Any thread.
void setThreadTransferWatch(TransferWatch* watch);
TransferWatch* threadTransferWatch();

// The identities a session accepts beyond the system's trust store and known_hosts: the
// program keeps the certificates the user trusted in its settings; farlink-ftp takes
// one fingerprint from its command line. Any thread.
class TrustDecisions {
public:
    virtual ~TrustDecisions() = default;
    // The SHA-256 fingerprint ("AB:CD:...") of the certificate trusted for `server`, or
    // "" when none is. An FTP server is named "host:port" in lower case, without its
    // "ftpes://" ("files.example.org:21", "[::1]:2121").
    virtual std::string trustedCertificate(std::string_view server) = 0;
    // Remembers `fingerprint` for `server`, replacing the one before; false when it
    // cannot be kept.
    virtual bool rememberCertificate(std::string_view server, std::string_view fingerprint) = 0;
    // The fingerprint ("SHA256:...") of an SSH host key that known_hosts does not hold
    // but that is accepted for `server` ("host:port"), or "" when none is.
    virtual std::string trustedHostKey(std::string_view server) = 0;
};

// What opening a session needs (the program copies it from the place).
struct ServerLogin {
    std::string host;  // its scheme included: "ftpes://NAME" for FTP over TLS, "sftp://NAME" for SFTP
    std::uint32_t port = 0;
    std::string user;
    std::string password;
    // The password goes only to a user named here or, over SFTP, by ~/.ssh/config; else
    // it is not sent (the login name's account is no one's choice for it). For a
    // password that names no account itself: farlink-ftp's FARLINK_PASSWORD.
    bool passwordForNamedUserOnly = false;
    bool passive = true;  // FTP data connections
    // An upload goes to a temporary name in the target's folder and is renamed onto the
    // target once whole; off for servers that refuse renames or watch their folders.
    bool uploadThroughTemporary = true;
    std::uint32_t connectWaitMs = 3000;    // connecting and the greeting
    std::uint32_t silenceLimitMs = 60000;  // any later wait without progress
    // The passphrase the user gave for the key file `keyFile`, for this open only.
    std::string keyFile;
    std::string passphrase;
    // Whom to trust beyond the trust store and known_hosts; null: nobody. It outlives
    // the session.
    TrustDecisions* trust = nullptr;

    ~ServerLogin();  // wipes the password and the passphrase
};

enum class OpenFailure { none, connection, login };

// One file of a batch (downloadFiles, uploadFiles).
struct FileTransfer {
    std::string remotePath;
    // A download's device side, as download() takes it: a target of unknown size
    // (expectedSize -1) is checked against the size the server gives (SFTP's as it opens
    // the file, FTP's SIZE, asked first).
    DownloadTarget target = {};
    platform::AnchoredPath local = {};  // an upload's file
    // Once whole, the target takes the source's modification time, so that the next
    // comparison finds the two alike: a download's is `time` when `timeExact`, else the
    // server's (SFTP's as it opened the file, FTP's MDTM), else `time` after all; an
    // upload's is `time`, else the local file's. Seconds since 1970 UTC; -1: unknown. A
    // time that cannot be set leaves the copy standing.
    bool keepTime = false;
    std::int64_t time = -1;
    bool timeExact = false;
};
struct TransferOutcome {
    bool done = false;
    std::string failure;         // as failureText() gives it
    bool gaveUpWaiting = false;  // as gaveUpWaiting() tells it
};
// The next file of a batch, or none when no more is ready now.
using NextTransfer = std::function<std::optional<FileTransfer>()>;
// A file of a batch ended; files are numbered in the order NextTransfer gave them.
using TransferEnded = std::function<void(std::size_t file, const TransferOutcome& outcome)>;

class ServerSession {
public:
    virtual ~ServerSession() = default;

    // Connects, checks the server's identity and logs in. On failure `failure` says
    // which step failed and `reason` why.
    virtual int open(const ServerLogin& login, OpenFailure& failure, std::string& reason) = 0;
    // The error tag of an open that failed at `failure`: FTP's "(KVT-FC-1)" (connection)
    // and "(KVT-FC-2)" (login), SFTP's "(KVT-SC-1)" (connection, host key) and
    // "(KVT-SC-2)" (login).
    virtual std::u16string_view openFailureTag(OpenFailure failure) const = 0;
    virtual bool isOpen() const = 0;
    // Leaves the server; `abrupt` does not wait for its answer (used after a failure,
    // when a late reply must never answer the next command).
    virtual void quit(bool abrupt) = 0;
    // Whether the connection still answers. `lost` tells a connection that was open and
    // did not answer from one that never was; one that met silence is closed at once.
    virtual int probe(bool& lost) = 0;
    // Milliseconds since the server last answered on this connection (a large number
    // when it never did), so that a connection in steady use need not be probed.
    virtual std::uint32_t quietMs() const = 0;
    // The reason of the last failure: a sentence when a wait gave up or the thread was
    // stopped (the connection is then closed, without waiting), else the server's words.
    virtual std::string failureText() = 0;
    // Whether the last operation failed on a wait that gave up on the server's silence
    // (failureText() then says so).
    virtual bool gaveUpWaiting() const = 0;
    // The server's last words after a success ("226 Transfer complete"); may be empty.
    virtual std::string lastMessage() const = 0;

    // After an open that failed on the server's identity (a certificate or a host key the
    // user has not trusted): the question that lets the user trust it, and what it is
    // ("certificate", "host key"). The question is empty when it must not be asked (an
    // SSH key that changed is refused outright).
    virtual std::string untrustedIdentity() const = 0;
    virtual std::u16string trustQuestion(std::u16string_view placeName) const = 0;
    // Its fingerprint, as TrustDecisions names it; empty when untrustedIdentity() is.
    virtual std::string presentedFingerprint() const = 0;
    // After an open that refused the server's identity outright (an SSH host key that
    // changed, or one that known_hosts revokes): true; the reason then says which
    // known_hosts line to look at.
    virtual bool identityRefused() const = 0;
    // After an open that failed to log in while a key file with a passphrase was left
    // out for want of it: that key file; else empty.
    virtual std::string lockedKey() const = 0;
    // Remembers what the user trusted, so that the next open accepts it; 0 with the
    // reason in `reason`.
    virtual int trustPresented(std::string& reason) = 0;

    // Writes the listing of `folder` into the new file `listingPath`, one line per entry
    // in a form ftp::parseListingLine reads.
    virtual int listToFile(const std::string& folder, const std::string& listingPath) = 0;
    // The same, for a synchronisation: exact sizes and times to the second in UTC where
    // the server can list so (FTP's MLSD; SFTP always), else as listToFile.
    virtual int listExactToFile(const std::string& folder, const std::string& listingPath) = 0;
    // Downloads into a temporary file beside the target, which replaces the target only
    // when whole (session/local_files.h says how). The reason of a failure on the device
    // is the system's.
    virtual int download(const std::string& remotePath, const DownloadTarget& target) = 0;
    // Uploads the file, read through folder handles. Through a temporary name (see
    // ServerLogin): the server's file is replaced only once the whole file arrived, and
    // stays as it was after a failure, which removes the temporary file where it can.
    virtual int upload(const platform::AnchoredPath& local, const std::string& remotePath) = 0;
    // Many files one way, each as download() or upload() would copy it: `next` is asked
    // for files as the session can take them (over SFTP up to 16 are in flight at once,
    // and `next` is asked again as replies come while it gives none; FTP copies one after
    // the other), and `ended` hears each file's outcome as it ends: one failure fails
    // that file alone. Returns once `next` gives none with no file under way, or once the
    // connection is lost (a stop, silence): every file given has ended then, and no more
    // is asked for. A session that cannot copy is asked for one file, which fails.
    virtual void downloadFiles(const NextTransfer& next, const TransferEnded& ended) = 0;
    virtual void uploadFiles(const NextTransfer& next, const TransferEnded& ended) = 0;
    // The file's size, -1 when the server gives none.
    virtual std::int64_t fileSize(const std::string& path) = 0;
    // The file's modification time to the second, in seconds since 1970 UTC (FTP's MDTM,
    // SFTP's stat): a listing's may be rounded, or in the server's zone. -1 when the
    // server gives none.
    virtual std::int64_t modificationTime(const std::string& path) = 0;
    // Sets it (FTP's MFMT, else MDTM with a time; SFTP's setstat). 1 set; 0 failed, with
    // the reason in failureText(); -1 when the server has no way to set a time.
    virtual int setModificationTime(const std::string& path, std::int64_t time) = 0;
    // With `sourceMode`'s permission bits where the protocol can say them (SFTP; & 0777,
    // the server's umask applying); -1: the server's own.
    virtual int makeFolder(const std::string& path, int sourceMode) = 0;
    // After a makeFolder that failed: whether the name is taken already, so that a folder
    // copy goes into it and New Folder tries the next name (FTP servers say so with a
    // 550; an SFTP server is asked whether the path is a folder).
    virtual bool nameTaken(const std::string& path) = 0;
    virtual int removeFolder(const std::string& path) = 0;
    virtual int deleteFile(const std::string& path) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    // Copies `from` on this server to `to` on `target`'s server, the data going between
    // the servers. 0 on failure; `refusal` then says why when the two servers cannot
    // make such a copy at all (nothing was sent).
    virtual int copyToServer(ServerSession& target, const std::string& from, const std::string& to,
                             std::string& refusal) = 0;
    // The transfers that follow report their bytes to `watch` and stop when it says so;
    // silence gives up after the login's limit. Null ends it.
    virtual void watchTransfers(TransferWatch* watch) = 0;
};

// The clock of quietMs, and the milliseconds since `then` on it (UINT32_MAX for a time
// never set).
using AnswerClock = std::chrono::steady_clock;
std::uint32_t millisecondsSince(AnswerClock::time_point then);

// Whether the place's host names an SFTP server ("sftp://NAME", in any case).
bool isSftpHost(std::u16string_view host);
// A session for the place whose host is `host`: SFTP for "sftp://", else FTP.
std::unique_ptr<ServerSession> newServerSession(std::u16string_view host);
std::unique_ptr<ServerSession> newFtpSession();
std::unique_ptr<ServerSession> newSftpSession();

// A new temporary name (platform/own_files.h) in the folder of the server file
// `serverPath`, for an upload to go to until it is whole.
std::string temporaryNameBeside(std::string_view serverPath);

// Why no copy goes from server to server (within one server too) where one speaks SFTP.
inline constexpr std::string_view sftpServerToServerRefusal =
    "A copy from server to server is not possible where an SFTP server is one of them: copy to the device first, "
    "then from there.\n";

}  // namespace session
