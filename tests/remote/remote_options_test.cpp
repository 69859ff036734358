// The Remote view's options in the registry: defaults, and each value read only in its size.
#include "remote/remote_options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/view_fixtures.h"

namespace {

using explorer::remoteProvider;

class RemoteOptions : public ::testing::Test {
protected:
    void SetUp() override { remote::setRemoteDefaults(remoteProvider); }

    test_support::TemporaryRegistry registry;
};

TEST_F(RemoteOptions, AFreshRegistryGivesTheDefaults) {
    remote::loadRemoteOptions();
    EXPECT_EQ(remoteProvider.menuBarId, 502u);
    EXPECT_EQ(remoteProvider.popupMenuId, 0u);
    EXPECT_EQ(remoteProvider.filterIndex, 0u);
    EXPECT_EQ(remoteProvider.sortKey, explorer::sortNone);
    EXPECT_EQ(remoteProvider.ascending, 1);
    EXPECT_EQ(remoteProvider.showFiles, explorer::showStandardFiles);
    EXPECT_EQ(remoteProvider.largeIcons, 0);
    EXPECT_EQ(remoteProvider.showParent, 0);
    EXPECT_EQ(remoteProvider.showExtensions, 0);
    EXPECT_EQ(remoteProvider.titleInfo, 0u);
    EXPECT_EQ(remoteProvider.saveFolder, 1);
    EXPECT_EQ(remoteProvider.networkPrompt, 0u);
    EXPECT_EQ(remoteProvider.confirm, 0u);
}

TEST_F(RemoteOptions, AValueIsReadOnlyInItsOwnSize) {
    struct Case {
        std::u16string_view name;
        std::vector<std::uint8_t> data;
        std::uint32_t expected;
    };
    const Case table[] = {
        {u"Show Parent", {1, 0, 0, 0}, 0},  // a 4-byte flag does not fit the 1-byte field
        {u"Show Parent", {1}, 1},
        {u"Large Icon", {1}, 1},
        {u"Title Info", {3, 0, 0, 0}, 3},
        {u"Network Prompt", {6, 0, 0, 0}, 6},
        {u"Filter", {0x0C, 0x01, 0, 0}, 0x10C},
        {u"Filter", {7}, 7},  // a shorter value fills the low byte of a cleared field
    };
    for (const Case& test : table) {
        remote::setRemoteDefaults(remoteProvider);
        remoteProvider.filterIndex = 0xFFFFFFFF;  // loading sets it to 0 first
        platform::RegistryKey key = platform::noKey;
        ASSERT_TRUE(platform::createKey(platform::currentUserKey, remote::remoteOptionsKeyPath, key));
        ASSERT_TRUE(platform::setValue(key, test.name, platform::registryDword, test.data.data(),
                                       std::uint32_t(test.data.size())));
        remote::loadRemoteOptions();
        platform::deleteValue(key, test.name);
        platform::closeKey(key);
        const std::uint32_t read = test.name == u"Show Parent"      ? remoteProvider.showParent
                                   : test.name == u"Large Icon"     ? remoteProvider.largeIcons
                                   : test.name == u"Title Info"     ? remoteProvider.titleInfo
                                   : test.name == u"Network Prompt" ? remoteProvider.networkPrompt
                                                                    : remoteProvider.filterIndex;
        EXPECT_EQ(read, test.expected) << platform::toUtf8(test.name) << " of " << test.data.size() << " bytes";
    }
}

TEST_F(RemoteOptions, SavedValuesKeepTheirSizesAndComeBack) {
    remoteProvider.filterIndex = 4;
    remoteProvider.sortKey = explorer::sortDate;
    remoteProvider.ascending = 0;
    remoteProvider.showExtensions = 1;
    remoteProvider.showParent = 1;
    remoteProvider.saveFolder = 0;
    remoteProvider.largeIcons = 1;
    remoteProvider.networkPrompt = 5;
    remoteProvider.showFiles = 14;
    remoteProvider.confirm = 2;
    remoteProvider.titleInfo = 3;
    remote::saveRemoteOptions(remoteProvider);
    const explorer::ViewProvider saved = remoteProvider;

    struct Stored {
        std::u16string_view name;
        std::size_t size;
    };
    for (const Stored& value :
         {Stored{u"Filter", 4}, Stored{u"Sort", 4}, Stored{u"Ascending", 1}, Stored{u"Show Extentions", 1},
          Stored{u"Show Parent", 1}, Stored{u"Save Folder", 1}, Stored{u"Large Icon", 1}, Stored{u"Network Prompt", 4},
          Stored{u"Show Files", 4}, Stored{u"Confirm", 4}, Stored{u"Title Info", 4}}) {
        const test_support::StoredValue stored = test_support::storedValue(remote::remoteOptionsKeyPath, value.name);
        EXPECT_EQ(stored.type, platform::registryDword) << platform::toUtf8(value.name);
        EXPECT_EQ(stored.data.size(), value.size) << platform::toUtf8(value.name);
    }
    remote::setRemoteDefaults(remoteProvider);
    remote::loadRemoteOptions();
    EXPECT_EQ(remoteProvider.filterIndex, saved.filterIndex);
    EXPECT_EQ(remoteProvider.sortKey, saved.sortKey);
    EXPECT_EQ(remoteProvider.ascending, saved.ascending);
    EXPECT_EQ(remoteProvider.showExtensions, saved.showExtensions);
    EXPECT_EQ(remoteProvider.showParent, saved.showParent);
    EXPECT_EQ(remoteProvider.saveFolder, saved.saveFolder);
    EXPECT_EQ(remoteProvider.largeIcons, saved.largeIcons);
    EXPECT_EQ(remoteProvider.networkPrompt, saved.networkPrompt);
    EXPECT_EQ(remoteProvider.showFiles, saved.showFiles);
    EXPECT_EQ(remoteProvider.confirm, saved.confirm);
    EXPECT_EQ(remoteProvider.titleInfo, saved.titleInfo);
}

}  // namespace
