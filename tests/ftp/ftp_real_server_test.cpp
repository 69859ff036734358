// The engine against pyftpdlib and vsftpd on loopback, on [::1] too (EPSV and EPRT), and
// the listing parser against their listings.
#include "ftp/ftp_commands.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_transfer.h"
#include "ftp/listing_parser.h"
#include "ftp/server_to_server.h"
#include "tests/support/engine_files.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <gtest/gtest.h>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

using namespace ftp;
using namespace test_support;

const ServerSetup pyftpdlibPassive{FtpServerKind::Pyftpdlib, true};
const ServerSetup pyftpdlibActive{FtpServerKind::Pyftpdlib, false};
const ServerSetup vsftpdActive{FtpServerKind::Vsftpd, false};
const ServerSetup ipv6Setups[] = {{FtpServerKind::Pyftpdlib, true, false, true},
                                  {FtpServerKind::Pyftpdlib, false, false, true},
                                  {FtpServerKind::Vsftpd, true, false, true},
                                  {FtpServerKind::Vsftpd, false, false, true}};

constexpr const char* noIpv6 = "this host has no IPv6 loopback address (::1 on lo)";

class RealServer : public ::testing::TestWithParam<ServerSetup> {
protected:
    void SetUp() override {
        if (GetParam().ipv6 && !loopbackIpv6Available()) GTEST_SKIP() << noIpv6;
        ASSERT_EQ("", server.error());
        ASSERT_TRUE(connect(session));
    }
    void TearDown() override {
        if (session.control && session.control->socket) quit(session, 0);
        release(session);
    }
    bool connect(FtpSession& client) {
        client = createSession();
        if (!openControl(client, server.address()) || !logIn(client, server.user(), server.password())) {
            ADD_FAILURE() << lastReply(client);
            return false;
        }
        setConnectionMode(client, GetParam().passive ? ConnectionMode::Passive : ConnectionMode::Active);
        client.control->usePeerAddress = GetParam().passive;
        return true;
    }
    std::string reply() const { return lastReply(session); }

    TemporaryFolder root, local;
    RealFtpServer server{GetParam().kind, root.path(), {.ipv6 = GetParam().ipv6}};
    FtpSession session;
};

// With an idle callback every step is tried without blocking and waited on only when
// it would block; a send then often takes part of a step, and a receive finds nothing.
TEST_P(RealServer, FilesTravelByteExactBothWaysWithAndWithoutIdleWaits) {
    int periods = 0;
    session.control->callbackContext = &periods;
    session.control->idleMicroseconds = 1000;
    const std::pair<std::size_t, bool> cases[] = {
        {0, false}, {1023, false}, {(1 << 20) + 7, false}, {(4 << 20) + 7, true}};
    for (const auto& [size, idle] : cases) {
        SCOPED_TRACE(size);
        session.control->idleCallback = idle ? +[](void* context) { return int(++*static_cast<int*>(context) < 20000); }
                                             : nullptr;
        const std::string name = "file" + std::to_string(size);
        const std::string bytes = patternBytes(size);
        writeFile(local / name, bytes);
        ASSERT_EQ(1, upload(session, local / name, server.remotePath(name), 'I')) << reply();
        EXPECT_TRUE(bytes == readFile(server.hostPath(name)));
        ASSERT_EQ(1, download(session, local / (name + ".back"), server.remotePath(name), 'I', 0)) << reply();
        EXPECT_TRUE(bytes == readFile(local / (name + ".back")));
    }
    session.control->idleCallback = nullptr;
    ASSERT_EQ(1, changeFolder(session, server.remotePath(""))) << reply();
    ASSERT_EQ(1, listToFile(session, local / "listing", std::nullopt)) << reply();
    const std::string listing = readFile(local / "listing");
    for (const char* name : {" file0\n", " file1023\n", " file1048583\n"}) {
        EXPECT_NE(std::string::npos, listing.find(name)) << listing;
    }
    // A download resumed from its partial copy (REST goes out at another step in each mode).
    std::filesystem::resize_file(local / "file1048583.back", 123457);
    ASSERT_EQ(1, download(session, local / "file1048583.back", server.remotePath("file1048583"), 'I', 123457))
        << reply();
    EXPECT_TRUE(patternBytes((1 << 20) + 7) == readFile(local / "file1048583.back"));
}

// The side that receives must hear STOR before data can reach it: pyftpdlib closes a
// passive data connection on which data arrives before the transfer command, which
// the source's RETR, sent first when the target is passive, allows.
TEST_P(RealServer, CopiesServerToServerBetweenTwoSessions) {
    const std::string bytes = patternBytes((1 << 20) + 7);
    writeFile(server.hostPath("source"), bytes);
    FtpSession target;
    ASSERT_TRUE(connect(target));
    for (const int sourcePassive : {1, 0}) {
        if (!sourcePassive && GetParam().kind == FtpServerKind::Pyftpdlib) continue;
        SCOPED_TRACE(sourcePassive);
        const std::string copy = "copy" + std::to_string(sourcePassive);
        EXPECT_EQ(1, serverToServer(session, target, server.remotePath("source"), server.remotePath(copy), 'I',
                                    sourcePassive))
            << reply() << lastReply(target);
        EXPECT_TRUE(bytes == readFile(server.hostPath(copy)));
    }
    quit(target, 0);
    release(target);
}

// The listing parser reads each server's own lines as the file system has them: kind,
// exact size, permission bits, and a UTC time to the minute when recent, to the day when old.
TEST_P(RealServer, ListingLinesMatchTheFileSystem) {
    constexpr std::int64_t day = 86400;
    const std::time_t now = std::time(nullptr);
    const std::string folder = server.hostPath("tree");
    std::filesystem::create_directory(folder);
    writeFile(folder + "/plain.txt", std::string(1234, 'p'));
    writeFile(folder + "/with  two spaces.txt", "s");
    const std::string unicode = "ünicøde 日.txt";
    writeFile(folder + "/" + unicode, std::string(70000, 'u'));
    writeFile(folder + "/old.txt", "old");
    std::filesystem::create_directory(folder + "/sub folder");
    std::filesystem::create_symlink("plain.txt", folder + "/link");
    for (const auto& [name, age] : {std::pair{"/plain.txt", 2 * day}, std::pair{"/old.txt", 800 * day}}) {
        const timeval times[2] = {{now - age, 0}, {now - age, 0}};
        lutimes((folder + name).c_str(), times);
    }
    ASSERT_EQ(1, changeFolder(session, server.remotePath("tree"))) << reply();
    ASSERT_EQ(1, listToFile(session, local / "tmp.dir", std::nullopt)) << reply();

    std::map<std::string, int> seen;
    std::istringstream listing(readFile(local / "tmp.dir"));
    std::string line;
    while (std::getline(listing, line)) {
        line += '\n';
        RemoteEntry entry;
        if (!parseListingLine(&entry, line.data(), int(line.size()))) continue;
        std::string name(entry.name, std::size_t(entry.nameLength));
        if (!name.empty() && name.back() == '\n') name.pop_back();
        if (name == "." || name == "..") continue;
        ++seen[name];
        SCOPED_TRACE(line);
        struct stat status {};
        ASSERT_EQ(0, lstat((folder + "/" + name).c_str(), &status)) << name;
        const bool link = S_ISLNK(status.st_mode);
        EXPECT_EQ(int(S_ISDIR(status.st_mode) || link), entry.mayBeFolder);
        EXPECT_EQ(int(S_ISREG(status.st_mode) || link), entry.mayBeFile);
        EXPECT_EQ(SizeKind::Exact, entry.sizeKind);
        EXPECT_EQ(std::int64_t(status.st_size), entry.size);
        EXPECT_EQ(int(status.st_mode & 0777), entry.mode);
        // Both servers write UTC times: to the minute when recent, to the day when old.
        const std::int64_t precision = entry.timeKind == TimeKind::Day ? day : 60;
        EXPECT_EQ(name == "old.txt" ? TimeKind::Day : TimeKind::Minute, entry.timeKind);
        EXPECT_EQ(status.st_mtime - status.st_mtime % precision, entry.time - localOffset());
    }
    const std::map<std::string, int> once = {{"plain.txt", 1}, {"with  two spaces.txt", 1}, {unicode, 1},
                                             {"old.txt", 1},   {"sub folder", 1},           {"link", 1}};
    EXPECT_EQ(once, seen);
}

// A file's time to the second, set (pyftpdlib by MFMT, vsftpd by MDTM's set form) and
// read back, in UTC. vsftpd's anonymous user sets the time of its own files only.
TEST_P(RealServer, ExactTimesAreSetAndReadInUtc) {
    writeFile(local / "f", "x");
    ASSERT_EQ(1, upload(session, local / "f", server.remotePath("f"), 'I')) << reply();
    const std::int64_t time = 1700000000;  // 2023-11-14 22:13:20 UTC
    EXPECT_EQ(1, setModificationTime(session, server.remotePath("f"), time)) << reply();
    struct stat info {};
    ASSERT_EQ(0, stat(server.hostPath("f").c_str(), &info));
    EXPECT_EQ(time, info.st_mtime);
    EXPECT_EQ(time, modificationTime(session, server.remotePath("f"))) << reply();
    EXPECT_EQ(-1, modificationTime(session, server.remotePath("missing")));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer, ::testing::Values(pyftpdlibPassive, pyftpdlibActive, vsftpdActive),
                         setupParamName);
INSTANTIATE_TEST_SUITE_P(Ipv6Servers, RealServer, ::testing::ValuesIn(ipv6Setups), setupParamName);

// Neither PORT nor EPRT can send one server to the other across families: the copy
// fails before either server hears a word of it.
TEST(ServerToServer, BetweenAnIpv4AndAnIpv6ServerFailsBeforeAnythingIsSent) {
    if (!loopbackIpv6Available()) GTEST_SKIP() << noIpv6;
    TemporaryFolder root;
    RealFtpServer ipv4Server(FtpServerKind::Pyftpdlib, root.path());
    RealFtpServer ipv6Server(FtpServerKind::Pyftpdlib, root.path(), {.ipv6 = true});
    ASSERT_EQ("", ipv4Server.error());
    ASSERT_EQ("", ipv6Server.error());
    writeFile(root / "source", "x");
    FtpSession sessions[2] = {createSession(), createSession()};
    int commandsSent = 0;
    for (int i = 0; i < 2; ++i) {
        const RealFtpServer& server = i == 0 ? ipv4Server : ipv6Server;
        ASSERT_EQ(1, openControl(sessions[i], server.address())) << lastReply(sessions[i]);
        ASSERT_EQ(1, logIn(sessions[i], server.user(), server.password())) << lastReply(sessions[i]);
        sessions[i].control->callbackContext = &commandsSent;
        sessions[i].control->traceCallback = [](const char*, void* context, int received) {
            if (!received) ++*static_cast<int*>(context);
        };
    }
    for (const int sourcePassive : {1, 0}) {
        EXPECT_EQ(0, serverToServer(sessions[0], sessions[1], "/source", "/copy", 'I', sourcePassive));
        EXPECT_EQ(0, serverToServer(sessions[1], sessions[0], "/source", "/copy", 'I', sourcePassive));
    }
    EXPECT_EQ(0, commandsSent);
    for (FtpSession& session : sessions) {
        EXPECT_STREQ("Server-to-server copy between an IPv4 and an IPv6 server is not possible\n", lastReply(session));
        quit(session, 0);
        release(session);
    }
    EXPECT_FALSE(std::filesystem::exists(root / "copy"));
}

}  // namespace
