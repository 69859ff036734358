// The Remote view's soft keys and "Remote Menu" driven by keys as a user drives them:
// each entry of the menu, reached by its keys, sends its own command to the window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "explorer/provider.h"
#include "platform/text.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"

namespace {

using platform::Key;
using namespace resources;

// An entry of the menu: the path of its texts, the keys that reach it from the opened
// menu, and its command.
struct Entry {
    std::string name;
    std::vector<Key> keys;
    int command = 0;
};

// Every entry of `items` below the keys `before`: Down steps over an entry (separators
// are skipped), Right opens a submenu, Enter chooses.
void collectEntries(const std::vector<platform::MenuItem>& items, const std::string& path,
                    const std::vector<Key>& before, std::vector<Entry>& entries) {
    std::vector<Key> keys = before;
    for (const platform::MenuItem& item : items) {
        if (item.text.empty()) continue;
        const std::string name = path + "/" + platform::toUtf8(item.text);
        std::vector<Key> reach = keys;
        reach.push_back(item.subItems.empty() ? Key::action : Key::right);
        if (item.subItems.empty()) entries.push_back({name, reach, item.command});
        else collectEntries(item.subItems, name, reach, entries);
        keys.push_back(Key::down);
    }
}

class RemoteMenu : public test_support::FarlinkScreen {
protected:
    RemoteMenu() : FarlinkScreen(60, 24) {}
};

TEST_F(RemoteMenu, EachEntrySendsItsCommand) {
    test_support::addPlace("127.0.0.1:1");  // nothing listens: the view shows its error row
    start();
    command(commandRemoteView);
    ASSERT_EQ(explorer::currentProvider, &explorer::remoteProvider);

    // The window records each command instead of carrying it out.
    std::vector<int> sent;
    platform::WindowProcedure own;
    own = platform::setWindowProcedure(main,
                                       [&](platform::Window window, platform::MessageId message,
                                           platform::WParam wParam, platform::LParam lParam) -> platform::LResult {
                                           if (message != platform::MessageId::command)
                                               return own(window, message, wParam, lParam);
                                           sent.push_back(platform::commandId(wParam));
                                           return 1;
                                       });

    // The platform adds Help at the end.
    std::vector<platform::MenuItem> items = resources::remoteMenu.items;
    items.push_back({u"Help", resources::commandHelp, {}});
    std::vector<Entry> entries;
    collectEntries(items, "", {}, entries);
    for (const Entry& entry : entries) {
        SCOPED_TRACE(entry.name);
        sent.clear();
        terminal.pressKey(Key::rightSoft);
        for (const Key key : entry.keys) terminal.pressKey(key);
        platform::runMessageLoop(resources::mainAccelerators());
        EXPECT_EQ(sent, std::vector<int>{entry.command});
    }
    // The left soft key, let go at once, goes to the Device view.
    sent.clear();
    terminal.pressKey(Key::leftSoft);
    terminal.advanceTime(550);
    platform::runMessageLoop(resources::mainAccelerators());
    EXPECT_EQ(sent, std::vector<int>{18072});

    platform::setWindowProcedure(main, own);
}

}  // namespace
