// The dialog runner: Help, and a dialog whose soft-key bar cannot be made (the rest
// through the dialogs that use it).
#include "ui/dialog_runner.h"

#include <gtest/gtest.h>

#include "resources/dialogs.h"
#include "resources/strings.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/view_fixtures.h"
#include "ui/desktop.h"
#include "ui/platform_type.h"
#include "ui/soft_keys.h"

namespace {

using platform::Key;

const platform::MenuResource advancedMenu{900, u"Menu", {{u"Advanced", 901}}};
const platform::SoftKeyBarResource advancedBar{900, {1, u"Done", nullptr}, {0, u"Menu", &advancedMenu}};

bool openerCalled = false;
bool refusingOpener(const std::string&) {
    openerCalled = true;
    return false;
}

class DialogRunner : public ::testing::Test {
protected:
    void SetUp() override { ui::setDesktopOpener(refusingOpener); }
    void TearDown() override { ui::setPlatformType(u""); }

    // Runs the filter template with the runner; counts what the procedure was given.
    int run(const ui::FullScreenDialog& dialog) {
        return ui::runDialog(dialog, screen.main,
                             [this](platform::Window, platform::MessageId message, platform::WParam,
                                    platform::LParam) -> platform::LResult {
                                 if (message == platform::MessageId::initDialog) ++initialized;
                                 if (message == platform::MessageId::help) ++helpSeen;
                                 return 0;
                             });
    }
    void capture(std::string& shown) {
        screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    }

    // In a terminal the help topic shows full-screen.
    test_support::ScopedVariable noDisplay{"DISPLAY", ""};
    test_support::ScopedVariable noWayland{"WAYLAND_DISPLAY", ""};
    test_support::HeadlessScreen screen{60, 8};
    int initialized = 0;
    int helpSeen = 0;
};

TEST_F(DialogRunner, TheHelpItemOnKeypadsAndTheHelpKeyOpenTheDialogsTopic) {
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::filterDialog,
                                      .keybarCaption = u"Edit Filter",
                                      .helpTopic = resources::stringFilterHelpTopic,
                                      .bar = &advancedBar};
    std::string menu;
    std::string fromMenu;
    std::string fromKey;
    screen.terminal.pressKey(Key::rightSoft);
    capture(menu);
    screen.terminal.pressKeys({Key::down, Key::action});
    capture(fromMenu);
    screen.terminal.pressKeys({Key::leftSoft, Key::help});
    capture(fromKey);
    screen.terminal.pressKeys({Key::leftSoft, Key::leftSoft});
    EXPECT_EQ(run(dialog), 1);
    EXPECT_NE(menu.find("| Advanced |\n"), std::string::npos) << menu;
    EXPECT_NE(menu.find("| Help     |\n"), std::string::npos) << menu;
    const std::string topic = " Help\n Filters\n\n A filter shows only the files";
    EXPECT_TRUE(fromMenu.starts_with(topic)) << fromMenu;
    EXPECT_TRUE(fromKey.starts_with(topic)) << fromKey;
    EXPECT_EQ(helpSeen, 0) << "the runner answers the help key itself";
    EXPECT_FALSE(openerCalled) << "no desktop, no opener";

    ui::setPlatformType(ui::pocketPCPlatform);  // touch screens have help of their own
    screen.terminal.pressKey(Key::rightSoft);
    capture(menu);
    screen.terminal.pressKeys({Key::back, Key::leftSoft});
    EXPECT_EQ(run(dialog), 1);
    EXPECT_EQ(menu.find("Help"), std::string::npos) << menu;
}

// The box under the caller's caption is tried through the place dialog; without a caption
// there is no box.
TEST_F(DialogRunner, WithoutItsBarTheDialogEndsAtOnceUntouched) {
    std::string shown;
    capture(shown);
    platform::setSoftKeyBarCreationFails(true);
    const int result = run({.keypadTemplate = &resources::filterDialog});
    platform::setSoftKeyBarCreationFails(false);
    platform::runUntilIdle();
    EXPECT_EQ(result, ui::keybarFailed);
    EXPECT_EQ(initialized, 0) << "the procedure fills nothing without a bar";
    EXPECT_EQ(shown, " Farlink\n\n\n\n\n\n\n") << "no box, no dialog left behind";
}

}  // namespace
