// The "Ftp Connection" dialogs and "Ftp Options" as the user meets them.
#include "remote/place_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/soft_keys.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_options.h"
#include "resources/dialogs.h"
#include "tests/support/view_fixtures.h"
#include "ui/platform_type.h"

namespace {

using platform::Key;
using platform::toUtf8;
using remote::PlaceDialogData;

template <std::size_t N>
std::string text(const char16_t (&field)[N]) {
    return toUtf8(platform::boundedView(field, N));
}

class PlaceDialog : public ::testing::Test {
protected:
    ~PlaceDialog() override {
        ui::setPlatformType(ui::keypadPlatform);
        remote::shutdownRemote();
    }
    // The screen as the dialog shows it once the keys given so far are handled.
    void capture(std::string& into) {
        screen.terminal.atIdle([this, &into] { into = screen.terminal.screenText(); });
    }
    int editNewPlace() { return remote::editPlace(remote::placeCount(), {screen.main}); }

    test_support::TemporaryRegistry registry;
    test_support::HeadlessScreen screen{60, 14};
};

// Touch screens put each field beside its label, and their menu has no Help.
TEST_F(PlaceDialog, KeypadAndTouchScreensShowTheirOwnLayouts) {
    struct Case {
        bool touch;
        bool advanced;
        const char* shown;
        const char* absent;
    };
    const Case cases[] = {
        {false, false, " Connection Name:\n  My ftp.example.com Connection\n", nullptr},
        {false, false, "| Help ", nullptr},
        {true, false, " Connection Name:  My ftp.example.com Connection\n", "Help"},
        {true, false, " Password:         ****\n", nullptr},
        {false, true, " Port:\n  < 21 ", nullptr},
        {true, true, " Port:             < 21 ", nullptr},
    };
    for (const Case& c : cases) {
        ui::setPlatformType(c.touch ? ui::pocketPCPlatform : ui::keypadPlatform);
        PlaceDialogData data = *remote::placeDialogData(0, screen.main);
        platform::copyBounded(data.userName, 64, u"joe");
        platform::copyBounded(data.password, 64, u"pass");
        std::string shown;
        if (c.advanced) {
            capture(shown);
            screen.terminal.pressKey(Key::rightSoft);
        } else {
            // Cancel is the second item of the right soft key's menu.
            screen.terminal.pressKey(Key::rightSoft);
            capture(shown);
            screen.terminal.pressKeys({Key::down, Key::action});
        }
        const int result = c.advanced ? remote::runAdvancedPlaceDialog(data, screen.main)
                                      : remote::runPlaceDialog(data, screen.main);
        EXPECT_EQ(result, 2);
        EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
        if (c.absent) {
            EXPECT_EQ(shown.find(c.absent), std::string::npos) << shown;
        }
    }
}

TEST_F(PlaceDialog, ANewPlaceConfirmedAsOfferedIsStoredWithTheDefaults) {
    std::pair<int, int> selection;
    screen.terminal.atIdle([&] { selection = platform::editGetSelection(platform::getFocus()); });
    screen.terminal.pressKey(Key::leftSoft);
    ASSERT_EQ(editNewPlace(), 1);
    // The host's middle part is offered for typing over.
    EXPECT_EQ(selection, std::make_pair(4, 11));
    const remote::FtpPlace& place = *remote::placeAt(0);
    EXPECT_EQ(text(place.name) + "|" + text(place.host) + "|" + text(place.userName) + "|" + text(place.startupFolder) +
                  "|" + text(place.filterPattern) + "|" + std::to_string(place.port) + " " +
                  std::to_string(place.passive) + std::to_string(place.autoReconnect) +
                  std::to_string(place.rememberFolder),
              "My ftp.example.com Connection|ftp.example.com||/|*|21 111");
}

TEST_F(PlaceDialog, ANameMadeFromTheHostFollowsItAndAnotherNameStays) {
    struct Case {
        const char16_t* name;
        const char* expectedName;
    };
    const Case cases[] = {
        {nullptr, "My ftp.localhost.com Connection"},  // the new place's own name
        {u"Work server", "Work server"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(remote::loadPlaces(), 1);      // an empty list again
        screen.terminal.typeText(u"localhost");  // types over "example"
        if (c.name) {
            screen.terminal.pressKey(Key::up);
            // Back erases the name that followed the host; once more would cancel.
            for (std::size_t i = 0; i < std::strlen(cases[0].expectedName); ++i) screen.terminal.pressKey(Key::back);
            screen.terminal.typeText(c.name);
        }
        screen.terminal.pressKey(Key::leftSoft);
        ASSERT_EQ(editNewPlace(), 1);
        EXPECT_EQ(text(remote::placeAt(0)->host), "ftp.localhost.com");
        EXPECT_EQ(text(remote::placeAt(0)->name), c.expectedName);
    }
}

TEST_F(PlaceDialog, AnonymousLocksTheLoginAndLogsInAsAnonymous) {
    screen.terminal.pressKeys({Key::down, Key::action, Key::down});  // Anonymous on, then the user field
    screen.terminal.typeText(u"joe");                                // refused: read-only
    std::u16string typed = u"?";
    screen.terminal.atIdle([&] {
        typed = platform::getWindowText(
            platform::getDialogItem(platform::getForegroundWindow(), resources::placeUserEdit));
    });
    screen.terminal.pressKey(Key::leftSoft);
    ASSERT_EQ(editNewPlace(), 1);
    EXPECT_EQ(typed, u"");
    EXPECT_EQ(text(remote::placeAt(0)->userName), "anonymous");
    EXPECT_EQ(text(remote::placeAt(0)->password), "anonymous@example.com");

    // Edited again, the box starts checked, and unchecking it gives the fields back.
    bool checked = false;
    screen.terminal.atIdle([&] {
        checked = platform::checkBoxIsChecked(
            platform::getDialogItem(platform::getForegroundWindow(), resources::placeAnonymousCheck));
    });
    screen.terminal.pressKeys({Key::down, Key::action, Key::down});
    for (int i = 0; i < 9; ++i) screen.terminal.pressKey(Key::back);
    screen.terminal.typeText(u"joe");
    screen.terminal.pressKey(Key::leftSoft);
    ASSERT_EQ(remote::editPlace(0, {screen.main}), 1);
    EXPECT_TRUE(checked);
    EXPECT_EQ(text(remote::placeAt(0)->userName), "joe");
}

// SFTP has a port of its own and no anonymous login: the box is ignored for it.
TEST_F(PlaceDialog, AnSftpHostTakesPort22FromTheFtpDefaultAndNoAnonymousLogin) {
    for (int i = 0; i < 5; ++i) screen.terminal.pressKey(Key::back);  // "example", then "ftp."
    screen.terminal.typeText(u"SFTP://files");
    screen.terminal.pressKeys({Key::down, Key::action, Key::leftSoft});  // Anonymous on, Done
    ASSERT_EQ(editNewPlace(), 1);
    EXPECT_EQ(text(remote::placeAt(0)->host), "SFTP://files.com");
    EXPECT_EQ(remote::placeAt(0)->port, 22u);
    EXPECT_EQ(text(remote::placeAt(0)->userName), "");
}

TEST_F(PlaceDialog, TheSpinnersStepThePortAndTimeOutWithinTheirRange) {
    struct Case {
        std::uint32_t port;
        std::initializer_list<Key> keys;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {21, {Key::right, Key::right}, 23},
        {21, {Key::left}, 20},
        {32767, {Key::right}, 32767},
        {1, {Key::left}, 1},
    };
    for (const Case& c : cases) {
        PlaceDialogData data = *remote::placeDialogData(0, screen.main);
        data.port = c.port;
        data.timeout = c.port;
        screen.terminal.pressKey(Key::down);  // the port
        screen.terminal.pressKeys(c.keys);
        screen.terminal.pressKey(Key::down);  // the time-out
        screen.terminal.pressKeys(c.keys);
        screen.terminal.pressKey(Key::leftSoft);
        ASSERT_EQ(remote::runAdvancedPlaceDialog(data, screen.main), 1);
        EXPECT_EQ(data.port, c.expected) << c.port;
        EXPECT_EQ(data.timeout, c.expected) << c.port;
    }
}

TEST_F(PlaceDialog, WithoutASoftKeyBarTheEditEndsAndSaysSo) {
    std::string shown;
    capture(shown);
    screen.terminal.pressKey(Key::leftSoft);  // OK
    platform::setSoftKeyBarCreationFails(true);
    const int result = editNewPlace();
    platform::setSoftKeyBarCreationFails(false);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(remote::placeCount(), 0);
    EXPECT_NE(shown.find("Edit Ftp Place"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Unable to create Keybar."), std::string::npos) << shown;
}

TEST_F(PlaceDialog, FtpOptionsAreWrittenOnDoneOnly) {
    explorer::ViewProvider view;
    remote::setRemoteDefaults(view);
    // File Types: 14 steps back from "Standard Files" wraps to "Hidden, System, ROM";
    // In Title: three steps on to "Path, Filter, and Count"; the fifth list: 3 simultaneous copies.
    screen.terminal.pressKeys({Key::left, Key::left});
    screen.terminal.pressKeys({Key::down, Key::right, Key::right, Key::right});
    screen.terminal.pressKeys({Key::down, Key::down, Key::down, Key::right, Key::right, Key::leftSoft});
    ASSERT_EQ(remote::editRemoteOptions(view, {screen.main}), 1);
    const auto storedWord = [](std::u16string_view name) {
        const test_support::StoredValue value = test_support::storedValue(remote::remoteOptionsKeyPath, name);
        return value.data.size() == 4 ? value.data[0] | value.data[1] << 8 : -1;
    };
    EXPECT_EQ(storedWord(u"Show Files"), 14);
    EXPECT_EQ(storedWord(u"Title Info"), 3);
    EXPECT_EQ(storedWord(u"SimultaneousCopies"), 3);
    EXPECT_EQ(remote::simultaneousCopies(), 3);

    screen.terminal.pressKeys({Key::right, Key::rightSoft});  // a change, then Cancel
    EXPECT_EQ(remote::editRemoteOptions(view, {screen.main}), 0);
    EXPECT_EQ(storedWord(u"Show Files"), 14);
}

}  // namespace
