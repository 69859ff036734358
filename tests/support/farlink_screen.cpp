#include "tests/support/farlink_screen.h"

#include <chrono>
#include <thread>

#include "app/main_window.h"
#include "explorer/icons.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/list_view.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_listing.h"
#include "resources/dialogs.h"
#include "resources/menus.h"

namespace test_support {

std::optional<platform::InputEvent> BoxWatchingTerminal::readInput(int timeoutMs) {
    std::optional<platform::InputEvent> event = screen_.readInput(timeoutMs);
    // The end of the script ends the innermost loop: a box on the screen now is closed by it.
    if (event && event->kind == platform::InputEvent::Kind::endOfInput) {
        std::string shown = screen_.screenText();
        std::string caption = boxCaption(shown);
        if (!caption.empty()) {
            closedBoxes_.push_back(std::move(caption));
            lastBoxScreen_ = std::move(shown);
        }
    }
    return event;
}

FarlinkScreen::FarlinkScreen(int columns, int rows, const std::string& home)
    : homeVariable("HOME", root.path() + home), screenRows(rows), terminal(columns, rows) {
    // The explorer keeps its image list for the life of the program, and the listing
    // cache folder once made: each test has a window system and a root of its own.
    explorer::dropImageList();
    remote::removeListingCache();
    // The keys scripted for after a server command wait until its wait screen goes, as a
    // user's do: under load a command may outlast the screen's delay.
    terminal.holdWhile([] {
        return static_cast<bool>(platform::getDialogItem(platform::getForegroundWindow(), resources::waitingText));
    });
}

FarlinkScreen::~FarlinkScreen() { endProgram(); }

void FarlinkScreen::endProgram() {
    EXPECT_TRUE(app::finishListings(std::chrono::seconds(5)));
    remote::shutdownRemote();
    explorer::deviceProvider = pristine;
    explorer::remoteProvider = pristineRemote;
    explorer::queueProvider = pristineQueue;
    explorer::currentProvider = &explorer::deviceProvider;
}

void FarlinkScreen::sortByName() {
    const std::uint32_t byName = explorer::sortName;
    storeValue(u"\\Software\\Tarvik\\Ftp\\2.0", u"Sort", platform::registryDword, &byName, 4);
}

void FarlinkScreen::start() {
    main = app::createMainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(settle());
}

void FarlinkScreen::startWithPlace(const std::string& address, const PlaceLogin& login) {
    addPlace(address, login);
    ASSERT_EQ(remote::savePlaces(), 1);
    start();
}

void FarlinkScreen::play() {
    platform::runMessageLoop(resources::mainAccelerators());
    ASSERT_TRUE(settle());
}

void FarlinkScreen::command(int id) {
    platform::sendMessage(main, platform::MessageId::command, id);
    play();
}

void FarlinkScreen::capture(std::string& into) {
    terminal.atIdle([this, &into] { into = terminal.screenText(); });
}

void FarlinkScreen::waitForScreen(const std::function<bool(const std::string&)>& shows) {
    // Each step waits a tenth of a second for the other thread's call, at most 100 times;
    // those left once the screen shows it pass at once.
    for (int step = 0; step < 100; ++step) {
        terminal.atIdle([this, shows] {
            if (!shows(terminal.screenText())) platform::waitForMessage(100);
        });
    }
}

void FarlinkScreen::waitForBox(const std::string& caption) {
    waitForScreen([caption](const std::string& screen) { return boxCaption(screen) == caption; });
}

void FarlinkScreen::waitForText(const std::string& text) {
    waitForScreen([text](const std::string& screen) { return screen.find(text) != std::string::npos; });
}

std::string FarlinkScreen::shownBy(std::initializer_list<platform::Key> keys, platform::Key answer) {
    std::string shown;
    terminal.pressKeys(keys);
    capture(shown);
    terminal.pressKey(answer);
    play();
    return shown;
}

std::string FarlinkScreen::shownByCommand(int id, platform::Key answer) {
    std::string shown;
    capture(shown);
    terminal.pressKey(answer);
    command(id);
    return shown;
}

std::string FarlinkScreen::askedByCommand(int id, platform::Key answer) {
    platform::sendMessage(main, platform::MessageId::command, id);
    waitForBox("Connect - Farlink");
    return shownBy({}, answer);
}

void FarlinkScreen::setRenameText(std::u16string text) {
    terminal.atIdle(
        [text] { platform::setWindowText(platform::listViewGetEditControl(app::mainWindow.listView), text); });
}

std::string FarlinkScreen::rows() const {
    std::string text;
    for (int row = 2; row < screenRows - 1; ++row) {
        const std::string line = terminal.rowText(row);
        if (!line.empty()) text += line + "\n";
    }
    return text;
}

void FarlinkScreen::drainQueue() {
    for (int i = 0; i < 1000; ++i) {
        play();
        const queue::QueueProgress progress = queue::queueProgress();
        if (!progress.active && progress.pending == 0) {
            play();  // the last record's box and refresh
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FAIL() << "the queue did not finish";
}

std::set<std::string> FarlinkScreen::queuedDestinations() {
    std::set<std::string> destinations;
    for (const int list : {queue::listPending, queue::listActive, queue::listSuccessful, queue::listFailed}) {
        for (const queue::FileOperation& record : queue::listRecords(list))
            destinations.insert(platform::toUtf8(platform::boundedView(record.destination, queue::pathCapacity)));
    }
    return destinations;
}

void FarlinkScreen::focus(const std::string& name) {
    int wanted = -1;
    for (int row = 2; row < screenRows - 1 && wanted < 0; ++row) {
        const std::string line = terminal.rowText(row);
        if (line.size() > 6 && line.substr(6) == name) wanted = row - 2;
    }
    ASSERT_GE(wanted, 0) << "no row '" << name << "' on\n" << terminal.screenText();
    // Down takes the focus from the filter line to the list, as a user does.
    if (platform::getFocus() != app::mainWindow.listView) {
        terminal.pressKey(platform::Key::down);
        play();
    }
    int focused = platform::listViewGetNextItem(app::mainWindow.listView, -1, platform::nextFocused);
    if (focused < 0) {
        terminal.pressKey(platform::Key::down);  // a fresh listing has no focused row: Down focuses the first
        focused = 0;
    }
    for (int step = focused; step < wanted; ++step) terminal.pressKey(platform::Key::down);
    for (int step = focused; step > wanted; --step) terminal.pressKey(platform::Key::up);
    play();
}

void FarlinkScreen::open(const std::string& name) {
    focus(name);
    terminal.pressKey(platform::Key::action);
    play();
}

}  // namespace test_support
