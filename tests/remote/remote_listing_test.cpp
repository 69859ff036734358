// The Remote view's listing: what find first / next / close make of a server's listing
// (scripted server: each conversation checked whole), the cache files they leave, the
// current folder and the selector's names, and names that must come back to real
// servers as the same bytes.
#include "remote/remote_listing.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "explorer/folder_walk.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_transfer.h"
#include "platform/errors.h"
#include "platform/icons.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

using test_support::addPlace;
using test_support::placeError;

using platform::toUtf16;
using platform::toUtf8;
using namespace test_support;
using Script = std::vector<ScriptStep>;

Script operator+(Script first, const Script& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const Script login = {send("220 hello\r\n"), expect("USER anonymous"), send("230 in\r\n")};

// A listing of `folder` whose data ends with `ending` (a close or a reset), answered
// with `finalReply`, and the change back to "/".
Script listing(const std::string& folder, const std::string& lines, ScriptStep ending = closeData(),
               const std::string& finalReply = "226 done\r\n") {
    return {expect("CWD " + folder), send("250 ok\r\n"), expect("TYPE A"), send("200 ok\r\n"),
            expect("PASV"),          replyPassive(),     acceptData(),     expect("LIST -aL"),
            send("150 here\r\n"),    sendData(lines),    ending,           send(finalReply),
            expect("CWD /"),         send("250 ok\r\n")};
}
const Script probe = {expect("NOOP"), send("200 ok\r\n")};
const Script bye = {expect("QUIT")};  // the place is dropped at the end

std::string unixLine(char type, const std::string& size, const std::string& name) {
    return std::string(1, type) + "rw-r--r-- 1 me us " + size + " Jan  1  2000 " + name + "\r\n";
}

std::string describe(const platform::FindData& data) {
    const std::uint64_t size = (std::uint64_t(data.sizeHigh) << 32) | data.sizeLow;
    char attributes[16];
    std::snprintf(attributes, sizeof attributes, "%x", data.attributes);
    return toUtf8(platform::boundedView(data.name, platform::maxPath)) + " " + attributes + " " + std::to_string(size);
}

class RemoteListing : public ::testing::Test {
protected:
    void SetUp() override {
        remote::startNetworkClock();
        remote::bindRemoteListing(explorer::remoteProvider);
        explorer::remoteProvider.filterIndex = 0;
    }
    void TearDown() override {
        remote::shutdownRemote();
        remote::removeListingCache();
    }

    // Every entry of the folder, and the last error the listing ended with.
    static std::vector<std::string> listAll(std::u16string_view pattern, std::uint32_t* endCode = nullptr) {
        std::vector<std::string> rows;
        platform::FindData data;
        const platform::FindHandle handle = remote::remoteFindFirst(pattern, data);
        if (handle != platform::invalidFindHandle) {
            do rows.push_back(describe(data));
            while (remote::remoteFindNext(handle, data));
        }
        if (endCode) *endCode = platform::lastError();
        if (handle != platform::invalidFindHandle) {
            EXPECT_EQ(remote::remoteFindClose(handle), 1);
        }
        return rows;
    }
    static std::string cacheFile(std::string_view name) {
        return remote::listingCacheFolder() + "/" + std::string(name);
    }

    ScopedVariable timeZone{"TZ", "UTC"};
    TemporaryFolder cacheHome;
    ScopedVariable cacheVariable{"XDG_CACHE_HOME", cacheHome.path()};
    TemporaryRegistry registry;
};

TEST_F(RemoteListing, EntriesAreTakenFromTheListingAsTheViewShowsThem) {
    std::string longPiece = unixLine('-', "1", "");
    longPiece.resize(longPiece.size() - 2);
    longPiece.resize(2047, 'x');  // the reader's limit: the next byte starts a line of its own
    struct Case {
        const char* what;
        std::string lines;
        std::vector<std::string> rows;
        std::uint32_t endCode;
    };
    const Case cases[] = {
        {"a summary line is no entry", "total 8\r\n" + unixLine('-', "12", "first"), {"first 0 12"}, 18},
        {"only . and ..", unixLine('d', "0", ".") + unixLine('d', "0", ".."), {".. 20000010 0"}, 18},
        {"a folder's name ends before the newline", unixLine('d', "4096", "pub"), {"pub 20000010 4096"}, 18},
        {"5 GiB fill both size words", unixLine('-', "5368709120", "big"), {"big 0 5368709120"}, 18},
        {"a link may be a folder but is marked a link",
         "lrwxrwxrwx 1 me us 3 Jan  1  2000 up -> ..\r\n",
         {"up 20000410 3"},
         18},
        {"a line over 2047 bytes comes in pieces", longPiece + unixLine('d', "0", "tail"), {"tail 20000010 0"}, 18},
        {"an empty folder fails as no more files", "", {}, 18},
        {"a folder holding only itself is empty", unixLine('d', "0", "."), {}, 18},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedFtpServer server(login + listing("/pub/", test.lines) + bye);
        addPlace(server.address());
        std::uint32_t endCode = 0;
        EXPECT_EQ(listAll(u"\\pub\\*", &endCode), test.rows);
        EXPECT_EQ(endCode, test.endCode);
        EXPECT_NE(access(cacheFile(remote::listingFileName).c_str(), F_OK), 0) << "left behind";
        remote::shutdownRemote();
        EXPECT_EQ(server.finish(), "");
    }
}

TEST_F(RemoteListing, TimesCountFrom1601In100NanosecondSteps) {
    ScriptedFtpServer server(login + listing("/", "+m946684800,r,s1,\tnew\r\n" + unixLine('-', "1", "old")) + bye);
    addPlace(server.address());
    platform::FindData data;
    const platform::FindHandle handle = remote::remoteFindFirst(u"/*", data);
    ASSERT_NE(handle, platform::invalidFindHandle) << placeError(0);
    for (int row = 0; row < 2; ++row) {  // 2000-01-01 00:00:00 UTC, given exactly and by date
        SCOPED_TRACE(row);
        EXPECT_EQ((std::uint64_t(data.lastWriteTime.high) << 32) | data.lastWriteTime.low, 125911584000000000ULL);
        EXPECT_EQ(data.lastAccessTime.low, data.lastWriteTime.low);
        EXPECT_EQ(data.creationTime.low | data.creationTime.high, 0u);
        if (row == 0) {
            EXPECT_EQ(remote::remoteFindNext(handle, data), 1);
        }
    }
    EXPECT_EQ(remote::remoteFindClose(handle), 1);
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// A server's name is data: one that a command would take for another entry (a path, a
// NUL, nothing, the folder itself) is no row; the others come back as their bytes.
TEST_F(RemoteListing, HostileNamesAreNoRowsAndOddOnesKeepTheirBytes) {
    const std::string odd[] = {"back\\slash", "bell\x07", "latin\xe9", "-dash", "sp ace"};
    std::string lines = unixLine('-', "1", "a/b") + unixLine('-', "1", std::string("nul\0x", 5)) +
                        unixLine('-', "1", "") + unixLine('d', "1", ".") + unixLine('d', "1", "../..");
    for (const std::string& name : odd) lines += unixLine('-', "1", name);
    ScriptedFtpServer server(login + listing("/in/", lines) + bye);
    addPlace(server.address());
    std::vector<std::string> names;
    for (const std::string& row : listAll(u"/in/*")) names.push_back(row.substr(0, row.rfind(" 0 1")));
    ASSERT_EQ(names.size(), std::size(odd));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::u16string shown = platform::nameFromHost(names[i]);
        EXPECT_EQ(shown.find(u'\\'), std::u16string::npos) << odd[i];
        EXPECT_EQ(names[i], odd[i]);  // toUtf8 of the row's name: the server's bytes
    }
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

TEST_F(RemoteListing, AFailedListingIsAnErrorAndNeverAShorterFolder) {
    const std::string entries = unixLine('-', "1", "one") + unixLine('-', "1", "two");
    const std::string path320 = "/" + std::string(318, 'p') + "/";
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
         toUtf16(path320) + u"*",
         {},
         "(KVT-FFF-1) The folder path is too long: 320 bytes, at most 319.\n"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ScriptedFtpServer server(login + test.script + bye);
        addPlace(server.address());
        writeFile(cacheFile(remote::listingFileName), "kept");  // as a listing that is open would
        platform::FindData data;
        EXPECT_EQ(remote::remoteFindFirst(test.pattern, data), platform::invalidFindHandle);
        EXPECT_NE(platform::lastError(), platform::errorNoMoreFiles);
        EXPECT_NE(platform::lastError(), platform::errorFileNotFound);
        EXPECT_EQ(placeError(0), test.error);
        if (test.script.size() <= 2) {
            EXPECT_EQ(readFile(cacheFile(remote::listingFileName)), "kept");
        }
        remote::shutdownRemote();
        EXPECT_EQ(server.finish(), "");
    }
}

// A walk lists a sub-folder before it has read its own folder to the end: the folder's
// rest waits aside and is read after the sub-folder's listing closes.
TEST_F(RemoteListing, AListingOpenedInsideAnotherLeavesItWhole) {
    ScriptedFtpServer server(
        login + listing("/a/", unixLine('d', "0", "sub") + unixLine('-', "1", "x") + unixLine('-', "2", "y")) + probe +
        listing("/a/sub/", unixLine('-', "3", "z")) + probe + listing("/a/sub/", unixLine('-', "3", "z")) + bye);
    addPlace(server.address());
    // The cache folders of a Farlink that was killed go; those of a running one stay.
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    waitpid(ended, nullptr, 0);
    const std::string abandoned = cacheHome.path() + "/farlink/0123456789abcdef-" + std::to_string(ended) + "-aBcDeF";
    const std::string running = cacheHome.path() + "/farlink/0123456789abcdef-" + std::to_string(getpid()) + "-aBcDeF";
    for (const std::string& folder : {cacheHome.path() + "/farlink", abandoned, running}) mkdir(folder.c_str(), 0700);
    test_support::writeFile(abandoned + "/tmp.dir", "left behind");
    platform::FindData data;
    const platform::FindHandle outer = remote::remoteFindFirst(u"/a/*", data);
    EXPECT_NE(access(abandoned.c_str(), F_OK), 0);
    EXPECT_EQ(access(running.c_str(), F_OK), 0);
    ASSERT_NE(outer, platform::invalidFindHandle) << placeError(0);
    EXPECT_EQ(describe(data), "sub 20000010 0");
    struct stat status {};
    ASSERT_EQ(stat(remote::listingCacheFolder().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(stat(cacheFile(remote::listingFileName).c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(remote::listingCacheFolder().rfind(cacheHome.path() + "/farlink/", 0), 0u);

    EXPECT_EQ(listAll(u"/a/sub/*"), std::vector<std::string>{"z 0 3"});
    EXPECT_EQ(remote::remoteFindNext(outer, data), 1);
    EXPECT_EQ(describe(data), "x 0 1");
    EXPECT_EQ(remote::remoteFindNext(outer, data), 1);
    EXPECT_EQ(describe(data), "y 0 2");
    EXPECT_EQ(remote::remoteFindNext(outer, data), 0);
    EXPECT_EQ(platform::lastError(), platform::errorNoMoreFiles);
    EXPECT_EQ(remote::remoteFindClose(outer), 1);

    // A folder removed behind the program's back is made anew.
    std::string folder = remote::listingCacheFolder();
    rmdir(folder.c_str());
    EXPECT_EQ(listAll(u"/a/sub/*"), std::vector<std::string>{"z 0 3"});
    folder = remote::listingCacheFolder();
    remote::removeListingCache();
    EXPECT_NE(access(folder.c_str(), F_OK), 0);
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
}

// Without the cache's lock the second thread would list into the first one's files.
TEST_F(RemoteListing, AnotherThreadsListingWaitsForTheOpenOneToClose) {
    ScriptedFtpServer server(login + listing("/one/", unixLine('-', "1", "a") + unixLine('-', "1", "b")) + probe +
                             listing("/two/", unixLine('-', "1", "c")) + bye);
    addPlace(server.address());
    platform::FindData data;
    const platform::FindHandle first = remote::remoteFindFirst(u"/one/*", data);
    ASSERT_NE(first, platform::invalidFindHandle) << placeError(0);
    std::atomic<bool> closed{false};
    std::vector<std::string> other;
    bool waited = false;
    std::thread second([&] {
        other = listAll(u"/two/*");
        waited = closed.load();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(remote::remoteFindNext(first, data), 1);
    EXPECT_EQ(describe(data), "b 0 1");
    closed = true;
    EXPECT_EQ(remote::remoteFindClose(first), 1);
    second.join();
    EXPECT_TRUE(waited);
    EXPECT_EQ(other, std::vector<std::string>{"c 0 1"});
    remote::shutdownRemote();
    EXPECT_EQ(server.finish(), "");
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
        {u"/.profile", 0, platform::IconId::file, u".profile"},
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
    EXPECT_EQ(remote::remoteCurrentFolder(), u"\\");  // no place yet
    EXPECT_EQ(remote::setRemoteCurrentFolder(u"\\pub"), 1);
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/");

    addPlace("127.0.0.1:21");
    EXPECT_EQ(remote::setRemoteCurrentFolder(u"\\pub\\incoming\\"), 1);
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/incoming/");
    const StoredValue stored = storedValue(remote::placesKeyPath, u"0");
    ASSERT_TRUE(stored.exists);  // new places remember their folder
    remote::FtpPlace saved;
    remote::PlaceBytes bytes{};
    std::copy(stored.data.begin(), stored.data.end(), bytes.begin());
    remote::decodePlace(bytes, saved);
    EXPECT_EQ(platform::boundedView(saved.currentFolder, platform::maxPath), u"/pub/incoming/");

    EXPECT_EQ(remote::setRemoteCurrentFolder(u"/" + std::u16string(258, u'd')), 0);  // with its '/', 260
    EXPECT_EQ(platform::lastError(), platform::errorFilenameTooLong);
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/incoming/");

    explorer::remoteProvider.filterIndex = 5;  // past the last place: back to the first
    EXPECT_EQ(remote::remoteCurrentFolder(), u"/pub/incoming/");
    EXPECT_EQ(explorer::remoteProvider.filterIndex, 0u);
    EXPECT_EQ(remote::placePattern(0), u"*");
    EXPECT_EQ(remote::placeName(0), u"My ftp.example.com Connection");
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
    const explorer::ListingResult result = explorer::listFolder(explorer::remoteProvider,
                                                                toUtf16(server.remotePath("names/")) + u"*", u"/names/",
                                                                [&](const explorer::FolderEntry& entry) {
                                                                    listed.push_back(toUtf8(entry.name));
                                                                    return true;
                                                                });
    ASSERT_EQ(result.end, explorer::ListingEnd::complete) << placeError(0);
    EXPECT_EQ(result.leftOut, 0);
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(listed, expected);

    remote::PlaceUse use = remote::usePlace(0);
    for (const std::string& name : listed) {
        ASSERT_EQ(ftp::download(*use.place->session, local / "copy", server.remotePath("names/" + name), 'I', 0), 1)
            << name << ": " << ftp::lastReply(*use.place->session);
        EXPECT_EQ(readFile(local / "copy"), "content of " + name);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerListing,
                         ::testing::Values(RealSetup{"Pyftpdlib", FtpServerKind::Pyftpdlib, 1, false},
                                           RealSetup{"Vsftpd", FtpServerKind::Vsftpd, 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
