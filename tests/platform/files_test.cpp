#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <vector>

#include "platform/errors.h"
#include "platform/folder_handles.h"
#include "platform/text.h"
#include "tests/platform/helpers.h"

namespace {

using namespace platform;
using test_support::readFile;
using test_support::writeFile;

template <typename Record>
std::uint64_t sizeOf(const Record& record) {
    return (std::uint64_t(record.sizeHigh) << 32) | record.sizeLow;
}

class Files : public platform_test::ScratchRoot {
protected:
    // The names that a search for `pattern` returns, sorted.
    std::vector<std::string> find(std::u16string_view pattern) {
        std::vector<std::string> names;
        FindData data;
        const FindHandle handle = findFirstFile(pattern, data);
        if (handle == invalidFindHandle) return names;
        do {
            names.push_back(toUtf8(boundedView(data.name, maxPath)));
        } while (findNextFile(handle, data));
        EXPECT_EQ(lastError(), errorNoMoreFiles);
        EXPECT_TRUE(findClose(handle));
        std::sort(names.begin(), names.end());
        return names;
    }

    FindData findOne(std::u16string_view pattern) {
        FindData data;
        const FindHandle handle = findFirstFile(pattern, data);
        EXPECT_NE(handle, invalidFindHandle) << toUtf8(pattern);
        if (handle != invalidFindHandle) findClose(handle);
        return data;
    }

    // The temporary files of copies that were left behind.
    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
            if (entry.path().filename().string().starts_with(".farlink-copy-")) names.push_back(entry.path());
        }
        return names;
    }
};

TEST(DevicePaths, MapToHostPathsThatNeverLeaveTheRoot) {
    setDeviceRoot("/srv/device/");
    struct Case {
        std::u16string device;
        std::string host;
    };
    const Case cases[] = {
        {u"\\", "/srv/device"},
        {u"a/b\\c", "/srv/device/a/b/c"},
        {u"\\\\a\\\\\\b\\", "/srv/device/a/b"},
        {u"\\a\\.\\b\\..\\c", "/srv/device/a/c"},
        {u"\\a\\..\\..\\..\\etc\\passwd", "/srv/device/etc/passwd"},
        {u"\\a\\...\\b", "/srv/device/a/.../b"},
        {std::u16string(u"\\a\0\\b", 5), "/srv/device/a"},
        {u"\\Gr\u00fc\u00dfe\\\U0001F600",
         "/srv/device/Gr\xC3\xBC\xC3\x9F"
         "e/\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(toHostPath(c.device), c.host) << "device path " << toUtf8(c.device);
    // The way back: only host paths inside the root have a device path.
    const std::pair<std::string, std::u16string> hostCases[] = {
        {"/srv/device/a/b", u"\\a\\b"}, {"/srv/device/", u"\\"}, {"/srv/devices/a", u""}, {"/srv/device/../x", u""}};
    for (const auto& [host, device] : hostCases) EXPECT_EQ(toDevicePath(host), device) << "host path " << host;
    setDeviceRoot("/");
    EXPECT_EQ(toHostPath(u"\\..\\etc\\hosts"), "/etc/hosts");
}

TEST_F(Files, WildcardsSelectNamesAndSkipDotEntries) {
    for (const char* name : {"a.txt", "b.TXT", "noext", "x.tar.gz", "ab", ".hidden", "smile_\xF0\x9F\x98\x80.txt"}) {
        writeFile(scratch / name, "");
    }
    mkdir((scratch / "folder").c_str(), 0755);
    using Names = std::vector<std::string>;
    const Names everything{".hidden", "a.txt", "ab", "b.TXT", "folder", "noext", "smile_\xF0\x9F\x98\x80.txt",
                           "x.tar.gz"};
    struct Case {
        std::u16string pattern;
        Names names;
    };
    const Case cases[] = {
        {u"\\*", everything},
        {u"\\*.*", everything},
        {u"/folder\\..\\*", everything},
        {u"\\smile_?.txt", {"smile_\xF0\x9F\x98\x80.txt"}},
        {u"\\*.*.*", {"x.tar.gz"}},
        {u"\\noext", {"noext"}},
    };
    for (const auto& c : cases) EXPECT_EQ(find(c.pattern), c.names) << "pattern " << toUtf8(c.pattern);
}

TEST_F(Files, RecordsCarryAttributesSizesAndTimes) {
    writeFile(scratch / "plain.txt", "12345");
    writeFile(scratch / ".dotfile", "");
    mkdir((scratch / "folder").c_str(), 0755);
    mkfifo((scratch / "pipe").c_str(), 0600);
    symlink("folder", (scratch / "link-to-folder").c_str());
    symlink("gone", (scratch / "dangling").c_str());
    // 5 GiB and 3 bytes, sparse: the high word of the size matters.
    const int big = open((scratch / "big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(ftruncate(big, (5LL << 30) + 3), 0);
    close(big);

    struct Case {
        std::u16string name;
        std::uint32_t attributes;
        std::uint64_t size;
    };
    const Case cases[] = {
        {u"plain.txt", attributeArchive, 5},
        {u".dotfile", attributeArchive | attributeHidden, 0},
        {u"folder", attributeFolder, 0},
        {u"pipe", attributeSystem, 0},
        {u"link-to-folder", attributeFolder | attributeLink, 0},
        {u"dangling", attributeArchive | attributeLink, 0},
        {u"big.bin", attributeArchive, (5ULL << 30) + 3},
    };
    for (const auto& c : cases) {
        const FindData found = findOne(u"\\" + c.name);
        EXPECT_EQ(found.attributes, c.attributes) << toUtf8(c.name);
        EXPECT_EQ(sizeOf(found), c.size) << toUtf8(c.name);
        FileAttributeData data;
        ASSERT_TRUE(getFileAttributes(u"\\" + c.name, data)) << toUtf8(c.name);
        EXPECT_EQ(data.attributes, c.attributes) << toUtf8(c.name);
        EXPECT_EQ(sizeOf(data), c.size) << toUtf8(c.name);
    }

    // 2001-02-03 04:05:06.7 UTC and one second before 1970.
    struct Stamp {
        std::int64_t seconds;
        long nanoseconds;
        std::uint64_t fileTime;
    };
    const Stamp stamps[] = {{981173106, 700000000, 126256467067000000ULL}, {-1, 0, 116444735990000000ULL}};
    for (const auto& stamp : stamps) {
        const timespec times[2] = {{stamp.seconds, stamp.nanoseconds}, {stamp.seconds, stamp.nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, (scratch / "plain.txt").c_str(), times, 0), 0);
        const FindData found = findOne(u"\\plain.txt");
        EXPECT_EQ(toUint64(found.lastWriteTime), stamp.fileTime) << stamp.seconds;
        EXPECT_EQ(toUint64(found.lastAccessTime), stamp.fileTime) << stamp.seconds;
    }
}

// Names are legal on the host that the device path syntax would read as paths, or that
// have no UTF-16 form: each listed name must act on its own entry and nothing else.
TEST_F(Files, EveryListedNameActsOnItsOwnEntryOnly) {
    mkdir((scratch / "elsewhere").c_str(), 0755);
    mkdir((scratch / "Projects").c_str(), 0755);
    const std::string keep[] = {"victim.txt", "elsewhere/keep.txt", "Projects/a\xEF\xBF\xBD", "Projects/b"};
    for (const auto& name : keep) writeFile(scratch / name, "keep");
    const std::string doomed[] = {"..\\victim.txt", "..\\..\\..\\elsewhere\\keep.txt", "a\xFF", "\x1B[2Jb", "b\\"};
    for (const auto& name : doomed) writeFile(scratch / ("Projects/" + name), "doomed");

    // Delete every listed entry but the real ones, by the name the listing gave.
    std::vector<std::u16string> listed;
    FindData data;
    const FindHandle handle = findFirstFile(u"\\Projects\\*", data);
    ASSERT_NE(handle, invalidFindHandle);
    do {
        listed.emplace_back(boundedView(data.name, maxPath));
    } while (findNextFile(handle, data));
    findClose(handle);
    ASSERT_EQ(listed.size(), 7u);
    for (const auto& name : listed) {
        if (name == u"a\uFFFD" || name == u"b") continue;
        EXPECT_EQ(name.find(u'\\'), std::u16string::npos) << toUtf8(name);
        EXPECT_TRUE(deleteFile(u"\\Projects\\" + name)) << toUtf8(name);
    }
    for (const auto& name : keep) EXPECT_EQ(readFile(scratch / name), "keep") << name;
    for (const auto& name : doomed) EXPECT_FALSE(std::filesystem::exists(scratch / ("Projects/" + name))) << name;

    // Device text without a byte form is refused, never read as a real U+FFFD name.
    EXPECT_FALSE(deleteFile(u"\\Projects\\a" + std::u16string(1, char16_t(0xD800))));
    EXPECT_EQ(lastError(), errorInvalidName);
    EXPECT_EQ(readFile(scratch / "Projects/a\xEF\xBF\xBD"), "keep");
    // The way back from a host path gives the same escaped names.
    EXPECT_EQ(toDevicePath(scratch / "Projects/a\xFF"), u"\\Projects\\a" + std::u16string(1, char16_t(0xDCFF)));
}

TEST(FileAttributes, DevicesAndMountPointsUnderTheRoot) {
    setDeviceRoot("/");
    FileAttributeData data;
    ASSERT_TRUE(getFileAttributes(u"\\dev\\null", data));
    EXPECT_EQ(data.attributes & (attributeSystem | attributeArchive | attributeFolder), attributeSystem);
    ASSERT_TRUE(getFileAttributes(u"\\proc", data));  // always a file system of its own
    EXPECT_EQ(data.attributes & (attributeFolder | attributeTemporary), attributeFolder | attributeTemporary);
    ASSERT_TRUE(getFileAttributes(u"\\proc\\self", data));
    EXPECT_EQ(data.attributes & attributeTemporary, 0u) << "only folders directly under the root";
}

TEST_F(Files, FailuresGiveThePlatformCodeAndChangeNothing) {
    writeFile(scratch / "target.txt", "precious");
    writeFile(scratch / "source.txt", "data");
    mkfifo((scratch / "pipe").c_str(), 0600);
    ASSERT_TRUE(createFolder(u"\\folder"));
    writeFile(scratch / "folder/inside", "x");
    ASSERT_TRUE(createFolder(u"\\empty"));
    // The process's own memory file opens but fails to read at offset 0, even for root.
    symlink("/proc/self/mem", (scratch / "memory").c_str());
    // A search that finds nothing says whether the folder was there.
    const auto search = [](std::u16string_view pattern) {
        FindData data;
        return findFirstFile(pattern, data) != invalidFindHandle;
    };
    struct Case {
        const char* what;
        std::function<bool()> operation;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"search for nothing", [&] { return search(u"\\nothing*"); }, errorFileNotFound},
        {"search an empty folder", [&] { return search(u"\\empty\\*"); }, errorFileNotFound},
        {"search in nowhere", [&] { return search(u"\\missing\\*"); }, errorPathNotFound},
        {"search in a file", [&] { return search(u"\\target.txt\\*"); }, errorPathNotFound},
        {"search on after closing",
         [] {
             FindData data;
             const FindHandle handle = findFirstFile(u"\\target.txt", data);
             return findClose(handle) && findNextFile(handle, data);
         },
         errorInvalidHandle},
        {"copy from nothing", [] { return copyFile(u"\\missing.txt", u"\\target.txt", false); }, errorFileNotFound},
        {"copy from nowhere", [] { return copyFile(u"\\no\\missing.txt", u"\\target.txt", false); }, errorPathNotFound},
        {"copy a folder", [] { return copyFile(u"\\folder", u"\\target.txt", false); }, errorAccessDenied},
        // A pipe would wait for a writer.
        {"copy a pipe", [] { return copyFile(u"\\pipe", u"\\target.txt", false); }, errorAccessDenied},
        {"copy onto a folder", [] { return copyFile(u"\\source.txt", u"\\folder", false); }, errorAccessDenied},
        {"copy to nowhere", [] { return copyFile(u"\\source.txt", u"\\no\\target.txt", false); }, errorPathNotFound},
        {"copy onto a file", [] { return copyFile(u"\\source.txt", u"\\target.txt", true); }, errorFileExists},
        {"copy what fails to read", [] { return copyFile(u"\\memory", u"\\target.txt", false); }, errorGeneric},
        {"move onto a file", [] { return moveFile(u"\\source.txt", u"\\target.txt"); }, errorAlreadyExists},
        {"move onto a folder", [] { return moveFile(u"\\source.txt", u"\\folder"); }, errorAlreadyExists},
        {"move nothing", [] { return moveFile(u"\\missing", u"\\x"); }, errorFileNotFound},
        {"move from nowhere", [] { return moveFile(u"\\no\\missing", u"\\x"); }, errorPathNotFound},
        {"move to nowhere", [] { return moveFile(u"\\source.txt", u"\\no\\a.txt"); }, errorPathNotFound},
        {"move the root", [] { return moveFile(u"\\", u"\\elsewhere"); }, errorAccessDenied},
        {"create a folder twice", [] { return createFolder(u"\\folder"); }, errorAlreadyExists},
        {"create a file's folder", [] { return createFolder(u"\\target.txt"); }, errorAlreadyExists},
        {"create in nowhere", [] { return createFolder(u"\\no\\new"); }, errorPathNotFound},
        {"create a long name", [] { return createFolder(u"\\" + std::u16string(300, u'x')); }, errorFilenameTooLong},
        {"remove a full folder", [] { return removeFolder(u"\\folder"); }, errorDirectoryNotEmpty},
        {"remove nothing", [] { return removeFolder(u"\\gone"); }, errorFileNotFound},
        {"remove the root", [] { return removeFolder(u"\\"); }, errorAccessDenied},
        {"delete nothing", [] { return deleteFile(u"\\gone"); }, errorFileNotFound},
        {"delete in nowhere", [] { return deleteFile(u"\\no\\gone"); }, errorPathNotFound},
        {"delete a folder", [] { return deleteFile(u"\\folder"); }, errorAccessDenied},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.operation()) << c.what;
        EXPECT_EQ(lastError(), c.error) << c.what;
    }
    EXPECT_EQ(readFile(scratch / "target.txt"), "precious");
    EXPECT_EQ(readFile(scratch / "source.txt"), "data");
    EXPECT_EQ(readFile(scratch / "folder/inside"), "x");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(Files, CopyWritesThroughALinkWhichARemovalThroughFolderHandlesLeaves) {
    writeFile(scratch / "source.txt", "fresh content");
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, (scratch / "source.txt").c_str(), old, 0);
    writeFile(scratch / "existing.txt", "keep me");
    symlink("existing.txt", (scratch / "alias").c_str());

    ASSERT_TRUE(copyFile(u"\\source.txt", u"\\copy.txt", true));
    EXPECT_EQ(readFile(scratch / "copy.txt"), "fresh content");
    FileAttributeData data;
    ASSERT_TRUE(getFileAttributes(u"\\copy.txt", data));
    EXPECT_EQ(toUint64(data.lastWriteTime), unixEpochAsFileTime + 1000000000ULL * 10000000ULL);

    ASSERT_TRUE(copyFile(u"\\source.txt", u"\\alias", false));
    EXPECT_EQ(readFile(scratch / "existing.txt"), "fresh content");
    EXPECT_TRUE(std::filesystem::is_symlink(scratch / "alias")) << "the link stays a link";
    EXPECT_TRUE(leftovers().empty());
    std::string reason;
    EXPECT_FALSE(removeAt({scratch.path(), "alias"}, false, reason)) << "a link put in place is left";
}

TEST_F(Files, MovesRenameAndCrossFileSystems) {
    writeFile(scratch / "a.txt", "a");
    ASSERT_TRUE(createFolder(u"\\folder"));
    ASSERT_TRUE(moveFile(u"\\a.txt", u"\\folder\\renamed.txt"));
    ASSERT_TRUE(moveFile(u"\\folder", u"\\moved"));
    EXPECT_EQ(readFile(scratch / "moved/renamed.txt"), "a");

    // A file moved to another file system (the tmpfs at /dev/shm) is copied, then removed.
    struct stat here;
    struct stat shared;
    ASSERT_TRUE(stat(scratch.path().c_str(), &here) == 0 && stat("/dev/shm", &shared) == 0);
    ASSERT_NE(here.st_dev, shared.st_dev) << "the scratch folder must not be on /dev/shm";
    setDeviceRoot("/");
    const std::u16string away = toUtf16("/dev/shm/farlink-move-" + std::to_string(getpid()));
    ASSERT_TRUE(moveFile(toDevicePath(scratch / "moved/renamed.txt"), away));
    EXPECT_EQ(readFile(toHostPath(away)), "a");
    EXPECT_TRUE(deleteFile(away));
    EXPECT_TRUE(removeFolder(toDevicePath(scratch / "moved")));
    EXPECT_FALSE(std::filesystem::exists(scratch / "moved"));
}

}  // namespace
