// Farlink ends and starts again (a damaged settings file: tests/platform/registry_test.cpp).
#include <gtest/gtest.h>

#include <string>

#include "platform/window/keys.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"

namespace journeys {
namespace {

using platform::Key;
using namespace resources;

using Restart = Journey;

TEST_P(Restart, SettingsFiltersAndPlacesSurviveARestart) {
    root.file("notes.txt", "n");
    root.file("b.txt", "b");
    root.file("photo.jpg", "j");
    savePlace(serverLogin());
    test_support::PlaceLogin other = serverLogin();
    other.name = u"Other";
    savePlace(other);
    start();
    // The Device view's options confirmed last: both views keep theirs under the same
    // names, so the place chosen is not among them.
    command(commandRemoteView);
    terminal.pressKeys({Key::up, Key::right});  // the place "Other"
    play();
    terminal.pressKey(Key::leftSoft);
    command(commandSettings);
    command(commandDeviceView);
    command(commandDescending);
    for (int i = 0; i < 9; ++i) terminal.pressKey(Key::back);  // "My Filter"
    terminal.typeText(u"Text only");
    terminal.pressKeys({Key::down, Key::back, Key::back});  // "*;"
    terminal.typeText(u"*.txt");
    terminal.pressKey(Key::leftSoft);
    command(commandNewEntry);
    terminal.pressKey(Key::leftSoft);  // the sort and the filter chosen are kept on Done
    command(commandSettings);
    const std::string device = terminal.screenText();
    EXPECT_EQ(device,
              " \\ - Farlink\n"
              " < Text only                                              >\n"
              " [T]  notes\n"
              " [T]  b\n"
              "\n\n\n\n\n\n\n\n\n"
              " Remote                                                Menu");

    quit();
    startAgain();
    EXPECT_EQ(terminal.screenText(), device);
    command(commandRemoteView);
    EXPECT_EQ(terminal.rowText(1), " < Box                                                    >");
    terminal.pressKeys({Key::up, Key::right});
    play();
    EXPECT_EQ(terminal.rowText(1), " < Other                                                  >");
}

INSTANTIATE_TEST_SUITE_P(Servers, Restart, ::testing::Values(ServerSetup{test_support::FtpServerKind::Pyftpdlib, true}),
                         setupParamName);

}  // namespace
}  // namespace journeys
