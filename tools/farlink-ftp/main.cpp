// farlink-ftp: the program's FTP and SFTP sessions from the command line, for scripts,
// benchmarks and checking the engines against other servers.
//
//   farlink-ftp [OPTIONS] ls  ftp://[USER@]HOST[:PORT]/FOLDER/   (ftpes:// for TLS, sftp://)
//   farlink-ftp [OPTIONS] get ftp://[USER@]HOST[:PORT]/FILE LOCAL
//   farlink-ftp [OPTIONS] put LOCAL ftp://[USER@]HOST[:PORT]/FILE
//   farlink-ftp [OPTIONS] fxp ftp://.../SOURCE ftp://.../TARGET
//   farlink-ftp [OPTIONS] edit ftp://[USER@]HOST[:PORT]/FILE      (the user's editor; tools/farlink-ftp/edit.h)
//   farlink-ftp parse LISTING [--all]
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets ([::1]). The password
// comes from the address (USER:PASS@), else FARLINK_PASSWORD for a user named, else
// ~/.netrc (or --netrc-file) while only its owner can read it; without a user the login
// is anonymous: a password on the command line shows in ps and in the shell's history.
// What came from a server or a name is printed with its control characters as '?'.
// Passive mode (to the control connection's peer address) unless --active; a session
// gives up when nothing has moved for --timeout seconds (60). An ftpes:// server's
// certificate must pass the system's trust store, or be the one --trust names. An
// sftp:// server's key must be in known_hosts, or be the one --trust names; a changed
// key is always refused. Exit status 0 on success, 1 on failure with the server's last
// reply (or the reason) on stderr.
#include "ftp/ftp_url.h"
#include "ftp/listing_parser.h"
#include "platform/folder_handles.h"
#include "platform/host_files.h"
#include "platform/text.h"
#include "tools/farlink-ftp/edit.h"
#include "tools/farlink-ftp/mirror.h"
#include "tools/farlink-ftp/sessions.h"

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using tool::Options;
using Session = std::unique_ptr<session::ServerSession>;

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

// The exit status of a command that ended with `result` on `server`, which it leaves:
// orderly after a success, abruptly after a failure (a late reply must not be waited for).
int finish(session::ServerSession& server, int result, const Options& options) {
    if (result == 1) {
        server.quit(false);
        return 0;
    }
    const std::string reason = tool::failureOf(server, options.timeoutSeconds);
    server.quit(true);
    return fail(reason);
}

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

// FTP's listing as the server writes it; SFTP's as fact lines ("+FACTS, NAME"), as the
// engine writes them for Farlink.
int list(const ftp::FtpUrl& url, const Options& options) {
    std::string reason;
    const Session server = tool::openSession(url, options, reason);
    if (!server) return fail(reason);
    const std::string listing = mirror::temporaryListingFile();
    if (listing.empty()) return fail("cannot create a temporary file");
    const int result = server->listToFile(url.path, listing);
    printListing(listing, result, url.secureShell);
    return finish(*server, result, options);
}

// The file arrives in a temporary file beside LOCAL (the file its links name), which
// replaces it only when complete: with the size the server announced, when it announces
// one (without, a download cut short yet ended with 226 cannot be told from a whole one,
// and the output says so).
int get(const ftp::FtpUrl& url, const std::string& local, const Options& options) {
    std::string reason;
    const Session server = tool::openSession(url, options, reason);
    if (!server) return fail(reason);
    const std::int64_t size = server->fileSize(url.path);
    if (size < 0) debugNote("no size for " + url.path + " (" + server->lastMessage() + ")");
    const session::DownloadTarget target{.file = platform::anchoredInFolder(platform::followLinks(local)),
                                         .expectedSize = size};
    const int result = server->download(url.path, target);
    if (result && size < 0) {
        std::cerr << "farlink-ftp: the server gave no size for " << platform::printableText(url.path)
                  << ": the length of what arrived is unchecked\n";
    }
    return finish(*server, result, options);
}

int put(const std::string& local, const ftp::FtpUrl& url, const Options& options) {
    std::string reason;
    const Session server = tool::openSession(url, options, reason);
    if (!server) return fail(reason);
    return finish(*server, server->upload(platform::anchoredInFolder(platform::followLinks(local)), url.path), options);
}

// The data never passes here, so the whole copy must end within --timeout.
int copyBetweenServers(const ftp::FtpUrl& source, const ftp::FtpUrl& target, Options options) {
    if (source.secureShell || target.secureShell) return fail("fxp copies between FTP servers only");
    options.active = false;
    std::string reason;
    const Session from = tool::openSession(source, options, reason);
    if (!from) return fail(reason);
    const Session to = tool::openSession(target, options, reason);
    if (!to) return fail(reason);
    std::string refusal;
    if (from->copyToServer(*to, source.path, target.path, refusal)) {
        from->quit(false);
        to->quit(false);
        return 0;
    }
    fail("source: " + tool::failureOf(*from, options.timeoutSeconds));
    return fail("target: " + tool::failureOf(*to, options.timeoutSeconds));
}

// Opens `count` more sessions to `url` at once; those that could not be opened are said
// on stderr and left out.
std::vector<Session> openMore(const ftp::FtpUrl& url, int count, const Options& options) {
    std::vector<Session> opened(static_cast<std::size_t>(count));
    std::vector<std::string> reasons(static_cast<std::size_t>(count));
    std::vector<std::thread> openers;
    for (std::size_t index = 0; index < opened.size(); ++index)
        openers.emplace_back([&, index] { opened[index] = tool::openSession(url, options, reasons[index]); });
    for (std::thread& opener : openers) opener.join();
    std::vector<Session> usable;
    for (std::size_t index = 0; index < opened.size(); ++index) {
        if (opened[index]) {
            usable.push_back(std::move(opened[index]));
            continue;
        }
        std::cerr << "farlink-ftp: a further connection could not be opened, going on without it: ";
        fail(reasons[index]);
    }
    return usable;
}

// The mirror over a first session, and over up to parallel - 1 more once the plan has
// work for them; each is left orderly when every action succeeded, else abruptly.
int runMirror(const ftp::FtpUrl& url, const std::string& local, const mirror::Options& mirrorOptions, int parallel,
              const Options& options) {
    struct stat info {};
    if (stat(local.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return fail(local + " is no folder");
    std::vector<Session> sessions;
    std::string reason;
    sessions.push_back(tool::openSession(url, options, reason));
    if (!sessions.front()) return fail(reason);
    const auto more = [&](int count) {
        std::vector<session::ServerSession*> added;
        for (Session& opened : openMore(url, count, options)) {
            sessions.push_back(std::move(opened));
            added.push_back(sessions.back().get());
        }
        return added;
    };
    const int status = mirror::run(*sessions.front(), parallel, more, url.path, local, mirrorOptions);
    for (const Session& server : sessions) server->quit(status != 0);
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
    "       farlink-ftp [OPTIONS] edit ftp://.../FILE\n"
    "       farlink-ftp [OPTIONS] mirror [--reverse] [--delete] [--dry-run] [--size-only]\n"
    "                   [--parallel N] ftp://.../FOLDER/ LOCALDIR\n"
    "       farlink-ftp parse LISTING [--all]\n"
    "options:\n"
    "  --active           active mode (PORT, EPRT on IPv6) instead of passive\n"
    "  --no-temp-upload   upload straight into the target, for servers that refuse\n"
    "                     renames (by default an upload goes to a temporary name in the\n"
    "                     target's folder, renamed onto the target once whole)\n"
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
    "sftp:// address (SFTP over SSH, ~/.ssh/config and known_hosts applying) for ls, get, put,\n"
    "mirror and edit.\n"
    "mirror brings the server folder to LOCALDIR (--reverse: LOCALDIR to the server folder):\n"
    "new files, files of another size and newer files are copied (--size-only: by size\n"
    "alone), --delete removes what the source does not have once every copy succeeded,\n"
    "--dry-run prints the actions (get, put, mkdir, rm, rmdir PATH) and changes nothing,\n"
    "--parallel N (1 to 8) acts over N connections at once.\n"
    "Links are never followed, copied or removed.\n"
    "edit downloads FILE, runs $VISUAL (else $EDITOR, else editor, else vi) on it, and\n"
    "uploads it when it changed, asking first when the server's file changed meanwhile;\n"
    "a version that is not uploaded is kept in the current folder as\n"
    "\"FILE (edited YYYY-MM-DD HH-MM)\". Exit status 0 once the server has it or nothing\n"
    "changed.\n"
    "The user: the address's, else the netrc entry's for HOST (machine, login, password;\n"
    "default), else the login is anonymous (sftp://: ~/.ssh/config's, else the login name).\n"
    "The password: the address's (USER:PASS@, seen by anyone who lists processes), else\n"
    "FARLINK_PASSWORD for a user so named, else (ftp://) the netrc entry's, unless the\n"
    "file's group or others can read it.\n"
    "Exit status 0 on success, 1 on failure with the server's last reply or the reason on\n"
    "stderr.\n";

int usage() {
    std::cerr << usageText;
    return 1;
}

// The address in `text`, or a message on stderr.
std::optional<ftp::FtpUrl> addressArgument(const std::string& text) {
    ftp::FtpUrl url;
    std::string error;
    if (ftp::parseFtpUrl(text, url, error)) return url;
    std::cerr << platform::printableText(text) << ": " << error << '\n';
    return std::nullopt;
}

// mirror [--reverse] [--delete] [--dry-run] [--size-only] [--parallel N] URL LOCALDIR
int mirrorCommand(const std::vector<std::string>& arguments, const Options& options) {
    mirror::Options mirrorOptions{.timeoutSeconds = options.timeoutSeconds};
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
    std::string trustedFingerprint;
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
        } else if (option == "--no-temp-upload") {
            options.uploadThroughTemporary = false;
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
            trustedFingerprint = value.substr(value.rfind('=') + 1);
        } else if (option == "--netrc-file" && first + 1 < arguments.size()) {
            netrcFile = arguments[++first];
        } else {
            return usage();
        }
    }
    if (netrcFile && !ftp::readNetrcFile(*netrcFile, options.netrc)) {
        std::cerr << "farlink-ftp: cannot read " << platform::printableText(*netrcFile) << '\n';
        return 1;
    }
    if (const char* home = std::getenv("HOME"); !netrcFile && home) {
        ftp::readNetrcFile(std::string(home) + "/.netrc", options.netrc);
    }
    if (const std::string warning = ftp::netrcWarning(options.netrc); !warning.empty()) {
        std::cerr << "farlink-ftp: " << platform::printableText(warning) << '\n';
    }
    tool::CommandLineTrust trust(trustedFingerprint);
    options.trust = &trust;
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
    if (command == "edit" && arguments.size() == 2) {
        const auto file = addressArgument(arguments[1]);
        return file ? tool::edit(*file, options) : 1;
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
