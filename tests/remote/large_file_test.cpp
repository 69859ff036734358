// A file past 4 GiB through pyftpdlib: its listed size and properties, and a download that
// goes on from a partial past 4 GiB (REST). Sparse files with marked blocks, one across 4 GiB.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "explorer/folder_walk.h"
#include "local/properties.h"
#include "platform/own_files.h"
#include "platform/text.h"
#include "remote/partial_downloads.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "session/server_session.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"

namespace {

using namespace test_support;

constexpr std::uint64_t fileSize = (std::uint64_t(1) << 32) + 65537;
// Where the resumed download starts: past 4 GiB, so that its low 32 bits name another place.
constexpr std::uint64_t resumeAt = (std::uint64_t(1) << 32) + 4096;
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

// The file, or its first `size` bytes.
void makeSparseFile(const std::string& path, std::uint64_t size = fileSize) {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0) << path;
    ASSERT_EQ(ftruncate(file, off_t(size)), 0);
    for (const std::uint64_t offset : markedBlocks) {
        const std::string block = markOf(offset).substr(0, offset < size ? std::size_t(size - offset) : 0);
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

TEST(LargeFile, PastFourGibibytesTheSizeAndTheOffsetsComeThrough) {
    RemoteViewScope scope;
    DeviceRoot device;
    TemporaryFolder served, logs;
    const std::string commands = logs / "commands";
    RealFtpServer server(FtpServerKind::Pyftpdlib, served.path(), {.commandLog = commands.c_str()});
    ASSERT_EQ(server.error(), "");
    addPlace(server.address(), {.user = server.user(), .password = server.password()});
    makeSparseFile(server.hostPath("big.bin"));

    std::uint64_t listed = 0;
    explorer::listFolder(explorer::remoteProvider, u"/*", u"/", [&](const explorer::FolderEntry& entry) {
        if (entry.name == u"big.bin") listed = (std::uint64_t(entry.data.sizeHigh) << 32) | entry.data.sizeLow;
        return true;
    });
    EXPECT_EQ(listed, fileSize) << placeError(0);
    const std::string properties = platform::toUtf8(
        local::propertiesText(explorer::remoteProvider, u"/big.bin", nullptr));
    EXPECT_NE(properties.find("File Size: 4.000 GB\r"), std::string::npos) << properties;

    // A retried download, as the queue runs it, continues what an earlier try left.
    session::TransferWatch watch;
    watch.resume.store(true);
    session::setThreadTransferWatch(&watch);
    remote::pinPlaceForThread(remote::placeAt(0), remote::settingsOf(*remote::placeAt(0)).revision);
    const std::string partial = device.at(platform::newOwnTemporaryName());
    makeSparseFile(partial, resumeAt);
    remote::rememberPartial(partial, remote::partialKeyFor(*remote::placeAt(0), "/big.bin", device.at("big.bin")), 0);
    EXPECT_EQ(remote::remoteCopyFile(u"/big.bin", u"file://\\big.bin", 0), 1) << placeError(0);
    remote::dropThreadSessions();
    remote::pinPlaceForThread(nullptr, 0);
    session::setThreadTransferWatch(nullptr);
    EXPECT_EQ(differences(device.at("big.bin")), std::to_string(fileSize));
    const std::string log = readFile(commands);  // one RETR: no fetch again from the start
    EXPECT_EQ(log.find("<- RETR"), log.rfind("<- RETR")) << log;
}

}  // namespace
