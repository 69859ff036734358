// Populations of real temporary folders through the Device view, and of a fake view for
// listing orders the file system does not give, on a headless main window.
#include "explorer/population.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <vector>

#include "explorer/icons.h"
#include "explorer/listwindow.h"
#include "explorer/provider.h"
#include "local/device.h"
#include "platform/errors.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "platform/window/list_view.h"
#include "resources/commands.h"
#include "tests/support/view_fixtures.h"

namespace {

using namespace explorer;
using platform::toUtf8;
using Rows = std::vector<std::string>;

platform::LResult mainProcedure(platform::Window window, platform::MessageId message, platform::WParam wParam,
                                platform::LParam lParam) {
    if (message == platform::MessageId::notify && wParam == resources::listViewId) {
        return handleListNotification(lParam);
    }
    return platform::defaultWindowProcedure(window, message, wParam, lParam);
}

// A main window with the title line and the list below it; the filter control is the
// program's, not the explorer's.
class Population : public ::testing::Test {
protected:
    void SetUp() override {
        local::setUpDeviceView();
        saved = deviceProvider;
        currentProvider = &deviceProvider;
        setTypeAheadText(u"");
        rememberPath(u"");
        list = platform::createWindow({.kind = platform::ControlKind::listView,
                                       .rect = platform::getClientRect(screen.main),
                                       .parent = screen.main,
                                       .id = resources::listViewId});
        attachExplorerWindows(screen.main, list, {});
        dropImageList();  // the next population makes one for this list view
        platform::setFocus(list);
    }
    void TearDown() override {
        attachExplorerWindows({}, {}, {});
        deviceProvider = saved;
    }

    void openFolder(std::u16string_view folder) { ASSERT_TRUE(deviceProvider.SetCurrentFolder(folder)); }
    bool refresh() {
        Refresh();
        return test_support::settle();
    }
    Rows rows() const {
        Rows names;
        for (int i = 0; i < platform::listViewGetItemCount(list); ++i) {
            const ExplorerItem* row = rowByListIndex(i);
            names.push_back(row ? toUtf8(row->displayName) : "<none>");
        }
        return names;
    }
    int selectedIndex() const { return platform::listViewGetNextItem(list, -1, platform::nextSelected); }
    std::string title() const { return toUtf8(platform::getWindowText(screen.main)); }

    ViewProvider saved;
    test_support::DeviceRoot root;
    test_support::HeadlessScreen screen{40, 8, mainProcedure};
    platform::Window list;
};

// Under ThreadSanitizer this is also the test of rows read while being written: the
// screen draws rows while the population adds them.
TEST_F(Population, ShowsAtMost48FoldersAnd1024FilesAndTheTitleCountsWhatIsShown) {
    for (int i = 0; i < 60; ++i) root.folder("wide/f" + std::to_string(100 + i));
    for (int i = 0; i < 2000; ++i) root.file("wide/n" + std::to_string(i) + ".txt");
    deviceProvider.titleInfo = titleShowsCounts;
    deviceProvider.sortKey = sortName;
    openFolder(u"\\wide\\");
    ASSERT_TRUE(refresh());
    const Rows shown = rows();
    ASSERT_EQ(shown.size(), 48u + 1024u + 1u);  // the parent row, 47 sub-folders, 1024 files, the notice
    EXPECT_EQ(shown.front(), "..");
    EXPECT_TRUE(std::is_sorted(shown.begin() + 48, shown.end() - 1));
    platform::listViewEnsureVisible(list, int(shown.size()) - 1);
    ASSERT_TRUE(test_support::settle());
    EXPECT_NE(screen.terminal.screenText().find("(989 more entries not shown"), std::string::npos);
    EXPECT_EQ(title(), "\\wide\\ D:47 F:1024 - Farlink");
}

TEST_F(Population, TwoQuickRefreshesEndInOneCompleteListing) {
    for (int i = 0; i < 400; ++i) root.file("one/o" + std::to_string(i));
    for (int i = 0; i < 150; ++i) root.file("two/t" + std::to_string(i));
    openFolder(u"\\one\\");
    Refresh();
    openFolder(u"\\two\\");
    Refresh();
    ASSERT_TRUE(test_support::settle());
    EXPECT_EQ(fileRowCount(), 150);
    EXPECT_EQ(platform::listViewGetItemCount(list), 151);
    for (int i = 1; i < 151; ++i) {
        ASSERT_EQ(toUtf8(rowByListIndex(i)->path).rfind("\\two\\t", 0), 0u) << "row " << i;
    }
    EXPECT_EQ(title(), "\\two\\ - Farlink");
}

TEST_F(Population, ARefreshFindingTheLockTakenEndsWithoutWaiting) {
    root.file("b/x");
    openFolder(u"\\b\\");
    const platform::SyncHandle lock = platform::createMutex(u"VelvaneFileWorker", false);
    ASSERT_EQ(platform::waitFor(lock, 0), platform::WaitResult::signaled);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(rows(), Rows{});
    platform::releaseMutex(lock);
    platform::closeHandle(lock);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(rows(), (Rows{"..", "x"}));
}

TEST_F(Population, AListingWithNothingToShowSaysWhy) {
    root.folder("empty");
    root.file("typed/zebra");
    struct Case {
        std::u16string folder, typeAhead;
        std::string row;
    };
    const Case cases[] = {
        {u"\\empty\\", u"", ".. (No Files)"},
        {u"\\typed\\", u"AB", ".. (No Files)"},
        {u"\\gone\\", u"", ".. (No Files Error)"},
        {u"\\", u"", "Path Not Found."},  // at the top a failure shows the view's own words
    };
    for (const Case& c : cases) {
        if (c.folder == u"\\") std::filesystem::remove_all(root.path());
        openFolder(c.folder);
        setTypeAheadText(c.typeAhead);
        ASSERT_TRUE(refresh());
        EXPECT_EQ(rows(), Rows{c.row}) << toUtf8(c.folder);
    }
}

// A view that lists a fixed table of files at "\", in the table's order.
struct FakeFolder {
    std::vector<std::u16string> names;
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
            fake.next = 0;
            return nextFakeEntry(data) ? platform::FindHandle(1) : platform::invalidFindHandle;
        };
        deviceProvider.FindNext = [](platform::FindHandle, platform::FindData& data) { return nextFakeEntry(data); };
        deviceProvider.FindClose = [](platform::FindHandle) { return 1; };
    }
};

// A stopped population ends without restarting; a listing cut off in the middle (a
// dropped connection) must not pass for the folder.
TEST_F(FakePopulation, AStoppedPopulationEndsAndAListingThatFailsInTheMiddleShowsTheFailureAlone) {
    fake.names = {u"a", u"b", u"c", u"d"};
    deviceProvider.FindNext = [](platform::FindHandle, platform::FindData& data) {
        if (fake.next == 2) stopPopulations();
        return nextFakeEntry(data);
    };
    ASSERT_TRUE(refresh());
    EXPECT_EQ(rows(), (Rows{"a", "b"}));
    deviceProvider.FindNext = [](platform::FindHandle, platform::FindData& data) {
        if (fake.next < 2) return nextFakeEntry(data);
        platform::setLastError(platform::errorAccessDenied);
        return 0;
    };
    ASSERT_TRUE(refresh());
    EXPECT_EQ(rows(), Rows{toUtf8(local::errorDescription(platform::errorAccessDenied))});
}

// The user may step the selector (the Remote view's place) while a listing runs: the
// listing's operations read the view as it was when the listing was asked for.
TEST_F(FakePopulation, TheListingsOperationsReadTheViewAsItWasAskedFor) {
    static std::promise<void> stepped;
    static std::uint32_t seen;
    stepped = {};
    fake.names = {u"a"};
    deviceProvider.FindFirst = [](std::u16string_view, platform::FindData& data) {
        stepped.get_future().wait();
        seen = threadView(deviceProvider).filterIndex;
        fake.next = 0;
        return nextFakeEntry(data) ? platform::FindHandle(1) : platform::invalidFindHandle;
    };
    deviceProvider.filterIndex = 3;
    Refresh();
    deviceProvider.filterIndex = 5;
    stepped.set_value();
    ASSERT_TRUE(test_support::settle());
    EXPECT_EQ(seen, 3u);
    EXPECT_EQ(&threadView(deviceProvider), &deviceProvider);  // the UI thread reads its own record
}

// The remembered file (the folder just left, a renamed file) takes the selection once,
// even when rows sort in before it.
TEST_F(FakePopulation, TheRememberedFileTakesTheSelectionOnceAsRowsSortInBeforeIt) {
    fake.names = {u"m", u"z", u"a", u"b"};
    deviceProvider.sortKey = sortName;
    rememberPath(u"\\z");
    ASSERT_TRUE(refresh());
    EXPECT_EQ(rows(), (Rows{"a", "b", "m", "z"}));
    EXPECT_EQ(selectedIndex(), 3);
    ASSERT_TRUE(refresh());
    EXPECT_EQ(selectedIndex(), 0);
}

}  // namespace
