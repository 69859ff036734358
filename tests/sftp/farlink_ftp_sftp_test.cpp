// farlink-ftp with sftp:// addresses as a user runs it: transfers and listings against
// sshd, the host key rules, and the password from FARLINK_PASSWORD against asyncssh.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/real_sftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace test_support;

// Runs farlink-ftp; returns its exit status, with its standard output and error.
int runTool(const std::string& arguments, const TemporaryFolder& folder, std::string& output, std::string& errors) {
    const std::string command = std::string(FARLINK_FTP_PROGRAM) + " " + arguments;
    const int status = std::system((command + " >" + (folder / "out") + " 2>" + (folder / "err")).c_str());
    output = readFile(folder / "out");
    errors = readFile(folder / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ToolTest {
    RealSftpServer server;
    ScopedVariable home{"HOME", server.home()};
    ScopedVariable agent{"SSH_AUTH_SOCK", ""};
    TemporaryFolder files;
    std::string output, errors;

    std::string url(const std::string& path) const {
        return "sftp://" + server.user() + "@127.0.0.1:" + std::to_string(server.port()) + path;
    }
    int run(const std::string& arguments) { return runTool(arguments, files, output, errors); }
};

TEST(FarlinkFtpSftp, PutsGetsAndListsWithTheTrustedKey) {
    ToolTest test;
    ASSERT_EQ(test.server.error(), "");
    const std::string bytes = patternBytes(3 * 1024 * 1024 + 5);
    writeFile(test.files / "in", bytes);
    std::filesystem::create_directory(test.files / "remote");
    const std::string trust = "--trust " + test.server.hostKeyFingerprint() + " ";

    EXPECT_EQ(test.run(trust + "put " + (test.files / "in") + " " + test.url(test.files / "remote/f")), 0)
        << test.errors;
    EXPECT_TRUE(readFile(test.files / "remote/f") == bytes);
    EXPECT_EQ(test.run(trust + "get " + test.url(test.files / "remote/f") + " " + (test.files / "back")), 0)
        << test.errors;
    EXPECT_TRUE(readFile(test.files / "back") == bytes);
    EXPECT_EQ(test.run(trust + "ls " + test.url(test.files / "remote")), 0) << test.errors;
    EXPECT_EQ(test.output.substr(0, 13), "+r,s3145733,m") << test.output;
    EXPECT_TRUE(test.output.ends_with(", f\n")) << test.output;

    EXPECT_EQ(test.run(trust + "get " + test.url(test.files / "absent") + " " + (test.files / "absent")), 1);
    EXPECT_EQ(test.errors, "No such file\n");
    // Nothing is left of the download that failed, not even its partial file.
    EXPECT_FALSE(std::filesystem::exists(test.files / "absent"));
    for (const auto& entry : std::filesystem::directory_iterator(test.files.path())) {
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
    }
}

TEST(FarlinkFtpSftp, AnUnknownKeyPrintsItsFingerprintAndAChangedOneTheLineToRemove) {
    ToolTest test;
    ASSERT_EQ(test.server.error(), "");
    EXPECT_EQ(test.run("ls " + test.url("/")), 1);
    EXPECT_NE(test.errors.find("its fingerprint is " + test.server.hostKeyFingerprint() + " (--trust accepts it)"),
              std::string::npos)
        << test.errors;
    EXPECT_EQ(readFile(test.server.knownHostsPath()), "<missing>");

    test.server.writeKnownHosts(KnownKey::anotherKey);
    EXPECT_EQ(test.run("--trust " + test.server.hostKeyFingerprint() + " ls " + test.url("/")), 1);
    EXPECT_NE(test.errors.find("remove the old one at " + test.server.knownHostsPath() + ":2"), std::string::npos)
        << test.errors;

    test.server.writeKnownHosts(KnownKey::serverKey);
    EXPECT_EQ(test.run("ls " + test.url("/")), 0) << test.errors;
}

TEST(FarlinkFtpSftp, TakesThePasswordFromTheEnvironment) {
    TemporaryFolder root;
    writeFile(root / "f", "payload");
    ScriptedSftpServer server(root.path(), ScriptedLogin::password);
    ASSERT_EQ(server.error(), "");
    TemporaryFolder local;
    ScopedVariable home("HOME", local.path());
    ScopedVariable agent("SSH_AUTH_SOCK", "");
    const std::string address = "sftp://tester@127.0.0.1:" + std::to_string(server.port()) + "/f";
    const std::string command = "--trust " + server.hostKeyFingerprint() + " get " + address + " " + (local / "f");
    std::string output, errors;
    {
        ScopedVariable password("FARLINK_PASSWORD", "wrong");
        EXPECT_EQ(runTool(command, local, output, errors), 1);
        EXPECT_EQ(errors, "Permission denied (password).\n");
    }
    ScopedVariable password("FARLINK_PASSWORD", "secret");
    EXPECT_EQ(runTool(command, local, output, errors), 0) << errors;
    EXPECT_EQ(readFile(local / "f"), "payload");
}

}  // namespace
