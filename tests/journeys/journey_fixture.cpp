#include "tests/journeys/journey_fixture.h"

#include <filesystem>

#include "app/main_window.h"
#include "explorer/icons.h"
#include "platform/registry.h"
#include "platform/window/list_view.h"
#include "remote/places.h"
#include "resources/commands.h"

namespace journeys {

namespace fs = std::filesystem;
using platform::Key;

Journey::Journey() : FarlinkScreen(60, 14) {
    // Folders come in listing order, which differs between servers: sorted by name, the
    // screens are alike on both.
    sortByName();
}

test_support::PlaceLogin Journey::serverLogin() const {
    return {.user = server.user(),
            .password = server.password(),
            .passive = std::uint8_t(GetParam().passive ? 1 : 0),
            .name = u"Box"};
}

void Journey::savePlace(const test_support::PlaceLogin& login) {
    const std::string address = server.address();
    test_support::addPlace(GetParam().tls ? "ftpes://localhost" + address.substr(address.rfind(':')) : address, login);
    ASSERT_EQ(remote::savePlaces(), 1);
}

void Journey::start() {
    ASSERT_EQ(server.error(), "");
    FarlinkScreen::start();
}

void Journey::startWithPlace(const test_support::PlaceLogin& login) {
    savePlace(login);
    start();
}

void Journey::quit() {
    platform::destroyWindow(main);
    play();
    endProgram();
    explorer::dropImageList();  // the new list view has a new image list
}

void Journey::startAgain() {
    platform::useRegistryFile(settingsFile());
    start();
}

void Journey::openRemote() {
    command(resources::commandRemoteView);
    if (GetParam().kind == FtpServerKind::Vsftpd) open("pub");
}

void Journey::serveFolder(const std::string& relative) const {
    fs::create_directories(served(relative));
    for (fs::path folder = relative; !folder.empty(); folder = folder.parent_path())
        fs::permissions(served(folder.string()), fs::perms::all);
}

void Journey::serve(const std::string& relative, const std::string& bytes) const {
    const fs::path folder = fs::path(relative).parent_path();
    if (!folder.empty()) serveFolder(folder.string());
    test_support::writeFile(served(relative), bytes);
    fs::permissions(served(relative), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                          fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
}

std::string bytesDiffer(const std::string& expected, const std::string& actual) {
    if (expected == actual) return "";
    if (actual == "<missing>") return "missing";
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return std::to_string(actual.size()) + " bytes, expected " + std::to_string(expected.size()) +
           ", first difference at " + std::to_string(at);
}

}  // namespace journeys
