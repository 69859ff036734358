// Typing in the list, the in-place rename, the Back key's order and the "Confirm"
// option, as a user meets them in the Device view on a folder of real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/main_window.h"
#include "app/rename.h"
#include "explorer/icons.h"
#include "explorer/population.h"
#include "explorer/provider.h"
#include "platform/registry.h"
#include "platform/window/controls.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/list_view.h"
#include "platform/window/terminal.h"
#include "resources/commands.h"
#include "resources/menus.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::Key;
using namespace resources;

class TypeAheadAndRename : public test_support::FarlinkScreen {
protected:
    TypeAheadAndRename() : FarlinkScreen(60, 16, "/home/me") {
        root.folder("home/me/Projects");
        for (const char* name : {"about.txt", "cab.txt", "dog.txt", "fig.txt", "hat.txt"})
            root.file(std::string("home/me/") + name);
        sortByName();
        explorer::setTypeAheadText(u"");
    }
    ~TypeAheadAndRename() override { explorer::setTypeAheadText(u""); }

    std::string label() const { return terminal.rowText(1); }
    bool exists(const std::string& relative) const { return std::filesystem::exists(root.at(relative)); }
    int focusedRow() const {
        return platform::listViewGetNextItem(app::mainWindow.listView, -1, platform::nextFocused);
    }
};

TEST_F(TypeAheadAndRename, DigitsChooseTheirKeypadGroupAndLettersBuildAWord) {
    start();
    terminal.typeText(u"2");
    play();
    EXPECT_EQ(label(), " < All Files (2ABC)                                       >");
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [T]  about\n [T]  cab\n [T]  hat\n");
    terminal.typeText(u"3");
    play();
    EXPECT_EQ(label(), " < All Files (3DEF)                                       >");
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [T]  dog\n [T]  fig\n");

    // A keypad group goes at once; a word loses one letter.
    terminal.pressKey(Key::backspace);
    terminal.typeText(u"ab");
    play();
    EXPECT_EQ(label(), " < All Files (AB)                                         >");
    EXPECT_EQ(rows(), " [..] ..\n [T]  about\n [T]  cab\n");
    terminal.pressKey(Key::backspace);
    play();
    EXPECT_EQ(label(), " < All Files (A)                                          >");
    EXPECT_EQ(rows(), " [..] ..\n [T]  about\n [T]  cab\n [T]  hat\n");
}

TEST_F(TypeAheadAndRename, LeftAndRightStepTheFiltersAndStopAtTheEnds) {
    start();
    terminal.typeText(u"ab");
    terminal.pressKey(Key::left);  // the first filter: nothing before it
    play();
    EXPECT_EQ(explorer::deviceProvider.filterIndex, 0u);
    EXPECT_EQ(label(), " < All Files (AB)                                         >");
    terminal.pressKey(Key::right);
    play();
    ASSERT_EQ(explorer::deviceProvider.filterIndex, 1u);
    // The bracket moves with the selection: the filter left behind shows its name alone.
    EXPECT_EQ(platform::selectorGetText(app::mainWindow.filterControl, 0), u"All Files");
    EXPECT_EQ(platform::selectorGetText(app::mainWindow.filterControl, 1).ends_with(u" (AB)"), true);

    const int last = platform::selectorGetCount(app::mainWindow.filterControl) - 1;
    for (int i = 1; i < last + 2; ++i) terminal.pressKey(Key::right);
    play();
    EXPECT_EQ(explorer::deviceProvider.filterIndex, static_cast<std::uint32_t>(last));
    EXPECT_EQ(label(), " < Executable Files (AB)                                  >");
}

// A listing while the rename is open, where a new file sorts in before, does not change
// which entry is renamed.
TEST_F(TypeAheadAndRename, ARenameOpensWithTheNamePartSelectedAndABareNameStaysInItsFolder) {
    start();
    terminal.pressKeys({Key::down, Key::down, Key::down});  // cab
    play();
    std::string open;
    capture(open);
    command(commandRename);
    root.file("home/me/aaa.txt");
    command(commandRefresh);           // the row index of "cab" now holds "about"
    terminal.typeText(u"cub");         // replaces the selected "cab"
    terminal.pressKey(Key::leftSoft);  // Rename
    play();
    EXPECT_NE(open.find(" [T]   \\home\\me\\cab.txt\n"), std::string::npos) << open;
    EXPECT_TRUE(open.ends_with(" Rename                                             Discard")) << open;
    EXPECT_TRUE(exists("home/me/cub.txt"));
    EXPECT_FALSE(exists("home/me/cab.txt"));
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [T]  aaa\n [T]  about\n [T]  cub\n [T]  dog\n [T]  fig\n [T]  hat\n");
    EXPECT_EQ(focusedRow(), 4) << "the renamed row comes up selected";
    EXPECT_EQ(terminal.rowText(15), " Remote                                                Menu");
}

TEST_F(TypeAheadAndRename, AFullPathMovesTheEntryAndDiscardOrTheParentRowChangeNothing) {
    start();
    terminal.pressKeys({Key::down, Key::down});  // about
    play();
    setRenameText(u"\\home\\me\\Projects\\about.txt");
    terminal.pressKey(Key::leftSoft);
    command(commandRename);
    EXPECT_TRUE(exists("home/me/Projects/about.txt"));
    EXPECT_FALSE(exists("home/me/about.txt"));

    terminal.pressKeys({Key::home, Key::down, Key::down});  // cab
    play();
    terminal.typeText(u"gone");
    terminal.pressKey(Key::rightSoft);  // Discard
    command(commandRename);
    EXPECT_TRUE(exists("home/me/cab.txt"));
    EXPECT_EQ(terminal.rowText(15), " Remote                                                Menu");

    const int bells = terminal.bellCount();
    terminal.pressKey(Key::home);
    play();
    command(commandRename);
    EXPECT_FALSE(platform::listViewGetEditControl(app::mainWindow.listView)) << "the parent row keeps its name";
    EXPECT_EQ(terminal.bellCount(), bells + 1);
}

TEST_F(TypeAheadAndRename, ATextIsRefusedWhenItWouldNameAnotherEntry) {
    struct Case {
        std::u16string text;
        std::u16string path;  // empty: refused
    };
    const Case cases[] = {
        {u"new.txt", u"\\a\\new.txt"},
        {u"\\b\\new.txt", u"\\b\\new.txt"},
        {u"/box/new.txt", u"/box/new.txt"},
        {u"b\\new.txt", u""},
        {u"b/new.txt", u""},
        {std::u16string(u"new\0.txt", 8), u""},  // the name would end at the NUL
        {std::u16string(u"\\b\\new\0.txt", 11), u""},
        {std::u16string(300, u'n'), u""},
    };
    for (const Case& c : cases) {
        const app::RenameTarget target = app::renameTarget(c.text, u"\\a\\");
        EXPECT_EQ(target.path, c.path) << c.text.size();
        EXPECT_EQ(target.refusal.empty(), !c.path.empty()) << c.text.size();
    }
}

TEST_F(TypeAheadAndRename, BackErasesTheRenameThenTheTypeAheadThenGoesUp) {
    start();
    terminal.pressKeys({Key::down, Key::down, Key::down});  // cab
    play();
    command(commandRename);
    terminal.pressKey(Key::back);  // erases the selected "cab"
    play();
    EXPECT_EQ(terminal.rowText(5), " [T]   \\home\\me\\.txt");
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink");
    command(commandRenameDiscard);

    terminal.typeText(u"2");
    terminal.pressKey(Key::back);  // the type-ahead goes before the folder (how: the backspace's test)
    play();
    EXPECT_EQ(label(), " < All Files                                              >");
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink");
    terminal.pressKey(Key::back);
    play();
    EXPECT_EQ(terminal.rowText(0), " \\home\\ - Farlink");
}

TEST_F(TypeAheadAndRename, TheConfirmOptionAsksBeforeTheDeletesItNames) {
    // The choices in the order of their list, and whether deleting a file and an empty
    // folder asks first.
    struct Case {
        std::uint32_t confirm;
        bool asksForFile;
        bool asksForFolder;
    };
    const Case cases[] = {{0, false, false}, {1, true, true},  {2, true, true},
                          {3, false, false}, {4, true, false}, {5, false, true}};
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.confirm);
        root.file("home/me/a.txt");
        root.folder("home/me/Empty");
        explorer::deviceProvider.confirm = c.confirm;
        command(commandRefresh);
        // Rows: .., Empty and Projects in listing order, then a.txt first of the files.
        terminal.pressKeys({Key::home, Key::down, Key::down, Key::down});
        play();
        std::string question;
        if (c.asksForFile) {
            capture(question);
            terminal.pressKey(Key::rightSoft);  // No
        }
        command(commandDelete);
        EXPECT_EQ(question.find("Are you sure you want to delete '") != std::string::npos, c.asksForFile) << question;
        EXPECT_EQ(exists("home/me/a.txt"), c.asksForFile);

        const bool emptyFirst = terminal.rowText(3) == " [D]  Empty";
        terminal.pressKeys({Key::home, Key::down});
        if (!emptyFirst) terminal.pressKey(Key::down);
        play();
        question.clear();
        if (c.asksForFolder) {
            capture(question);
            terminal.pressKey(Key::rightSoft);
        }
        command(commandDelete);
        EXPECT_EQ(question.find("delete the folder") != std::string::npos, c.asksForFolder) << question;
        EXPECT_EQ(exists("home/me/Empty"), c.asksForFolder);
    }
}

}  // namespace
