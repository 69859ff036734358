// The Device view's options: defaults, the values read back (and those that are not), the
// ten values written with their types and data lengths, and the "Explorer Options"
// dialog on both platforms.
#include "local/explorer_options.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/soft_keys.h"
#include "tests/explorer/explorer_fixture.h"
#include "tests/local/local_fixture.h"
#include "ui/platform_type.h"

namespace {

using explorer::ViewProvider;
using local_test::storedValue;
using platform::Key;

void storeDword(std::u16string_view name, std::uint32_t value, std::uint32_t size) {
    platform::RegistryKey key = platform::noKey;
    ASSERT_TRUE(platform::createKey(platform::currentUserKey, local::optionsKeyPath, key));
    platform::setValue(key, name, platform::registryDword, &value, size);
    platform::closeKey(key);
}

ViewProvider scrambled() {
    ViewProvider view;
    view.filterIndex = 9;
    view.sortKey = 3;
    view.ascending = 0;
    view.saveFolder = 0;
    view.largeIcons = 1;
    view.showParent = 1;
    return view;
}

class Options : public ::testing::Test {
protected:
    local_test::TempRegistry registry;
};

TEST_F(Options, WithoutStoredValuesTheDefaultsApplyAndTheRestStays) {
    ViewProvider view = scrambled();
    local::loadDeviceOptions(view);
    EXPECT_EQ(view.filterIndex, 0u);
    EXPECT_EQ(view.sortKey, 0u);
    EXPECT_EQ(view.ascending, 1);
    EXPECT_EQ(view.saveFolder, 1);
    EXPECT_EQ(view.largeIcons, 0);
    EXPECT_EQ(view.showParent, 1);  // as built
}

TEST_F(Options, StoredValuesAreReadOnlyWithTheirOwnLength) {
    struct Case {
        const char16_t* name;
        std::uint32_t stored;
        std::uint32_t size;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {u"Filter", 4, 4, 4},          {u"Sort", 2, 4, 2},           {u"Ascending", 0, 1, 0},
        {u"Large Icon", 1, 1, 1},      {u"Save Folder", 0, 1, 0},    {u"Show Extentions", 1, 1, 1},
        {u"Show Parent", 0, 4, 1},  // 4 bytes do not fit the one-byte field: the field stays
        {u"Show Files", 3, 4, 3},      {u"Confirm", 5, 4, 5},        {u"Title Info", 2, 4, 2},
    };
    for (const Case& c : cases) storeDword(c.name, c.stored, c.size);
    ViewProvider view;
    view.showParent = 1;
    local::loadDeviceOptions(view);
    for (const Case& c : cases) {
        for (const local::StoredOption& option : local::deviceOptions()) {
            if (option.name != c.name) continue;
            const std::uint32_t got = option.wide ? view.*option.wide : view.*option.narrow;
            EXPECT_EQ(got, c.expected) << platform::toUtf8(c.name);
        }
    }
}

TEST_F(Options, SavingWritesTenDwordsWithTheirDataLengths) {
    ViewProvider view;
    view.filterIndex = 2;
    view.sortKey = 4;
    view.ascending = 0;
    view.largeIcons = 1;
    view.saveFolder = 1;
    view.showExtensions = 1;
    view.showParent = 0;
    view.showFiles = 3;
    view.confirm = 5;
    view.titleInfo = 3;
    local::saveDeviceOptions(view);
    struct Expected {
        const char16_t* name;
        std::uint32_t size;
        std::uint32_t value;
    };
    const Expected expected[] = {
        {u"Filter", 4, 2},      {u"Sort", 4, 4},       {u"Ascending", 1, 0},     {u"Large Icon", 1, 1},
        {u"Save Folder", 1, 1}, {u"Show Extentions", 1, 1}, {u"Show Parent", 1, 0}, {u"Show Files", 4, 3},
        {u"Confirm", 4, 5},     {u"Title Info", 4, 3},
    };
    for (const Expected& e : expected) {
        const local_test::StoredValue value = storedValue(local::optionsKeyPath, e.name);
        ASSERT_TRUE(value.exists) << platform::toUtf8(e.name);
        EXPECT_EQ(value.type, platform::registryDword) << platform::toUtf8(e.name);
        ASSERT_EQ(value.data.size(), e.size) << platform::toUtf8(e.name);
        std::uint32_t stored = 0;
        std::memcpy(&stored, value.data.data(), e.size);
        EXPECT_EQ(stored, e.value) << platform::toUtf8(e.name);
    }
    ViewProvider loaded;
    local::loadDeviceOptions(loaded);
    EXPECT_EQ(loaded.titleInfo, 3u);
    EXPECT_EQ(loaded.ascending, 0);
}

class OptionsDialog : public Options {
protected:
    void TearDown() override { ui::setPlatformType(ui::keypadPlatform); }
    explorer::OwnerRecord owner() const { return {screen.main, nullptr}; }

    explorer_test::Screen screen{60, 18};
    ViewProvider view;
};

TEST_F(OptionsDialog, KeypadChoicesAreSpinnerListsAndDoneSavesThem) {
    view.showParent = 1;
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    // "Standard, Hidden" is three steps right of "Any File"; then Show Parent Folder off.
    screen.terminal.pressKeys({Key::right, Key::right, Key::right});
    screen.terminal.pressKeys({Key::down, Key::down, Key::down, Key::down, Key::action, Key::leftSoft});
    ASSERT_EQ(local::editDeviceOptions(view, owner()), 1);
    EXPECT_EQ(shown,
              " Explorer Options\n"
              " File Types:\n"
              "  < Any File                                             >\n"
              " In Title:\n"
              "  < Path                                                 >\n"
              " Confirmation:\n"
              "  < Never (Automatic)                                    >\n"
              " Network:\n"
              "  <                                                      >\n"
              "  [x] Start from Last Folder\n"
              "  [x] Show Parent Folder\n"
              "  [ ] Show File Extentions\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              " Done                                                Cancel");
    EXPECT_EQ(view.showFiles, 3u);
    EXPECT_EQ(view.showParent, 0);
    EXPECT_EQ(storedValue(local::optionsKeyPath, u"Show Files").data, (std::vector<std::uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(storedValue(local::optionsKeyPath, u"Ascending").data, (std::vector<std::uint8_t>{1}));
}

TEST_F(OptionsDialog, TouchScreensGetDropDownListsBesideTheirLabels) {
    ui::setPlatformType(ui::pocketPCPlatform);
    view.titleInfo = 3;
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(Key::rightSoft);
    EXPECT_EQ(local::editDeviceOptions(view, owner()), 0);
    EXPECT_EQ(shown,
              " Explorer Options\n"
              " File Types:   Any File                     v\n"
              " In Title:     Path, Filter, and Count      v\n"
              " Confirm:      Never (Automatic)            v\n"
              " Network:                                   v\n"
              "\n"
              "  [x] Start from Last Folder\n"
              "  [ ] Show Parent Folder\n"
              "  [ ] Show File Extentions\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              " Done                                                Cancel");
    EXPECT_FALSE(storedValue(local::optionsKeyPath, u"Title Info").exists) << "Cancel saves nothing";
}

TEST_F(OptionsDialog, WithoutASoftKeyBarItSaysSoAndSavesNothing) {
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(Key::leftSoft);
    platform::setSoftKeyBarCreationFails(true);
    const int result = local::editDeviceOptions(view, owner());
    platform::setSoftKeyBarCreationFails(false);
    EXPECT_EQ(result, 0);
    EXPECT_NE(shown.find("Explorer Options"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Unable to create Keybar."), std::string::npos) << shown;
    EXPECT_FALSE(storedValue(local::optionsKeyPath, u"Filter").exists);
}

}  // namespace
