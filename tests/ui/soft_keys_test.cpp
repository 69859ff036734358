// Platform detection and the soft-key helpers.
#include "ui/soft_keys.h"

#include <gtest/gtest.h>

#include "platform/window/dialog.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/menu.h"
#include "platform/window/terminal.h"
#include "resources/menus.h"
#include "resources/strings.h"
#include "tests/support/scoped_variable.h"
#include "ui/platform_type.h"

namespace {

class PlatformType : public ::testing::Test {
protected:
    void TearDown() override { ui::setPlatformType(u""); }
};

TEST_F(PlatformType, ChosenAtStartOrByTheEnvironment) {
    struct Case {
        const char* environment;  // FARLINK_PLATFORM
        std::u16string_view chosen;
        bool pocketPC;
    };
    const Case cases[] = {
        {"", u"", false},
        {"PocketPC", u"", true},
        {"Smartphone", u"", false},
        {"PocketPC", ui::keypadPlatform, false},
        {"", ui::pocketPCPlatform, true},
    };
    for (const Case& c : cases) {
        test_support::ScopedVariable variable("FARLINK_PLATFORM", c.environment);
        ui::setPlatformType(c.chosen);
        ui::detectPlatform();
        EXPECT_EQ(ui::isPocketPC(), c.pocketPC) << c.environment << " " << c.chosen.size();
        EXPECT_EQ(ui::isPocketPCLive(), c.pocketPC) << c.environment << " " << c.chosen.size();
    }
}

class SoftKeys : public PlatformType {
protected:
    platform::HeadlessTerminal terminal{40, 8};
    platform::WindowSystemScope scope{terminal, terminal.clock()};
    platform::Window main = platform::createWindow({.text = u"Farlink"});
};

TEST_F(SoftKeys, HelpIsAddedToTheMenuOnKeypadPhonesOnly) {
    ASSERT_TRUE(platform::createSoftKeyBar(main, resources::deviceBar));
    const platform::Menu menu = platform::softKeyBarGetMenu(platform::findSoftKeyBar(main), platform::SoftKey::right);
    const int items = platform::getMenuItemCount(menu);

    ui::setPlatformType(ui::pocketPCPlatform);
    ui::detectPlatform();
    EXPECT_EQ(ui::addHelpToSoftKeyMenu(main, platform::SoftKey::right), 0);
    EXPECT_EQ(platform::getMenuItemCount(menu), items);

    ui::setPlatformType(ui::keypadPlatform);
    ui::detectPlatform();
    EXPECT_EQ(ui::addHelpToSoftKeyMenu(main, platform::SoftKey::right), 1);
    EXPECT_EQ(platform::getMenuItemCount(menu), items + 1);
    EXPECT_EQ(ui::addHelpToSoftKeyMenu(main, platform::SoftKey::left), 0) << "the left key has no menu";
}

TEST_F(SoftKeys, SoftKeyTextComesFromTheStringTable) {
    ASSERT_TRUE(platform::createSoftKeyBar(main, resources::deviceBar));
    EXPECT_TRUE(ui::setSoftKeyText(main, platform::SoftKey::left, 18055, resources::stringHelp));
    EXPECT_FALSE(ui::setSoftKeyText(main, platform::SoftKey::left, 18055, 4242));
    platform::runUntilIdle();
    EXPECT_EQ(terminal.rowText(7), " Help                              Menu");
}

TEST_F(SoftKeys, ADialogWithoutItsBarEndsWithMinusTen) {
    const platform::DialogTemplate empty{1, u"Empty", {}};
    platform::setSoftKeyBarCreationFails(true);
    const int result = platform::dialogBox(empty, main, [](platform::Window dialog, platform::MessageId message,
                                                           platform::WParam, platform::LParam) -> platform::LResult {
        if (message == platform::MessageId::initDialog) {
            EXPECT_FALSE(ui::initFullScreenDialog(dialog, resources::doneCancelBar, true));
        }
        return 1;
    });
    platform::setSoftKeyBarCreationFails(false);
    EXPECT_EQ(result, -10);
}

TEST_F(SoftKeys, BackErasesInATextFieldAndCancelsElsewhere) {
    const platform::DialogTemplate form{1, u"Form", {{.id = 7, .kind = platform::ControlKind::edit, .text = u"ab"}}};
    std::u16string left;
    terminal.pressKeys({platform::Key::back, platform::Key::back, platform::Key::back});
    const int result = platform::dialogBox(form, main, [&](platform::Window dialog, platform::MessageId message,
                                                           platform::WParam wParam,
                                                           platform::LParam lParam) -> platform::LResult {
        if (message == platform::MessageId::initDialog) {
            ui::initFullScreenDialog(dialog, resources::doneCancelBar, true);
            platform::setFocus(platform::getDialogItem(dialog, 7));
            return 1;
        }
        left = platform::getWindowText(platform::getDialogItem(dialog, 7));
        return ui::handleDialogBackKey(dialog, message, wParam, lParam) ? 1 : 0;
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(left, u"");
}

}  // namespace
