// The Remote view's soft keys and "Remote Menu" driven by keys as a user drives them:
// each entry sends the command that the routing table gives for its text, so an entry
// wired to another id, or one left out of the table, shows.
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

// The keys that reach the entry `path` (menu texts, outermost first) from the opened
// menu, or none when it has no such entry. The platform adds "Help" at the end.
std::vector<Key> keysTo(std::vector<std::u16string_view> path) {
    std::vector<platform::MenuItem> items = resources::remoteMenu.items;
    items.push_back({u"Help", resources::commandHelp, {}});
    std::vector<Key> keys;
    for (std::size_t depth = 0; depth < path.size(); ++depth) {
        const std::vector<platform::MenuItem>* found = nullptr;
        for (const platform::MenuItem& item : items) {
            if (item.text == path[depth]) {
                found = &item.subItems;
                break;
            }
            if (!item.text.empty()) keys.push_back(Key::down);  // separators are stepped over
        }
        if (!found) return {};
        keys.push_back(depth + 1 < path.size() ? Key::right : Key::action);
        items = std::vector<platform::MenuItem>(*found);  // `found` lies inside `items`
    }
    return keys;
}

int leafCount(const std::vector<platform::MenuItem>& items) {
    int count = 0;
    for (const platform::MenuItem& item : items) {
        count += item.subItems.empty() ? (item.text.empty() ? 0 : 1) : leafCount(item.subItems);
    }
    return count;
}

class RemoteMenu : public test_support::FarlinkScreen {
protected:
    RemoteMenu() : FarlinkScreen(60, 24) {}
};

TEST_F(RemoteMenu, EachEntrySendsTheCommandOfItsText) {
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

    struct Entry {
        std::vector<std::u16string_view> path;
        int command;
    };
    const std::vector<Entry> table = {
        {{u"Open"}, commandOpen},
        {{u"Edit File"}, commandEditFile},
        {{u"Properties"}, commandProperties},
        {{u"Edit", u"Cut"}, commandCut},
        {{u"Edit", u"Copy"}, commandCopy},
        {{u"Edit", u"Paste"}, commandPaste},
        {{u"Edit", u"Rename"}, commandRename},
        {{u"Edit", u"Delete"}, commandDelete},
        {{u"Edit", u"New Folder"}, commandNewFolder},
        {{u"Go", u"Up Folder"}, commandUpFolder},
        {{u"Go", u"Root Folder"}, commandRootFolder},
        {{u"Go", u"Refresh"}, commandRefresh},
        {{u"View", u"Large Icons"}, commandLargeIcons},
        {{u"View", u"Small Icons"}, commandSmallIcons},
        {{u"View", u"Sort", u"Name"}, commandSortName},
        {{u"View", u"Sort", u"Type"}, commandSortType},
        {{u"View", u"Sort", u"Size"}, commandSortSize},
        {{u"View", u"Sort", u"Date"}, commandSortDate},
        {{u"View", u"Sort", u"None"}, commandSortNone},
        {{u"View", u"Sort", u"Ascending"}, commandAscending},
        {{u"View", u"Sort", u"Decending"}, commandDescending},
        {{u"Ftp Places", u"New Ftp Place"}, commandNewEntry},
        {{u"Ftp Places", u"Edit Current"}, commandEditCurrent},
        {{u"Ftp Places", u"Delete Current"}, commandDeleteCurrent},
        {{u"Send", u"Copy To Device"}, commandCopyTo},
        {{u"Send", u"Move To Device"}, commandMoveTo},
        {{u"Send", u"Put From Device"}, commandPutFromDevice},
        {{u"Send", u"Synchronize..."}, commandSynchronize},
        {{u"Queue"}, commandQueueView},
        {{u"Settings"}, commandSettings},
        {{u"Exit"}, commandDone},
        {{u"Help"}, commandHelp},
    };
    // Every entry of the menu is in the table (Help is the platform's).
    EXPECT_EQ(leafCount(resources::remoteMenu.items) + 1, int(table.size()));
    for (const Entry& entry : table) {
        std::string name;
        for (const std::u16string_view text : entry.path) name += "/" + platform::toUtf8(text);
        SCOPED_TRACE(name);
        const std::vector<Key> keys = keysTo(entry.path);
        ASSERT_FALSE(keys.empty()) << "no such entry";
        sent.clear();
        terminal.pressKey(Key::rightSoft);
        for (const Key key : keys) terminal.pressKey(key);
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
