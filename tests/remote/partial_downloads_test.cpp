// Partial downloads: their names and keys, and the start-up clean-up of the ones kept too
// long, on the real file system with the registry of the test.
#include "remote/partial_downloads.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/own_files.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

using namespace remote;
using test_support::readFile;
using test_support::writeFile;

constexpr std::uint64_t day = partialLifetime / 7;
constexpr std::uint64_t now = 1000 * day;

struct Download {
    std::u16string host = u"files.example.org";
    std::u16string user = u"me";
    std::uint32_t port = 21;
    std::string remotePath = "/pub/a.bin";
    std::string localPath = "/home/me/a.bin";
};

std::uint64_t keyOf(const Download& download) {
    FtpPlace place;
    std::copy(download.host.begin(), download.host.end(), place.host);
    std::copy(download.user.begin(), download.user.end(), place.userName);
    place.port = download.port;
    return partialKeyFor(place, download.remotePath, download.localPath);
}

TEST(PartialDownloads, AKeyIsTheSameForTheSameDownloadAndANameNeverTheSame) {
    const std::uint64_t key = keyOf({});
    EXPECT_EQ(keyOf({}), key);
    const std::string name = platform::newOwnTemporaryName();
    EXPECT_TRUE(platform::isOwnTemporaryName(name)) << name;
    EXPECT_NE(platform::newOwnTemporaryName(), name);
    const Download others[] = {{.host = u"other.example.org"},
                               {.user = u"you"},
                               {.port = 2121},
                               {.remotePath = "/pub/b.bin"},
                               {.localPath = "/home/me/b.bin"}};
    for (const Download& other : others) EXPECT_NE(keyOf(other), key) << other.remotePath << " " << other.port;
    for (const char* notPartial : {".farlink-0123456789ABCDEF.part", ".farlink-01234567.part",
                                   ".farlink-0123456789abcdef.partx", "farlink-0123456789abcdef.part"}) {
        EXPECT_FALSE(platform::isOwnTemporaryName(notPartial)) << notPartial;
    }
}

// Only a regular file with a partial's name is ever removed, and only once a week old;
// what took a listed path's place is left alone and no longer listed.
TEST(PartialDownloads, StartUpRemovesOnlyOldListedPartialFiles) {
    test_support::TemporaryRegistry registry;
    test_support::TemporaryFolder folder;
    const auto at = [&](const std::string& name) { return std::string(folder / name); };
    const std::string old = at(".farlink-0000000000000001.part");
    const std::string recent = at(".farlink-0000000000000002.part");
    const std::string linked = at(".farlink-0000000000000003.part");
    const std::string renamed = at("notes.txt");
    const std::string gone = at(".farlink-0000000000000004.part");
    writeFile(old, "old");
    writeFile(recent, "recent");
    writeFile(at("mine"), "the user's");
    std::filesystem::create_symlink(at("mine"), linked);
    writeFile(renamed, "the user's");
    rememberPartial(old, 1, now - 8 * day);
    rememberPartial(recent, 2, now - day);
    rememberPartial(linked, 3, now - 8 * day);
    rememberPartial(renamed, 4, now - 8 * day);
    rememberPartial(gone, 5, now - 8 * day);
    rememberPartial(at(".farlink-0000000000000005.part"), 6, now - 8 * day);
    forgetPartial(at(".farlink-0000000000000005.part"));
    EXPECT_EQ(keptPartial(2), recent);
    EXPECT_EQ(keptPartial(6), "");
    writeFile(at(".farlink-0000000000000005.part"), "completed since");

    removeStalePartials(now);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_EQ(readFile(recent), "recent");
    EXPECT_TRUE(std::filesystem::is_symlink(linked));
    EXPECT_EQ(readFile(at("mine")), "the user's");
    EXPECT_EQ(readFile(renamed), "the user's");
    EXPECT_TRUE(std::filesystem::exists(at(".farlink-0000000000000005.part")));

    // A week later the recent one goes too; paths no longer listed stay, whatever they hold now.
    std::filesystem::remove(linked);
    writeFile(linked, "a partial again");
    writeFile(gone, "a partial again");
    removeStalePartials(now + 7 * day);
    EXPECT_FALSE(std::filesystem::exists(recent));
    EXPECT_TRUE(std::filesystem::exists(linked));
    EXPECT_TRUE(std::filesystem::exists(gone));
    EXPECT_TRUE(std::filesystem::exists(renamed));
}

}  // namespace
