// Partial downloads: their names and keys, and the start-up clean-up of the ones a run
// left, on the real file system with the registry of the test.
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

constexpr std::uint64_t now = 1000;

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

// At start every listed partial goes (no record that a Retry could continue it for
// outlives its run), but only a regular file with a partial's name and no other, reached
// without a link; what took a listed path's place is left alone and no longer listed.
TEST(PartialDownloads, StartUpRemovesOnlyListedPartialFiles) {
    test_support::TemporaryRegistry registry;
    test_support::TemporaryFolder folder;
    const auto at = [&](const std::string& name) { return std::string(folder / name); };
    const std::string left = at(".farlink-0000000000000001.part");
    const std::string linked = at(".farlink-0000000000000003.part");
    const std::string renamed = at("notes.txt");
    const std::string gone = at(".farlink-0000000000000004.part");
    const std::string viaLink = at("via/.farlink-0000000000000007.part");
    const std::string twoNames = at(".farlink-0000000000000008.part");
    writeFile(left, "left");
    writeFile(at("mine"), "the user's");
    std::filesystem::create_symlink(at("mine"), linked);
    std::filesystem::create_hard_link(at("mine"), twoNames);
    writeFile(renamed, "the user's");
    std::filesystem::create_directory(at("real"));
    writeFile(at("real/.farlink-0000000000000007.part"), "the user's");
    std::filesystem::create_directory_symlink(at("real"), at("via"));
    int key = 0;
    for (const std::string& path : {left, linked, renamed, gone, viaLink, twoNames}) {
        rememberPartial(path, ++key, now);
    }
    rememberPartial(at(".farlink-0000000000000005.part"), 9, now);
    forgetPartial(at(".farlink-0000000000000005.part"));
    EXPECT_EQ(keptPartial(1), left);
    EXPECT_EQ(keptPartial(9), "");
    writeFile(at(".farlink-0000000000000005.part"), "completed since");

    removeLeftPartials();
    EXPECT_FALSE(std::filesystem::exists(left));
    EXPECT_TRUE(std::filesystem::is_symlink(linked));
    EXPECT_EQ(readFile(at("mine")), "the user's");
    EXPECT_TRUE(std::filesystem::exists(twoNames));
    EXPECT_EQ(readFile(renamed), "the user's");
    EXPECT_EQ(readFile(at("real/.farlink-0000000000000007.part")), "the user's");
    EXPECT_TRUE(std::filesystem::exists(at(".farlink-0000000000000005.part")));

    // Paths no longer listed stay at the next start, whatever they hold now.
    writeFile(gone, "a partial again");
    removeLeftPartials();
    EXPECT_TRUE(std::filesystem::exists(gone));
}

}  // namespace
