// Farlink as a user meets it, from start to end, against a real FTP server on loopback:
// the program's own main window on a headless screen, keys and menu commands in, screens
// and the files on both sides out. Each journey runs on pyftpdlib and vsftpd, with
// passive and active data connections.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "explorer/provider.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace journeys {

struct ServerSetup {
    test_support::FtpServerKind kind;
    bool passive;
};
std::string setupName(const ::testing::TestParamInfo<ServerSetup>& info);
inline constexpr ServerSetup everySetup[] = {
    {test_support::FtpServerKind::Pyftpdlib, true},
    {test_support::FtpServerKind::Pyftpdlib, false},
    {test_support::FtpServerKind::Vsftpd, true},
    {test_support::FtpServerKind::Vsftpd, false},
};

// The headless terminal as the window system sees it, keeping the boxes that the end of
// the script closes (every box of a journey that no key answers): their captions, and
// the whole screen under the last of them.
class BoxWatchingTerminal final : public platform::TerminalBackend {
public:
    explicit BoxWatchingTerminal(platform::HeadlessTerminal& screen) : screen_(screen) {}
    const std::vector<std::string>& closedBoxes() const { return closedBoxes_; }
    int ftpErrorBoxes() const { return int(std::count(closedBoxes_.begin(), closedBoxes_.end(), "Ftp Error")); }
    const std::string& lastBoxScreen() const { return lastBoxScreen_; }

    platform::TerminalSize size() override { return screen_.size(); }
    void write(int row, int column, std::span<const platform::Cell> cells) override {
        screen_.write(row, column, cells);
    }
    void setCursor(int row, int column, bool visible) override { screen_.setCursor(row, column, visible); }
    void flush() override { screen_.flush(); }
    std::optional<platform::InputEvent> readInput(int timeoutMs) override;
    void wake() override { screen_.wake(); }
    void bell() override { screen_.bell(); }
    bool unicode() override { return screen_.unicode(); }

private:
    platform::HeadlessTerminal& screen_;
    std::vector<std::string> closedBoxes_;
    std::string lastBoxScreen_;
};

// The caption of the message box on `screen`, "" when none is open.
std::string boxCaption(const std::string& screen);

// Farlink with settings, a device root and a server of the journey's own; the server's
// writable folder holds what the journey puts there before start().
class Journey : public ::testing::TestWithParam<ServerSetup> {
protected:
    Journey();
    ~Journey() override;

    // The place "Box" for the server, as the place dialog makes it.
    void savePlace(const test_support::PlaceLogin& changes = {});
    test_support::PlaceLogin serverLogin() const;
    // Starts Farlink and waits for its first listing.
    void start();
    // Farlink ends (its main window destroyed), and starts again on the settings file as
    // stored then.
    void quit();
    void startAgain();
    // Plays the keys given so far in the program's loop and waits for the listings.
    void play();
    // Carries out a menu command; a dialog or box it opens plays the keys meanwhile.
    void command(int id);
    // The screen as the keys reach this point (for modal boxes and dialogs).
    void capture(std::string& into);
    // Lets the keys that follow wait (a bounded while) for the box of that caption, which
    // another thread asks the UI thread for.
    void waitForBox(const std::string& caption);
    // Runs the loop until the queue has carried out every record.
    void drainQueue();
    // The Remote view, in the server's writable folder.
    void openRemote();
    // Moves the focus to the row that shows `name` (without its extension for files).
    void focus(const std::string& name);
    void open(const std::string& name);
    // The rows' lines, below the filter line and above the soft keys.
    std::string rows() const;

    std::string settingsFile() const { return settings / "registry.reg"; }
    std::string served(const std::string& relative) const { return server.hostPath(relative); }
    // Puts a file or folder in the server's writable folder, open to every user: vsftpd's
    // anonymous sessions run as a user of their own.
    void serve(const std::string& relative, const std::string& bytes) const;
    void serveFolder(const std::string& relative) const;

    test_support::TemporaryFolder settings;
    test_support::DeviceRoot root;
    test_support::TemporaryFolder serverRoot;
    test_support::RealFtpServer server{GetParam().kind, serverRoot.path()};
    test_support::ScopedVariable home{"HOME", root.path()};
    test_support::ScopedVariable noDesktop{"DISPLAY", ""};
    test_support::ScopedVariable noWayland{"WAYLAND_DISPLAY", ""};
    test_support::ScopedVariable timeZone{"TZ", "UTC"};
    test_support::TemporaryFolder cacheHome;
    test_support::ScopedVariable cacheVariable{"XDG_CACHE_HOME", cacheHome.path()};
    static constexpr int screenRows = 14;
    platform::HeadlessTerminal terminal{60, screenRows};
    BoxWatchingTerminal boxes{terminal};
    platform::WindowSystemScope scope{boxes, terminal.clock()};
    platform::Window main;
    explorer::ViewProvider pristine = explorer::deviceProvider;
    explorer::ViewProvider pristineRemote = explorer::remoteProvider;
    explorer::ViewProvider pristineQueue = explorer::queueProvider;
};

// "" when `actual` holds `expected`, else how it differs (sizes, first different byte).
std::string bytesDiffer(const std::string& expected, const std::string& actual);
// What differs between two host folders, file by file and byte by byte ("" when they
// hold the same names, folders and bytes).
std::string treeDifferences(const std::string& expected, const std::string& actual);

}  // namespace journeys
