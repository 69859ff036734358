// farlink-ftp: the FTP and SFTP engines from the command line, for scripts, benchmarks and
// checking the engine against other servers.
//
//   farlink-ftp [OPTIONS] ls  ftp://[USER@]HOST[:PORT]/FOLDER/   (ftpes:// for TLS, sftp://)
//   farlink-ftp [OPTIONS] get ftp://[USER@]HOST[:PORT]/FILE LOCAL
//   farlink-ftp [OPTIONS] put LOCAL ftp://[USER@]HOST[:PORT]/FILE
//   farlink-ftp [OPTIONS] fxp ftp://.../SOURCE ftp://.../TARGET
//   farlink-ftp parse LISTING [--all]
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]). The password
// comes from the address (USER:PASS@), else FARLINK_PASSWORD, else ~/.netrc (or
// --netrc-file), else the login is anonymous: a password on the command line shows in
// ps and in the shell's history. What the server says is printed with its control
// characters as '?'.
// Passive mode (to the control connection's peer address) unless --active; a session
// gives up when nothing has moved for --timeout seconds (60). An ftpes:// server's
// certificate must pass the system's trust store, or be the one --trust names. An
// sftp:// server's key must be in known_hosts, or be the one --trust names; a changed
// key is always refused. Exit status 0 on success, 1 on failure with the server's last
// reply (or the reason) on stderr.
#include "ftp/ftp_commands.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_tls.h"
#include "ftp/ftp_transfer.h"
#include "ftp/ftp_url.h"
#include "ftp/listing_parser.h"
#include "ftp/netrc.h"
#include "ftp/server_to_server.h"
#include "platform/host_files.h"
#include "platform/text.h"
#include "sftp/sftp_session.h"
#include "tools/farlink-ftp/mirror.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

struct Options {
    bool active = false;
    int timeoutSeconds = 60;
    std::string trustedFingerprint;  // --trust
    std::string netrcText;           // ~/.netrc, or --netrc-file
};

// A server's words may hold control characters that would command the terminal.
int fail(const std::string& reason) {
    std::cerr << platform::printableText(reason);
    if (reason.empty() || reason.back() != '\n') std::cerr << '\n';
    return 1;
}

// A line for FARLINK_DEBUG only, as the engine's are.
void debugNote(const std::string& text) {
    if (std::getenv("FARLINK_DEBUG")) std::cerr << "farlink-ftp: " << platform::printableText(text) << '\n';
}

// The --timeout rule for one session: every byte sent or received, on the control or
// a data connection, is progress; the engine's waits give up once there has been none
// for the limit.
struct Watchdog {
    using Clock = std::chrono::steady_clock;
    Clock::duration limit;
    Clock::time_point lastProgress = Clock::now();
    bool gaveUp = false;
};

int keepWaiting(void* context) {
    auto* watchdog = static_cast<Watchdog*>(context);
    watchdog->gaveUp = Watchdog::Clock::now() - watchdog->lastProgress >= watchdog->limit;
    return !watchdog->gaveUp;
}

void noteTraffic(const char*, void* context, int) {
    static_cast<Watchdog*>(context)->lastProgress = Watchdog::Clock::now();
}

int noteData(std::int64_t, void* context, std::int32_t, std::int32_t) {
    noteTraffic(nullptr, context, 0);
    return 1;
}

// One logged-in session; closed orderly when the work succeeded, abruptly otherwise.
class Connection {
public:
    explicit Connection(const Options& options) : session_(ftp::createSession()), netrcText_(options.netrcText) {
        watchdog_.limit = std::chrono::seconds(options.timeoutSeconds);
        active_ = options.active;
        if (!session_.control) return;
        ftp::trustCertificate(session_, options.trustedFingerprint);
        ftp::FtpConnection& control = *session_.control;
        control.callbackContext = &watchdog_;
        control.idleCallback = keepWaiting;
        control.idleMicroseconds = 200000;  // how often a wait looks at the clock
        control.traceCallback = noteTraffic;
        control.progressCallback = noteData;
        control.progressInterval = 1;
    }
    ~Connection() {
        if (session_.control && session_.control->socket) ftp::quit(session_, succeeded_ ? 0 : 1);
        ftp::release(session_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool open(const ftp::FtpUrl& url) {
        const std::string host = ftp::hostWithPort(
            std::string(url.explicitTls ? ftp::explicitTlsPrefix : "") + url.host, url.port);
        const ftp::Login login = ftp::chooseLogin(url.host, url.user, url.password, std::getenv("FARLINK_PASSWORD"),
                                                  netrcText_, "farlink@");
        if (!session_.control || !ftp::openControl(session_, host) ||
            !ftp::logIn(session_, login.user, login.password)) {
            return false;
        }
        ftp::setConnectionMode(session_, active_ ? ftp::ConnectionMode::Active : ftp::ConnectionMode::Passive);
        session_.control->usePeerAddress = active_ ? 0 : 1;
        return true;
    }
    // The reason of the last failure, and the outcome that decides how to quit.
    std::string reason() const {
        const char* reply = ftp::lastReply(session_);
        std::string text = reply ? reply : "out of memory";
        if (const std::string fingerprint = ftp::unverifiedCertificate(session_); !fingerprint.empty()) {
            text += "farlink-ftp: the server's certificate could not be verified; its SHA-256 fingerprint is " +
                    fingerprint + " (--trust accepts it)\n";
        }
        if (!watchdog_.gaveUp) return text;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(watchdog_.limit).count();
        return "timed out: nothing moved for " + std::to_string(seconds) + " s (--timeout)\n" + text;
    }
    void settle(int result) { succeeded_ = result == 1; }
    int finish(int result) {
        settle(result);
        return succeeded_ ? 0 : fail(reason());
    }
    ftp::FtpSession& session() { return session_; }

private:
    ftp::FtpSession session_;
    const std::string& netrcText_;
    Watchdog watchdog_;
    bool active_ = false;
    bool succeeded_ = false;
};

// An SFTP session for an sftp:// address. The password: the address's, else
// FARLINK_PASSWORD; keys with a passphrase are used only through ssh-agent.
class SecureShellConnection {
public:
    explicit SecureShellConnection(const Options& options) : options_(options) {}
    SecureShellConnection(const SecureShellConnection&) = delete;
    SecureShellConnection& operator=(const SecureShellConnection&) = delete;

    bool open(const ftp::FtpUrl& url) {
        sftp::OpenOptions open;
        open.host = url.host;
        open.port = url.port;
        open.user = url.user.value_or("");
        const char* password = std::getenv("FARLINK_PASSWORD");
        open.password = url.password ? *url.password : password ? password : "";
        open.silenceLimitMs = std::uint32_t(options_.timeoutSeconds) * 1000;
        open.trustedFingerprint = options_.trustedFingerprint;
        return sftp::open(*session_, open) == 1;
    }
    std::string reason() const {
        std::string text = sftp::lastError(*session_);
        const auto problem = sftp::hostKeyProblem(*session_);
        if (problem && problem->check == sftp::HostKeyCheck::unknown) {
            text += "\nfarlink-ftp: the server's host key is not in known_hosts; its fingerprint is " +
                    problem->fingerprint + " (--trust accepts it)";
        }
        return text;
    }
    int finish(int result) { return result == 1 ? 0 : fail(reason()); }
    sftp::SftpSession& session() { return *session_; }

private:
    struct Release {
        void operator()(sftp::SftpSession* session) const { sftp::release(session); }
    };
    const Options& options_;
    std::unique_ptr<sftp::SftpSession, Release> session_{sftp::createSession()};
};

// Prints the listing file, then removes it. The SFTP engine's fact lines hold a tab
// before the name (never in it): shown as a space, not as '?'.
void printListing(const std::string& listing, int result, bool factLines) {
    std::string text;
    if (result && platform::readWhole(listing, text)) {
        if (factLines) std::replace(text.begin(), text.end(), '\t', ' ');
        std::cout << platform::printableText(text) << std::flush;
    }
    unlink(listing.c_str());
}

// The listing's fact lines ("+FACTS, NAME"), as the engine writes them for Farlink.
int listOverSsh(const ftp::FtpUrl& url, const Options& options) {
    SecureShellConnection connection(options);
    if (!connection.open(url)) return fail(connection.reason());
    const std::string listing = mirror::temporaryListingFile();
    if (listing.empty()) return fail("cannot create a temporary file");
    const int result = sftp::listToFile(connection.session(), url.path, listing);
    printListing(listing, result, true);
    return connection.finish(result);
}

// As over FTP, LOCAL is replaced only by a complete file; the engine checks the size.
int getOverSsh(const ftp::FtpUrl& url, const std::string& local, const Options& options) {
    SecureShellConnection connection(options);
    if (!connection.open(url)) return fail(connection.reason());
    const std::string partial = ftp::partialPathBeside(local, ".farlink-ftp-" + std::to_string(getpid()) + ".part");
    int result = sftp::download(connection.session(), url.path, partial, 0, nullptr);
    if (result && std::rename(partial.c_str(), local.c_str()) != 0) {
        unlink(partial.c_str());
        return fail("cannot replace " + local);
    }
    if (!result) unlink(partial.c_str());
    return connection.finish(result);
}

int putOverSsh(const std::string& local, const ftp::FtpUrl& url, const Options& options) {
    SecureShellConnection connection(options);
    if (!connection.open(url)) return fail(connection.reason());
    return connection.finish(sftp::upload(connection.session(), local, url.path, 0, nullptr));
}

int list(const ftp::FtpUrl& url, const Options& options) {
    if (url.secureShell) return listOverSsh(url, options);
    Connection connection(options);
    if (!connection.open(url)) return fail(connection.reason());
    if (!ftp::changeFolder(connection.session(), url.path)) return connection.finish(0);
    const std::string listing = mirror::temporaryListingFile();
    if (listing.empty()) return fail("cannot create a temporary file");
    const int result = ftp::listToFile(connection.session(), listing, std::nullopt);
    printListing(listing, result, false);
    return connection.finish(result);
}

// The file arrives in a partial beside LOCAL, which replaces LOCAL only when complete:
// with the size the server announced, when it announces one (without, a download cut
// short yet ended with 226 cannot be told from a whole one).
int get(const ftp::FtpUrl& url, const std::string& local, const Options& options) {
    if (url.secureShell) return getOverSsh(url, local, options);
    Connection connection(options);
    if (!connection.open(url)) return fail(connection.reason());
    ftp::FtpSession& session = connection.session();
    const std::int64_t size = ftp::fileSize(session, url.path);
    if (size < 0) debugNote("no size for " + url.path + " (" + ftp::lastReply(session) + "): length unchecked");
    const std::string partial = ftp::partialPathBeside(local, ".farlink-ftp-" + std::to_string(getpid()) + ".part");
    const int result = ftp::downloadResumable(session, local, url.path, 'I', partial, false, size);
    // Nothing continues a partial from here; only one of this user's is removed.
    struct stat left {};
    if (!result && lstat(partial.c_str(), &left) == 0 && S_ISREG(left.st_mode) && left.st_uid == geteuid()) {
        unlink(partial.c_str());
    }
    return connection.finish(result);
}

int put(const std::string& local, const ftp::FtpUrl& url, const Options& options) {
    if (url.secureShell) return putOverSsh(local, url, options);
    Connection connection(options);
    if (!connection.open(url)) return fail(connection.reason());
    return connection.finish(ftp::upload(connection.session(), local, url.path, 'I', 0));
}

// The data never passes here, so the whole copy must end within --timeout.
int copyBetweenServers(const ftp::FtpUrl& source, const ftp::FtpUrl& target, Options options) {
    if (source.secureShell || target.secureShell) return fail("fxp copies between FTP servers only");
    options.active = false;
    Connection from(options);
    Connection to(options);
    if (!from.open(source)) return fail(from.reason());
    if (!to.open(target)) return fail(to.reason());
    // The source takes the passive side, so that the target hears STOR before any data
    // can reach it (some servers drop a data connection that is early).
    const int result = ftp::serverToServer(from.session(), to.session(), source.path, target.path, 'I', 1);
    from.settle(result);
    to.settle(result);
    if (result) return 0;
    fail("source: " + from.reason());
    return fail("target: " + to.reason());
}

// The server's side of a mirror over FTP: every path absolute, the session back in "/"
// after each listing.
class FtpMirrorServer final : public mirror::Server {
public:
    explicit FtpMirrorServer(Connection& connection) : connection_(connection) {}
    int listToFile(const std::string& folder, const std::string& listingPath) override {
        ftp::FtpSession& session = connection_.session();
        if (const int exact = ftp::listExactToFile(session, listingPath, folder); exact >= 0) return exact;
        const int listed = ftp::changeFolder(session, folder) && ftp::listToFile(session, listingPath, std::nullopt);
        return listed && ftp::changeFolder(session, "/");
    }
    int get(const std::string& remote, const std::string& local) override {
        return ftp::download(connection_.session(), local, remote, 'I', 0);
    }
    int put(const std::string& local, const std::string& remote) override {
        return ftp::upload(connection_.session(), local, remote, 'I', 0);
    }
    std::int64_t modificationTime(const std::string& path) override {
        return ftp::modificationTime(connection_.session(), path);
    }
    int setModificationTime(const std::string& path, std::int64_t time) override {
        return ftp::setModificationTime(connection_.session(), path, time);
    }
    int makeFolder(const std::string& path) override { return ftp::makeFolder(connection_.session(), path); }
    int removeFile(const std::string& path) override { return ftp::deleteFile(connection_.session(), path); }
    int removeFolder(const std::string& path) override { return ftp::removeFolder(connection_.session(), path); }
    std::string reason() const override { return connection_.reason(); }

private:
    Connection& connection_;
};

class SftpMirrorServer final : public mirror::Server {
public:
    explicit SftpMirrorServer(SecureShellConnection& connection) : connection_(connection) {}
    int listToFile(const std::string& folder, const std::string& listingPath) override {
        return sftp::listToFile(connection_.session(), folder, listingPath);
    }
    int get(const std::string& remote, const std::string& local) override {
        const std::string partial = ftp::partialPathBeside(local, partialName_);
        const int result = sftp::download(connection_.session(), remote, partial, 0, nullptr);
        if (result && std::rename(partial.c_str(), local.c_str()) == 0) return 1;
        unlink(partial.c_str());
        return 0;
    }
    int put(const std::string& local, const std::string& remote) override {
        return sftp::upload(connection_.session(), local, remote, 0, nullptr);
    }
    std::int64_t modificationTime(const std::string& path) override {
        return sftp::modificationTime(connection_.session(), path);
    }
    int setModificationTime(const std::string& path, std::int64_t time) override {
        return sftp::setModificationTime(connection_.session(), path, time);
    }
    int makeFolder(const std::string& path) override { return sftp::makeFolder(connection_.session(), path); }
    int removeFile(const std::string& path) override { return sftp::removeFile(connection_.session(), path); }
    int removeFolder(const std::string& path) override { return sftp::removeFolder(connection_.session(), path); }
    std::string reason() const override { return connection_.reason(); }

private:
    static inline std::atomic<int> made_ = 0;
    SecureShellConnection& connection_;
    // A partial of its own: the connections of a mirror may download into one folder at once.
    const std::string partialName_ = ".farlink-ftp-" + std::to_string(getpid()) + "-" + std::to_string(made_++) +
                                     ".part";
};

// Opens `count` more connections to `url` at once; those that could not be opened are
// said on stderr and left out.
template <typename Link>
std::vector<std::unique_ptr<Link>> openConnections(const ftp::FtpUrl& url, int count, const Options& options) {
    // Every connection is made before any opener starts: the list must not move under them.
    std::vector<std::unique_ptr<Link>> links;
    for (int index = 0; index < count; ++index) links.push_back(std::make_unique<Link>(options));
    std::vector<char> opened(std::size_t(count), 0);
    std::vector<std::thread> openers;
    for (int index = 0; index < count; ++index)
        openers.emplace_back([&, index] { opened[std::size_t(index)] = links[std::size_t(index)]->open(url); });
    for (std::thread& opener : openers) opener.join();
    std::vector<std::unique_ptr<Link>> usable;
    for (int index = 0; index < count; ++index) {
        if (opened[std::size_t(index)]) {
            usable.push_back(std::move(links[std::size_t(index)]));
            continue;
        }
        std::cerr << "farlink-ftp: a further connection could not be opened, going on without it: ";
        fail(links[std::size_t(index)]->reason());
    }
    return usable;
}

// The mirror over a first connection, and over up to parallel - 1 more once the plan has
// work for them, each through a server object of its own. The connections stay in
// `connections` for the caller to close.
template <typename MirrorServer, typename Link>
int mirrorOver(const ftp::FtpUrl& url, const std::string& local, const mirror::Options& mirrorOptions, int parallel,
               const Options& options, std::vector<std::unique_ptr<Link>>& connections) {
    connections.push_back(std::make_unique<Link>(options));
    if (!connections.front()->open(url)) return fail(connections.front()->reason());
    std::vector<std::unique_ptr<MirrorServer>> servers;
    servers.push_back(std::make_unique<MirrorServer>(*connections.front()));
    const auto openMore = [&](int count) {
        std::vector<mirror::Server*> more;
        for (auto& connection : openConnections<Link>(url, count, options)) {
            connections.push_back(std::move(connection));
            servers.push_back(std::make_unique<MirrorServer>(*connections.back()));
            more.push_back(servers.back().get());
        }
        return more;
    };
    return mirror::run(*servers.front(), parallel, openMore, url.path, local, mirrorOptions);
}

int runMirror(const ftp::FtpUrl& url, const std::string& local, const mirror::Options& mirrorOptions, int parallel,
              const Options& options) {
    struct stat info {};
    if (stat(local.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return fail(local + " is no folder");
    if (url.secureShell) {
        std::vector<std::unique_ptr<SecureShellConnection>> connections;
        return mirrorOver<SftpMirrorServer>(url, local, mirrorOptions, parallel, options, connections);
    }
    std::vector<std::unique_ptr<Connection>> connections;
    const int status = mirrorOver<FtpMirrorServer>(url, local, mirrorOptions, parallel, options, connections);
    for (const auto& connection : connections) connection->settle(status == 0 ? 1 : 0);
    return status;
}

// Prints one row per entry, as the listing fetch would read the file: each line
// with its LF. Names and ids show control characters as '?', as ls does.
int parse(const std::string& path, bool all) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return fail("cannot open " + path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!file.eof()) line += '\n';
        ftp::RemoteEntry entry;
        if (!ftp::parseListingLine(&entry, line.data(), int(line.size()))) {
            if (all) std::cout << "rejected\t" << platform::printableText(line.substr(0, line.find('\n'))) << '\n';
            continue;
        }
        std::string_view name(entry.name, std::size_t(entry.nameLength));
        if (!name.empty() && name.back() == '\n') name.remove_suffix(1);
        std::cout << platform::printableText(name) << '\t' << entry.mayBeFolder << '\t' << entry.mayBeFile << '\t'
                  << int(entry.sizeKind) << '\t' << entry.size << '\t' << int(entry.timeKind) << '\t' << entry.time
                  << '\t' << entry.idKind << '\t'
                  << platform::printableText(std::string_view(entry.id ? entry.id : "", std::size_t(entry.idLength)))
                  << '\n';
    }
    return 0;
}

constexpr const char* usageText =
    "usage: farlink-ftp [OPTIONS] ls ftp://[USER@]HOST[:PORT]/FOLDER/\n"
    "       farlink-ftp [OPTIONS] get ftp://.../FILE LOCAL\n"
    "       farlink-ftp [OPTIONS] put LOCAL ftp://.../FILE\n"
    "       farlink-ftp [OPTIONS] fxp ftp://.../SOURCE ftp://.../TARGET\n"
    "       farlink-ftp [OPTIONS] mirror [--reverse] [--delete] [--dry-run] [--size-only]\n"
    "                   [--parallel N] ftp://.../FOLDER/ LOCALDIR\n"
    "       farlink-ftp parse LISTING [--all]\n"
    "options:\n"
    "  --active           active mode (PORT, EPRT on IPv6) instead of passive\n"
    "  --timeout SECONDS  give up when nothing has been sent or received for SECONDS\n"
    "                     (default 60; for fxp, the whole copy, whose data never passes here)\n"
    "  --trust SHA256     accept the server certificate with this fingerprint (as\n"
    "                     `openssl x509 -fingerprint -sha256` prints it) when the system's\n"
    "                     trust store cannot verify it; for sftp://, the host key with this\n"
    "                     fingerprint (SHA256:..., as ssh-keygen -l prints it) when\n"
    "                     known_hosts does not hold it\n"
    "  --netrc-file FILE  the logins of FILE instead of ~/.netrc\n"
    "  --help             this text\n"
    "HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]).\n"
    "An ftpes:// address (explicit TLS) works in each place of an ftp:// one, and an\n"
    "sftp:// address (SFTP over SSH, ~/.ssh/config and known_hosts applying) for ls, get, put\n"
    "and mirror.\n"
    "mirror brings the server folder to LOCALDIR (--reverse: LOCALDIR to the server folder):\n"
    "new files, files of another size and newer files are copied (--size-only: by size\n"
    "alone), --delete removes what the source does not have once every copy succeeded,\n"
    "--dry-run prints the actions (get, put, mkdir, rm, rmdir PATH) and changes nothing,\n"
    "--parallel N (1 to 8) acts over N connections at once.\n"
    "Links are never followed, copied or removed.\n"
    "The password: the address's (USER:PASS@, seen by anyone who lists processes), else\n"
    "FARLINK_PASSWORD, else the netrc entry for HOST (machine, login, password; default),\n"
    "else the login is anonymous. Exit status 0 on success, 1 on failure\n"
    "with the server's last reply or the reason on stderr.\n";

int usage() {
    std::cerr << usageText;
    return 1;
}

// The address in `text`, or a message on stderr.
std::optional<ftp::FtpUrl> addressArgument(const std::string& text) {
    ftp::FtpUrl url;
    std::string error;
    if (ftp::parseFtpUrl(text, url, error)) return url;
    std::cerr << text << ": " << error << '\n';
    return std::nullopt;
}

// mirror [--reverse] [--delete] [--dry-run] [--size-only] [--parallel N] URL LOCALDIR
int mirrorCommand(const std::vector<std::string>& arguments, const Options& options) {
    mirror::Options mirrorOptions;
    int parallel = 1;
    std::vector<std::string> operands;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (argument == "--reverse") {
            mirrorOptions.reverse = true;
        } else if (argument == "--delete") {
            mirrorOptions.remove = true;
        } else if (argument == "--dry-run") {
            mirrorOptions.dryRun = true;
        } else if (argument == "--size-only") {
            mirrorOptions.sizeOnly = true;
        } else if (argument == "--parallel" && index + 1 < arguments.size()) {
            const std::string& value = arguments[++index];
            if (value.size() != 1 || value[0] < '1' || value[0] > '8')
                return fail("--parallel takes a number of connections from 1 to 8: " + value);
            parallel = value[0] - '0';
        } else if (argument.starts_with("--")) {
            return usage();
        } else {
            operands.push_back(argument);
        }
    }
    if (operands.size() != 2) return usage();
    const auto folder = addressArgument(operands[0]);
    return folder ? runMirror(*folder, operands[1], mirrorOptions, parallel, options) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_DUMPABLE, 0);  // a core dump would hold the password
    std::vector<std::string> arguments(argv + 1, argv + argc);
    Options options;
    std::optional<std::string> netrcFile;
    std::size_t first = 0;
    for (; first < arguments.size() && arguments[first].starts_with("--"); ++first) {
        const std::string& option = arguments[first];
        if (option == "--help") {
            std::cout << usageText;
            return 0;
        }
        if (option == "--active") {
            options.active = true;
        } else if (option == "--timeout" && first + 1 < arguments.size()) {
            const std::string& value = arguments[++first];
            char* end = nullptr;
            const long seconds = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || seconds < 1 || seconds > 86400) {
                std::cerr << "--timeout takes a number of seconds from 1 to 86400: " << value << '\n';
                return 1;
            }
            options.timeoutSeconds = int(seconds);
        } else if (option == "--trust" && first + 1 < arguments.size()) {
            // "sha256 Fingerprint=AB:..." as openssl prints it, or the part after '='.
            const std::string& value = arguments[++first];
            options.trustedFingerprint = value.substr(value.rfind('=') + 1);
        } else if (option == "--netrc-file" && first + 1 < arguments.size()) {
            netrcFile = arguments[++first];
        } else {
            return usage();
        }
    }
    if (netrcFile && !platform::readWhole(*netrcFile, options.netrcText)) {
        std::cerr << "farlink-ftp: cannot read " << *netrcFile << '\n';
        return 1;
    }
    if (const char* home = std::getenv("HOME"); !netrcFile && home) {
        platform::readWhole(std::string(home) + "/.netrc", options.netrcText);
    }
    arguments.erase(arguments.begin(), arguments.begin() + long(first));
    if (arguments.empty()) return usage();
    const std::string& command = arguments[0];
    if (command == "parse" && (arguments.size() == 2 || (arguments.size() == 3 && arguments[2] == "--all"))) {
        return parse(arguments[1], arguments.size() == 3);
    }
    if (command == "ls" && arguments.size() == 2) {
        const auto folder = addressArgument(arguments[1]);
        return folder ? list(*folder, options) : 1;
    }
    if (command == "get" && arguments.size() == 3) {
        const auto file = addressArgument(arguments[1]);
        return file ? get(*file, arguments[2], options) : 1;
    }
    if (command == "put" && arguments.size() == 3) {
        const auto file = addressArgument(arguments[2]);
        return file ? put(arguments[1], *file, options) : 1;
    }
    if (command == "mirror")
        return mirrorCommand(std::vector<std::string>(arguments.begin() + 1, arguments.end()), options);
    if (command == "fxp" && arguments.size() == 3) {
        const auto source = addressArgument(arguments[1]);
        const auto target = addressArgument(arguments[2]);
        return source && target ? copyBetweenServers(*source, *target, options) : 1;
    }
    return usage();
}
