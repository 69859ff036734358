// A file past 4 GiB through pyftpdlib on loopback: its listed size and properties, and a
// download and an upload that arrive whole. The files are sparse with marked blocks on
// both sides of each 32-bit boundary, so a size or offset kept in 32 bits shows as a
// wrong size or a marked block in the wrong place.
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "explorer/folder_walk.h"
#include "local/properties.h"
#include "platform/text.h"
#include "remote/remote_files.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"

namespace {

using namespace test_support;

constexpr std::uint64_t fileSize = (std::uint64_t(1) << 32) + 65537;
constexpr std::size_t blockSize = 4096;
// Marked blocks: the start, across 4 GiB, the end; the others must read as zeros.
constexpr std::uint64_t markedBlocks[] = {0, (std::uint64_t(1) << 32) - 2048, fileSize - blockSize};
constexpr std::uint64_t zeroBlocks[] = {std::uint64_t(1) << 31, (std::uint64_t(1) << 32) + 8192};

std::string markOf(std::uint64_t offset) {
    std::string block = patternBytes(blockSize);
    const std::string place = std::to_string(offset);
    block.replace(0, place.size(), place);
    return block;
}

void makeSparseFile(const std::string& path) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0) << path;
    ASSERT_EQ(ftruncate(file, off_t(fileSize)), 0);
    for (const std::uint64_t offset : markedBlocks) {
        const std::string block = markOf(offset);
        ASSERT_EQ(pwrite(file, block.data(), block.size(), off_t(offset)), ssize_t(block.size()));
    }
    close(file);
}

// The file's size, then each sampled block that is not what it should be.
std::string differences(const std::string& path) {
    const int file = open(path.c_str(), O_RDONLY);
    if (file < 0) return "missing";
    std::string text = std::to_string(lseek(file, 0, SEEK_END));
    const auto check = [&](std::uint64_t offset, const std::string& expected) {
        std::string block(blockSize, '\0');
        if (pread(file, block.data(), blockSize, off_t(offset)) != ssize_t(blockSize) || block != expected) {
            text += " block at " + std::to_string(offset);
        }
    };
    for (const std::uint64_t offset : markedBlocks) check(offset, markOf(offset));
    for (const std::uint64_t offset : zeroBlocks) check(offset, std::string(blockSize, '\0'));
    close(file);
    return text;
}

TEST(LargeFile, PastFourGibibytesTheSizeAndEveryByteComeThrough) {
    RemoteViewScope scope;
    DeviceRoot device;
    TemporaryFolder served;
    // The download and the upload each write the whole file for real.
    struct statvfs disk {};
    if (statvfs(served.path().c_str(), &disk) == 0 && std::uint64_t(disk.f_bavail) * disk.f_frsize < 3 * fileSize) {
        GTEST_SKIP() << "needs " << 3 * fileSize / (1 << 30) << " GiB free in the temporary folder";
    }
    RealFtpServer server(FtpServerKind::Pyftpdlib, served.path());
    ASSERT_EQ(server.error(), "");
    addPlace(server.address(), {.user = server.user(), .password = server.password()});
    makeSparseFile(server.hostPath("big.bin"));
    const std::string whole = std::to_string(fileSize);

    std::uint64_t listed = 0;
    explorer::listFolder(explorer::remoteProvider, u"/*", u"/", [&](const explorer::FolderEntry& entry) {
        if (entry.name == u"big.bin") listed = (std::uint64_t(entry.data.sizeHigh) << 32) | entry.data.sizeLow;
        return true;
    });
    EXPECT_EQ(listed, fileSize) << placeError(0);
    const std::string properties = platform::toUtf8(
        local::propertiesText(explorer::remoteProvider, u"/big.bin", nullptr));
    EXPECT_NE(properties.find("File Size: 4.000 GB\r"), std::string::npos) << properties;

    ASSERT_EQ(remote::remoteCopyFile(u"/big.bin", u"file://\\big.bin", 0), 1) << placeError(0);
    EXPECT_EQ(differences(device.at("big.bin")), whole);
    unlink(device.at("big.bin").c_str());

    makeSparseFile(device.at("up.bin"));
    ASSERT_EQ(remote::remoteCopyFile(u"file://\\up.bin", u"/up.bin", 0), 1) << placeError(0);
    EXPECT_EQ(differences(server.hostPath("up.bin")), whole);
    unlink(server.hostPath("up.bin").c_str());
}

}  // namespace
