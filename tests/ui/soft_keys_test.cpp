// Platform detection and the soft keys' labels. The menu's Help item, Back in dialogs and
// dialogs without their bar are tried where they are used, in the program's and the
// Device view's tests.
#include "ui/soft_keys.h"

#include <gtest/gtest.h>

#include "resources/menus.h"
#include "resources/strings.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/view_fixtures.h"
#include "ui/platform_type.h"

namespace {

TEST(PlatformType, ChosenAtStartOrByTheEnvironment) {
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
    ui::setPlatformType(u"");
}

TEST(SoftKeys, SoftKeyTextComesFromTheStringTable) {
    test_support::HeadlessScreen screen(40, 3);
    ASSERT_TRUE(platform::createSoftKeyBar(screen.main, resources::deviceBar));
    EXPECT_TRUE(ui::setSoftKeyText(screen.main, platform::SoftKey::left, 18055, resources::stringHelp));
    EXPECT_FALSE(ui::setSoftKeyText(screen.main, platform::SoftKey::left, 18055, 4242));
    platform::runUntilIdle();
    EXPECT_EQ(screen.terminal.rowText(2), " Help                              Menu");
}

}  // namespace
