// The Device view's "Explorer Options" dialog on touch screens (the keypad form and the
// stored values: tests/remote).
#include "local/explorer_options.h"

#include <gtest/gtest.h>

#include <string>

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
