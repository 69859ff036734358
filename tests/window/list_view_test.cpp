#include "platform/window/list_view.h"

#include "support.h"

namespace windowtest {
namespace {

class ListViewTest : public WindowTest {
protected:
    void SetUp() override {
        rows = {{u"..", IconId::parentFolder},
                {u"Projects", IconId::folder},
                {u"notes.txt", IconId::text},
                {u"holiday.jpg", IconId::image},
                {u"\u6771\u4EAC.txt", IconId::text}};
        createMainWithList();
    }

    int focusedRow() { return listViewGetNextItem(list, -1, nextFocused); }
    void focusRow(int row) {
        listViewSetItemState(list, -1, 0, itemSelected | itemFocused);
        listViewSetItemState(list, row, itemSelected | itemFocused, itemSelected | itemFocused);
    }
};

TEST_F(ListViewTest, ReportModeShowsIconAndNameWithTheSelectedRowHighlighted) {
    focusRow(1);
    listViewSetItemState(list, 3, itemCut, itemCut);
    runUntilIdle();
    EXPECT_EQ(terminal.screenText(),
              " Main\n"
              " [..] ..\n"
              " [D]  Projects\n"
              " [T]  notes.txt\n"
              " [I]  holiday.jpg\n"
              " [T]  \u6771\u4EAC.txt\n"
              "\n\n\n\n\n");
    EXPECT_EQ(terminal.styleAt(2, 10), CellStyle::selected);
    EXPECT_EQ(terminal.styleAt(2, 39), CellStyle::selected);  // the whole line
    EXPECT_EQ(terminal.styleAt(4, 7), CellStyle::cut);
    EXPECT_EQ(terminal.styleAt(3, 7), CellStyle::normal);
    EXPECT_EQ(terminal.cellAt(5, 7).character, 0u);  // second half of a wide character
}

TEST_F(ListViewTest, IconModeLaysRowsOutInAGrid) {
    listViewSetMode(list, ListViewMode::icon);
    focusRow(0);
    runUntilIdle();
    EXPECT_EQ(terminal.screenText(),
              " Main\n"
              "     [..]          [D]\n"
              "      ..         Projects\n"
              "\n"
              "     [T]           [I]\n"
              "  notes.txt    holiday.jpg\n"
              "\n"
              "     [T]\n"
              "   \u6771\u4EAC.txt\n"
              "\n\n");
    EXPECT_EQ(listViewGetCountPerPage(list), 6);
}

TEST_F(ListViewTest, KeysReachTheOwnerAsNotifications) {
    hook = [](Window, MessageId message, WParam, LParam lParam) -> LResult {
        if (message == MessageId::notify && notification<NotifyHeader>(lParam).code == NotifyCode::listFindItem)
            return notification<ListViewFindItem>(lParam).character == u'h' ? 3 : -1;
        return 0;
    };
    struct Case {
        std::vector<Key> keys;
        std::vector<std::string> expected;
        int focused;
    };
    const Case cases[] = {
        {{Key::down}, {"notify 11 keyDown down"}, 1},
        {{Key::down, Key::up}, {"notify 11 keyDown down", "notify 11 keyDown up"}, 0},
        {{Key::end}, {"notify 11 keyDown end"}, 4},
        {{Key::up}, {"notify 11 keyDown up"}, 0},  // stays on the first row
        {{Key::action}, {"notify 11 keyDown action", "notify 11 itemActivate 0"}, 0},
        {{keyFor('2')}, {"notify 11 keyDown 2", "notify 11 findItem 2 digit 2"}, 0},
        {{keyFor('a')}, {"notify 11 keyDown A", "notify 11 findItem a digit none"}, 0},
        {{keyFor('h')}, {"notify 11 keyDown H", "notify 11 findItem h digit none"}, 3},  // the owner's answer
        {{Key::context}, {"notify 11 keyDown context", "notify 11 contextGesture 1,1"}, 0},
        {{Key::left}, {"notify 11 keyDown left"}, 0},  // report mode: the owner steps its filter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("keys: " + keyNames(c.keys));
        focusRow(0);
        takeEvents();
        play(c.keys);
        EXPECT_EQ(takeEvents(), c.expected);
        EXPECT_EQ(focusedRow(), c.focused);
        EXPECT_EQ(listViewGetNextItem(list, -1, nextSelected), c.focused);  // the selection goes with the focus
        EXPECT_EQ(listViewGetNextItem(list, c.focused, nextSelected), -1);
    }
}

TEST_F(ListViewTest, StatesSetBeyondTheCountShowOnceTheCountGrows) {
    listViewSetItemCount(list, 0);
    listViewSetItemState(list, 0, itemSelected | itemFocused, itemSelected | itemFocused);
    EXPECT_EQ(focusedRow(), -1);  // not a row yet
    listViewSetItemCount(list, 1, countNoInvalidate);
    EXPECT_EQ(focusedRow(), 0);

    rows.resize(30, {u"file", IconId::file});
    listViewSetItemCount(list, 25);
    focusRow(27);
    listViewSetItemCount(list, 30, countNoInvalidate | countNoScroll);
    EXPECT_EQ(focusedRow(), 27);
    // Lowering the count forgets the rows that went.
    listViewSetItemCount(list, 10);
    listViewSetItemCount(list, 30);
    EXPECT_EQ(listViewGetNextItem(list, -1, nextSelected), -1);
}

TEST_F(ListViewTest, ScrollsToKeepTheFocusedRowVisible) {
    rows.resize(30, {u"file", IconId::file});
    listViewSetItemCount(list, 30);
    EXPECT_EQ(listViewGetCountPerPage(list), 10);
    focusRow(0);
    listViewEnsureVisible(list, 25);
    EXPECT_EQ(listViewGetTopIndex(list), 16);
    play({Key::home, Key::pageDown});
    EXPECT_EQ(focusedRow(), 10);
    EXPECT_EQ(listViewGetTopIndex(list), 1);
    play({Key::end});
    EXPECT_EQ(listViewGetTopIndex(list), 20);
    listViewSetItemCount(list, 5);
    EXPECT_EQ(listViewGetTopIndex(list), 0);
}

// How a label edit ends; the owner refusing one (the parent row) and filling it (the
// path with the name part selected) are tried on the program's rename screens.
TEST_F(ListViewTest, LabelEditEndsWhenTheFocusLeavesOrIsCancelledByBackOnNothing) {
    Window edit = listViewEditLabel(list, 1);
    ASSERT_TRUE(edit);
    setFocus(list);  // the owner's "Rename" soft key does this
    EXPECT_EQ(takeEvents(),
              (std::vector<std::string>{"notify 11 beginLabelEdit 1", "notify 11 endLabelEdit 1 \"Projects\""}));

    edit = listViewEditLabel(list, 1);
    setWindowText(edit, u"x");
    play({Key::back, Key::back});  // erases the x, then cancels
    EXPECT_EQ(takeEvents(),
              (std::vector<std::string>{"notify 11 beginLabelEdit 1", "notify 11 endLabelEdit 1 cancelled"}));
    EXPECT_FALSE(listViewGetEditControl(list));
}

}  // namespace
}  // namespace windowtest
