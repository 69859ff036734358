// The Remote view's listing: find first / next / close, their cache files, the current
// folder, and names that go back to real servers as the same bytes.
#include "remote/remote_listing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "explorer/folder_walk.h"
#include "ftp/ftp_transfer.h"
#include "platform/errors.h"
#include "platform/icons.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"

namespace {

using platform::toUtf16;
using platform::toUtf8;
using namespace test_support;
using namespace test_support::conversation;

constexpr std::uint64_t year2000 = 125911584000000000ULL;  // 100 ns steps since 1601

// "NAME ATTRIBUTES SIZE", the last-write time in seconds after 2000 when it is another,
// and "<sep>" for a name the view would show with a separator in it.
std::string describe(const platform::FindData& data) {
    const std::u16string_view name = platform::boundedView(data.name, platform::maxPath);
    const std::uint64_t time = (std::uint64_t(data.lastWriteTime.high) << 32) | data.lastWriteTime.low;
    char facts[64];
    std::snprintf(facts, sizeof facts, " %x %llu", data.attributes,
                  (static_cast<unsigned long long>(data.sizeHigh) << 32) | data.sizeLow);
    return toUtf8(name) + facts + (time == year2000 ? "" : " @" + std::to_string((time - year2000) / 10000000)) +
           (name.find(u'\\') == std::u16string_view::npos ? "" : " <sep>");
}

// The listing files in the cache folder: one for each listing that is open.
std::vector<std::string> listingFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(remote::listingCacheFolder())) {
        if (entry.path().filename().string().starts_with(remote::listingFilePrefix)) files.push_back(entry.path());
    }
    return files;
}

// Every entry of the folder; each listing ends with "no more files".
std::vector<std::string> listAll(std::u16string_view pattern) {
    std::vector<std::string> rows;
    platform::FindData data;
    const platform::FindHandle handle = remote::remoteFindFirst(pattern, data);
    if (handle != platform::invalidFindHandle) {
        do rows.push_back(describe(data));
        while (remote::remoteFindNext(handle, data));
    }
    EXPECT_EQ(platform::lastError(), platform::errorNoMoreFiles) << placeError(0);
    if (handle != platform::invalidFindHandle) {
        EXPECT_EQ(remote::remoteFindClose(handle), 1);
    }
    return rows;
}

class RemoteListing : public ::testing::Test {
protected:
    RemoteViewScope scope;
};

TEST_F(RemoteListing, EntriesAreTakenFromTheListingAsTheViewShowsThem) {
    std::string longPiece = unixLine('-', "", "1");
    longPiece.resize(longPiece.size() - 2);
    longPiece.resize(2047, 'x');  // the reader's limit: the next byte starts a line of its own
    std::string hostile;          // names a command would take for another entry: no rows
    for (const std::string& name : {std::string("a/b"), std::string("nul\0x", 5), std::string(), std::string("../..")})
        hostile += unixLine('-', name, "1");
    struct Case {
        const char* what;
        std::string lines;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"a summary line is no entry", "total 8\r\n" + unixLine('-', "first", "12"), {"first 0 12"}},
        {"only . and ..", unixLine('d', ".") + unixLine('d', ".."), {".. 20000010 5"}},
        {"a folder's name ends before the newline", unixLine('d', "pub", "4096"), {"pub 20000010 4096"}},
        {"5 GiB fill both size words", unixLine('-', "big", "5368709120"), {"big 0 5368709120"}},
        {"a link may be a folder but is marked a link",
         "lrwxrwxrwx 1 me us 3 Jan  1  2000 up -> ..\r\n",
         {"up 20000410 3"}},
        {"a line over 2047 bytes comes in pieces", longPiece + unixLine('d', "tail"), {"tail 20000010 5"}},
        {"times count from 1601 in 100 ns steps, given exactly or by date",
         "+m946684801,r,s1,\tnew\r\n" + unixLine('-', "old"),
         {"new 0 1 @1", "old 0 5"}},
        {"odd names keep their bytes; a '\\' is no separator",
         hostile + unixLine('-', "back\\slash") + unixLine('-', "bell\x07") + unixLine('-', "latin\xe9"),
         {"back\\slash 0 5", "bell\x07 0 5", "latin\xe9 0 5"}},
        {"an empty folder fails as no more files", "", {}},
        {"a folder holding only itself is empty", unixLine('d', "."), {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedFtpServer server(login() + listing("/pub/", test.lines) + bye());
        addPlace(server.address());
        EXPECT_EQ(listAll(u"\\pub\\*"), test.rows);
        EXPECT_EQ(listingFiles(), std::vector<std::string>{}) << "left behind";
        remote::shutdownRemote();
        EXPECT_EQ(server.finish(), "");
    }
}

TEST_F(RemoteListing, AFailedListingIsAnErrorAndNeverAShorterFolder) {
    const std::string entries = unixLine('-', "one") + unixLine('-', "two");
    struct Case {
        const char* what;
        std::u16string pattern;
        Script script;
        std::string error;
    };
    const Case cases[] = {
        {"a refused folder change",
         u"/gone/*",
         {expect("CWD /gone/"), send("550 No such folder.\r\n")},
         "(KVT-FFF-1) 550 No such folder.\n"},
        {"data cut by a reset while the server says 226", u"/pub/*", listing("/pub/", entries, resetData()),
         "(KVT-FFF-1) Transfer incomplete\n"},
        {"a final reply that is no success", u"/pub/*", listing("/pub/", entries, closeData(), "451 local error\r\n"),
         "(KVT-FFF-1) 451 local error\n"},
        {"a path a 320-byte buffer would cut",
         u"/" + std::u16string(318, u'p') + u"/*",
         {},
         "(KVT-FFF-1) The folder path is too long: 320 bytes, at most 319.\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedFtpServer server(login() + test.script + bye());
        addPlace(server.address());
        platform::FindData data;
        EXPECT_EQ(remote::remoteFindFirst(test.pattern, data), platform::invalidFindHandle);
        EXPECT_NE(platform::lastError(), platform::errorNoMoreFiles);
        EXPECT_NE(platform::lastError(), platform::errorFileNotFound);
        EXPECT_EQ(placeError(0), test.error);
        EXPECT_EQ(listingFiles(), std::vector<std::string>{}) << "left behind";
        remote::shutdownRemote();
        EXPECT_EQ(server.finish(), "");
    }
}

// A walk lists a sub-folder before it has read its own folder to the end, and another
// thread lists meanwhile: each listing reads its own file, whole. Only the last segment
// of a path is a pattern. The cache folder is private, made anew when it went, and those
// of Farlinks that ended go, while those whose lock a running one holds stay.
TEST_F(RemoteListing, ListingsOpenAtOnceEachReadTheirOwnWhole) {
    ScriptedFtpServer server(
        login() + listing("/a*b/", unixLine('d', "sub") + unixLine('-', "x", "1") + unixLine('-', "y", "2")) + probe() +
        relisting("/a*b/sub/", unixLine('-', "z")) + probe() + relisting("/", unixLine('-', "r")) + probe() +
        relisting("/a*b/sub/", unixLine('-', "z")) + bye());
    addPlace(server.address());
    const std::string parent = scope.cacheHome.path() + "/farlink/0123456789abcdef-";
    const std::string abandoned = parent + "1-aBcDeF";
    const std::string running = parent + "2-aBcDeF";
    const std::string unlocked = parent + "3-aBcDeF";  // as an older Farlink left it
    for (const std::string& folder : {scope.cacheHome.path() + "/farlink", abandoned, running, unlocked})
        mkdir(folder.c_str(), 0700);
    writeFile(abandoned + "/instance.lock", "");
    writeFile(running + "/instance.lock", "");
    const int held = open((running + "/instance.lock").c_str(), O_RDWR);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    platform::FindData data;
    const platform::FindHandle outer = remote::remoteFindFirst(u"/a*b/*", data);
    ASSERT_NE(outer, platform::invalidFindHandle) << placeError(0);
    EXPECT_NE(access(abandoned.c_str(), F_OK), 0);
    EXPECT_EQ(access(running.c_str(), F_OK), 0);
    EXPECT_EQ(access(unlocked.c_str(), F_OK), 0);
    close(held);
    EXPECT_EQ(describe(data), "sub 20000010 5");
    struct stat status {};
    ASSERT_EQ(stat(remote::listingCacheFolder().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(listingFiles().size(), 1u);
    ASSERT_EQ(stat(listingFiles()[0].c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    EXPECT_EQ(listAll(u"/a*b/sub/*"), std::vector<std::string>{"z 0 5"});
    std::vector<std::string> other;
    std::thread([&] { other = listAll(u"/*"); }).join();  // no wait for the open listing
    EXPECT_EQ(other, std::vector<std::string>{"r 0 5"});
    std::vector<std::string> rest;
    while (remote::remoteFindNext(outer, data)) rest.push_back(describe(data));
    EXPECT_EQ(rest, (std::vector<std::string>{"x 0 1", "y 0 2"}));
    EXPECT_EQ(platform::lastError(), platform::errorNoMoreFiles);
    EXPECT_EQ(remote::remoteFindClose(outer), 1);

    remote::removeListingCache();
    EXPECT_EQ(listAll(u"/a*b/sub/*"), std::vector<std::string>{"z 0 5"});
    const std::string folder = remote::listingCacheFolder();
    remote::removeListingCache();
    EXPECT_NE(access(folder.c_str(), F_OK), 0);
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// A listing ends only where its reader says so: a file cut short or removed behind the
// program's back fails it, as a walk must never take the rest for the end.
TEST_F(RemoteListing, AListingFileChangedBehindTheProgramFailsTheListing) {
    std::string entries;
    for (int i = 0; i < 400; ++i) entries += unixLine('-', "file" + std::to_string(i));
    const struct Case {
        const char* what;
        void (*change)(const std::string& path);
    } cases[] = {
        {"removed", [](const std::string& path) { unlink(path.c_str()); }},
        {"cut short", [](const std::string& path) { truncate(path.c_str(), 100); }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedFtpServer server(login() + listing("/pub/", entries) + bye());
        addPlace(server.address());
        platform::FindData data;
        const platform::FindHandle handle = remote::remoteFindFirst(u"/pub/*", data);
        ASSERT_NE(handle, platform::invalidFindHandle) << placeError(0);
        ASSERT_EQ(listingFiles().size(), 1u);
        test.change(listingFiles()[0]);
        int read = 1;
        while (remote::remoteFindNext(handle, data)) ++read;
        EXPECT_NE(platform::lastError(), platform::errorNoMoreFiles) << read << " entries read";
        EXPECT_LT(read, 400);
        EXPECT_EQ(remote::remoteFindClose(handle), 1);
        remote::shutdownRemote();
        EXPECT_EQ(server.finish(), "");
    }
}

// A server's path is never looked up on the device: a remote folder is a folder, a
// remote file is what its name says, whatever the device holds under that path.
TEST_F(RemoteListing, IconsAndTypesComeFromTheNameAndAttributesAlone) {
    struct Case {
        std::u16string path;
        std::uint32_t attributes;
        platform::IconId icon;
        std::u16string displayName;
    };
    const Case cases[] = {
        {u"/pub/docs", 0x20000010, platform::IconId::folder, u"docs"},
        {u"/pub/docs", 0x20000000, platform::IconId::folder, u"docs"},  // a folder row asks with the marker alone
        {u"/pub/notes.txt", 0, platform::IconId::text, u"notes"},
        {u"/tmp", 0, platform::IconId::file, u"tmp"},  // a folder on this machine, a file on the server
    };
    for (const Case& c : cases) {
        platform::ShellFileInfo info;
        explorer::remoteProvider.GetFileInfo(c.path, c.attributes, info,
                                             platform::shellSystemIconIndex | platform::shellDisplayName);
        EXPECT_EQ(static_cast<platform::IconId>(info.iconIndex), c.icon) << toUtf8(c.path);
        EXPECT_EQ(platform::boundedView(info.displayName, platform::maxPath), c.displayName) << toUtf8(c.path);
    }
}

TEST_F(RemoteListing, TheCurrentFolderIsStoredWithSlashesAndRememberedAtOnce) {
    EXPECT_EQ(remote::setRemoteCurrentFolder(u"\\pub"), 1);  // no place yet
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/");

    addPlace("127.0.0.1:21");
    EXPECT_EQ(remote::setRemoteCurrentFolder(u"\\pub\\incoming\\"), 1);
    remote::loadPlaces();  // new places remember their folder: it was saved
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/incoming/");

    EXPECT_EQ(remote::setRemoteCurrentFolder(u"/" + std::u16string(258, u'd')), 0);  // with its '/', 260
    EXPECT_EQ(platform::lastError(), platform::errorFilenameTooLong);
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/incoming/");

    explorer::remoteProvider.filterIndex = 5;  // past the last place: back to the first
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/incoming/");
    EXPECT_EQ(explorer::remoteProvider.filterIndex, 0u);
    EXPECT_EQ(remote::placeName(1), std::nullopt);
    EXPECT_EQ(remote::placePattern(1), std::nullopt);
}

struct RealSetup {
    const char* name;
    FtpServerKind kind;
    std::uint8_t passive;
    bool listsRawBytes;  // pyftpdlib lists bytes that are not UTF-8 as '?'
};

class RealServerListing : public RemoteListing, public ::testing::WithParamInterface<RealSetup> {};

// Each row's name, turned back into bytes, fetches the file it was listed for.
TEST_P(RealServerListing, EveryListedNameFetchesItsOwnFile) {
    TemporaryFolder root;
    TemporaryFolder local;
    RealFtpServer server(GetParam().kind, root.path());
    ASSERT_EQ(server.error(), "");
    std::vector<std::string> names = {"with space",
                                      "gr\xc3\xbc\xc3\x9f"
                                      "e",
                                      "-dash", "a\\b"};
    if (GetParam().listsRawBytes) names.push_back("bad\xff\xfe");
    ASSERT_EQ(mkdir(server.hostPath("names").c_str(), 0755), 0);
    for (const std::string& name : names) writeFile(server.hostPath("names/" + name), "content of " + name);
    addPlace(server.address(), {.user = server.user(), .password = server.password(), .passive = GetParam().passive});

    std::vector<std::string> listed;
    const std::u16string folder = toUtf16(server.remotePath("names/"));
    const explorer::ListingResult result = explorer::listFolder(explorer::remoteProvider, folder + u"*", folder,
                                                                [&](const explorer::FolderEntry& entry) {
                                                                    listed.push_back(toUtf8(entry.name));
                                                                    return true;
                                                                });
    ASSERT_EQ(result.end, explorer::ListingEnd::complete) << placeError(0);
    EXPECT_EQ(result.leftOut, 0);
    std::sort(listed.begin(), listed.end());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(listed, names);

    remote::SessionUse use = remote::useSession(0);
    for (const std::string& name : listed) {
        ASSERT_EQ((*use.session)->download(server.remotePath("names/" + name), {.file = {local.path(), "copy"}}), 1)
            << name << ": " << (*use.session)->failureText();
        EXPECT_EQ(readFile(local / "copy"), "content of " + name);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerListing,
                         ::testing::Values(RealSetup{"Pyftpdlib", FtpServerKind::Pyftpdlib, 1, false},
                                           RealSetup{"Vsftpd", FtpServerKind::Vsftpd, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
