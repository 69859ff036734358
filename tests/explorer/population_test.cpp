// Populations of real temporary folders through the Device view, and of fake views for
// what the file system cannot produce, drawn on the headless screen.
#include "explorer/population.h"

#include <gtest/gtest.h>

#include <vector>

#include "explorer/provider.h"
#include "local/device.h"
#include "platform/errors.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "tests/explorer/explorer_fixture.h"

namespace {

using namespace explorer;
using explorer_test::DeviceRoot;
using explorer_test::Screen;
using platform::toUtf8;

class Population : public ::testing::Test {
protected:
    void SetUp() override {
        local::setUpDeviceView();
        saved = deviceProvider;
        currentProvider = &deviceProvider;
        setTypeAheadText(u"");
        rememberPath(u"");
    }
    void TearDown() override {
        deviceProvider = saved;
        currentProvider = &deviceProvider;
    }
    void openFolder(std::u16string_view folder) { ASSERT_TRUE(deviceProvider.SetCurrentFolder(folder)); }
    std::vector<std::string> rows() const {
        std::vector<std::string> names;
        for (int i = 0; i < screen.itemCount(); ++i) names.push_back(screen.rowName(i));
        return names;
    }

    ViewProvider saved;
    DeviceRoot root;
    Screen screen;
};

TEST_F(Population, ShowsAtMost48FolderRows) {
    for (int i = 0; i < 60; ++i) root.folder("wide/f" + std::to_string(100 + i));
    openFolder(u"\\wide\\");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(folderRowCount(), maxFolderRows);  // the parent row and 47 sub-folders
    EXPECT_EQ(screen.itemCount(), maxFolderRows);
    EXPECT_EQ(screen.rowName(0), "..");
}

TEST_F(Population, ShowsAtMost1024FilesAndTheTitleCountsThem) {
    for (int i = 0; i < 2000; ++i) root.file("many/n" + std::to_string(i) + ".txt");
    deviceProvider.titleInfo = titleShowsCounts;
    deviceProvider.sortKey = sortName;
    openFolder(u"\\many\\");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(fileRowCount(), maxFileRows);
    EXPECT_EQ(screen.itemCount(), 1 + maxFileRows);
    EXPECT_EQ(screen.title(), "\\many\\ D:0 F:1024 - Farlink");
    for (int i = 2; i < screen.itemCount(); ++i) {
        ASSERT_LT(screen.rowName(i - 1), screen.rowName(i)) << "rows " << i - 1 << " and " << i;
    }
}

TEST_F(Population, TitleCountsFoldersWithoutTheParentRow) {
    root.folder("t/d1");
    root.folder("t/d2");
    for (int i = 0; i < 5; ++i) root.file("t/f" + std::to_string(i));
    deviceProvider.titleInfo = titleShowsFilter | titleShowsCounts;
    openFolder(u"\\t\\");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(screen.title(), "\\t\\* D:2 F:5 - Farlink");
}

TEST_F(Population, TheRememberedPathTakesTheSelectionOnce) {
    for (const char* name : {"c.txt", "a.txt", "b.txt"}) root.file(std::string("r/") + name);
    deviceProvider.sortKey = sortName;
    openFolder(u"\\r\\");
    rememberPath(u"\\r\\b.txt");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(screen.selectedIndex(), 2);
    EXPECT_EQ(screen.terminal.screenText(), " \\r\\ - Farlink\n"
                                            " All Files\n"
                                            " [..] ..\n"
                                            " [T]  a\n"
                                            " [T]  b\n"
                                            " [T]  c\n\n\n\n\n\n");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(screen.selectedIndex(), 0);
}

TEST_F(Population, TwoQuickRefreshesEndInOneCompleteListing) {
    for (int i = 0; i < 400; ++i) root.file("one/o" + std::to_string(i));
    for (int i = 0; i < 150; ++i) root.file("two/t" + std::to_string(i));
    openFolder(u"\\one\\");
    Refresh();
    openFolder(u"\\two\\");
    Refresh();
    ASSERT_TRUE(screen.settle());
    EXPECT_EQ(fileRowCount(), 150);
    EXPECT_EQ(screen.itemCount(), 151);
    for (int i = 1; i < screen.itemCount(); ++i) {
        ASSERT_EQ(toUtf8(rowByListIndex(i)->path).rfind("\\two\\t", 0), 0u) << "row " << i;
    }
    EXPECT_EQ(screen.title(), "\\two\\ - Farlink");
}

TEST_F(Population, ARefreshFindingTheLockTakenEndsWithoutWaiting) {
    root.file("b/x");
    openFolder(u"\\b\\");
    const platform::SyncHandle lock = platform::createMutex(u"VelvaneFileWorker", false);
    ASSERT_EQ(platform::waitFor(lock, 0), platform::WaitResult::signaled);
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(screen.itemCount(), 0);
    platform::releaseMutex(lock);
    platform::closeHandle(lock);
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"..", "x"}));
}

TEST_F(Population, AFolderThatCannotBeReadShowsTheErrorRow) {
    root.folder("gone");
    openFolder(u"\\gone\\");
    std::filesystem::remove(root.at("gone"));
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), std::vector<std::string>{".. (No Files Error)"});
}

TEST_F(Population, NothingToShowSaysNoFiles) {
    root.folder("empty");
    root.file("typed/zebra");
    struct Case { std::u16string folder, typeAhead; };
    const Case cases[] = {{u"\\empty\\", u""}, {u"\\typed\\", u"AB"}};
    for (const Case& c : cases) {
        openFolder(c.folder);
        setTypeAheadText(c.typeAhead);
        ASSERT_TRUE(screen.refresh());
        EXPECT_EQ(rows(), std::vector<std::string>{".. (No Files)"}) << toUtf8(c.folder);
    }
}

TEST_F(Population, AParentStepInTheCurrentFolderIsResolved) {
    root.folder("a/b");
    root.file("a/x1");
    openFolder(u"\\a\\b\\..\\");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(toUtf8(deviceProvider.GetCurrentFolder()), "\\a\\");
    EXPECT_EQ(screen.title(), "\\a\\ - Farlink");
    EXPECT_EQ(toUtf8(rowByListIndex(0)->path), "\\a\\..");
    EXPECT_EQ(rows().size(), 3u);
}

TEST_F(Population, FiltersHideFilesButNeverFolders) {
    for (const char* name : {"a.txt", "b.doc", "c.TXT", "d.txt.bak"}) root.file(std::string("p/") + name);
    root.folder("p/sub.bin");
    deviceProvider.showParent = 0;
    deviceProvider.sortKey = sortName;
    deviceProvider.showExtensions = 1;
    deviceProvider.GetItemPattern = [](int) { return std::optional<std::u16string>(u"*.txt;*.doc"); };
    openFolder(u"\\p\\");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"sub.bin", "a.txt", "b.doc"}));
    deviceProvider.showExtensions = 0;
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"sub.bin", "a", "b"}));
}

TEST_F(Population, SortsSizesOf4GiBAndMoreAsWholeNumbers) {
    root.file("big/small", std::string(1024, 'x'));
    root.file("big/huge", "");
    std::filesystem::resize_file(root.at("big/huge"), 5ULL << 30);  // sparse
    root.file("big/three", "");
    std::filesystem::resize_file(root.at("big/three"), 3ULL << 30);
    deviceProvider.sortKey = sortSize;
    openFolder(u"\\big\\");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"..", "small", "three", "huge"}));
    EXPECT_EQ(rowByListIndex(3)->size, 5ULL << 30);
}

// A view that lists a fixed table at "\", for orders and failures the real file system
// does not give.
struct FakeFolder {
    std::vector<std::u16string> names;
    std::uint32_t findError = 0;
    std::size_t next = 0;
};
FakeFolder fake;

int nextFakeEntry(platform::FindData& data) {
    if (fake.next >= fake.names.size()) {
        platform::setLastError(platform::errorNoMoreFiles);
        return 0;
    }
    data = {};
    data.attributes = platform::attributeArchive;
    platform::copyBounded(data.name, platform::maxPath, fake.names[fake.next++]);
    return 1;
}

class FakePopulation : public Population {
protected:
    void SetUp() override {
        Population::SetUp();
        fake = {};
        deviceProvider.GetCurrentFolder = [] { return std::u16string(u"\\"); };
        deviceProvider.FindFirst = [](std::u16string_view, platform::FindData& data) {
            if (fake.findError != 0) {
                platform::setLastError(fake.findError);
                return platform::invalidFindHandle;
            }
            fake.next = 0;
            return nextFakeEntry(data) ? platform::FindHandle(1) : platform::invalidFindHandle;
        };
        deviceProvider.FindNext = [](platform::FindHandle, platform::FindData& data) { return nextFakeEntry(data); };
        deviceProvider.FindClose = [](platform::FindHandle) { return 1; };
    }
};

TEST_F(FakePopulation, AtTheTopAFailureShowsTheViewsErrorText) {
    fake.findError = platform::errorAccessDenied;
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), std::vector<std::string>{
                          "Access Denied. The file or folder may be opened in another application, read-only or hidden."});
}

TEST_F(FakePopulation, AStoppedPopulationEndsWithoutRestarting) {
    fake.names = {u"a", u"b", u"c", u"d"};
    deviceProvider.FindNext = [](platform::FindHandle, platform::FindData& data) {
        if (fake.next == 2) stopPopulations();
        return nextFakeEntry(data);
    };
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"a", "b"}));
    deviceProvider.FindNext = [](platform::FindHandle, platform::FindData& data) { return nextFakeEntry(data); };
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(FakePopulation, TheSelectionFollowsTheRememberedFileAsRowsSortInBeforeIt) {
    fake.names = {u"m", u"z", u"a", u"b"};
    deviceProvider.sortKey = sortName;
    rememberPath(u"\\z");
    ASSERT_TRUE(screen.refresh());
    EXPECT_EQ(rows(), (std::vector<std::string>{"a", "b", "m", "z"}));
    EXPECT_EQ(screen.selectedIndex(), 3);
}

}  // namespace
