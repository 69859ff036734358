// Properties: size formatting, the text of a file, and the "File Properties" screen of a
// folder while it is counted and once it is (the program's tests count a real one).
#include "local/properties.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <thread>
#include <vector>

#include "explorer/population.h"
#include "local/device.h"
#include "local/filters.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::Key;
using platform::toUtf8;

TEST(FormatSize, EachUnitBeginsAt1024OfTheOneBelow) {
    struct Case {
        std::uint32_t low, high;
        const char* text;
    };
    const Case cases[] = {
        {1023, 0, "1023 B"},         {1024, 0, "1.0 KB"}, {1048575, 0, "1024.0 KB"}, {1048576, 0, "1.00 MB"},
        {1073741824, 0, "1.000 GB"}, {0, 1, "4.000 GB"},  {0, 256, "1.0000 TB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toUtf8(local::formatSize(c.low, c.high)), c.text) << c.low << " " << c.high;
    }
}

// A view whose folders are a table: folder path (with its final '\') -> entries. The
// tables are filled before the counting thread starts and only read after.
struct FakeTree {
    std::map<std::u16string, std::vector<platform::FindData>> folders;
    std::map<std::u16string, platform::FileAttributeData> attributes;
    std::vector<std::vector<platform::FindData>> searches;
    std::vector<std::size_t> positions;
    // When set, searches wait until the test opens the gate.
    std::shared_future<void> gate;
};
FakeTree* fakeTree = nullptr;

platform::FindData entry(const char16_t* name, std::uint32_t attributes, std::uint32_t size = 0) {
    platform::FindData data;
    data.attributes = attributes;
    data.sizeLow = size;
    platform::copyBounded(data.name, std::size(data.name), name);
    return data;
}

explorer::ViewProvider fakeView() {
    explorer::ViewProvider view = explorer::deviceProvider;
    view.FindFirst = [](std::u16string_view pattern, platform::FindData& data) -> platform::FindHandle {
        if (fakeTree->gate.valid()) fakeTree->gate.wait();
        const std::u16string folder(pattern.substr(0, pattern.find_last_of(u'\\') + 1));
        const auto found = fakeTree->folders.find(folder);
        if (found == fakeTree->folders.end() || found->second.empty()) {
            platform::setLastError(platform::errorPathNotFound);
            return platform::invalidFindHandle;
        }
        fakeTree->searches.push_back(found->second);
        fakeTree->positions.push_back(1);
        data = found->second.front();
        return fakeTree->searches.size() - 1;
    };
    view.FindNext = [](platform::FindHandle handle, platform::FindData& data) -> int {
        std::size_t& position = fakeTree->positions[handle];
        if (position >= fakeTree->searches[handle].size()) {
            platform::setLastError(platform::errorNoMoreFiles);
            return 0;
        }
        data = fakeTree->searches[handle][position++];
        return 1;
    };
    view.FindClose = [](platform::FindHandle) { return 1; };
    view.GetAttributes = [](std::u16string_view path, int, platform::FileAttributeData& data) -> int {
        const auto found = fakeTree->attributes.find(std::u16string(path));
        if (found == fakeTree->attributes.end()) return 0;
        data = found->second;
        return 1;
    };
    return view;
}

class Properties : public ::testing::Test {
protected:
    void SetUp() override {
        local::setUpDeviceView();
        saved = explorer::deviceProvider;
        fakeTree = &tree;
    }
    void TearDown() override {
        // A count still walking reads the fake tree: it ends before the tree goes.
        EXPECT_TRUE(explorer::waitForPopulations(std::chrono::seconds(5)));
        explorer::deviceProvider = saved;
        explorer::currentProvider = &explorer::deviceProvider;
        local::freeFilters();
        fakeTree = nullptr;
    }

    test_support::TemporaryRegistry registry;
    test_support::ScopedVariable timeZone{"TZ", "UTC"};
    test_support::ScopedVariable locale{"LC_ALL", "C"};
    explorer::ViewProvider saved;
    FakeTree tree;
};

TEST_F(Properties, TheTextOfAFile) {
    platform::FileAttributeData data;
    data.attributes = 0x61;  // in ROM (or encrypted: one bit, two words), archive, read-only
    data.sizeLow = 1536;
    data.creationTime = platform::toFileTime(platform::unixEpochAsFileTime + 10000000ULL * 86400 * (365 + 40));
    data.lastAccessTime = data.creationTime;
    data.lastWriteTime = data.creationTime;
    tree.attributes[u"\\docs\\readme"] = data;
    EXPECT_EQ(toUtf8(local::propertiesText(fakeView(), u"\\docs\\readme", nullptr)),
              "Filename: readme.\rFile Type: File\rFile Size: 1.5 KB\r"
              "Created: 02/10/1971\rAccessed: 02/10/1971\rModified: 02/10/1971\r ARC ENC INROM R/O");
}

TEST_F(Properties, AFolderIsCountedWhileTheScreenSaysSo) {
    platform::FileAttributeData folder;
    folder.attributes = 0x10;
    tree.attributes[u"\\docs\\Projects"] = folder;
    tree.folders[u"\\docs\\Projects\\"] = {entry(u".", 0x10), entry(u"..", 0x10), entry(u"a.txt", 0x20, 10),
                                           entry(u"b.txt", 0x20, 20), entry(u"sub", 0x10)};
    tree.folders[u"\\docs\\Projects\\sub\\"] = {entry(u"c", 0x20, 1), entry(u"d", 0x20, 2), entry(u"e", 0x20, 3)};
    explorer::ViewProvider view = fakeView();
    explorer::currentProvider = &view;

    std::promise<void> open;
    tree.gate = open.get_future().share();

    test_support::HeadlessScreen screen(50, 11);
    std::string first;
    std::string counted;
    screen.terminal.atIdle([&] {
        first = screen.terminal.screenText();
        open.set_value();
        ASSERT_TRUE(platform::waitForMessage(5000));
    });
    screen.terminal.atIdle([&] { counted = screen.terminal.screenText(); });
    screen.terminal.pressKey(Key::leftSoft);
    EXPECT_TRUE(local::showProperties({screen.main, u"\\docs\\Projects"}));
    EXPECT_NE(first.find("Determining Folder Size"), std::string::npos) << first;
    for (const char* line : {"Folders: 1, Files: 2 Size: 30 B\n", "All Folders: 1, Files: 5 Size: 36 B\n"})
        EXPECT_NE(counted.find(line), std::string::npos) << counted;
}

// The count may hang in the view (a server that stopped answering): Done closes the
// screen at once and the count ends on its own later.
TEST_F(Properties, ClosingTheScreenNeverWaitsForTheCount) {
    platform::FileAttributeData folder;
    folder.attributes = 0x10;
    tree.attributes[u"\\slow"] = folder;
    tree.folders[u"\\slow\\"] = {entry(u"a", 0x20, 1)};
    explorer::ViewProvider view = fakeView();
    explorer::currentProvider = &view;
    std::promise<void> open;
    tree.gate = open.get_future().share();
    // The count is let go only once the screen has closed, or after 10 s when the screen
    // waits for it (which would otherwise hang the test).
    std::atomic<bool> closed{false};
    bool openedBeforeClosing = false;
    std::thread late([&] {
        openedBeforeClosing = !test_support::eventually([&] { return closed.load(); }, std::chrono::seconds(10));
        open.set_value();
    });

    test_support::HeadlessScreen screen(50, 11);
    screen.terminal.pressKey(Key::leftSoft);
    EXPECT_TRUE(local::showProperties({screen.main, u"\\slow"}));
    closed = true;
    late.join();
    EXPECT_FALSE(openedBeforeClosing);
}

}  // namespace
