// The views' options and the queue's simultaneous copies in the registry.
#include "remote/remote_options.h"

#include "local/explorer_options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/view_fixtures.h"

namespace {

using explorer::remoteProvider;

struct Field {
    std::u16string_view name;
    std::uint32_t value;
    std::size_t storedSize;  // one-byte flags are stored as 1-byte DWORDs
};

// The stored options of the view, in the order the registry keeps them.
std::vector<Field> fields(const explorer::ViewProvider& view) {
    return {{u"Filter", view.filterIndex, 4},     {u"Sort", view.sortKey, 4},
            {u"Ascending", view.ascending, 1},    {u"Show Extentions", view.showExtensions, 1},
            {u"Show Parent", view.showParent, 1}, {u"Save Folder", view.saveFolder, 1},
            {u"Large Icon", view.largeIcons, 1},  {u"Network Prompt", view.networkPrompt, 4},
            {u"Show Files", view.showFiles, 4},   {u"Confirm", view.confirm, 4},
            {u"Title Info", view.titleInfo, 4}};
}

std::string options(const explorer::ViewProvider& view) {
    std::string text;
    for (const Field& field : fields(view))
        text += platform::toUtf8(field.name) + "=" + std::to_string(field.value) + " ";
    return text;
}

class RemoteOptions : public ::testing::Test {
protected:
    void SetUp() override { remote::setRemoteDefaults(remoteProvider); }

    test_support::TemporaryRegistry registry;
};

// Both views keep their options under one key as DWORDs, the one-byte flags as 1-byte
// values; each loads back what it saved (the Device view has no Network Prompt).
TEST_F(RemoteOptions, EachViewSavesItsOptionsInTheirSizesAndLoadsThemBack) {
    remote::loadRemoteOptions();
    EXPECT_EQ(options(remoteProvider),
              "Filter=0 Sort=0 Ascending=1 Show Extentions=0 Show Parent=0 Save Folder=1 "
              "Large Icon=0 Network Prompt=0 Show Files=1 Confirm=0 Title Info=0 ");
    explorer::ViewProvider saved = remoteProvider;
    saved.filterIndex = saved.sortKey = 4;
    saved.ascending = saved.saveFolder = 0;
    saved.showExtensions = saved.showParent = saved.largeIcons = 1;
    saved.networkPrompt = 5;
    saved.showFiles = 14;
    saved.confirm = 2;
    saved.titleInfo = 3;
    const struct View {
        const char* name;
        void (*save)(const explorer::ViewProvider&);
        void (*load)(explorer::ViewProvider&);
        bool hasNetworkPrompt;
    } views[] = {
        {"Device", local::saveDeviceOptions, local::loadDeviceOptions, false},
        {"Remote", remote::saveRemoteOptions,
         [](explorer::ViewProvider& view) {
             remote::loadRemoteOptions();
             view = remoteProvider;
         },
         true},
    };
    for (const View& view : views) {
        view.save(saved);
        explorer::ViewProvider loaded;
        remote::setRemoteDefaults(loaded);
        remote::setRemoteDefaults(remoteProvider);
        loaded.showParent = remoteProvider.showParent = 0;  // each value is read, not kept
        view.load(loaded);
        explorer::ViewProvider expected = saved;
        if (!view.hasNetworkPrompt) expected.networkPrompt = loaded.networkPrompt;
        EXPECT_EQ(options(loaded), options(expected)) << view.name;
        for (const Field& field : fields(saved)) {
            const test_support::StoredValue stored = test_support::storedValue(remote::remoteOptionsKeyPath,
                                                                               field.name);
            if (field.name == u"Network Prompt" && !view.hasNetworkPrompt) {
                EXPECT_FALSE(stored.exists) << view.name;
                continue;
            }
            EXPECT_EQ(stored.type, platform::registryDword) << view.name << " " << platform::toUtf8(field.name);
            EXPECT_EQ(stored.data.size(), field.storedSize) << view.name << " " << platform::toUtf8(field.name);
        }
    }
}

TEST_F(RemoteOptions, AValueIsReadOnlyInItsOwnSize) {
    const struct Case {
        std::u16string_view name;
        std::vector<std::uint8_t> data;
        std::string read;
    } table[] = {
        {u"Show Parent", {1, 0, 0, 0}, "Show Parent=0"},  // a 4-byte flag does not fit the 1-byte field
        {u"Show Parent", {1}, "Show Parent=1"},
        {u"Large Icon", {1}, "Large Icon=1"},
        {u"Title Info", {3, 0, 0, 0}, "Title Info=3"},
        {u"Network Prompt", {6, 0, 0, 0}, "Network Prompt=6"},
        {u"Filter", {0x0C, 0x01, 0, 0}, "Filter=268"},
        {u"Filter", {7}, "Filter=7"},  // a shorter value fills the low byte of a cleared field
    };
    for (const Case& test : table) {
        remote::setRemoteDefaults(remoteProvider);
        remoteProvider.filterIndex = 0xFFFFFFFF;  // loading sets it to 0 first
        ASSERT_TRUE(test_support::storeValue(remote::remoteOptionsKeyPath, test.name, platform::registryDword,
                                             test.data.data(), std::uint32_t(test.data.size())));
        remote::loadRemoteOptions();
        EXPECT_NE(options(remoteProvider).find(test.read + " "), std::string::npos)
            << platform::toUtf8(test.name) << " of " << test.data.size() << " bytes";
    }
}

// Only a 4-byte value of 1 to 8 is a number of simultaneous copies: anything else, or
// nothing, reads as 1. The number is saved with the other options.
TEST_F(RemoteOptions, SimultaneousCopiesAreReadOnlyWithinOneToEight) {
    const struct Case {
        std::vector<std::uint8_t> data;
        int read;
    } table[] = {
        {{}, 1},           {{4, 0, 0, 0}, 4}, {{8, 0, 0, 0}, 8},
        {{0, 0, 0, 0}, 1}, {{9, 0, 0, 0}, 1}, {{0xFF, 0xFF, 0xFF, 0xFF}, 1},
        {{4}, 1},
    };
    for (const Case& test : table) {  // the first stores nothing
        if (!test.data.empty()) {
            ASSERT_TRUE(test_support::storeValue(remote::remoteOptionsKeyPath, u"SimultaneousCopies",
                                                 platform::registryDword, test.data.data(),
                                                 std::uint32_t(test.data.size())));
        }
        remote::loadRemoteOptions();
        EXPECT_EQ(remote::simultaneousCopies(), test.read) << test.data.size() << " bytes";
    }
    remote::saveRemoteOptions(remoteProvider);
    EXPECT_EQ(test_support::storedValue(remote::remoteOptionsKeyPath, u"SimultaneousCopies").data,
              (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

}  // namespace
