// Platform detection: chosen at start or by the environment.
#include "ui/platform_type.h"

#include <gtest/gtest.h>

#include "tests/support/scoped_variable.h"

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

}  // namespace
