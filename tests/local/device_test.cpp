// The Device view's operations over a temporary device root, with its boxes answered
// by scripted keys on the headless screen.
#include "local/device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "explorer/provider.h"
#include "local/filters.h"
#include "platform/errors.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "tests/support/view_fixtures.h"

namespace {

using explorer::deviceProvider;
using platform::Key;
using platform::toUtf8;

class Device : public ::testing::Test {
protected:
    void SetUp() override {
        local::setUpDeviceView();
        saved = deviceProvider;
    }
    void TearDown() override { deviceProvider = saved; }

    explorer::ViewProvider saved;
    test_support::DeviceRoot root;
};

TEST_F(Device, AnAccessDeniedDeleteIsShownInTheFileSystemErrorBox) {
    test_support::HeadlessScreen screen(60, 13);
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(Key::leftSoft);
    platform::setLastError(platform::errorAccessDenied);
    EXPECT_EQ(deviceProvider.ShowError(u"Delete Error"), static_cast<int>(platform::MessageBoxResult::ok));
    EXPECT_EQ(test_support::boxCaption(shown), "File System Error");
    EXPECT_NE(test_support::boxWords(shown).find("DeleteError(5)Description:AccessDenied.Thefileorfoldermaybeopened"),
              std::string::npos)
        << shown;
    EXPECT_EQ(screen.terminal.bellCount(), 1);
}

TEST_F(Device, FileInformationWithoutTheObjectMarkNeverLooksAtTheFile) {
    platform::ShellFileInfo info;
    const std::uint32_t flags = platform::shellSystemIconIndex | platform::shellDisplayName;
    EXPECT_NE(deviceProvider.GetFileInfo(u"\\missing\\song.mp3", 0, info, flags), 0u);
    EXPECT_EQ(toUtf8(info.displayName), "song");
    EXPECT_EQ(deviceProvider.GetFileInfo(u"\\missing\\song.mp3", explorer::infoFromObject, info, flags), 0u);
}

TEST_F(Device, TheCurrentFolderBelongsToAnIsolatedFilterOrIsShared) {
    EXPECT_TRUE(deviceProvider.SetCurrentFolder(u"\\shared\\"));
    local::filterAt(0)->isolatedFileSystem = 1;
    EXPECT_TRUE(deviceProvider.SetCurrentFolder(u"\\own\\"));
    EXPECT_EQ(toUtf8(platform::boundedView(local::filterAt(0)->folder, platform::maxPath)), "\\own\\");
    local::filterAt(0)->isolatedFileSystem = 0;
    EXPECT_EQ(toUtf8(deviceProvider.GetCurrentFolder()), "\\shared\\");
    // A selection past the last filter falls back to the first.
    deviceProvider.filterIndex = 40;
    EXPECT_EQ(toUtf8(deviceProvider.GetCurrentFolder()), "\\shared\\");
    EXPECT_EQ(deviceProvider.filterIndex, 0u);
}

// A damaged settings file can hold a folder without its final separator: "\home\me"
// would list "\home\me*" and name the rows "\home\meme", "\home\meother.txt" ...
TEST_F(Device, ACurrentFolderAlwaysEndsWithItsSeparator) {
    test_support::TemporaryRegistry registry;
    root.file("home/me/mine.txt");
    root.file("home/meme/other.txt");
    local::FilterRecord damaged{};
    platform::copyBounded(damaged.name, std::size(damaged.name), u"Mine");
    platform::copyBounded(damaged.pattern, std::size(damaged.pattern), u"*");
    platform::copyBounded(damaged.folder, std::size(damaged.folder), u"\\home\\me");
    damaged.trackLastFolder = 1;
    damaged.isolatedFileSystem = 1;
    ASSERT_TRUE(
        test_support::storeValue(local::filtersKeyPath, u"0", platform::registryBinary, &damaged, sizeof damaged));
    local::loadFilters();

    const auto listed = [] {
        std::vector<std::string> names;
        platform::FindData entry;
        const platform::FindHandle search = deviceProvider.FindFirst(deviceProvider.GetCurrentFolder() + u"*", entry);
        if (search == platform::invalidFindHandle) return names;
        do names.push_back(toUtf8(platform::boundedView(entry.name, platform::maxPath)));
        while (deviceProvider.FindNext(search, entry));
        deviceProvider.FindClose(search);
        return names;
    };
    const std::vector<std::string> mine{"mine.txt"};
    deviceProvider.filterIndex = 0;  // the filter's own folder, as loaded
    EXPECT_EQ(toUtf8(deviceProvider.GetCurrentFolder()), "\\home\\me\\");
    EXPECT_EQ(listed(), mine);
    for (const std::uint32_t filter : {0u, 1u}) {  // its own folder, the shared one
        deviceProvider.filterIndex = filter;
        ASSERT_TRUE(deviceProvider.SetCurrentFolder(u"\\home\\me")) << filter;
        EXPECT_EQ(toUtf8(deviceProvider.GetCurrentFolder()), "\\home\\me\\") << filter;
        EXPECT_EQ(listed(), mine) << filter;
    }
}

class FolderCopy : public Device {
protected:
    void SetUp() override {
        Device::SetUp();
        root.file("src/one.txt", "new one");
        root.file("src/two.txt", "new two");
        root.file("src/deep/er/three.txt", "new three");
        root.file("dst/one.txt", "old one");
        root.file("dst/two.txt", "old two");
    }
    // Answers each "Replace File?" box with the next key; returns the boxes seen.
    int copyAnswering(std::initializer_list<Key> answers) {
        int boxes = 0;
        for (Key answer : answers) {
            screen.terminal.atIdle([&] {
                if (screen.terminal.screenText().find("Replace File?") != std::string::npos) ++boxes;
            });
            screen.terminal.pressKey(answer);
        }
        result = deviceProvider.CopyFolder(u"\\src", u"\\dst", 1);
        platform::runUntilIdle();  // plays what no box asked for
        return boxes;
    }

    test_support::HeadlessScreen screen{60, 12};
    int result = 0;
};

// No keeps the file and asks again at the next; Yes overwrites every later file without
// asking. The host reports an existing target as "file exists" (80): that asks too.
TEST_F(FolderCopy, NoAsksAgainAtTheNextAndYesOnceOverwritesEveryLaterFile) {
    for (const auto& [answer, boxes, kept] : {std::tuple{Key::rightSoft, 2, "old"}, {Key::leftSoft, 1, "new"}}) {
        EXPECT_EQ(copyAnswering({answer, answer}), boxes);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(root.read("dst/one.txt") + root.read("dst/two.txt"), std::string(kept) + " one" + kept + " two");
        EXPECT_EQ(root.read("dst/deep/er/three.txt"), "new three");  // into sub-folders it made
    }
}

// Links to "." and ".." would copy until the disk is full: a link to a folder is left
// out, and a link to a file gives the file it points at.
TEST_F(FolderCopy, CopiesWhatALinkToAFilePointsAtAndNeverGoesIntoALinkToAFolder) {
    std::filesystem::create_symlink(".", root.at("src/self"));
    std::filesystem::create_symlink("..", root.at("src/deep/up"));
    std::filesystem::create_symlink("one.txt", root.at("src/alias"));
    EXPECT_EQ(deviceProvider.CopyFolder(u"\\src", u"\\fresh", 1), 1);
    EXPECT_EQ(root.read("fresh/alias"), "new one");
    EXPECT_FALSE(std::filesystem::is_symlink(root.at("fresh/alias")));
    EXPECT_EQ(root.read("fresh/deep/er/three.txt"), "new three");
    EXPECT_FALSE(std::filesystem::exists(root.at("fresh/self")));
    EXPECT_FALSE(std::filesystem::exists(root.at("fresh/deep/up")));
}

TEST_F(FolderCopy, RefusesWhatCannotWork) {
    std::filesystem::create_symlink(root.at("src"), root.at("alias"));
    struct Case {
        std::u16string source, destination;
        std::uint32_t error;
    };
    const Case cases[] = {
        {u"\\nowhere", u"\\dst2", platform::errorPathNotFound},
        {u"\\src", u"\\src\\deep\\copy", platform::errorInvalidParameter},  // it would copy itself
        {u"\\src", u"\\src", platform::errorInvalidParameter},
        {u"\\src", u"\\alias\\copy", platform::errorInvalidParameter},  // inside it by way of a link
    };
    for (const Case& c : cases) {
        EXPECT_EQ(deviceProvider.CopyFolder(c.source, c.destination, 1), 0) << toUtf8(c.destination);
        EXPECT_EQ(platform::lastError(), c.error) << toUtf8(c.destination);
    }
    EXPECT_FALSE(std::filesystem::exists(root.at("dst2")));
    EXPECT_FALSE(std::filesystem::exists(root.at("src/deep/copy")));
}

}  // namespace
