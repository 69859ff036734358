// Folder walks over real folders, through a view that fails chosen operations as a
// read-only folder or a dropped connection does.
#include "explorer/folder_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "local/device.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "tests/support/view_fixtures.h"

namespace {

using namespace explorer;
using platform::toUtf8;

struct Faults {
    bool linksResistDelete = false;  // as in a read-only folder, for a user who is not root
    int failListingAfter = -1;       // FindNext fails (error 5) once this many entries came
    int entries = 0;
    int opened = 0;
    int closed = 0;
};
Faults faults;
ViewProvider device;  // the Device view as bound

ViewProvider faultyView() {
    ViewProvider view = device;
    view.DeleteFile = [](std::u16string_view path) -> int {
        if (faults.linksResistDelete && std::filesystem::is_symlink(platform::toHostPath(path))) {
            platform::setLastError(platform::errorAccessDenied);
            return 0;
        }
        return device.DeleteFile(path);
    };
    view.FindFirst = [](std::u16string_view pattern, platform::FindData& data) {
        const platform::FindHandle search = device.FindFirst(pattern, data);
        if (search != platform::invalidFindHandle) ++faults.opened;
        faults.entries = 1;
        return search;
    };
    view.FindNext = [](platform::FindHandle search, platform::FindData& data) -> int {
        if (faults.entries == faults.failListingAfter) {
            platform::setLastError(platform::errorAccessDenied);
            return 0;
        }
        if (!device.FindNext(search, data)) return 0;
        ++faults.entries;
        return 1;
    };
    view.FindClose = [](platform::FindHandle search) {
        ++faults.closed;
        return device.FindClose(search);
    };
    return view;
}

class FolderWalk : public ::testing::Test {
protected:
    void SetUp() override {
        local::setUpDeviceView();
        device = deviceProvider;
        faults = {};
    }
    void link(const std::string& target, const std::string& at) {
        std::filesystem::create_symlink(target, root.at(at));
    }

    test_support::TemporaryRegistry registry;
    test_support::DeviceRoot root;
};

TEST_F(FolderWalk, AListingEndsCompleteStoppedOrFailedAndIsAlwaysClosed) {
    for (const char* name : {"a", "b", "c"}) root.file(std::string("list/") + name);
    root.folder("empty");
    struct Case {
        std::u16string folder;
        int failAfter, stopAfter;
        ListingEnd end;
        int visited;
        std::uint32_t error;
    };
    const Case cases[] = {
        {u"\\list\\", -1, -1, ListingEnd::complete, 3, platform::errorNoMoreFiles},
        {u"\\list\\", 2, -1, ListingEnd::failed, 2, platform::errorAccessDenied},
        {u"\\list\\", -1, 1, ListingEnd::stopped, 1, platform::errorSuccess},
        {u"\\empty\\", -1, -1, ListingEnd::complete, 0, platform::errorFileNotFound},
        {u"\\gone\\", -1, -1, ListingEnd::failed, 0, platform::errorPathNotFound},
    };
    for (const Case& c : cases) {
        faults = {.failListingAfter = c.failAfter};
        int visited = 0;
        platform::setLastError(platform::errorSuccess);
        const ListingResult result = listFolder(faultyView(), c.folder + u"*", c.folder, [&](const FolderEntry& entry) {
            EXPECT_EQ(entry.path, c.folder + std::u16string(entry.name));
            if (++visited == c.stopAfter) platform::setLastError(platform::errorSuccess);
            return visited != c.stopAfter;
        });
        const std::string row = toUtf8(c.folder) + " fail " + std::to_string(c.failAfter);
        EXPECT_EQ(result.end, c.end) << row;
        EXPECT_EQ(visited, c.visited) << row;
        EXPECT_EQ(platform::lastError(), c.error) << row;
        EXPECT_EQ(faults.closed, faults.opened) << row;
    }
}

TEST_F(FolderWalk, ATreeDeleteNeverGoesIntoALinkAndFailsWhenItsListingIsCutOff) {
    struct Case {
        Faults faults;
        std::uint32_t error;
    };
    const Case cases[] = {
        {{.linksResistDelete = true}, platform::errorAccessDenied},
        {{.failListingAfter = 2}, platform::errorAccessDenied},
    };
    for (const Case& c : cases) {
        root.file("elsewhere/keep.txt", "mine");
        root.file("Projects/a.txt");
        root.file("Projects/ro/b.txt");
        root.file("Projects/ro/c.txt");
        link(root.at("elsewhere"), "Projects/ro/link");
        faults = c.faults;
        EXPECT_FALSE(deleteTree(faultyView(), u"\\Projects", platform::attributeFolder));
        EXPECT_EQ(platform::lastError(), c.error);
        EXPECT_EQ(root.read("elsewhere/keep.txt"), "mine");
        EXPECT_TRUE(std::filesystem::exists(root.at("Projects")));
        EXPECT_EQ(faults.closed, faults.opened);
        std::filesystem::remove_all(root.at("Projects"));
    }
}

// Two links to folders above and a bind mount of the folder inside itself: each link
// counts as a file, and the mounted folder is gone into once.
TEST_F(FolderWalk, TheCountNeverGoesIntoALinkAndIntoARepeatedFolderOnce) {
    root.file("loop/a.txt", "aaa");
    root.file("loop/sub/x", "xx");
    link(".", "loop/self");
    link("..", "loop/sub/back");
    const std::atomic<bool> stop{false};
    FolderCounters counters{u"\\loop"};
    EXPECT_TRUE(walkFolder(deviceProvider, counters, stop));
    EXPECT_EQ(std::vector<std::uint32_t>({counters.folders, counters.files, counters.size, counters.allFolders,
                                          counters.allFiles, counters.allSize}),
              std::vector<std::uint32_t>({1, 2, 3, 1, 4, 5}));

    // The bind mount is made in a child of its own user and mount namespaces, so that the
    // case runs without root: "K" when namespaces are not allowed here.
    root.folder("loop/sub/bound");
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string result = "K";
        const auto write = [](const char* file, const std::string& text) {
            const int fd = ::open(file, O_WRONLY);
            const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
            if (fd >= 0) ::close(fd);
            return written;
        };
        const std::string uid = std::to_string(getuid());
        const std::string gid = std::to_string(getgid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && write("/proc/self/setgroups", "deny") &&
            write("/proc/self/uid_map", uid + " " + uid + " 1") &&
            write("/proc/self/gid_map", gid + " " + gid + " 1") &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount(root.at("loop").c_str(), root.at("loop/sub/bound").c_str(), nullptr, MS_BIND, nullptr) == 0) {
            counters = {u"\\loop"};
            const bool complete = walkFolder(deviceProvider, counters, stop);
            result = std::to_string(complete) + " " + std::to_string(counters.allFolders) + " " +
                     std::to_string(counters.allFiles);
        }
        (void)!::write(pipeEnds[1], result.data(), result.size());
        _exit(0);
    }
    ::close(pipeEnds[1]);
    std::string result;
    char buffer[64];
    for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) result.append(buffer, std::size_t(n));
    ::close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    if (result == "K") GTEST_SKIP() << "no user and mount namespaces here";
    // \loop\sub\bound is \loop once more: its "sub" is counted there but not entered.
    EXPECT_EQ(result, "1 3 6") << "complete, folders, files";
}

// A server's listing is data: a name that is not one name of the folder never becomes a
// path, for any walk.
std::vector<std::u16string> listedNames;
std::size_t nextName = 0;
std::vector<std::u16string> deletedPaths;

int nextListed(platform::FindData& data) {
    if (nextName >= listedNames.size()) {
        platform::setLastError(platform::errorNoMoreFiles);
        return 0;
    }
    data = {};
    data.attributes = platform::attributeArchive;
    platform::copyBounded(data.name, platform::maxPath, listedNames[nextName++]);
    return 1;
}

TEST_F(FolderWalk, NamesThatAreNotOneNameOfTheFolderAreLeftOutAndALinkRowIsNotEntered) {
    listedNames = {u".", u"..", u"..\\..\\etc", u"a/b", u"", u"ok", std::u16string(300, u'n')};
    ViewProvider server = deviceProvider;
    server.FindFirst = [](std::u16string_view, platform::FindData& data) {
        nextName = 0;
        return nextListed(data) ? platform::FindHandle(1) : platform::invalidFindHandle;
    };
    server.FindNext = [](platform::FindHandle, platform::FindData& data) { return nextListed(data); };
    server.FindClose = [](platform::FindHandle) { return 1; };
    server.GetAttributes = [](std::u16string_view, int, platform::FileAttributeData&) { return 0; };
    server.DeleteFile = [](std::u16string_view path) {
        deletedPaths.emplace_back(path);
        return 1;
    };
    EXPECT_FALSE(deleteTree(server, u"/f", platform::attributeFolder));
    EXPECT_EQ(deletedPaths, std::vector<std::u16string>{u"/f\\ok"});
    EXPECT_EQ(platform::lastError(), platform::errorFilenameTooLong);

    // A row its listing marked as a link goes as a link: what the view lists under its
    // path is the target's.
    deletedPaths.clear();
    EXPECT_TRUE(deleteTree(server, u"/ln", platform::attributeFolder | platform::attributeLink));
    EXPECT_EQ(deletedPaths, std::vector<std::u16string>{u"/ln"});
}

}  // namespace
