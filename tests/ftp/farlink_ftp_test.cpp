// farlink-ftp as a user runs it: addresses decoded against pyftpdlib, the server's reply
// on failure, an ftpes:// server's certificate, and the time-out against scripted
// servers that stop talking; sftp:// addresses against sshd (transfers, listings, the
// host key rules) and asyncssh (the password from FARLINK_PASSWORD).
#include "tests/support/processes.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/real_sftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <array>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

namespace {

using namespace test_support;
using namespace test_support::conversation;
using namespace std::chrono_literals;

// Runs farlink-ftp; returns its exit status, with its standard output and error.
int runTool(const std::string& arguments, const TemporaryFolder& folder, std::string& output, std::string& errors) {
    return runCommand(std::string(FARLINK_FTP_PROGRAM) + " " + arguments, folder.path(), output, errors);
}

// The greeting and the tool's login (anonymous gives "farlink@" as its password).
Script toolLogin(const std::string& user = "anonymous", const std::string& password = "farlink@") {
    return Script{send("220 ready\r\n")} + ask("USER " + user, "331 password") + ask("PASS " + password, "230 in");
}

// A download's passive data connection, RETR and its 1xx reply, then `bytes`.
Script retrieval(const std::string& path, const std::string& bytes) {
    return Script{expect("PASV"), replyPassive(), acceptData()} + ask("RETR " + path, "150 opening") + sendData(bytes);
}

// The mirror's listing of `folder`: "LIST -a", links not followed, and no CWD back.
Script mirrorListing(const std::string& folder, const std::string& lines) {
    return ask("CWD " + folder, "250 ok") + ask("TYPE A", "200 ok") +
           Script{expect("PASV"), replyPassive(), acceptData()} + ask("LIST -a", "150 opening") + sendData(lines) +
           closeData() + send("226 done\r\n");
}

// A file's time to the second.
auto secondsOf(const std::string& path) {
    return std::chrono::floor<std::chrono::seconds>(std::filesystem::last_write_time(path).time_since_epoch());
}

TEST(FarlinkFtp, DecodesAddressesAndReportsTheServersReply) {
    TemporaryFolder root, local;
    RealFtpServer server(FtpServerKind::Pyftpdlib, root.path());
    ASSERT_EQ("", server.error());
    std::filesystem::create_directory(root / "sub folder");
    writeFile(local / "in", "payload");
    const std::string file = server.url("/sub%20folder/f%C3%BCr%2Bme");
    std::string output, errors;

    EXPECT_EQ(0, runTool("put " + (local / "in") + " " + file, local, output, errors)) << errors;
    EXPECT_EQ("payload", readFile(root / "sub folder/f\xC3\xBCr+me"));
    EXPECT_EQ(0, runTool("--active get " + file + " " + (local / "back"), local, output, errors)) << errors;
    EXPECT_EQ("payload", readFile(local / "back"));
    EXPECT_EQ(0, runTool("fxp " + file + " " + server.url("/copy"), local, output, errors)) << errors;
    EXPECT_EQ("payload", readFile(root / "copy"));
    EXPECT_EQ(0, runTool("ls " + server.url("/sub%20folder/"), local, output, errors)) << errors;
    EXPECT_NE(std::string::npos, output.find(" f\xC3\xBCr+me\n")) << output;

    EXPECT_EQ(1, runTool("get " + server.url("/absent") + " " + (local / "absent"), local, output, errors));
    EXPECT_EQ("550", errors.substr(0, 3)) << errors;
    EXPECT_EQ(1, runTool("ls ftp://tester:wrong@" + server.address() + "/", local, output, errors));
    EXPECT_EQ("530", errors.substr(0, 3)) << errors;
}

// The certificate's checks are the engine's (ftp_tls_test): the tool says how to trust it.
TEST(FarlinkFtp, AcceptsAnFtpesCertificateTheTrustStoreCannotVerifyOnlyWhenTrusted) {
    TemporaryFolder root, local;
    RealFtpServer server(FtpServerKind::Pyftpdlib, root.path(), {.tls = true});
    ASSERT_EQ("", server.error());
    writeFile(server.hostPath("f"), "payload");
    const std::string file = "ftpes" + server.url(server.remotePath("f")).substr(3);
    std::string output, errors;

    EXPECT_EQ(1, runTool("get " + file + " " + (local / "f"), local, output, errors));
    EXPECT_NE(std::string::npos, errors.find("its SHA-256 fingerprint is " + server.certificateFingerprint()))
        << errors;
    // As openssl prints it, label and all.
    EXPECT_EQ(0, runTool("--trust 'sha256 Fingerprint=" + server.certificateFingerprint() + "' get " + file + " " +
                             (local / "f"),
                         local, output, errors))
        << errors;
    EXPECT_EQ(readFile(local / "f"), "payload");
}

TEST(FarlinkFtp, GivesUpOnAServerThatStopsTalking) {
    TemporaryFolder local;
    ScriptedFtpServer silent({});  // accepts and never greets
    ScriptedFtpServer stalling(toolLogin() + ask("TYPE I", "200 ok") + ask("SIZE /f", "213 100") +
                               retrieval("/f", "the first part") + bye());
    std::string output, errors;
    for (ScriptedFtpServer* server : {&silent, &stalling}) {
        EXPECT_EQ(1,
                  runTool("--timeout 1 get ftp://" + server->address() + "/f " + (local / "f"), local, output, errors));
        EXPECT_EQ("timed out: nothing moved for 1 s (--timeout)", errors.substr(0, errors.find('\n'))) << errors;
        EXPECT_EQ("", server->finish());
    }
    EXPECT_FALSE(std::filesystem::exists(local / "f"));
    EXPECT_EQ(1, runTool("--timeout 0 ls ftp://127.0.0.1/", local, output, errors));
    EXPECT_EQ("--timeout takes a number of seconds from 1 to 86400: 0\n", errors);
}

// A password on the command line shows in ps, and one that others can read in a netrc
// file is no secret; a server's words may hold control characters that would command the
// terminal; without SIZE a download cut short yet ended with 226 would pass for whole.
TEST(FarlinkFtp, TakesThePasswordFromOutsidePrintsNoControlCharactersAndChecksTheSize) {
    TemporaryFolder local;
    ScopedVariable home("HOME", local.path());
    writeFile(local / "logins", "machine 127.0.0.1 login alice password s3cret\n");
    const std::string netrc = "--netrc-file " + (local / "logins") + " ";
    std::string output, errors;
    std::filesystem::permissions(local / "logins", std::filesystem::perms(0644));
    EXPECT_EQ(0, runTool(netrc + "parse /dev/null", local, output, errors));
    EXPECT_NE(errors.find(local / "logins" + " can be read by others: its passwords are not used"), std::string::npos);
    std::filesystem::permissions(local / "logins", std::filesystem::perms(0600));
    {
        ScopedVariable password("FARLINK_PASSWORD", "from-env");
        ScriptedFtpServer server(toolLogin("bob", "from-env") + listing("/d/", "evil\x1b]0;owned\x07\r\n") +
                                 ask("QUIT", "221 bye"));
        EXPECT_EQ(0, runTool(netrc + "ls ftp://bob@" + server.address() + "/d/", local, output, errors)) << errors;
        EXPECT_EQ("evil?]0;owned?\n", output);
        EXPECT_EQ("", server.finish());
    }
    ScriptedFtpServer refusing(toolLogin("alice", "s3cret") + ask("CWD /d/", "550 \x1b[2Jgone") + bye());
    EXPECT_EQ(1, runTool(netrc + "ls ftp://" + refusing.address() + "/d/", local, output, errors));
    EXPECT_EQ("550 ?[2Jgone\n", errors);
    EXPECT_EQ("", refusing.finish());
    ScopedVariable password("FARLINK_PASSWORD", "MyWorkSecret");  // no anonymous password
    ScriptedFtpServer cutting(toolLogin() + ask("TYPE I", "200 ok") + ask("SIZE /f", "213 5000") +
                              retrieval("/f", patternBytes(4000)) + closeData() + send("226 done\r\n") + bye());
    EXPECT_EQ(1, runTool("get ftp://" + cutting.address() + "/f " + (local / "f"), local, output, errors));
    EXPECT_EQ("The file arrived with 4000 bytes where the server announced 5000\n", errors);
    EXPECT_FALSE(std::filesystem::exists(local / "f"));
    EXPECT_EQ("", cutting.finish());
}

// --- sftp:// addresses, against sshd, and asyncssh for the password ---

struct ToolTest : SshClient {
    std::string output, errors;

    int run(const std::string& arguments) { return runTool(arguments, files, output, errors); }
};

// The key's checks are the engine's (tests/sftp): the tool says how to trust an unknown one.
TEST(FarlinkFtpSftp, PutsGetsAndListsWithTheTrustedKey) {
    ToolTest test;
    ASSERT_EQ(test.server.error(), "");
    EXPECT_EQ(test.run("ls " + test.url("/")), 1);
    EXPECT_NE(test.errors.find("its fingerprint is " + test.server.hostKeyFingerprint() + " (--trust accepts it)"),
              std::string::npos)
        << test.errors;
    EXPECT_EQ(readFile(test.server.knownHostsPath()), "<missing>");
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
    EXPECT_EQ(names(test.files.path()), (std::vector<std::string>{"back", "err", "in", "out", "remote"}));
}

// FARLINK_PASSWORD names no account: without a user named, the login name's would get it.
TEST(FarlinkFtpSftp, TakesThePasswordFromTheEnvironmentForANamedUserOnly) {
    TemporaryFolder root;
    writeFile(root / "f", "payload");
    ScriptedSftpServer server(root.path(), ScriptedLogin::passwordAnyUser);
    ASSERT_EQ(server.error(), "");
    TemporaryFolder local;
    ScopedVariable home("HOME", local.path());
    ScopedVariable agent("SSH_AUTH_SOCK", "");
    ScopedVariable password("FARLINK_PASSWORD", "secret");
    const auto command = [&](const std::string& user) {
        return "--trust " + server.hostKeyFingerprint() + " get sftp://" + user +
               "127.0.0.1:" + std::to_string(server.port()) + "/f " + (local / "f");
    };
    std::string output, errors;
    EXPECT_EQ(runTool(command(""), local, output, errors), 1);
    EXPECT_EQ(errors, "Permission denied (password).\n");
    EXPECT_EQ(runTool(command("tester@"), local, output, errors), 0) << errors;
    EXPECT_EQ(readFile(local / "f"), "payload");
}

// --- mirror ---

// Up with --delete, then down, over FTP and SFTP, over one connection and over several:
// only what differs moves, what the source lacks goes (a link stays, and its target; the
// plan's order is tests/mirroring's), and a second run moves nothing: the copies take
// their sources' times to the second, either way.
TEST(FarlinkFtpMirror, MovesOnlyWhatDiffersBothWaysAndASecondRunNothing) {
    enum class Server { pyftpdlib, vsftpd, sshd };
    const struct {
        Server kind;
        const char* parallel;
    } cases[] = {{Server::pyftpdlib, "1"}, {Server::pyftpdlib, "4"}, {Server::vsftpd, "4"}, {Server::sshd, "4"}};
    for (const auto& [kind, parallel] : cases) {
        SCOPED_TRACE(std::to_string(int(kind)) + " --parallel " + parallel);
        const bool secureShell = kind == Server::sshd;
        TemporaryFolder local, outside;
        std::optional<SshClient> ssh;
        std::optional<TemporaryFolder> ftpRoot;
        std::optional<RealFtpServer> ftpServer;
        std::string served, url, trust;
        if (secureShell) {
            ssh.emplace();
            ASSERT_EQ("", ssh->server.error());
            served = ssh->files / "tree";
            url = ssh->url(served + "/");
            trust = "--trust " + ssh->server.hostKeyFingerprint() + " ";
        } else {
            ftpRoot.emplace();
            ftpServer.emplace(kind == Server::vsftpd ? FtpServerKind::Vsftpd : FtpServerKind::Pyftpdlib,
                              ftpRoot->path());
            ASSERT_EQ("", ftpServer->error());
            served = ftpServer->hostPath("tree");
            url = ftpServer->url(ftpServer->remotePath("tree/"));
        }
        std::filesystem::create_directories(local / "up/sub");
        writeFile(local / "up/a.txt", "new");
        std::filesystem::create_directories(local / "up/new");
        writeFile(local / "up/new/c.txt", "c");
        writeFile(local / "up/sub/b.txt", "bbbb");
        writeFile(local / "up/sub/same.txt", "same");
        std::filesystem::create_directories(served + "/sub");
        writeFile(served + "/sub/b.txt", "b");
        writeFile(served + "/sub/same.txt", "same");
        writeFile(served + "/extra.txt", "x");
        std::filesystem::create_directories(served + "/old");
        writeFile(served + "/old/x", "x");
        writeFile(outside / "kept", "kept");
        std::filesystem::create_symlink(outside / "kept", served + "/link");
        // The files were written an hour ago, the same one on both sides.
        const auto hourAgo = std::filesystem::file_time_type::clock::now() - 1h;
        // A temporary file a killed run left: never put, and gone once a run has seen it.
        writeFile(local / "up/.farlink-0123456789abcdef.part", "partial");
        for (const std::string file : {"a.txt", "sub/b.txt", "sub/same.txt", ".farlink-0123456789abcdef.part"})
            std::filesystem::last_write_time(local / ("up/" + file), hourAgo);
        for (const std::string file : {"sub/b.txt", "sub/same.txt", "extra.txt"})
            std::filesystem::last_write_time(served + "/" + file, hourAgo);
        // vsftpd's anonymous sessions run as a user of their own, which may set the time
        // only of files it owns.
        const passwd* anonymous = getpwnam("ftp");
        std::filesystem::permissions(served, std::filesystem::perms::all);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(served)) {
            if (entry.is_symlink()) continue;
            std::filesystem::permissions(entry.path(), std::filesystem::perms::all);
            if (kind == Server::vsftpd && anonymous) chown(entry.path().c_str(), anonymous->pw_uid, anonymous->pw_gid);
        }
        const std::string before = treeText(served);
        std::string output, errors;
        const auto mirror = [&](const std::string& arguments) {
            return runTool(trust + "mirror --parallel " + parallel + " " + arguments, local, output, errors);
        };

        EXPECT_EQ(mirror("--reverse --delete --dry-run " + url + " " + (local / "up")), 0) << errors;
        EXPECT_EQ(output,
                  "skip link: a link\nput a.txt\nmkdir new\nput new/c.txt\nput sub/b.txt\nrm old/x\nrmdir old\n"
                  "rm extra.txt\nplanned 7, failed 0\n");
        EXPECT_EQ(treeText(served), before);
        EXPECT_EQ(mirror("--reverse --delete " + url + " " + (local / "up")), 0) << errors;
        EXPECT_EQ(treeText(served), "a.txt new\nlink@\nnew/\nnew/c.txt c\nsub/\nsub/b.txt bbbb\nsub/same.txt same\n");
        EXPECT_FALSE(std::filesystem::exists(local / "up/.farlink-0123456789abcdef.part"));
        EXPECT_EQ(readFile(outside / "kept"), "kept");
        EXPECT_EQ(mirror("--reverse --delete " + url + " " + (local / "up")), 0) << errors;
        EXPECT_EQ(output, "skip link: a link\ndone 0, failed 0\n");
        // The uploads took the local files' times: mirrored back, nothing is newer.
        EXPECT_EQ(mirror(url + " " + (local / "up")), 0) << errors;
        EXPECT_EQ(output, "skip link: a link\ndone 0, failed 0\n");
        EXPECT_EQ(mirror("--reverse " + url + "fresh " + (local / "up/sub")), 0) << errors;
        EXPECT_EQ(treeText(served + "/fresh"), "b.txt bbbb\nsame.txt same\n");
        std::filesystem::remove_all(served + "/fresh");

        // Files the server has held for long: their copies must take those times.
        for (const char* file : {"/a.txt", "/new/c.txt", "/sub/b.txt", "/sub/same.txt"})
            std::filesystem::last_write_time(served + file, std::filesystem::file_time_type::clock::now() - 24h);
        std::filesystem::create_directory(local / "down");
        EXPECT_EQ(mirror(url + " " + (local / "down")), 0) << errors;
        EXPECT_EQ(treeText(local / "down"), "a.txt new\nnew/\nnew/c.txt c\nsub/\nsub/b.txt bbbb\nsub/same.txt same\n");
        EXPECT_EQ(secondsOf(local / "down/sub/b.txt"), secondsOf(served + "/sub/b.txt"));
        EXPECT_EQ(mirror(url + " " + (local / "down")), 0) << errors;
        EXPECT_EQ(output, "skip link: a link\ndone 0, failed 0\n");
        // The copies took the server's times: back up, nothing is newer.
        EXPECT_EQ(mirror("--reverse " + url + " " + (local / "down")), 0) << errors;
        EXPECT_EQ(output, "skip link: a link\ndone 0, failed 0\n");
    }
}

// edit, over FTP and SFTP: a change goes back and an unchanged file sends nothing; a file
// changed on the server meanwhile is replaced only after a yes, and a no or an upload that
// fails keeps the user's version in the current folder. No private copy is left.
TEST(FarlinkFtp, EditSendsBackOnlyAChangeAndNeverLosesIt) {
    for (const bool secureShell : {false, true}) {
        SCOPED_TRACE(secureShell ? "sshd" : "pyftpdlib");
        TemporaryFolder local, ftpRoot;
        const std::string log = local / "commands.log";
        std::optional<ToolTest> ssh;
        std::optional<RealFtpServer> ftp;
        std::string served, url;
        if (secureShell) {
            ssh.emplace();
            ASSERT_EQ("", ssh->server.error());
            served = ssh->files / "f.txt";
            url = "--trust " + ssh->server.hostKeyFingerprint() + " edit " + ssh->url(served);
        } else {
            ftp.emplace(FtpServerKind::Pyftpdlib, ftpRoot.path(), RealFtpServerOptions{.commandLog = log.c_str()});
            ASSERT_EQ("", ftp->error());
            served = ftp->hostPath("f.txt");
            url = "edit " + ftp->url(ftp->remotePath("f.txt"));
        }
        writeFile(served, "original");
        // Another client changes the server's file, or puts a folder in its place, while
        // the user writes a version.
        writeFile(local / "editor",
                  "#!/bin/sh\n[ -n \"$THEIRS\" ] && printf %s \"$THEIRS\" > \"$SERVED\"\n"
                  "[ -n \"$FOLDER\" ] && rm \"$SERVED\" && mkdir \"$SERVED\"\n"
                  "[ -n \"$MINE\" ] && printf %s \"$MINE\" > \"$1\"\nexit 0\n");
        std::filesystem::permissions(local / "editor", std::filesystem::perms::owner_all);
        const struct {
            const char* variables;
            const char* answer;
            int status;
            const char* onServer;
            const char* kept;
        } cases[] = {{"", "", 0, "original", ""},
                     {"MINE=mine", "", 0, "mine", ""},
                     {"MINE=mine2 THEIRS=theirs", "n", 1, "theirs", "mine2"},
                     {"MINE=mine3 THEIRS=theirs2", "y", 0, "mine3", ""},
                     {"MINE=mine4 FOLDER=1", "y", 1, "", "mine4"}};
        for (const auto& [variables, answer, status, onServer, kept] : cases) {
            SCOPED_TRACE(variables);
            TemporaryFolder here;
            std::string output, errors;
            EXPECT_EQ(runCommand("cd " + here.path() + " && echo " + answer +
                                     " | TMPDIR=. VISUAL= EDITOR=" + (local / "editor") + " SERVED=" + served + " " +
                                     variables + " " + FARLINK_FTP_PROGRAM + " " + url,
                                 local.path(), output, errors),
                      status)
                << errors;
            EXPECT_EQ(errors.find("changed on the server while you edited it") != std::string::npos, *answer != 0)
                << errors;
            EXPECT_EQ(std::filesystem::is_directory(served) ? "" : readFile(served), onServer);
            std::string left;  // of what the command left here: the kept version only
            for (const auto& entry : std::filesystem::directory_iterator(here.path())) {
                EXPECT_TRUE(entry.path().filename().string().starts_with("f.txt (edited ")) << entry.path();
                left += readFile(entry.path());
            }
            EXPECT_EQ(left, kept);
            if (!secureShell && !*variables) {
                EXPECT_EQ(readFile(log).find("STOR"), std::string::npos);
            }
        }
    }
}

// A server that offers MLSD is listed exactly: a download takes the listed time and
// asks none (pyftpdlib); vsftpd has no MLSD and is asked after each download.
TEST(FarlinkFtpMirror, AsksNoTimeAfterADownloadWhereTheListingIsExact) {
    const struct {
        FtpServerKind kind;
        const char* command;  // how the server's log shows a command
        int listings, timesAsked;
    } cases[] = {{FtpServerKind::Pyftpdlib, "<- ", 2, 0}, {FtpServerKind::Vsftpd, "FTP command:", 0, 3}};
    for (const auto& [kind, command, listings, timesAsked] : cases) {
        SCOPED_TRACE(kindParamName(::testing::TestParamInfo<FtpServerKind>(kind, 0)));
        TemporaryFolder root, local;
        const std::string log = local / "commands.log";
        RealFtpServer server(kind, root.path(), {.commandLog = log.c_str()});
        ASSERT_EQ("", server.error());
        const std::string served = server.hostPath("tree");
        std::filesystem::create_directories(served + "/sub");
        writeFile(served + "/one", "1");
        writeFile(served + "/sub/two", "22");
        writeFile(served + "/sub/three", "333");
        const auto dayAgo = std::filesystem::file_time_type::clock::now() - 24h;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(served)) {
            std::filesystem::permissions(entry.path(), std::filesystem::perms::all);
            if (entry.is_regular_file()) std::filesystem::last_write_time(entry.path(), dayAgo);
        }
        std::filesystem::create_directory(local / "down");
        std::string output, errors;
        EXPECT_EQ(
            runTool("mirror " + server.url(server.remotePath("tree/")) + " " + (local / "down"), local, output, errors),
            0)
            << errors;
        EXPECT_EQ(treeText(local / "down"), "one 1\nsub/\nsub/three 333\nsub/two 22\n");
        EXPECT_EQ(secondsOf(local / "down/sub/two"), secondsOf(served + "/sub/two"));
        const auto sent = [&, command = command](const std::string& verb) {
            std::istringstream lines(readFile(log));
            int count = 0;
            for (std::string line; std::getline(lines, line);) {
                const auto at = line.find(command);
                const auto found = at == std::string::npos ? at : line.find(verb, at);
                const auto after = found + verb.size();
                if (found != std::string::npos && (after == line.size() || !std::isalpha(line[after]))) ++count;
            }
            return count;
        };
        EXPECT_EQ(sent("RETR"), 3);
        EXPECT_EQ(sent("MLSD"), listings);
        EXPECT_EQ(sent("MDTM"), timesAsked);
    }
}

// Over several connections a copy that fails fails alone: every other one arrives, and
// nothing is removed on the strength of a run that failed. vsftpd's anonymous sessions
// run as a user of their own, who cannot write a file that only its owner may.
TEST(FarlinkFtpMirror, AFileThatCannotBeWrittenFailsAloneOverSeveralConnections) {
    TemporaryFolder root, local;
    RealFtpServer server(FtpServerKind::Vsftpd, root.path());
    ASSERT_EQ("", server.error());
    const std::string served = server.hostPath("tree");
    std::filesystem::create_directory(served);
    std::filesystem::permissions(served, std::filesystem::perms::all);
    writeFile(served + "/extra", "x");
    writeFile(served + "/locked", "old");
    std::filesystem::permissions(served + "/locked", std::filesystem::perms::owner_read);
    const std::string up = local / "up";
    std::filesystem::create_directory(up);
    writeFile(up + "/locked", "newer");
    std::string expected;
    for (const std::string folder : {"d1", "d2", "d3"}) {
        std::filesystem::create_directory(up + "/" + folder);
        expected += folder + "/\n";
        for (const std::string file : {"/f1", "/f2", "/f3", "/f4"}) {
            writeFile(up + "/" + folder + file, folder + file);
            expected += folder + file + " " + folder + file + "\n";
        }
    }
    std::string output, errors;
    // Through a temporary name the upload would replace the file that only its owner may write.
    EXPECT_EQ(runTool("--no-temp-upload mirror --reverse --delete --parallel 4 " +
                          server.url(server.remotePath("tree/")) + " " + up,
                      local, output, errors),
              1);
    EXPECT_TRUE(output.ends_with("done 15, failed 2\n")) << output;
    EXPECT_NE(errors.find("farlink-ftp: failed: put locked: 553"), std::string::npos) << errors;
    EXPECT_NE(errors.find("farlink-ftp: not done, since a copy failed: rm extra\n"), std::string::npos) << errors;
    EXPECT_EQ(treeText(served), expected + "extra x\nlocked old\n");
    EXPECT_EQ(
        runTool("mirror --parallel 9 " + server.url(server.remotePath("tree/")) + " " + up, local, output, errors), 1);
    EXPECT_EQ(errors, "--parallel takes a number of connections from 1 to 8: 9\n");
}

// A folder either side cannot read whole is held: nothing in it is copied or removed,
// the run names it with the reason, goes on past it and ends with 1. vsftpd answers a
// folder it may enter but not read with 226; a local folder of mode 000 is unreadable to
// a user other than root: run as root, the tool runs as nobody, through setpriv.
TEST(FarlinkFtpMirror, HoldsAFolderEitherSideCannotReadWhole) {
    std::string asAnother;
    if (geteuid() == 0 && access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "root, and no setpriv to run as nobody";
    if (geteuid() == 0) asAnother = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
    TemporaryFolder root, local;
    RealFtpServer server(FtpServerKind::Vsftpd, root.path());
    ASSERT_EQ("", server.error());
    const std::string served = server.hostPath("tree"), down = local / "down";
    for (const std::string& folder : {served + "/locked", down + "/locked", down + "/unread"})
        std::filesystem::create_directories(folder);
    for (const std::string& file :
         {served + "/new", served + "/locked/f", down + "/locked/f", down + "/unread/f", down + "/gone"})
        writeFile(file, "x");
    for (const std::string& folder : {local.path(), down, served})
        std::filesystem::permissions(folder, std::filesystem::perms::all);
    std::filesystem::permissions(served + "/locked",
                                 std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    std::filesystem::permissions(down + "/unread", std::filesystem::perms::none);
    std::string output, errors;
    EXPECT_EQ(runCommand(asAnother + FARLINK_FTP_PROGRAM + " mirror --delete " +
                             server.url(server.remotePath("tree/")) + " " + down,
                         local.path(), output, errors),
              1);
    std::filesystem::permissions(down + "/unread", std::filesystem::perms::owner_all);
    EXPECT_EQ(output, "get new\nrm gone\ndone 2, failed 2\n");
    EXPECT_EQ(errors,
              "farlink-ftp: held /pub/tree/locked: cannot be listed: 226 Transfer done (but failed to open "
              "directory).\nfarlink-ftp: held " +
                  down + "/unread: cannot be read: Permission denied\n");
    EXPECT_EQ(treeText(down), "locked/\nlocked/f x\nnew x\nunread/\nunread/f x\n");
}

// A further connection that cannot be opened is said, and the mirror goes on over the
// others: the scripted server greets one client only, so the second connection, opened
// once the plan holds two copies, times out.
TEST(FarlinkFtpMirror, GoesOnWithoutAConnectionThatCannotBeOpened) {
    TemporaryFolder local;
    std::filesystem::create_directory(local / "down");
    Script script = toolLogin() + ask("FEAT", "211-Features:\r\n MFMT\r\n211 End") +
                    mirrorListing("/d/", unixLine('-', "a", "1") + unixLine('-', "b", "1")) + ask("TYPE I", "200 ok");
    for (const std::string name : {"a", "b"}) {
        script = script + retrieval("/d/" + name, name) + closeData() + send("226 done\r\n") +
                 ask("MDTM /d/" + name, "213 20200101000000");
    }
    ScriptedFtpServer server(script + ask("QUIT", "221 bye"));
    std::string output, errors;
    EXPECT_EQ(runTool("--timeout 1 mirror --parallel 2 ftp://" + server.address() + "/d/ " + (local / "down"), local,
                      output, errors),
              0)
        << errors;
    EXPECT_EQ(output, "get a\nget b\ndone 2, failed 0\n");
    EXPECT_NE(errors.find("a further connection could not be opened, going on without it: timed out"),
              std::string::npos)
        << errors;
    EXPECT_EQ(treeText(local / "down"), "a a\nb b\n");
    EXPECT_EQ("", server.finish());
}

// A mirror's download is whole or nothing, as get's (cut short, or of another size than
// listed though the server says 226); names and the server's words print escaped, each
// failure on one line.
TEST(FarlinkFtpMirror, ADownloadIsWholeOrLeavesNothingAndItsReasonPrintsSafely) {
    TemporaryFolder local;
    std::filesystem::create_directory(local / "down");
    writeFile(local / "down/b", "precious");
    Script script = toolLogin() + ask("FEAT", "211 End") +
                    mirrorListing("/d/", unixLine('-', "a") + unixLine('-', "b", "1") + unixLine('-', "c") +
                                             unixLine('-', "d\x7f", "1") + unixLine('-', "e\xc2\x9b\xff", "1")) +
                    ask("TYPE I", "200 ok");
    const std::array<std::array<std::string, 3>, 3> arrivals = {
        {{"a", "abc", "426 \x1b]0;owned\x07 cut\r\n"}, {"b", "bbbbbb", "226 done\r\n"}, {"c", "ccc", "226 done\r\n"}}};
    for (const auto& [name, bytes, reply] : arrivals)
        script = script + retrieval("/d/" + name, bytes) + closeData() + send(reply);
    ScriptedFtpServer server(script + bye());
    std::string output, errors;
    EXPECT_EQ(runTool("mirror ftp://" + server.address() + "/d/ " + (local / "down"), local, output, errors), 1);
    EXPECT_EQ(output,
              "skip d?: a control character in its name\nskip e?\xEF\xBF\xBD: a control character in its "
              "name\ndone 0, failed 3\n");
    EXPECT_NE(errors.find("farlink-ftp: failed: get a: 426 ?]0;owned? cut\nfarlink-ftp: "), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("farlink-ftp: failed: get b: The file arrived with 6 bytes where the server announced 1\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("farlink-ftp: failed: get c: The file arrived with 3 bytes where the server announced 5\n"),
              std::string::npos)
        << errors;
    EXPECT_EQ(treeText(local / "down"), "b precious\n");
    EXPECT_EQ("", server.finish());
}

}  // namespace

// TLS before 1.2 is broken; a system configuration that still allows it must not let a
// server talk the client down to it.
TEST(FarlinkFtp, RefusesAServerThatSpeaksNothingNewerThanTls11) {
    TemporaryFolder root, local;
    RealFtpServer server(FtpServerKind::Pyftpdlib, root.path(), {.tls = true, .dataFault = "tls-1.1"});
    ASSERT_EQ("", server.error());
    writeFile(local / "openssl.cnf",
              "openssl_conf = init\n[init]\nssl_conf = ssl\n[ssl]\nsystem_default = old\n"
              "[old]\nMinProtocol = TLSv1\nCipherString = DEFAULT@SECLEVEL=0\n");
    ScopedVariable configuration("OPENSSL_CONF", local / "openssl.cnf");
    std::string output, errors;
    EXPECT_EQ(1, runTool("--trust '" + server.certificateFingerprint() + "' ls ftpes" + server.url("/").substr(3),
                         local, output, errors));
    EXPECT_NE(std::string::npos, errors.find("protocol")) << errors;
}
