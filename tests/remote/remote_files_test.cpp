// The Remote view's file operations: edge cases' exact conversations with a scripted
// server (whole copies against real servers: tests/journeys).
#include "remote/remote_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "explorer/folder_walk.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_listing.h"
#include "session/server_session.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

using platform::toUtf16;
using platform::toUtf8;
using namespace test_support;
using namespace test_support::conversation;

// A download (its probe of the place aside) on connection number `earlier` + 1 of its own, then back to the place's.
Script download(const std::string& path, const std::string& bytes, int earlier,
                const std::string& finalReply = "226 done\r\n") {
    const bool fails = finalReply[0] != '2';
    const Script start = Script{acceptControl()} + login() + probe() + ask("TYPE I", "200 ok") + expect("PASV") +
                         replyPassive() + acceptData() + expect("RETR " + path);
    if (fails) return start + send(finalReply) + closeData() + expect("QUIT") + useControl(earlier);
    return start + send("150 here\r\n") + sendData(bytes) + closeData() + send(finalReply) + ask("QUIT", "221 bye") +
           useControl(earlier);
}

std::vector<std::string> copyLog;
void recordCopy(int kind, std::u16string_view source, std::u16string_view destination, remote::CopyLogList list,
                explorer::EntryStamp) {
    copyLog.push_back(std::to_string(kind) + (list == remote::CopyLogList::successful ? " ok " : " failed ") +
                      toUtf8(source) + " -> " + toUtf8(destination));
}

class RemoteFiles : public ::testing::Test {
protected:
    RemoteFiles() {
        copyLog.clear();
        remote::setCopyLogHook(recordCopy);
    }
    ~RemoteFiles() override { remote::setCopyLogHook(nullptr); }

    static std::string lastError() { return toUtf8(remote::remoteLastErrorText()); }

    RemoteViewScope scope;
    DeviceRoot device;
};

// Operations on one path or two: each case's whole conversation, result and error.
TEST_F(RemoteFiles, EachOperationSaysExactlyWhatItShould) {
    struct Case {
        const char* what;
        Script script;
        std::function<int()> run;
        int result;
        std::string error;
    };
    const Case cases[] = {
        {"a rename is RNFR and RNTO only", login() + ask("RNFR /a", "350 go on") + ask("RNTO /b", "250 done") + bye(),
         [] { return remote::remoteMove(u"/a", u"\\b"); }, 1, ""},
        {"a refused rename sends no RNTO", login() + ask("RNFR /a", "550 no such") + bye(),
         [] { return remote::remoteMove(u"/a", u"/b"); }, 0, "(KVT-MF-1) 550 no such"},
        {"a refused delete keeps the reply", login() + ask("DELE /x", "550 denied") + bye(),
         [] { return remote::remoteDeleteFile(u"/x"); }, 0, "(KVT-DF-1) 550 denied"},
        {"a path the engine would refuse fails before it is sent", login() + bye(),
         [] { return remote::remoteCreateFolder(u"/" + std::u16string(250, u'd')); }, 0,
         "(KVT-CF-1) The path is too long for the server: 251 bytes, at most 250."},
        {"a download goes over a connection of its own", login() + download("/pub/a.txt", "hello", 0) + bye(),
         [] { return remote::remoteCopyFile(u"/pub/a.txt", u"file://\\a.txt", 0); }, 1, ""},
        {"a failed download leaves the device's file as it was",
         login() + download("/pub/old.txt", "", 0, "550 gone\r\n") + bye(),
         [] { return remote::remoteCopyFile(u"/pub/old.txt", u"file://\\old.txt", 0); }, 0, "(KVT-CF-2) 550 gone"},
        {"a copy within the server runs on two connections of its own, the target's command going first, and "
         "leaves the place's own as it was; its failure is an Fxp Error",
         login() + acceptControl() + login() + acceptControl() + login() + ask("TYPE I", "200 ok") + useControl(1) +
             ask("TYPE I", "200 ok") + ask("PASV", "227 Entering Passive Mode (127,0,0,1,4,1).") + useControl(1) +
             ask("PORT 127,0,0,1,4,1", "200 ok") + ask("STOR /b", "150 waiting") + useControl(1) +
             ask("RETR /a", "550 gone") + ask("PASV", "227 Entering Passive Mode (127,0,0,1,4,2).") + useControl(1) +
             send("426 aborted\r\n") + useControl(1) + expect("QUIT") + useControl(1) + expect("QUIT") + useControl(0) +
             bye(),
         [] { return remote::remoteCopyFile(u"/a", u"/b", 0); }, 0, "(KVT-CF-3) Fxp Error"},
        {"a copy onto itself, however written, sends nothing", login() + bye(),
         [] { return remote::remoteCopyFile(u"/a", u"\\.//a/", 0); }, 0,
         "(KVT-CF-3) '/a' would be copied onto itself, which empties it: paste it into another folder."},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        device.file("old.txt", "kept");
        ScriptedFtpServer server(test.script);
        addPlace(server.address());
        EXPECT_EQ(test.run(), test.result);
        EXPECT_EQ(lastError(), test.error);
        EXPECT_EQ(device.read("old.txt"), "kept");
        remote::removePlace(0);
        EXPECT_EQ(server.finish(), "");
    }
    EXPECT_EQ(device.read("a.txt"), "hello");
    addPlace("127.0.0.1:1");  // nothing listens: a folder copied into itself is refused before it connects
    EXPECT_EQ(remote::remoteCopyFolder(u"/a", u"/b/../a/c", 0), 0);
    EXPECT_EQ(lastError(), "(KVT-CF-3) '/a' would be copied into itself, as '/b/../a/c': that copy would never end.");
}

// A file cannot be listed by itself: its folder's listing describes it, 64-bit size and
// time included, and a folder the same way.
TEST_F(RemoteFiles, AttributesComeFromTheEntryInItsFolder) {
    const std::string lines = "-rw-r--r-- 1 me us 5368709121 Jan  1  2000 a.txt\r\n" + unixLine('d', "sub");
    struct Case {
        std::u16string path;
        Script script;
        std::string described;  // attributes, size, last-write time; or the error
    };
    const Case cases[] = {
        {u"\\pub\\a.txt", listing("/pub/", lines), "0 5368709121 125911584000000000"},
        {u"/pub/sub/", listing("/pub/", lines), "20000010 5 125911584000000000"},
        {u"/pub/gone", listing("/pub/", lines), "(KVT-FAE-1) 'gone' is not listed in its folder."},
        {u"/no/a.txt", ask("CWD /no/", "550 No such folder."), "(KVT-FAE-1) 550 No such folder."},
        {u"/", {}, "10 0 0"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(toUtf8(test.path));
        // The root is answered without a server: nothing listens at port 1.
        std::optional<ScriptedFtpServer> server;
        if (!test.script.empty()) server.emplace(login() + test.script + bye());
        addPlace(server ? server->address() : "127.0.0.1:1");
        platform::FileAttributeData data{};
        if (remote::remoteGetAttributes(test.path, 0, data)) {
            char described[64];
            std::snprintf(described, sizeof described, "%x %llu %llu", data.attributes,
                          (static_cast<unsigned long long>(data.sizeHigh) << 32) | data.sizeLow,
                          (static_cast<unsigned long long>(data.lastWriteTime.high) << 32) | data.lastWriteTime.low);
            EXPECT_EQ(described, test.described);
        } else {
            EXPECT_EQ(lastError(), test.described);
        }
        remote::removePlace(0);
        if (server) {
            EXPECT_EQ(server->finish(), "");
        }
    }
}

// A server's folder: "." and ".." are no entries, a first sub-folder does not hide the
// later entries, a name holding a line break is never made on the device, and one
// failing file fails the copy while the others arrive; each folder is logged as a folder,
// by what happened to its own entries.
TEST_F(RemoteFiles, AFolderFromTheServerCopiesEveryNameableEntry) {
    const std::string top = unixLine('d', ".") + unixLine('d', "..") + unixLine('d', "sub") + unixLine('-', "a") +
                            unixLine('-', "bad\x01name") + unixLine('-', "b") + unixLine('d', "later");
    ScriptedFtpServer server(login() + listing("/src/", top) + probe() + relisting("/src/sub/", unixLine('-', "c")) +
                             probe() + download("/src/sub/c", "ccc", 0) + probe() + download("/src/a", "aaa", 1) +
                             probe() + download("/src/b", "", 2, "550 unreadable\r\n") + probe() +
                             relisting("/src/later/", unixLine('-', "d")) + probe() + download("/src/later/d", "d", 3) +
                             bye());
    addPlace(server.address());
    EXPECT_EQ(remote::remoteCopyFolder(u"/src/", u"file://\\dst", 0), 0);
    EXPECT_EQ(lastError(), "(KVT-CP-4) 550 unreadable");
    remote::removePlace(0);
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(treeText(device.at("dst")), "a aaa\nlater/\nlater/d d\nsub/\nsub/c ccc\n");
    // With the listing's permission bits ("-rw-r-----"; a folder's owner may fill it).
    for (const auto& [path, bits] : {std::pair{"dst/a", 0640u}, {"dst/sub", 0740u}})
        EXPECT_EQ(std::filesystem::status(device.at(path)).permissions(), std::filesystem::perms(bits)) << path;
    EXPECT_EQ(copyLog, (std::vector<std::string>{
                           "1 ok /src/sub/c -> file://\\dst\\sub\\c",
                           "6 ok /src/sub -> file://\\dst\\sub",
                           "1 ok /src/a -> file://\\dst\\a",
                           "1 failed /src/bad\x01name -> file://\\dst\\bad\x01name",
                           "1 failed /src/b -> file://\\dst\\b",
                           "1 ok /src/later/d -> file://\\dst\\later\\d",
                           "6 ok /src/later -> file://\\dst\\later",
                       }));
}

// A folder copy on a connection of the worker's own, as the queue runs it: after the
// listing, a file costs PASV and RETR alone; SIZE is asked only where the listing gives
// no size to trust (a link's is the link's, 0 may be none) or for a retry, and no probe
// is sent between commands moments apart. A folder upload goes into a server folder that
// exists (MKD 550), each file through a temporary name renamed once whole; a Stop (or Exit,
// then Yes) as its first file ends: no further command, though the server answers at once.
std::atomic<bool> stopAsked;
TEST_F(RemoteFiles, AQueuedFolderCopySendsTwoCommandsPerListedFile) {
    const auto retrieve = [](const std::string& path, const std::string& bytes) {
        return Script{expect("PASV"),       replyPassive(),  acceptData(), expect("RETR " + path),
                      send("150 here\r\n"), sendData(bytes), closeData(),  send("226 done\r\n")};
    };
    ScriptedFtpServer server(
        login() +
        listing("/src/", unixLine('-', "a", "3") + unixLine('-', "b", "2") + unixLine('-', "empty", "0") +
                             unixLine('l', "ln -> a", "1")) +
        ask("TYPE I", "200 ok") + retrieve("/src/a", "aaa") + retrieve("/src/b", "bb") +
        ask("SIZE /src/empty", "213 0") + retrieve("/src/empty", "") + ask("SIZE /src/ln", "213 3") +
        retrieve("/src/ln", "aaa") + listing("/src/", unixLine('-', "a", "3")) + ask("TYPE I", "200 ok") +
        ask("SIZE /src/a", "213 3") + retrieve("/src/a", "aaa") + ask("MKD /up", "550 exists") + expect("PASV") +
        replyPassive() + acceptData() + ask("STOR /up/.farlink-*", "150 go") + receiveData() + send("226 done\r\n") +
        ask("RNFR /up/.farlink-*", "350 go on") + ask("RNTO /up/*", "250 renamed") + bye());
    addPlace(server.address());
    session::TransferWatch watch;
    session::setThreadTransferWatch(&watch);
    remote::pinPlaceForThread(remote::placeAt(0), remote::settingsOf(*remote::placeAt(0)).revision);
    EXPECT_EQ(remote::remoteCopyFolder(u"/src", u"file://\\dst", 0), 1) << lastError();
    // A retry asks the size anew: a partial it continues must be of the file as it is now.
    watch.resume.store(true);
    EXPECT_EQ(remote::remoteCopyFolder(u"/src", u"file://\\dst", 0), 1) << lastError();
    platform::setThreadStopFlag(&stopAsked);
    copyLog.clear();
    remote::setCopyLogHook([](int kind, std::u16string_view source, std::u16string_view destination,
                              remote::CopyLogList list, explorer::EntryStamp stamp) {
        recordCopy(kind, source, destination, list, stamp);
        stopAsked = true;
    });
    EXPECT_EQ(remote::remoteCopyFolder(u"file://\\dst", u"/up", 0), 0);
    EXPECT_EQ(copyLog.size(), 1u);  // the later entries not even tried
    platform::setThreadStopFlag(nullptr);
    remote::dropThreadSessions();
    remote::pinPlaceForThread(nullptr, 0);
    session::setThreadTransferWatch(nullptr);
    EXPECT_EQ(server.finish(), "");
    EXPECT_EQ(device.read("dst/b"), "bb");
}

std::int64_t modifiedAt(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? std::int64_t(info.st_mtime) : -1;
}

// A synchronisation's copies take their sources' times to the second, either way (on
// pyftpdlib by MFMT and MDTM); another copy is as new as its arrival.
TEST_F(RemoteFiles, ASynchronisationsCopiesTakeTheirSourcesTimes) {
    TemporaryFolder root;
    RealFtpServer server(FtpServerKind::Pyftpdlib, root.path());
    ASSERT_EQ(server.error(), "");
    addPlace(server.address(), {.user = server.user(), .password = server.password()});
    const std::int64_t old = 1700000000;
    device.file("up.txt", "up");
    const timespec times[2] = {{old, 0}, {old, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, device.at("up.txt").c_str(), times, 0), 0);
    // One copy as a batch of one; the reason of a failure, empty on success.
    const auto copy = [](const std::u16string& source, const std::u16string& destination, bool keepTimes) {
        std::optional<explorer::FileCopyOrder> order = explorer::FileCopyOrder{source, destination, false, keepTimes};
        std::u16string why = u"not copied";
        remote::remoteCopyFiles(
            [&] { return std::exchange(order, std::nullopt); },
            [&](std::size_t, bool copied, const std::u16string& reason) { why = copied ? u"" : reason; });
        return toUtf8(why);
    };
    const std::u16string served = toUtf16(server.remotePath("up.txt"));
    ASSERT_EQ(copy(u"file://\\up.txt", served, true), "");
    EXPECT_EQ(modifiedAt(server.hostPath("up.txt")), old);
    ASSERT_EQ(copy(served, u"file://\\down.txt", true), "");
    EXPECT_EQ(modifiedAt(device.at("down.txt")), old);
    ASSERT_EQ(copy(served, u"file://\\plain.txt", false), "");
    EXPECT_GT(modifiedAt(device.at("plain.txt")), old);
}

TEST_F(RemoteFiles, TheErrorBoxNamesThePlaceTheCaptionAndTheFailure) {
    EXPECT_EQ(remote::showRemoteError(u"Delete Error"), -1);
    EXPECT_EQ(lastError(), "");

    addPlace("127.0.0.1:1");
    remote::setPlaceError(*remote::placeAt(0), u"(KVT-DF-1)", "550 denied\n");  // a reply keeps its line break
    HeadlessScreen screen(60, 14);
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(platform::Key::leftSoft);
    EXPECT_EQ(remote::showRemoteError(u"Delete Error"), int(platform::MessageBoxResult::ok));
    EXPECT_EQ(boxCaption(shown), "Ftp Error");
    EXPECT_NE(boxWords(shown).find("Anerrorocuredwith'Myftp.example.comConnection'."), std::string::npos) << shown;
    EXPECT_NE(boxWords(shown).find("DeleteError(KVT-DF-1)Description:550denied"), std::string::npos) << shown;
    EXPECT_EQ(lastError(), "(KVT-DF-1) 550 denied");
}

}  // namespace
