// The SFTP engine against OpenSSH's sshd, with keys and a HOME made for each test:
// host keys, logins, listings, transfers, file changes, and waits that give up; and
// against asyncssh for password logins and names a listing must leave out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "ftp/listing_parser.h"
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

// The sshd of a test with HOME pointing at its folder and no agent: only what the test
// made is used.
struct SshdTest {
    RealSftpServer server;
    ScopedVariable home{"HOME", server.home()};
    ScopedVariable agent{"SSH_AUTH_SOCK", ""};
    TemporaryFolder files;  // the server's files, by their paths on this host
    Session session = newSession();

    explicit SshdTest(RealSftpServerOptions options = {}) : server(std::move(options)) {}

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

#define ASSERT_STARTED(server) ASSERT_EQ((server).error(), "")
#define ASSERT_OPEN(test) ASSERT_EQ((test).open(), 1) << sftp::lastError(*(test).session)

// --- Host keys -------------------------------------------------------------------------

TEST(SftpHostKey, UnknownKeyFailsWithTheFingerprintSshKeygenPrintsThenTrustingItOpens) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    EXPECT_EQ(sftp::open(*test.session, test.options()), 0);
    const auto problem = sftp::hostKeyProblem(*test.session);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->check, sftp::HostKeyCheck::unknown);
    EXPECT_EQ(problem->fingerprint, test.server.hostKeyFingerprint());
    EXPECT_EQ(problem->keyType, "ssh-ed25519");
    EXPECT_NE(sftp::lastError(*test.session).find(problem->fingerprint), std::string::npos);
    EXPECT_FALSE(sftp::isOpen(*test.session));

    EXPECT_EQ(sftp::trustHostKey(*test.session), 1) << sftp::lastError(*test.session);
    EXPECT_EQ(sftp::open(*test.session, test.options()), 1) << sftp::lastError(*test.session);
    EXPECT_FALSE(sftp::hostKeyProblem(*test.session));
    EXPECT_EQ(sftp::probe(*test.session), 1);
}

TEST(SftpHostKey, AFingerprintGivenOpensOnceWithoutStoringTheKey) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    sftp::OpenOptions options = test.options();
    options.trustedFingerprint = test.server.hostKeyFingerprint();
    EXPECT_EQ(sftp::open(*test.session, options), 1) << sftp::lastError(*test.session);
    EXPECT_EQ(readFile(test.server.knownHostsPath()), "<missing>");

    options.trustedFingerprint = "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
    EXPECT_EQ(sftp::open(*test.session, options), 0);
    ASSERT_TRUE(sftp::hostKeyProblem(*test.session));
    EXPECT_EQ(sftp::hostKeyProblem(*test.session)->check, sftp::HostKeyCheck::unknown);
}

TEST(SftpHostKey, AChangedKeyIsRefusedEvenWithItsFingerprintNamingTheLineToRemove) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    test.server.writeKnownHosts(KnownKey::anotherKey);
    const std::string knownHosts = readFile(test.server.knownHostsPath());
    sftp::OpenOptions options = test.options();
    options.trustedFingerprint = test.server.hostKeyFingerprint();
    EXPECT_EQ(sftp::open(*test.session, options), 0);
    const auto problem = sftp::hostKeyProblem(*test.session);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->check, sftp::HostKeyCheck::changed);
    EXPECT_EQ(problem->fingerprint, test.server.hostKeyFingerprint());
    // The first line is another host's.
    EXPECT_EQ(problem->knownLine, test.server.knownHostsPath() + ":2");
    EXPECT_NE(sftp::lastError(*test.session).find(problem->knownLine), std::string::npos)
        << sftp::lastError(*test.session);
    EXPECT_EQ(sftp::trustHostKey(*test.session), 0);
    EXPECT_EQ(readFile(test.server.knownHostsPath()), knownHosts);
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

// The listing file's lines as the FTP listing parser reads them, by name.
std::map<std::string, ListedEntry> parsedListing(const std::string& text) {
    std::map<std::string, ListedEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        ftp::RemoteEntry entry;
        EXPECT_EQ(ftp::parseListingLine(&entry, line.data(), int(line.size())), 1) << line;
        entries[std::string(entry.name, std::size_t(entry.nameLength))] = {
            entry.mayBeFolder != 0, entry.mayBeFile != 0,
            entry.sizeKind == ftp::SizeKind::Exact ? entry.size : std::int64_t(-1)};
    }
    return entries;
}

TEST(SftpListing, GivesEachEntryItsKindExactSizeAndTime) {
    SshdTest test;
    ASSERT_STARTED(test.server);
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

    ASSERT_EQ(sftp::listToFile(*test.session, folder, test.files / "listing"), 1) << sftp::lastError(*test.session);
    const std::string listing = readFile(test.files / "listing");
    const std::map<std::string, ListedEntry> expected = {
        {"small", {false, true, 5}}, {"with space and ünïcode", {false, true, 0}}, {"sub", {true, false, -1}},
        {"link", {true, true, -1}},  {"huge", {false, true, 5LL << 30}},
    };
    EXPECT_EQ(parsedListing(listing), expected) << listing;
    EXPECT_NE(listing.find("+r,s5,m1700000000,\tsmall\n"), std::string::npos) << listing;
}

TEST(SftpListing, OfAMissingFolderFailsAndLeavesNoFile) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    ASSERT_OPEN(test);
    EXPECT_EQ(sftp::listToFile(*test.session, test.files / "missing", test.files / "listing"), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "No such file");
    EXPECT_FALSE(std::filesystem::exists(test.files / "listing"));
    EXPECT_EQ(sftp::probe(*test.session), 1);
}

// --- Transfers -----------------------------------------------------------------------

struct TransferCase {
    const char* name;
    std::size_t size;
    std::int64_t offset;
};
// Less than a chunk, an odd size over many chunks (more than all the reads in flight),
// and that size resumed part of the way.
const TransferCase transferCases[] = {
    {"Small", 1000, 0},
    {"Large", 5 * 1024 * 1024 + 123, 0},
    {"Resumed", 5 * 1024 * 1024 + 123, 1234567},
};

class SftpTransfer : public testing::TestWithParam<TransferCase> {};

TEST_P(SftpTransfer, DownloadGivesTheServersBytes) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    ASSERT_OPEN(test);
    const std::string bytes = patternBytes(GetParam().size);
    const std::size_t offset = std::size_t(GetParam().offset);
    writeFile(test.files / "remote", bytes);
    // What an earlier download left: the first bytes, or something to be replaced.
    writeFile(test.files / "local", offset > 0 ? bytes.substr(0, offset) : "old bytes, longer than the small file");
    std::int64_t lastProgress = 0;
    const auto progress = [&](std::int64_t transferred) {
        EXPECT_GT(transferred, lastProgress);
        lastProgress = transferred;
        return true;
    };
    ASSERT_EQ(sftp::download(*test.session, test.files / "remote", test.files / "local", GetParam().offset, progress),
              1)
        << sftp::lastError(*test.session);
    EXPECT_TRUE(readFile(test.files / "local") == bytes);
    EXPECT_EQ(lastProgress, std::int64_t(bytes.size() - offset));
}

TEST_P(SftpTransfer, UploadGivesTheServerTheBytes) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    ASSERT_OPEN(test);
    const std::string bytes = patternBytes(GetParam().size);
    const std::size_t offset = std::size_t(GetParam().offset);
    writeFile(test.files / "local", bytes);
    writeFile(test.files / "remote", offset > 0 ? bytes.substr(0, offset) : std::string(GetParam().size * 2, 'x'));
    std::int64_t lastProgress = 0;
    const auto progress = [&](std::int64_t transferred) {
        lastProgress = transferred;
        return true;
    };
    ASSERT_EQ(sftp::upload(*test.session, test.files / "local", test.files / "remote", GetParam().offset, progress), 1)
        << sftp::lastError(*test.session);
    EXPECT_TRUE(readFile(test.files / "remote") == bytes);
    EXPECT_EQ(lastProgress, std::int64_t(bytes.size() - offset));
    EXPECT_EQ(sftp::fileSize(*test.session, test.files / "remote"), std::int64_t(bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(Sizes, SftpTransfer, testing::ValuesIn(transferCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SftpTransferFailure, NamesTheServersReason) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    ASSERT_OPEN(test);
    writeFile(test.files / "local", "bytes");
    EXPECT_EQ(sftp::download(*test.session, test.files / "missing", test.files / "copy", 0, nullptr), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "No such file");
    EXPECT_EQ(sftp::upload(*test.session, test.files / "local", test.files / "missing/file", 0, nullptr), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "No such file");
    EXPECT_EQ(sftp::download(*test.session, test.files.path(), test.files / "copy", 0, nullptr), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "Failure");
    EXPECT_EQ(sftp::probe(*test.session), 1);
}

// A stop asked from the progress callback, either way, ends the download at once and
// leaves the connection usable.
TEST(SftpTransferStop, EndsADownloadAndTheConnectionStaysOpen) {
    for (const bool byFlag : {true, false}) {
        SCOPED_TRACE(byFlag ? "stop flag" : "progress returning false");
        SshdTest test;
        ASSERT_STARTED(test.server);
        std::atomic<bool> stop = false;
        sftp::OpenOptions options = test.options();
        options.stop = &stop;
        ASSERT_EQ(test.open(options), 1) << sftp::lastError(*test.session);
        writeFile(test.files / "remote", patternBytes(8 * 1024 * 1024));
        int calls = 0;
        const auto progress = [&](std::int64_t) {
            ++calls;
            stop = byFlag;
            return byFlag;
        };
        EXPECT_EQ(sftp::download(*test.session, test.files / "remote", test.files / "local", 0, progress), 0);
        EXPECT_EQ(sftp::lastError(*test.session), "Stopped");
        EXPECT_EQ(calls, 1);
        stop = false;
        EXPECT_EQ(sftp::probe(*test.session), 1) << sftp::lastError(*test.session);
    }
}

// --- Changes to files and folders -----------------------------------------------------

TEST(SftpChanges, RenameRemoveAndFoldersChangeTheServerAndSayWhyTheyFail) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    ASSERT_OPEN(test);
    sftp::SftpSession& session = *test.session;
    writeFile(test.files / "a", "bytes");
    EXPECT_EQ(sftp::fileSize(session, test.files / "a"), 5);
    EXPECT_EQ(sftp::fileSize(session, test.files.path()), -1);
    EXPECT_EQ(sftp::fileSize(session, test.files / "missing"), -1);

    EXPECT_EQ(sftp::rename(session, test.files / "a", test.files / "b"), 1) << sftp::lastError(session);
    EXPECT_EQ(treeText(test.files.path()), "b bytes\n");
    EXPECT_EQ(sftp::makeFolder(session, test.files / "folder"), 1) << sftp::lastError(session);
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
        {"mkdir of an existing folder", [&] { return sftp::makeFolder(session, test.files / "folder"); },
         "File already exists"},
        {"rename of a missing file", [&] { return sftp::rename(session, test.files / "nothing", test.files / "c"); },
         "No such file"},
        {"remove of a missing file", [&] { return sftp::removeFile(session, test.files / "nothing"); }, "No such file"},
    };
    for (const Failing& failing : failures) {
        EXPECT_EQ(failing.call(), 0) << failing.what;
        EXPECT_EQ(sftp::lastError(session), failing.error) << failing.what;
    }
    EXPECT_EQ(treeText(test.files.path()), "folder/\nfolder/b bytes\n");

    EXPECT_EQ(sftp::removeFile(session, test.files / "folder/b"), 1) << sftp::lastError(session);
    EXPECT_EQ(sftp::removeFolder(session, test.files / "folder"), 1) << sftp::lastError(session);
    EXPECT_EQ(treeText(test.files.path()), "");
    EXPECT_EQ(sftp::lastError(session), "");
}

// --- Waits ---------------------------------------------------------------------------

// A server that accepts the connection and says nothing: the greeting's wait gives up
// at the silence limit, or at once when stopped.
TEST(SftpWaits, ASilentServerIsLeftAtTheLimitOrWhenStopped) {
    for (const bool stopping : {false, true}) {
        SCOPED_TRACE(stopping ? "stopped" : "silence limit");
        SshdTest test;
        ASSERT_STARTED(test.server);
        std::atomic<bool> stop = false;
        sftp::OpenOptions options = test.options();
        options.silenceLimitMs = stopping ? 60000 : 1000;
        options.stop = &stop;
        test.server.freeze();
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            stop = stopping;
        });
        const auto started = Clock::now();
        EXPECT_EQ(test.open(options), 0);
        const auto waited = Clock::now() - started;
        stopper.join();
        test.server.thaw();
        EXPECT_EQ(sftp::lastError(*test.session), stopping ? "Stopped" : "The server did not answer for 1 s");
        EXPECT_LT(waited, std::chrono::milliseconds(stopping ? 500 + 400 : 1000 + 400));
        EXPECT_GE(waited, std::chrono::milliseconds(stopping ? 500 : 1000));
    }
}

// A server that stops answering in the middle of a download: the wait gives up at the
// limit and the session is closed, its next request refused.
TEST(SftpWaits, AServerSilentMidDownloadIsLeftAtTheLimit) {
    SshdTest test;
    ASSERT_STARTED(test.server);
    sftp::OpenOptions options = test.options();
    options.silenceLimitMs = 1000;
    ASSERT_EQ(test.open(options), 1) << sftp::lastError(*test.session);
    writeFile(test.files / "remote", patternBytes(32 * 1024 * 1024));
    const auto freezeOnce = [&, frozen = false](std::int64_t) mutable {
        if (!frozen) test.server.freeze();
        frozen = true;
        return true;
    };
    const auto started = Clock::now();
    EXPECT_EQ(sftp::download(*test.session, test.files / "remote", test.files / "local", 0, freezeOnce), 0);
    const auto waited = Clock::now() - started;
    test.server.thaw();
    EXPECT_EQ(sftp::lastError(*test.session), "The server did not answer for 1 s");
    EXPECT_LT(waited, std::chrono::milliseconds(1000 + 600));
    EXPECT_FALSE(sftp::isOpen(*test.session));
    EXPECT_EQ(sftp::probe(*test.session), 0);
    EXPECT_EQ(sftp::lastError(*test.session), "Not connected");
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
    sftp::OpenOptions options(const char* password = "secret") const {
        sftp::OpenOptions options;
        options.host = "127.0.0.1";
        options.port = server.port();
        options.user = "tester";
        options.password = password;
        options.trustedFingerprint = server.hostKeyFingerprint();
        return options;
    }
};

struct PasswordCase {
    const char* name;
    ScriptedLogin login;
    const char* password;
    const char* error;  // empty: it opens
};

class SftpPassword : public testing::TestWithParam<PasswordCase> {};

TEST_P(SftpPassword, LogsInWithTheRightOneOnly) {
    ScriptedTest test(ScriptedFiles::plain, GetParam().login);
    ASSERT_STARTED(test.server);
    EXPECT_EQ(sftp::open(*test.session, test.options(GetParam().password)), *GetParam().error ? 0 : 1);
    EXPECT_EQ(sftp::lastError(*test.session), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Methods, SftpPassword,
                         testing::Values(PasswordCase{"Password", ScriptedLogin::password, "secret", ""},
                                         PasswordCase{"WrongPassword", ScriptedLogin::password, "guess",
                                                      "Permission denied (password)."},
                                         PasswordCase{"Interactive", ScriptedLogin::keyboardInteractive, "secret", ""},
                                         PasswordCase{"WrongInteractive", ScriptedLogin::keyboardInteractive, "guess",
                                                      "Permission denied (keyboard-interactive)."}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SftpHostileNames, AreLeftOutOfTheListingAndOthersKept) {
    ScriptedTest test(ScriptedFiles::hostileNames);
    writeFile(test.root / "normal.txt", "abc");
    std::filesystem::create_directory(test.root / "folder");
    ASSERT_STARTED(test.server);
    ASSERT_EQ(sftp::open(*test.session, test.options()), 1) << sftp::lastError(*test.session);
    ASSERT_EQ(sftp::listToFile(*test.session, "/", test.home / "listing"), 1) << sftp::lastError(*test.session);
    const std::map<std::string, ListedEntry> expected = {
        {"normal.txt", {false, true, 3}},
        {"folder", {true, false, -1}},
    };
    EXPECT_EQ(parsedListing(readFile(test.home / "listing")), expected) << readFile(test.home / "listing");
}

// Replies shorter than asked, in the middle of the file: the reads after each are asked
// again from where it ended, so that no gap and no overlap reach the local file.
TEST(SftpShortReads, DownloadTheWholeFile) {
    ScriptedTest test(ScriptedFiles::shortReads);
    const std::string bytes = patternBytes(100 * 1000 + 17);
    writeFile(test.root / "remote", bytes);
    ASSERT_STARTED(test.server);
    ASSERT_EQ(sftp::open(*test.session, test.options()), 1) << sftp::lastError(*test.session);
    ASSERT_EQ(sftp::download(*test.session, "/remote", test.home / "local", 0, nullptr), 1)
        << sftp::lastError(*test.session);
    EXPECT_TRUE(readFile(test.home / "local") == bytes);
}

}  // namespace
