#include "platform/window/menu.h"

#include "platform/window/soft_keys.h"
#include "support.h"

namespace windowtest {
namespace {

const MenuResource deviceMenu{18072,
                              u"Device Menu",
                              {
                                  {u"Refresh", 32855},
                                  {u"Sort By", 0, {{u"Name", 18066}, {u"Size", 18068}}},
                                  {},
                                  {u"Settings", 32872},
                              }};
const SoftKeyBarResource deviceBar{501, {34001, u"Remote"}, {0, u"Menu", &deviceMenu}};

class MenuTest : public WindowTest {
protected:
    void SetUp() override {
        rows = {{u"..", IconId::parentFolder}, {u"Projects", IconId::folder}, {u"notes.txt", IconId::text}};
        createMainWithList();
        createSoftKeyBar(main, deviceBar);
    }
};

// The whole menu over the list is on the program's screens; here, its sub-menu.
TEST_F(MenuTest, TheSoftKeysMenuOpensASubMenuAndSendsTheChosenCommand) {
    terminal.pressKeys({Key::rightSoft, Key::down});
    terminal.pressKey(Key::right);
    terminal.atIdle([&] {
        EXPECT_EQ(terminal.rowText(6), "                  +------+| Refresh    |");
        EXPECT_EQ(terminal.rowText(7), "                  | Name || Sort By  > |");
        EXPECT_EQ(terminal.rowText(8), "                  | Size ||------------|");
    });
    terminal.pressKeys({Key::down, Key::action});
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"command 18068"}));
    EXPECT_EQ(terminal.rowText(11), " Remote                            Menu");
    EXPECT_EQ(getFocus(), list);
}

TEST_F(MenuTest, KeysChooseOrClose) {
    struct Case {
        std::vector<Key> keys;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{Key::rightSoft, Key::action}, {"command 32855"}},
        {{Key::rightSoft, Key::down, Key::down, Key::leftSoft}, {"command 32872"}},  // over the separator
        {{Key::rightSoft, Key::up, Key::action}, {"command 32872"}},                 // wraps to the last
        {{Key::rightSoft, Key::down, Key::action, Key::action}, {"command 18066"}},  // Enter opens the sub-menu
        {{Key::rightSoft, Key::down, Key::right, Key::back, Key::up, Key::action}, {"command 32855"}},
        {{Key::rightSoft, Key::down, Key::right, Key::rightSoft}, {}},  // F2 closes every level
        {{Key::rightSoft, Key::back}, {}},
        {{Key::rightSoft, Key::left}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(keyNames(c.keys));
        play(c.keys);
        EXPECT_EQ(takeEvents(), c.expected);
        EXPECT_EQ(getForegroundWindow(), main);
    }
}

TEST_F(MenuTest, APopupAtAPointStaysOnTheScreen) {
    Menu menu = loadMenu(deviceMenu);
    Menu sort = getSubMenu(menu, 1);
    ASSERT_TRUE(sort);
    EXPECT_FALSE(destroyMenu(sort));  // it belongs to its menu
    terminal.atIdle([&] {
        EXPECT_EQ(terminal.rowText(7), "               +------+");
        EXPECT_EQ(terminal.rowText(10), "               +------+");
    });
    terminal.pressKeys({Key::down, Key::action});
    EXPECT_EQ(trackPopupMenu(sort, alignCenter | alignBottom, {19, 10}, main), 18068);
    terminal.atIdle([&] { EXPECT_EQ(terminal.rowText(0), " Main                     +------------+"); });
    terminal.pressKey(Key::back);
    EXPECT_EQ(trackPopupMenu(menu, alignLeft, {35, -3}, main), 0);
    runUntilIdle();
    EXPECT_EQ(takeEvents(), (std::vector<std::string>{"command 18068"}));
    EXPECT_TRUE(destroyMenu(menu));
    EXPECT_FALSE(getSubMenu(menu, 1));
    EXPECT_EQ(getMenuItemCount(sort), -1);
}

TEST_F(MenuTest, ASubMenuOpensBesideItsParentAndNeverOverIt) {
    const MenuResource wide{
        1, u"Wide", {{u"Refresh", 32855}, {u"Sort By", 0, {{u"Modified", 18067}, {u"Size", 18068}}}}};
    Menu menu = loadMenu(wide);
    // Two rows of the screen, the parent's first two, with the parent at the left edge, at
    // the right (the room there would hold a narrower sub-menu, not this one) and between.
    struct Case {
        Point point;
        unsigned align;
        std::string rows;
    };
    const Case cases[] = {
        {{0, 5}, alignLeft, "| Refresh   |+----------+|| Sort By > || Modified |"},
        {{29, 5}, alignRight, "     +----------+| Refresh   ||     | Modified || Sort By > |"},
        {{14, 5}, alignLeft, "              | Refresh   |+----------+|              | Sort By > || Modified |"},
    };
    for (const Case& c : cases) {
        std::string row;
        terminal.pressKeys({Key::down, Key::right});
        terminal.atIdle([&] { row = terminal.rowText(6) + "|" + terminal.rowText(7); });
        terminal.pressKey(Key::rightSoft);
        EXPECT_EQ(trackPopupMenu(menu, c.align, c.point, main), 0);
        EXPECT_EQ(row, c.rows) << c.point.x;
    }
    destroyMenu(menu);
}

}  // namespace
}  // namespace windowtest
