// An SFTP place through the Remote view's operations against sshd on loopback (the host
// key's checks: tests/sftp).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "explorer/folder_walk.h"
#include "explorer/provider.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/partial_downloads.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "session/server_session.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_sftp_server.h"

namespace {

namespace fs = std::filesystem;
using platform::toUtf16;
using namespace test_support;

class SftpPlace : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server.error(), "");
        addPlace("sftp://127.0.0.1:" + std::to_string(server.port()), {.user = server.user(), .password = ""});
    }
    // A server path of the served folder.
    std::u16string remote(const std::string& relative) const { return toUtf16(served / relative); }

    SshClient ssh;
    const RealSftpServer& server = ssh.server;
    const TemporaryFolder& served = ssh.files;
    RemoteViewScope scope;
    DeviceRoot device;
};

TEST_F(SftpPlace, TreesGoBothWaysAndATreeDeleteLeavesALinksTargetAlone) {
    server.writeKnownHosts(KnownKey::serverKey);
    TemporaryFolder outside;
    writeFile(outside / "precious", "keep me");
    fs::create_directories(served / "tree/sub");
    writeFile(served / "tree/a.bin", patternBytes(300000));
    writeFile(served / "tree/sub/b.txt", "b");
    fs::create_directory_symlink(outside.path(), served / "tree/link");

    EXPECT_EQ(remote::remoteCopyFolder(remote("tree"), u"file://\\down", 0), 0)
        << "the link is copied as a file and fails as one";
    EXPECT_TRUE(device.read("down/a.bin") == patternBytes(300000));
    EXPECT_EQ(device.read("down/sub/b.txt"), "b");
    EXPECT_FALSE(fs::exists(device.at("down/link/precious")));

    // Again, into the folders the first copy made.
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(remote::remoteCopyFolder(u"file://\\down", remote("up"), 0), 1) << placeError(0);
    EXPECT_TRUE(readFile(served / "up/a.bin") == patternBytes(300000));
    EXPECT_EQ(readFile(served / "up/sub/b.txt"), "b");
    ASSERT_EQ(remote::remoteMove(remote("up/a.bin"), remote("up/renamed.bin")), 1) << placeError(0);
    EXPECT_TRUE(fs::exists(served / "up/renamed.bin"));
    // The data of a copy within the server would go through a server-to-server transfer.
    EXPECT_EQ(remote::remoteCopyFile(remote("up/renamed.bin"), remote("up/copy.bin"), 0), 0);
    EXPECT_NE(placeError(0).find("not possible where an SFTP server"), std::string::npos) << placeError(0);
    EXPECT_TRUE(fs::exists(served / "up/renamed.bin"));

    EXPECT_TRUE(explorer::deleteTree(explorer::remoteProvider, remote("tree"), platform::attributeFolder))
        << placeError(0);
    EXPECT_FALSE(fs::exists(served / "tree"));
    EXPECT_EQ(readFile(outside / "precious"), "keep me");
}

// A stopped download leaves the user's file as it was; its retry continues the partial
// (its bytes are not fetched again) and replaces the target only once whole.
TEST_F(SftpPlace, ARetriedDownloadContinuesItsPartial) {
    server.writeKnownHosts(KnownKey::serverKey);
    const std::string bytes = patternBytes(1 << 20);
    writeFile(served / "f.bin", bytes);
    device.file("f.bin", "the user's own");
    session::TransferWatch watch;
    session::setThreadTransferWatch(&watch);
    remote::pinPlaceForThread(remote::placeAt(0), remote::settingsOf(*remote::placeAt(0)).revision);

    watch.stop.store(true);
    EXPECT_EQ(remote::remoteCopyFile(remote("f.bin"), u"file://\\f.bin", 0), 0);
    EXPECT_EQ(device.read("f.bin"), "the user's own");
    watch.stop.store(false);
    const std::string half(bytes.size() / 2, 'X');
    const std::uint64_t key = remote::partialKeyFor(*remote::placeAt(0), served / "f.bin", device.at("f.bin"));
    writeFile(device.at(".farlink-0123456789abcdef.part"), half);
    remote::rememberPartial(device.at(".farlink-0123456789abcdef.part"), key, 0);
    watch.resume.store(true);
    ASSERT_EQ(remote::remoteCopyFile(remote("f.bin"), u"file://\\f.bin", 0), 1) << placeError(0);
    EXPECT_TRUE(device.read("f.bin") == half + bytes.substr(half.size()));
    EXPECT_EQ(remote::keptPartial(key), "");
    remote::pinPlaceForThread(nullptr, 0);
    session::setThreadTransferWatch(nullptr);
}

// A queued copy never trusts a key for the user.
TEST_F(SftpPlace, AnUnknownKeyFailsAQueuedCopy) {
    session::TransferWatch watch;
    session::setThreadTransferWatch(&watch);
    writeFile(served / "f", "x");
    EXPECT_EQ(remote::remoteCopyFile(remote("f"), u"file://\\f", 0), 0);
    EXPECT_TRUE(placeError(0).starts_with("(KVT-SC-1) ")) << placeError(0);
    EXPECT_NE(placeError(0).find(server.hostKeyFingerprint()), std::string::npos) << placeError(0);
    EXPECT_NE(placeError(0).find("Browse the place in the Remote view to decide whether to trust its host key"),
              std::string::npos)
        << placeError(0);
    session::setThreadTransferWatch(nullptr);
    EXPECT_FALSE(fs::exists(device.at("f")));
}

}  // namespace
