// The SFTP engine against OpenSSH's sshd, with keys and a HOME made for each test:
// host keys, logins, listings, transfers, file changes, and waits that give up; and
// against asyncssh for password logins and names a listing must leave out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "ftp/listing_parser.h"
#include "ftp/machine_listing.h"
#include "sftp/sftp_session.h"
#include "tests/support/real_sftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace test_support;
using Clock = std::chrono::steady_clock;

struct SessionDeleter {
    void operator()(sftp::SftpSession* session) const { sftp::release(session); }
};
using Session = std::unique_ptr<sftp::SftpSession, SessionDeleter>;

Session newSession() { return Session(sftp::createSession()); }

// The sshd of a test and a session to it.
struct SshdTest : SshClient {
    Session session = newSession();

    using SshClient::SshClient;

    sftp::OpenOptions options() const {
        sftp::OpenOptions options;
        options.host = "127.0.0.1";
        options.port = server.port();
        options.user = server.user();
        options.silenceLimitMs = 5000;
        return options;
    }
    // Opens with the server's key known.
    int open(sftp::OpenOptions options) {
        server.writeKnownHosts(KnownKey::serverKey);
        return sftp::open(*session, options);
    }
    int open() { return open(options()); }
};

// The server frozen for a scope, and thawed at its end or after ten seconds, so that a
// wait that never gives up fails its test instead of hanging it. The waits under test
// end within a second; the tests bound them at five, well clear of sanitizers' pace and
// of the thaw.
class Frozen {
public:
    explicit Frozen(const RealSftpServer& server) : server_(server) { server_.freeze(); }
    ~Frozen() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        guard_.join();
    }

private:
    const RealSftpServer& server_;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread guard_{[this] {
        std::unique_lock lock(mutex_);
        ended_.wait_for(lock, std::chrono::seconds(10), [this] { return done_; });
        server_.thaw();
    }};
};

// A local end of the engine's own tests: a path, opened to read, or made anew to write.
struct PathEnd final : sftp::LocalEnd {
    PathEnd(std::string path, bool read) : path(std::move(path)), read(read) {}
    int open(std::int64_t& offset, std::string& reason) override {
        offset = 0;
        file = ::open(path.c_str(), read ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (file < 0) reason = "cannot open " + path + ": " + std::strerror(errno);
        return file;
    }
    bool close(bool, int, std::string&) override { return ::close(file) == 0; }
    std::string path;
    bool read;
    int file = -1;
};

int downloadPath(sftp::SftpSession& session, const std::string& from, const std::string& to,
                 const sftp::Progress& progress) {
    PathEnd local(to, false);
    return sftp::download(session, from, local, progress);
}
int uploadPath(sftp::SftpSession& session, const std::string& from, const std::string& to,
               const sftp::Progress& progress) {
    PathEnd local(from, true);
    return sftp::upload(session, local, to, progress);
}

#define ASSERT_STARTED(server) ASSERT_EQ((server).error(), "")
// The test's server started and a session opened to it.
#define ASSERT_OPEN(test)                                                \
    do {                                                                 \
        ASSERT_STARTED((test).server);                                   \
        ASSERT_EQ((test).open(), 1) << sftp::lastError(*(test).session); \
    } while (false)

// --- Host keys -------------------------------------------------------------------------

std::size_t openDescriptors() {
    return std::size_t(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

// The connection goes with the session, whether it opened, met an unknown key (kept
// for trustHostKey until then) or failed; and no other descriptor goes with it.
TEST(SftpHostKey, NoConnectionIsLeftAfterTheRelease) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    test.session.reset();
    enum class Outcome { opened, unknownKey, silent };
    for (const Outcome outcome : {Outcome::opened, Outcome::unknownKey, Outcome::silent}) {
        SCOPED_TRACE(int(outcome));
        sftp::OpenOptions options = test.options();
        if (outcome != Outcome::unknownKey) options.trustedFingerprint = test.server.hostKeyFingerprint();
        options.silenceLimitMs = 500;
        std::optional<Frozen> frozen;
        if (outcome == Outcome::silent) frozen.emplace(test.server);
        const std::size_t before = openDescriptors();
        Session session = newSession();
        EXPECT_EQ(sftp::open(*session, options), outcome == Outcome::opened ? 1 : 0);
        session.reset();
        frozen.reset();
        EXPECT_EQ(openDescriptors(), before);
    }
}

// A key that known_hosts holds another one for is never accepted, not even with its
// fingerprint given: the old line is named for the user to remove.
TEST(SftpHostKey, AFingerprintGivenOpensOnceWithoutStoringTheKeyButNeverOverAChangedOne) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    sftp::OpenOptions options = test.options();
    options.trustedFingerprint = test.server.hostKeyFingerprint();
    EXPECT_EQ(sftp::open(*test.session, options), 1) << sftp::lastError(*test.session);
    EXPECT_EQ(readFile(test.server.knownHostsPath()), "<missing>");

    test.server.writeKnownHosts(KnownKey::anotherKey);
    EXPECT_EQ(sftp::open(*test.session, options), 0);
    ASSERT_TRUE(sftp::hostKeyProblem(*test.session));
    EXPECT_EQ(sftp::hostKeyProblem(*test.session)->check, sftp::HostKeyCheck::changed);
    EXPECT_TRUE(
        sftp::lastError(*test.session).ends_with("remove the old one at " + test.server.knownHostsPath() + ":2"))
        << sftp::lastError(*test.session);

    std::filesystem::remove(test.server.knownHostsPath());
    options.trustedFingerprint = "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
    EXPECT_EQ(sftp::open(*test.session, options), 0);
    ASSERT_TRUE(sftp::hostKeyProblem(*test.session));
    EXPECT_EQ(sftp::hostKeyProblem(*test.session)->check, sftp::HostKeyCheck::unknown);
}

// A "@revoked" line for the server's key refuses it, though another line knows it or the
// caller trusts its fingerprint; one for another host or key refuses nothing.
TEST(SftpHostKey, ARevokedKeyIsRefusedNamingItsLine) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    test.server.writeKnownHosts(KnownKey::serverKey);
    const std::string known = readFile(test.server.knownHostsPath());
    const std::string serverLine = known.substr(known.find("[127.0.0.1]"));  // "[127.0.0.1]:PORT TYPE KEY\n"
    const std::string key = serverLine.substr(serverLine.find(' '));
    const struct {
        std::string knownHosts;
        bool trustFingerprint;
        std::string refusedAt;  // the line named; empty: it opens
    } cases[] = {
        {"@revoked " + serverLine + serverLine, false, ":1)"},
        {serverLine + "  @revoked\t" + serverLine, false, ":2)"},
        {"@revoked *" + key, true, ":1)"},
        {"@revoked otherhost.example" + key + serverLine, false, ""},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.knownHosts);
        writeFile(test.server.knownHostsPath(), each.knownHosts);
        sftp::OpenOptions options = test.options();
        if (each.trustFingerprint) options.trustedFingerprint = test.server.hostKeyFingerprint();
        Session session = newSession();
        const int opened = sftp::open(*session, options);
        if (each.refusedAt.empty()) {
            EXPECT_EQ(opened, 1) << sftp::lastError(*session);
            continue;
        }
        EXPECT_EQ(opened, 0);
        EXPECT_EQ(sftp::lastError(*session),
                  "the host key is revoked (" + test.server.knownHostsPath() + each.refusedAt);
        ASSERT_TRUE(sftp::hostKeyProblem(*session));
        EXPECT_EQ(sftp::hostKeyProblem(*session)->check, sftp::HostKeyCheck::revoked);
    }
}

// --- Logins --------------------------------------------------------------------------

struct PassphraseCase {
    const char* name;
    std::optional<std::string> answer;
    int opened;
};

class SftpPassphrase : public testing::TestWithParam<PassphraseCase> {};

TEST_P(SftpPassphrase, IsAskedForTheKeyFileAndAWrongOrNoAnswerSkipsIt) {
    SshdTest test(RealSftpServerOptions{.clientPassphrase = "open sesame"});
    ASSERT_STARTED(test.server);
    std::vector<std::string> asked;
    sftp::OpenOptions options = test.options();
    options.askPassphrase = [&](std::string_view keyFile) {
        asked.emplace_back(keyFile);
        return GetParam().answer;
    };
    EXPECT_EQ(test.open(options), GetParam().opened);
    EXPECT_EQ(asked, std::vector<std::string>{test.server.clientKeyPath()});
    EXPECT_EQ(sftp::lastError(*test.session), GetParam().opened ? "" : "Permission denied (publickey).");
}

INSTANTIATE_TEST_SUITE_P(Answers, SftpPassphrase,
                         testing::Values(PassphraseCase{"Right", "open sesame", 1},
                                         PassphraseCase{"Wrong", "open barley", 0},
                                         PassphraseCase{"None", std::nullopt, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SftpLogin, AnAgentHoldingTheKeyLogsIn) {
    SshdTest test(RealSftpServerOptions{.clientPassphrase = "", .clientKeyInHome = false});
    ASSERT_STARTED(test.server);
    EXPECT_EQ(test.open(), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "Permission denied (publickey).");

    SshAgent agent(test.server.clientKeyPath());
    ASSERT_STARTED(agent);
    ScopedVariable socket("SSH_AUTH_SOCK", agent.socket());
    EXPECT_EQ(test.open(), 1) << sftp::lastError(*test.session);
}

TEST(SftpLogin, AnAliasOfTheConfigGivesHostPortUserAndKeyFile) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    const std::string key = test.server.home() + "/elsewhere_key";
    std::filesystem::rename(test.server.clientKeyPath(), key);
    std::filesystem::rename(test.server.clientKeyPath() + ".pub", key + ".pub");
    writeFile(test.server.home() + "/.ssh/config", "Host farlink-test\n  HostName 127.0.0.1\n  Port " +
                                                       std::to_string(test.server.port()) + "\n  User " +
                                                       test.server.user() + "\n  IdentityFile " + key + "\n");
    sftp::OpenOptions options;
    options.host = "farlink-test";
    EXPECT_EQ(test.open(options), 1) << sftp::lastError(*test.session);
}

// --- Listings ------------------------------------------------------------------------

struct ListedEntry {
    bool folder = false;
    bool file = false;
    std::int64_t size = -1;
    bool operator==(const ListedEntry&) const = default;
};

// The listing file's lines as the FTP listing parser reads them, by name; a skipped
// line's name (ftp::nameOfSkippedLine) as neither a folder nor a file.
std::map<std::string, ListedEntry> parsedListing(const std::string& text) {
    std::map<std::string, ListedEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ftp::RemoteEntry entry;
        if (const auto skipped = ftp::nameOfSkippedLine(line)) {
            entries[*skipped] = {};
            continue;
        }
        EXPECT_EQ(ftp::parseListingLine(&entry, line.data(), int(line.size())), 1) << line;
        entries[std::string(entry.name, std::size_t(entry.nameLength))] = {
            entry.mayBeFolder != 0, entry.mayBeFile != 0,
            entry.sizeKind == ftp::SizeKind::Exact ? entry.size : std::int64_t(-1)};
    }
    return entries;
}

TEST(SftpListing, GivesEachEntryItsKindExactSizeAndTime) {
    SshdTest test;
    ASSERT_OPEN(test);
    const std::string folder = test.files / "folder";
    std::filesystem::create_directory(folder);
    writeFile(folder + "/small", "hello");
    writeFile(folder + "/with space and ünïcode", "");
    std::filesystem::create_directory(folder + "/sub");
    std::filesystem::create_symlink("sub", folder + "/link");
    // Sparse, so that a size past 32 bits costs no disk.
    std::filesystem::resize_file((writeFile(folder + "/huge", ""), folder + "/huge"), 5LL << 30);
    const timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
    utimes((folder + "/small").c_str(), times);
    chmod((folder + "/small").c_str(), 0640);

    ASSERT_EQ(sftp::listToFile(*test.session, folder, test.files / "listing"), 1) << sftp::lastError(*test.session);
    const std::string listing = readFile(test.files / "listing");
    const std::map<std::string, ListedEntry> expected = {
        {"small", {false, true, 5}}, {"with space and ünïcode", {false, true, 0}}, {"sub", {true, false, -1}},
        {"link", {true, true, -1}},  {"huge", {false, true, 5LL << 30}},
    };
    EXPECT_EQ(parsedListing(listing), expected) << listing;
    EXPECT_NE(listing.find("+r,s5,m1700000000,up640,\tsmall\n"), std::string::npos) << listing;
}

// --- Transfers -----------------------------------------------------------------------

// A stop asked from the progress callback, either way, ends a transfer at once and
// leaves the connection usable.
TEST(SftpTransferStop, EndsATransferAndTheConnectionStaysOpen) {
    for (const bool upload : {false, true}) {
        for (const bool byFlag : {true, false}) {
            SCOPED_TRACE(std::string(upload ? "upload, " : "download, ") +
                         (byFlag ? "stop flag" : "progress returning false"));
            SshdTest test;
            ASSERT_STARTED(test.server);
            std::atomic<bool> stop = false;
            sftp::OpenOptions options = test.options();
            options.stop = &stop;
            ASSERT_EQ(test.open(options), 1) << sftp::lastError(*test.session);
            const std::string bytes = patternBytes(8 * 1024 * 1024);
            writeFile(test.files / "source", bytes);
            int calls = 0;
            const auto progress = [&](std::int64_t) {
                ++calls;
                stop = byFlag;
                return byFlag;
            };
            const auto transfer = upload ? uploadPath : downloadPath;
            EXPECT_EQ(transfer(*test.session, test.files / "source", test.files / "target", progress), 0);
            EXPECT_EQ(sftp::lastError(*test.session), "Stopped");
            EXPECT_EQ(calls, 1);
            EXPECT_LT(std::filesystem::file_size(test.files / "target"), bytes.size());
            stop = false;
            EXPECT_EQ(sftp::probe(*test.session), 1) << sftp::lastError(*test.session);
        }
    }
}

// --- Changes to files and folders -----------------------------------------------------

// Each change, listing or transfer that fails names the server's reason, leaves nothing
// behind (no listing file) and keeps the connection.
TEST(SftpChanges, RenameRemoveAndFoldersChangeTheServerAndSayWhyTheyFail) {
    SshdTest test;
    ASSERT_OPEN(test);
    sftp::SftpSession& session = *test.session;
    writeFile(test.files / "a", "bytes");
    EXPECT_EQ(sftp::fileSize(session, test.files / "a"), 5);
    EXPECT_EQ(sftp::fileSize(session, test.files.path()), -1);
    EXPECT_EQ(sftp::fileSize(session, test.files / "missing"), -1);
    EXPECT_EQ(sftp::setModificationTime(session, test.files / "a", 1700000000), 1) << sftp::lastError(session);
    EXPECT_EQ(sftp::modificationTime(session, test.files / "a"), 1700000000);
    EXPECT_EQ(sftp::modificationTime(session, test.files / "missing"), -1);

    EXPECT_EQ(sftp::rename(session, test.files / "a", test.files / "b"), 1) << sftp::lastError(session);
    EXPECT_EQ(treeText(test.files.path()), "b bytes\n");
    EXPECT_EQ(sftp::makeFolder(session, test.files / "folder", -1), 1) << sftp::lastError(session);
    EXPECT_EQ(sftp::rename(session, test.files / "b", test.files / "folder/b"), 1) << sftp::lastError(session);
    EXPECT_EQ(treeText(test.files.path()), "folder/\nfolder/b bytes\n");

    struct Failing {
        const char* what;
        std::function<int()> call;
        const char* error;
    };
    const Failing failures[] = {
        {"rmdir of a folder with a file", [&] { return sftp::removeFolder(session, test.files / "folder"); },
         "Failure"},
        {"mkdir of an existing folder", [&] { return sftp::makeFolder(session, test.files / "folder", -1); },
         "File already exists"},
        {"rename of a missing file", [&] { return sftp::rename(session, test.files / "nothing", test.files / "c"); },
         "No such file"},
        {"remove of a missing file", [&] { return sftp::removeFile(session, test.files / "nothing"); }, "No such file"},
        {"listing of a missing folder",
         [&] { return sftp::listToFile(session, test.files / "missing", test.files / "listing"); }, "No such file"},
        {"download of a missing file",
         [&] { return downloadPath(session, test.files / "missing", test.server.home() + "/copy", nullptr); },
         "No such file"},
        {"upload into a missing folder",
         [&] { return uploadPath(session, test.files / "folder/b", test.files / "missing/file", nullptr); },
         "No such file"},
        {"download of a folder",
         [&] { return downloadPath(session, test.files.path(), test.server.home() + "/copy", nullptr); }, "Failure"},
    };
    for (const Failing& failing : failures) {
        EXPECT_EQ(failing.call(), 0) << failing.what;
        EXPECT_EQ(sftp::lastError(session), failing.error) << failing.what;
    }
    EXPECT_EQ(treeText(test.files.path()), "folder/\nfolder/b bytes\n");

    // A rename over a file fails; OpenSSH's posix-rename replaces it.
    writeFile(test.files / "folder/c", "newer");
    EXPECT_EQ(sftp::rename(session, test.files / "folder/c", test.files / "folder/b"), 0);
    EXPECT_EQ(sftp::renameOver(session, test.files / "folder/c", test.files / "folder/b"), 1)
        << sftp::lastError(session);
    EXPECT_EQ(treeText(test.files.path()), "folder/\nfolder/b newer\n");

    EXPECT_EQ(sftp::removeFile(session, test.files / "folder/b"), 1) << sftp::lastError(session);
    EXPECT_EQ(sftp::removeFolder(session, test.files / "folder"), 1) << sftp::lastError(session);
    EXPECT_EQ(treeText(test.files.path()), "");
    EXPECT_EQ(sftp::lastError(session), "");
}

// --- Waits ---------------------------------------------------------------------------

// A server that falls silent, at the greeting or in the middle of a transfer with its
// window full: the wait gives up at the silence limit, closing the session, or at a stop,
// heard at once, not at the limit.
TEST(SftpWaits, ASilentServerIsLeftAtTheLimitOrWhenStopped) {
    enum class Step { greeting, download, upload };
    for (const Step step : {Step::greeting, Step::download, Step::upload}) {
        for (const bool stopping : {false, true}) {
            SCOPED_TRACE(std::to_string(int(step)) + (stopping ? ", stopped" : ", silence limit"));
            SshdTest test;
            ASSERT_STARTED(test.server);
            std::atomic<bool> stop = false;
            sftp::OpenOptions options = test.options();
            options.silenceLimitMs = stopping ? 60000 : 1000;
            options.stop = &stop;
            std::optional<Frozen> frozen;
            std::optional<Clock::time_point> stopped;
            std::thread stopper;
            const auto freezeThenStop = [&](std::int64_t) {
                if (frozen) return true;
                frozen.emplace(test.server);
                if (stopping) {
                    stopper = std::thread([&] {
                        std::this_thread::sleep_for(std::chrono::milliseconds(300));
                        stopped = Clock::now();
                        stop = true;
                    });
                }
                return true;
            };
            if (step == Step::greeting) {
                freezeThenStop(0);
            } else {
                ASSERT_EQ(test.open(options), 1) << sftp::lastError(*test.session);
                writeFile(test.files / "source", patternBytes(64 * 1024 * 1024));
            }
            const auto transfer = step == Step::upload ? uploadPath : downloadPath;
            const auto started = Clock::now();
            EXPECT_EQ(step == Step::greeting
                          ? test.open(options)
                          : transfer(*test.session, test.files / "source", test.files / "target", freezeThenStop),
                      0);
            const auto ended = Clock::now();
            if (stopper.joinable()) stopper.join();
            frozen.reset();
            EXPECT_EQ(sftp::lastError(*test.session), stopping ? "Stopped" : "The server did not answer for 1 s");
            EXPECT_LT(ended - stopped.value_or(started), std::chrono::seconds(5));
            if (stopping) continue;
            EXPECT_GE(ended - started, std::chrono::seconds(1));
            EXPECT_FALSE(sftp::isOpen(*test.session));
            EXPECT_EQ(sftp::probe(*test.session), 0);
            EXPECT_EQ(sftp::lastError(*test.session), "Not connected");
        }
    }
}

// --- Many requests and files in flight -------------------------------------------------

using Results = std::vector<sftp::CopyResult>;

// Files of sizes around the read and write sizes and the window, one missing: it alone
// fails, the others arrive whole, either way; uploads take the time asked.
TEST(SftpBatch, OneFileFailingLeavesTheOthersWhole) {
    SshdTest test;
    ASSERT_OPEN(test);
    std::filesystem::create_directories(test.files / "there");
    std::filesystem::create_directories(test.files / "back");
    std::vector<sftp::FileCopy> downloads, uploads;
    std::vector<std::string> contents;
    std::deque<PathEnd> ends;
    for (int index = 0; index < 40; ++index) {
        const std::string name = "/file-" + std::to_string(index);
        contents.push_back(patternBytes(std::size_t(index) * 40000 + std::size_t(index % 3)));
        if (index != 17) writeFile(test.files / "there" + name, contents.back());
        downloads.push_back({test.files / "there" + name, &ends.emplace_back(test.files / "here" + name, false)});
        uploads.push_back(
            {test.files / "back" + name, &ends.emplace_back(test.files / "here" + name, true), 1700000000});
    }
    std::filesystem::create_directories(test.files / "here");
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        const Results results = upload ? sftp::uploadFiles(*test.session, uploads, nullptr)
                                       : sftp::downloadFiles(*test.session, downloads, nullptr);
        ASSERT_EQ(results.size(), contents.size());
        for (std::size_t index = 0; index < contents.size(); ++index) {
            SCOPED_TRACE(index);
            const std::string target = upload ? uploads[index].remote
                                              : test.files / "here/file-" + std::to_string(index);
            EXPECT_EQ(results[index].done, index != 17) << results[index].error;
            if (index == 17) continue;
            EXPECT_TRUE(readFile(target) == contents[index]);
            struct stat info {};
            EXPECT_TRUE(!upload || (stat(target.c_str(), &info) == 0 && info.st_mtime == 1700000000));
        }
        EXPECT_EQ(results[17].error,
                  upload ? "cannot open " + test.files / "here/file-17: No such file or directory" : "No such file");
    }
}

// A batch stopped while files were being opened leaves none of them open on the server:
// a handle that comes for a request given up is closed.
TEST(SftpBatch, AStopLeavesNoFileOpenOnTheServer) {
    SshdTest test;
    ASSERT_OPEN(test);
    std::filesystem::create_directories(test.files / "there");
    std::filesystem::create_directories(test.files / "here");
    std::vector<sftp::FileCopy> files;
    std::deque<PathEnd> ends;
    for (int index = 0; index < 60; ++index) {
        const std::string name = "/file-" + std::to_string(index);
        writeFile(test.files / "there" + name, patternBytes(1000));
        files.push_back({test.files / "there" + name, &ends.emplace_back(test.files / "here" + name, false)});
    }
    const auto stopHalfway = [](std::size_t index, std::int64_t, std::int64_t) { return index < 30; };
    EXPECT_EQ(sftp::downloadFiles(*test.session, files, stopHalfway)[59].error, "Stopped");
    // The replies still due arrive with a later request's.
    EXPECT_EQ(sftp::probe(*test.session), 1) << sftp::lastError(*test.session);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (test.server.openFilesBelow(test.files / "there") > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(test.server.openFilesBelow(test.files / "there"), 0);
}

// --- Password logins and hostile names, against asyncssh ------------------------------

// Opens a session with the asyncssh server's password, HOME a folder of the test.
struct ScriptedTest {
    TemporaryFolder root;
    ScriptedSftpServer server;
    TemporaryFolder home;
    ScopedVariable homeVariable{"HOME", home.path()};
    ScopedVariable agent{"SSH_AUTH_SOCK", ""};
    Session session = newSession();

    explicit ScriptedTest(ScriptedFiles files, ScriptedLogin login = ScriptedLogin::password)
        : server(root.path(), login, files) {}
    int open() { return sftp::open(*session, options()); }
    sftp::OpenOptions options(const char* password = "secret", const char* user = "tester") const {
        sftp::OpenOptions options;
        options.host = "127.0.0.1";
        options.port = server.port();
        options.user = user;
        options.password = password;
        options.passwordForNamedUserOnly = true;
        options.trustedFingerprint = server.hostKeyFingerprint();
        return options;
    }
};

struct PasswordCase {
    const char* name;
    ScriptedLogin login;
    const char* password;
    const char* error;            // empty: it opens
    const char* user = "tester";  // empty: none named here
    const char* config = "";      // ~/.ssh/config
};

class SftpPassword : public testing::TestWithParam<PasswordCase> {};

// The password goes only to a password login or prompt, for a user someone named.
TEST_P(SftpPassword, LogsInWithTheRightOneOnly) {
    ScriptedTest test(ScriptedFiles::plain, GetParam().login);
    ASSERT_STARTED(test.server);
    std::filesystem::create_directory(test.home / ".ssh");
    writeFile(test.home / ".ssh/config", GetParam().config);
    EXPECT_EQ(sftp::open(*test.session, test.options(GetParam().password, GetParam().user)), *GetParam().error ? 0 : 1);
    EXPECT_EQ(sftp::lastError(*test.session), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Methods, SftpPassword,
                         testing::Values(PasswordCase{"Password", ScriptedLogin::password, "secret", ""},
                                         PasswordCase{"WrongPassword", ScriptedLogin::password, "guess",
                                                      "Permission denied (password)."},
                                         PasswordCase{"Interactive", ScriptedLogin::keyboardInteractive, "secret", ""},
                                         PasswordCase{"WrongInteractive", ScriptedLogin::keyboardInteractive, "guess",
                                                      "Permission denied (keyboard-interactive)."},
                                         PasswordCase{"OneTimeCode", ScriptedLogin::oneTimeCode, "secret",
                                                      "Permission denied (keyboard-interactive)."},
                                         PasswordCase{"NoUserNamed", ScriptedLogin::passwordAnyUser, "secret",
                                                      "Permission denied (password).", ""},
                                         PasswordCase{"UserFromTheConfig", ScriptedLogin::password, "secret", "", "",
                                                      "Host 127.0.0.1\n  User tester\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Names that cannot stand for one entry are listed as skipped lines, each name whole
// (a synchronisation then leaves it alone on both sides), never left out; ".." is no entry.
TEST(SftpHostileNames, AreListedAsSkippedAndOthersKept) {
    ScriptedTest test(ScriptedFiles::hostileNames);
    writeFile(test.root / "normal.txt", "abc");
    std::filesystem::create_directory(test.root / "folder");
    ASSERT_OPEN(test);
    ASSERT_EQ(sftp::listToFile(*test.session, "/", test.home / "listing"), 1) << sftp::lastError(*test.session);
    const std::string listing = readFile(test.home / "listing");
    const std::map<std::string, ListedEntry> expected = {{"normal.txt", {false, true, 3}},
                                                         {"folder", {true, false, -1}},
                                                         {"a/b", {}},
                                                         {"x\nfoo", {}},
                                                         {"bell\x01", {}},
                                                         {"bad\xff.txt", {}},
                                                         {"back\\slash", {}},
                                                         {"del\x7f", {}},
                                                         {"c1\xc2\x85", {}}};
    EXPECT_EQ(parsedListing(listing), expected) << listing;
}

// A listing that fails after its first names fails whole: no file is left that a
// caller could take for the folder. The connection stays.
TEST(SftpBrokenListing, FailsAndLeavesNoFile) {
    ScriptedTest test(ScriptedFiles::brokenListing);
    for (int entry = 0; entry < 200; ++entry) writeFile(test.root / ("entry-" + std::to_string(entry)), "");
    ASSERT_OPEN(test);
    EXPECT_EQ(sftp::listToFile(*test.session, "/", test.home / "listing"), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "Failure");
    EXPECT_FALSE(std::filesystem::exists(test.home / "listing"));
    EXPECT_EQ(sftp::probe(*test.session), 1);
}

// Replies in another order than their requests, or shorter than asked (the reads after
// each are asked again from where it ended, so that no gap and no overlap reach the local
// file), put every byte in its place, one big file or many at once, either way.
TEST(SftpScriptedReplies, LandInPlaceOutOfOrderOrShort) {
    for (const ScriptedFiles mode : {ScriptedFiles::outOfOrder, ScriptedFiles::shortReads}) {
        SCOPED_TRACE(int(mode));
        ScriptedTest test(mode);
        const std::string big = patternBytes(1536 * 1024 + 5);
        writeFile(test.root / "big", big);
        std::vector<sftp::FileCopy> files;
        std::deque<PathEnd> ends;
        for (int index = 0; index < 30; ++index) {
            const std::string name = "small-" + std::to_string(index);
            writeFile(test.root / name, patternBytes(std::size_t(index) * 9000));
            files.push_back({"/" + name, &ends.emplace_back(test.home / name, false)});
        }
        ASSERT_OPEN(test);
        ASSERT_EQ(downloadPath(*test.session, "/big", test.home / "big", nullptr), 1) << sftp::lastError(*test.session);
        EXPECT_TRUE(readFile(test.home / "big") == big);
        ASSERT_EQ(uploadPath(*test.session, test.home / "big", "/up", nullptr), 1) << sftp::lastError(*test.session);
        EXPECT_TRUE(readFile(test.root / "up") == big);
        for (const sftp::CopyResult& result : sftp::downloadFiles(*test.session, files, nullptr))
            EXPECT_TRUE(result.done) << result.error;
        for (const sftp::FileCopy& file : files)
            EXPECT_TRUE(readFile(test.home.path() + file.remote) == readFile(test.root.path() + file.remote));
    }
}

// A failure in the middle of a window (a read, or a write on a full disk) fails that file
// alone: the files of its batch still in flight arrive whole, and the replies still due do
// not trouble the next request.
TEST(SftpFailureMidWindow, FailsTheFileAlone) {
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        ScriptedTest test(upload ? ScriptedFiles::fullDisk : ScriptedFiles::failingReads);
        std::vector<sftp::FileCopy> files;
        std::deque<PathEnd> ends;
        for (const std::string name : {"big", "a", "b", "c", "d"}) {
            const std::string bytes = patternBytes(name == "big" ? 2 << 20 : 100000);
            writeFile((upload ? test.home : test.root) / name, bytes);
            files.push_back({"/" + name, &ends.emplace_back(test.home / name, upload)});
        }
        ASSERT_OPEN(test);
        const Results results = upload ? sftp::uploadFiles(*test.session, files, nullptr)
                                       : sftp::downloadFiles(*test.session, files, nullptr);
        EXPECT_FALSE(results[0].done);
        // The server's own words, not the status's name ("Failure").
        EXPECT_EQ(results[0].error, upload ? "No space left on device" : "the disk failed");
        for (std::size_t index = 1; index < files.size(); ++index) {
            EXPECT_TRUE(results[index].done) << results[index].error;
            EXPECT_TRUE(readFile(test.root.path() + files[index].remote) ==
                        readFile(test.home.path() + files[index].remote));
        }
        EXPECT_EQ(sftp::probe(*test.session), 1) << sftp::lastError(*test.session);
    }
}

}  // namespace
