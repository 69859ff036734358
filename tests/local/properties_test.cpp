// Properties: size formatting, attribute words, the folder walk's counts (also where
// 32-bit sums wrap) and the "File Properties" screen of a file and of a folder.
#include "local/properties.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <vector>

#include "local/device.h"
#include "local/filters.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "platform/window/soft_keys.h"
#include "tests/explorer/explorer_fixture.h"
#include "tests/local/local_fixture.h"
#include "tests/support/scoped_variable.h"

namespace {

using platform::Key;
using platform::toUtf8;

TEST(FormatSize, EachUnitBeginsAt1024OfTheOneBelow) {
    struct Case {
        std::uint32_t low, high;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "0 B"},
        {1023, 0, "1023 B"},
        {1024, 0, "1.0 KB"},
        {1536, 0, "1.5 KB"},
        {1048575, 0, "1024.0 KB"},
        {1048576, 0, "1.00 MB"},
        {1073741824, 0, "1.000 GB"},
        {0, 1, "4.000 GB"},
        {0, 256, "1.0000 TB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(toUtf8(local::formatSize(c.low, c.high)), c.text) << c.low << " " << c.high;
    }
}

TEST(AttributeWords, FollowTheirFixedOrder) {
    struct Case {
        std::uint32_t attributes;
        const char* words;
    };
    const Case cases[] = {
        {0, ""},
        {0x21, " ARC R/O"},
        {0x40, " ENC INROM"},  // one bit, two words
        {0x12, " DIR HIDDEN"},
        {0x3FFF, " ARC CMP DIR ENC HIDDEN INROM NORMAL R/O REP ROMMOD ROMST SPARSE SYS TMP"},
    };
    for (const Case& c : cases) EXPECT_EQ(toUtf8(local::attributeWords(c.attributes)), c.words) << c.attributes;
}

// A view whose folders are a table: folder path (with its final '\') -> entries.
struct FakeTree {
    std::map<std::u16string, std::vector<platform::FindData>> folders;
    std::map<std::u16string, platform::FileAttributeData> attributes;
    std::vector<std::vector<platform::FindData>> searches;
    std::vector<std::size_t> positions;
    std::mutex lock;
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
        std::lock_guard guard(fakeTree->lock);
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
        std::lock_guard guard(fakeTree->lock);
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
        std::lock_guard guard(fakeTree->lock);
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
        explorer::deviceProvider = saved;
        explorer::currentProvider = &explorer::deviceProvider;
        local::freeFilters();
        fakeTree = nullptr;
    }

    local_test::TempRegistry registry;
    explorer_test::DeviceRoot root;
    explorer::ViewProvider saved;
    FakeTree tree;
    std::atomic<bool> stop{false};
};

TEST_F(Properties, TheWalkCountsEachLevelAndTheWholeTree) {
    root.file("top/one.txt", "12345");
    root.file("top/two.txt", "1234567890");
    root.file("top/sub/a", "1");
    root.file("top/sub/b", "22");
    root.file("top/sub/c", "333");
    root.file("top/sub/deeper/d", "4444");
    root.folder("top/sub/empty");
    local::FolderCounters counters{u"\\top"};
    ASSERT_TRUE(local::walkFolder(explorer::deviceProvider, counters, stop));
    EXPECT_EQ(counters.folders, 1u);
    EXPECT_EQ(counters.files, 2u);
    EXPECT_EQ(counters.size, 15u);
    EXPECT_EQ(counters.allFolders, 3u);
    EXPECT_EQ(counters.allFiles, 6u);
    EXPECT_EQ(counters.allSize, 25u);

    local::FolderCounters missing{u"\\nowhere\\"};
    EXPECT_FALSE(local::walkFolder(explorer::deviceProvider, missing, stop));
    EXPECT_EQ(missing.allFiles, 0u);
}

TEST_F(Properties, SumsAreUnsigned32BitAndWrap) {
    tree.folders[u"\\big\\"] = {entry(u"a", 0x20, 0xFFFFFFFF), entry(u"b", 0x20, 3), entry(u"..", 0x10),
                               entry(u"s", 0x10)};
    tree.folders[u"\\big\\s\\"] = {entry(u".", 0x10), entry(u"c", 0x20, 0x80000000)};
    local::FolderCounters counters{u"\\big\\"};
    ASSERT_TRUE(local::walkFolder(fakeView(), counters, stop));
    EXPECT_EQ(counters.folders, 1u);  // "." and ".." are not entries
    EXPECT_EQ(counters.size, 2u);
    EXPECT_EQ(counters.allFiles, 3u);
    EXPECT_EQ(counters.allSize, 0x80000002u);
}

TEST_F(Properties, TheTextOfAFile) {
    test_support::ScopedVariable timeZone("TZ", "UTC");
    test_support::ScopedVariable locale("LC_ALL", "C");
    platform::FileAttributeData data;
    data.attributes = 0x21;
    data.sizeLow = 1536;
    data.creationTime = platform::toFileTime(platform::unixEpochAsFileTime + 10000000ULL * 86400 * 365);
    data.lastAccessTime = data.creationTime;
    data.lastWriteTime = data.creationTime;
    tree.attributes[u"\\docs\\readme"] = data;
    tree.attributes[u"\\docs\\song.mp3"] = data;
    EXPECT_EQ(toUtf8(local::propertiesText(fakeView(), u"\\docs\\readme", nullptr)),
              "Filename: readme.\rFile Type: File\rFile Size: 1.5 KB\r"
              "Created: 01/01/1971\rAccessed: 01/01/1971\rModified: 01/01/1971\r ARC R/O");
    EXPECT_EQ(toUtf8(local::propertiesText(fakeView(), u"\\docs\\song.mp3", nullptr)).substr(0, 40),
              "Filename: song.mp3\rFile Type: MP3 Audio\r");
    // What cannot be asked about shows zeros and no words.
    EXPECT_EQ(toUtf8(local::propertiesText(fakeView(), u"\\docs\\gone.txt", nullptr)),
              "Filename: gone.txt\rFile Type: Text Document\rFile Size: 0 B\r"
              "Created: 01/01/1601\rAccessed: 01/01/1601\rModified: 01/01/1601\r");
}

TEST_F(Properties, AFolderIsCountedWhileTheScreenSaysSo) {
    test_support::ScopedVariable timeZone("TZ", "UTC");
    test_support::ScopedVariable locale("LC_ALL", "C");
    platform::FileAttributeData folder;
    folder.attributes = 0x10;
    tree.attributes[u"\\docs\\Projects"] = folder;
    tree.folders[u"\\docs\\Projects\\"] = {entry(u"a.txt", 0x20, 10), entry(u"b.txt", 0x20, 20),
                                          entry(u"sub", 0x10)};
    tree.folders[u"\\docs\\Projects\\sub\\"] = {entry(u"c", 0x20, 1), entry(u"d", 0x20, 2), entry(u"e", 0x20, 3)};
    explorer::ViewProvider view = fakeView();
    explorer::currentProvider = &view;

    std::promise<void> open;
    tree.gate = open.get_future().share();

    explorer_test::Screen screen(50, 14);
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
    EXPECT_EQ(first,
              " File Properties\n"
              "\n"
              " [D]              Filename: Projects.\n"
              "                   File Type: Folder\n"
              "                    File Size: 0 B\n"
              "\n"
              "                Determining Folder Size\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              " Done                                      Cancel");
    EXPECT_EQ(counted,
              " File Properties\n"
              "\n"
              " [D]               Folder: Projects\n"
              "                     Type: Folder\n"
              "            Folders: 1, Files: 2 Size: 30 B\n"
              "          All Folders: 1, Files: 5 Size: 36 B\n"
              "                  Created: 01/01/1601\n"
              "                 Accessed: 01/01/1601\n"
              "                 Modified: 01/01/1601\n"
              "                          DIR\n"
              "\n"
              "\n"
              "\n"
              " Done                                      Cancel");
}

TEST_F(Properties, WithoutASoftKeyBarTheScreenEndsAtOnce) {
    explorer_test::Screen screen(50, 14);
    platform::setSoftKeyBarCreationFails(true);
    const bool done = local::showProperties({screen.main, u"\\"});
    platform::setSoftKeyBarCreationFails(false);
    EXPECT_FALSE(done);
    EXPECT_EQ(screen.terminal.screenText().find("File Properties"), std::string::npos);
}

}  // namespace
