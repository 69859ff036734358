// The Device view's options: the ten values written with their types and data lengths,
// the values read back, and the "Explorer Options" dialog on touch screens (the program's
// tests change settings through the keypad one; the Remote view's tests, a value too long
// for its field, which both views read alike).
#include "local/explorer_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/view_fixtures.h"
#include "ui/platform_type.h"

namespace {

using explorer::ViewProvider;
using test_support::storedValue;

class Options : public ::testing::Test {
protected:
    test_support::TemporaryRegistry registry;
};

TEST_F(Options, SavingWritesTenDwordsWithTheirDataLengthsAndLoadingReadsThemBack) {
    ViewProvider view;
    view.filterIndex = 2;
    view.sortKey = 4;
    view.ascending = 0;
    view.largeIcons = 1;
    view.saveFolder = 0;
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
        {u"Filter", 4, 2},      {u"Sort", 4, 4},        {u"Ascending", 1, 0},
        {u"Large Icon", 1, 1},  {u"Save Folder", 1, 0}, {u"Show Extentions", 1, 1},
        {u"Show Parent", 1, 0}, {u"Show Files", 4, 3},  {u"Confirm", 4, 5},
        {u"Title Info", 4, 3},
    };
    for (const Expected& e : expected) {
        const test_support::StoredValue value = storedValue(local::optionsKeyPath, e.name);
        EXPECT_EQ(value.type, platform::registryDword) << platform::toUtf8(e.name);
        ASSERT_EQ(value.data.size(), e.size) << platform::toUtf8(e.name);
        std::uint32_t stored = 0;
        std::memcpy(&stored, value.data.data(), e.size);
        EXPECT_EQ(stored, e.value) << platform::toUtf8(e.name);
    }
    const auto settings = [](const ViewProvider& v) {
        return std::tuple(v.filterIndex, v.sortKey, v.ascending, v.largeIcons, v.saveFolder, v.showExtensions,
                          v.showParent, v.showFiles, v.confirm, v.titleInfo);
    };
    ViewProvider loaded;
    loaded.showParent = 1;
    local::loadDeviceOptions(loaded);
    EXPECT_EQ(settings(loaded), settings(view));
}

TEST_F(Options, TouchScreensGetDropDownListsBesideTheirLabelsAndBackCancels) {
    ui::setPlatformType(ui::pocketPCPlatform);
    test_support::HeadlessScreen screen(60, 11);
    ViewProvider view;
    view.titleInfo = 3;
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(platform::Key::back);      // outside a text field Back cancels
    screen.terminal.pressKey(platform::Key::leftSoft);  // Done, were the dialog still open
    const int result = local::editDeviceOptions(view, {screen.main, nullptr});
    ui::setPlatformType(ui::keypadPlatform);
    EXPECT_EQ(result, 0);
    EXPECT_NE(shown.find(" File Types:   Any File "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" In Title:     Path, Filter, and Count "), std::string::npos) << shown;
    EXPECT_FALSE(storedValue(local::optionsKeyPath, u"Title Info").exists) << "a cancelled dialog saves nothing";
}

}  // namespace
