// What the program's tests share: Farlink's main window on a headless screen, with a
// registry, a device root and an environment of the test's own (no desktop), the loop
// played until the listings are complete, and the views restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "explorer/provider.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/view_fixtures.h"

namespace test_support {

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
    void suspend() override { screen_.suspend(); }
    void resume() override { screen_.resume(); }

private:
    platform::HeadlessTerminal& screen_;
    std::vector<std::string> closedBoxes_;
    std::string lastBoxScreen_;
};

class FarlinkScreen : public ::testing::Test {
protected:
    // HOME is the device root followed by `home` (for example "/home/me").
    FarlinkScreen(int columns, int rows, const std::string& home = "");
    ~FarlinkScreen() override;

    // Stores the Sort option "by name", so that files come in one order everywhere.
    static void sortByName();
    // Starts Farlink and waits for its first listing.
    void start();
    // Saves a place for "HOST:PORT" as the place dialog does, then starts Farlink.
    void startWithPlace(const std::string& address, const PlaceLogin& login = {});
    // Farlink's end as the program's: the listings and the queue's worker end before the
    // places go, and the views are bound again as before the start.
    void endProgram();
    // Plays the keys given so far in the program's own loop (the accelerators apply) and
    // waits until the listings they started are complete.
    void play();
    // Moves the focus to the row that shows `name` (without its extension for files).
    void focus(const std::string& name);
    void open(const std::string& name);
    // Carries out a command now; a dialog or box it opens plays the keys meanwhile.
    void command(int id);
    // The screen as the keys reach this point (for modal boxes and dialogs).
    void capture(std::string& into);
    // Lets the keys that follow wait (a bounded while) until the screen shows what
    // another thread's work opens, such as a box it asks the UI thread for.
    void waitForScreen(const std::function<bool(const std::string&)>& shows);
    // The box of that caption; a screen that shows `text`.
    void waitForBox(const std::string& caption);
    void waitForText(const std::string& text);
    // The screen that `keys` lead to (a box, a menu), which `answer` then closes; played.
    std::string shownBy(std::initializer_list<platform::Key> keys, platform::Key answer);
    // The screen of the box that command `id` opens, which `answer` closes.
    std::string shownByCommand(int id, platform::Key answer);
    // The same for the "Connect - Farlink" box that command `id` leads to from another thread.
    std::string askedByCommand(int id, platform::Key answer);
    // Replaces the text of the open rename as the keys reach this point, as the user would
    // by erasing and typing.
    void setRenameText(std::u16string text);
    // The rows' lines, from below the filter line to above the soft keys.
    std::string rows() const;
    // Runs the loop until the queue has carried out every record (bounded).
    void drainQueue();
    // The destinations of the queue's records, in every list.
    static std::set<std::string> queuedDestinations();

    TemporaryRegistry registry;
    DeviceRoot root;
    ScopedVariable homeVariable;
    ScopedVariable noDesktop{"DISPLAY", ""};
    ScopedVariable noWayland{"WAYLAND_DISPLAY", ""};
    TemporaryFolder cacheHome;  // for the listing cache
    ScopedVariable cacheVariable{"XDG_CACHE_HOME", cacheHome.path()};
    const int screenRows;
    platform::HeadlessTerminal terminal;
    BoxWatchingTerminal boxes{terminal};
    platform::WindowSystemScope scope{boxes, terminal.clock()};
    platform::Window main;
    explorer::ViewProvider pristine = explorer::deviceProvider;
    explorer::ViewProvider pristineRemote = explorer::remoteProvider;
    explorer::ViewProvider pristineQueue = explorer::queueProvider;
};

}  // namespace test_support
