// The SFTP engine: one SSH connection with its SFTP channel, over libssh, used by one
// thread at a time, as the FTP engine's session is. It applies ~/.ssh/config to the
// host name (HostName, Port, User, IdentityFile), checks the server's key against the
// known_hosts files as OpenSSH does, and logs in with ssh-agent, then the user's key
// files, then the password (password and keyboard-interactive). It speaks SFTP itself
// over the channel, keeping requests in flight: a transfer keeps enough reads or writes
// outstanding to fill the link (the window grows with the rate, up to 8 MiB), and a
// batch keeps several files open at once. Every wait is bounded by the silence limit and
// hears the stop flag within a quarter of a second; a wait cut short by either ends the
// connection ("Stopped", "The server did not answer for N s"), while a stop seen
// between two replies of a transfer leaves it open (the replies still due are dropped as
// they come). The engine makes the TCP connection itself, so ProxyCommand and ProxyJump
// are not followed. Results: 1 success, 0 failure with the reason in `lastError` (the
// SSH or SFTP reason, for example "No such file").
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sftp {

inline constexpr int defaultPort = 22;

// The server's key as known_hosts judges it: `revoked` when a "@revoked" line holds it.
enum class HostKeyCheck { known, unknown, changed, revoked, failed };

struct HostKeyProblem {
    HostKeyCheck check = HostKeyCheck::failed;
    std::string fingerprint;  // "SHA256:..." as OpenSSH prints it
    std::string keyType;      // "ssh-ed25519", ...
    // For a changed key: the known_hosts file and line that holds the old one, as
    // "FILE:LINE" (the line to remove); for a revoked key, the line that revokes it.
    std::string knownLine;
};

// Asked for the passphrase of a key file; none: skip that key. Called on the thread
// that opens.
using PassphrasePrompt = std::function<std::optional<std::string>(std::string_view keyFile)>;

struct OpenOptions {
    std::string host;  // a name, an address or a ~/.ssh/config alias
    int port = 0;      // 0: from ~/.ssh/config, else 22
    std::string user;  // empty: from ~/.ssh/config, else the login name
    // Empty: no password or keyboard-interactive login. The password goes to a password
    // login, and to keyboard-interactive prompts that ask for a password blind, never to
    // another question (a one-time code).
    std::string password;
    // The password goes only to a user that `user` or ~/.ssh/config names.
    bool passwordForNamedUserOnly = false;
    std::uint32_t connectTimeoutMs = 3000;
    std::uint32_t silenceLimitMs = 60000;  // any later wait without progress
    const std::atomic<bool>* stop = nullptr;
    // A key that known_hosts does not hold is accepted (not stored) when its fingerprint
    // is this one; empty: an unknown key fails the open with hostKeyProblem set.
    std::string trustedFingerprint;
    PassphrasePrompt askPassphrase;  // null: keys with a passphrase are skipped
};

struct SftpSession;  // opaque; owned by the caller through createSession / release

SftpSession* createSession();
void release(SftpSession* session);  // closes what is open, without waiting

// Connects, checks the host key, logs in and opens the SFTP channel.
int open(SftpSession& session, const OpenOptions& options);
// The stop flag that the session's next operations hear, in place of the one open was
// given (null: none). A session that serves one thread after another is given each
// thread's flag for an operation and null after it, so that it never holds a flag
// that may be gone (the watch of an operation lets go of its copy when it ends).
void setStopFlag(SftpSession& session, const std::atomic<bool>* stop);
bool isOpen(const SftpSession& session);
void close(SftpSession& session);
// The reason of the last failure; empty after a success.
const std::string& lastError(const SftpSession& session);
// Set when the last open failed on the host key (unknown, changed or revoked); else none.
std::optional<HostKeyProblem> hostKeyProblem(const SftpSession& session);
// Appends the key the last open met to ~/.ssh/known_hosts as libssh writes it (the host
// name not hashed); then the next open accepts it. The key is kept from a failed open
// until the next open or the release.
int trustHostKey(SftpSession& session);

// Called as a transfer moves, with the bytes this call has moved (those a continued
// download's local file held not counted); returning false stops it.
using Progress = std::function<bool(std::int64_t transferred)>;

// Writes one line per entry of `folder` into the new local file `listingPath`, in the
// fact form "+FACTS,\tNAME\n": "/" for a folder, "r" for a file ("r" and "/" for a
// link, neither for other kinds), "s<size>" for a file, "m<seconds since 1970 UTC>",
// "up<octal permission bits>".
// An entry whose name cannot stand for one entry (platform::unusableName) is written as
// a skipped line (ftp::skippedFactLine), never left out. A listing that fails part of
// the way leaves no file.
int listToFile(SftpSession& session, std::string_view folder, std::string_view listingPath);
// The device's end of one file of a transfer, owned by the caller (session/local_files.h
// gives each download and upload of Farlink its own): the engine asks for the local file
// when it needs it (a download's once the server has opened the remote file, so that a
// file the server refuses makes nothing on the device) and says how the transfer ended.
class LocalEnd {
public:
    virtual ~LocalEnd() = default;
    // The descriptor that a download is written into (at the remote file's offsets) or an
    // upload read from; it stays the end's own. A download continues from `offset`, the
    // bytes the local file holds already. -1 with `reason` fails the file.
    virtual int open(std::int64_t& offset, std::string& reason) = 0;
    // Once after an open: `whole` when every byte arrived (a download, whose server file
    // had the permission bits `sourceMode`, -1 when the server gave none) or was taken.
    // False with `reason` fails a whole file.
    virtual bool close(bool whole, int sourceMode, std::string& reason) = 0;
};

// Downloads `remotePath` into `local` with pipelined reads, from the offset its open
// gives. Fails when the bytes read end elsewhere than the size the file had when opened.
int download(SftpSession& session, std::string_view remotePath, LocalEnd& local, const Progress& progress);
// Uploads the local file from its start into the remote file, created with the local
// file's permission bits (the server's umask applying) or truncated.
int upload(SftpSession& session, LocalEnd& local, std::string_view remotePath, const Progress& progress);

// One file of a batch.
struct FileCopy {
    std::string remote = {};
    LocalEnd* local = nullptr;
    // An upload: the remote file's modification time to set once written (seconds since
    // 1970 UTC, as setModificationTime); -1: none. A server that cannot set it leaves the
    // copy standing.
    std::int64_t time = -1;
};
struct CopyResult {
    bool done = false;
    std::string error;  // why it failed
    // A download's: the remote file's modification time as the server gave it when the
    // file was opened (seconds since 1970 UTC); -1 when it gave none.
    std::int64_t time = -1;
};
// As Progress, for the file at `index` of the batch; `size` is the file's size once
// known (a download's as the server gives it when the file is opened), else -1.
using BatchProgress = std::function<bool(std::size_t index, std::int64_t transferred, std::int64_t size)>;
// Each file as download() or upload(), with up to 16 files open at once
// on the connection: the next files' requests go out while the earlier ones' replies
// arrive. A file that fails leaves the others going; a stop, or a wait that ends the
// connection, fails every file not yet done. A result per file, in the batch's order;
// lastError is the first failure's reason, empty when every file was copied.
std::vector<CopyResult> downloadFiles(SftpSession& session, const std::vector<FileCopy>& files,
                                      const BatchProgress& progress);
std::vector<CopyResult> uploadFiles(SftpSession& session, const std::vector<FileCopy>& files,
                                    const BatchProgress& progress);
// The same for a batch that is fed as it goes, so that files ready later join the
// requests in flight: `next` is asked for another file whenever fewer than 16 are open
// (again after each reply while it gives none), and `ended` hears each file's result as
// it ends, the file numbered in the order `next` gave it. The batch ends once `next`
// gives none with no file open, or after a stop or a wait that ended the connection
// (every file given then ended; no more is asked for). A session that cannot take a
// request is asked for one file, which fails.
using NextCopy = std::function<std::optional<FileCopy>()>;
using CopyEnded = std::function<void(std::size_t index, const CopyResult& result)>;
void downloadStream(SftpSession& session, const NextCopy& next, const BatchProgress& progress, const CopyEnded& ended);
void uploadStream(SftpSession& session, const NextCopy& next, const BatchProgress& progress, const CopyEnded& ended);
// The file's size, -1 when it has none or cannot be read.
std::int64_t fileSize(SftpSession& session, std::string_view path);
// The file's modification time in seconds since 1970 UTC (links followed), -1 when it
// has none or cannot be read.
std::int64_t modificationTime(SftpSession& session, std::string_view path);
// Sets the file's modification and access times to `time` (seconds since 1970 UTC).
int setModificationTime(SftpSession& session, std::string_view path, std::int64_t time);
// 1 when `path` names a folder (links followed).
int isFolder(SftpSession& session, std::string_view path);
// Fails where `to` exists (as SFTP's rename is).
int rename(SftpSession& session, std::string_view from, std::string_view to);
// Renames replacing the file `to` names: in one step where the server offers OpenSSH's
// posix-rename, else by removing that file first.
int renameOver(SftpSession& session, std::string_view from, std::string_view to);
int removeFile(SftpSession& session, std::string_view path);
int removeFolder(SftpSession& session, std::string_view path);
// With `sourceMode`'s permission bits (& 0777) and its owner's, the server's umask
// applying; -1: the server's own.
int makeFolder(SftpSession& session, std::string_view path, int sourceMode);
// The server still answers (a cheap request).
int probe(SftpSession& session);

}  // namespace sftp
