// The program's own file picker on a headless screen: its frame, the soft key that
// follows the focused row, the Type and Sort By menus at work, and the file it hands back.
#include "ui/file_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/window/headless_terminal.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::Key;

class FileDialog : public ::testing::Test {
protected:
    FileDialog() {
        root.file("docs/a.txt", "a");
        root.file("docs/b.PDF", std::string(3000, 'b'));
        root.file("docs/c.pdf", "cc");
        root.folder("docs/sub");
    }
    void capture() {
        terminal.atIdle([this] { screens.push_back(terminal.screenText()); });
    }

    test_support::TemporaryRegistry registry;
    test_support::DeviceRoot root;
    test_support::HeadlessScreen screen{44, 9};
    platform::HeadlessTerminal& terminal = screen.terminal;
    std::vector<std::string> screens;
};

TEST_F(FileDialog, TypeAndSortByNarrowAndOrderTheListAndSelectHandsBackTheFile) {
    ui::OpenFileRequest request{.owner = screen.main, .initialFolder = u"\\docs\\", .title = u"Select file to Upload"};
    capture();
    terminal.pressKey(Key::down);
    capture();
    terminal.pressKeys({Key::rightSoft, Key::down, Key::down, Key::right});
    terminal.pressKeys({Key::down, Key::down, Key::action});  // "PDF (*.PDF)"
    capture();
    terminal.pressKeys({Key::rightSoft, Key::down, Key::down, Key::down, Key::right});
    terminal.pressKeys({Key::down, Key::down, Key::action});  // "Size"
    capture();
    terminal.pressKeys({Key::down, Key::down, Key::leftSoft});  // "..", "sub", the smallest file

    ASSERT_EQ(ui::selectFile(request), 1);
    EXPECT_EQ(request.file, u"\\docs\\c.pdf");
    platform::RegistryKey shared = platform::noKey;
    EXPECT_TRUE(platform::openKey(platform::currentUserKey, u"Software\\Tarvik\\Shared\\1.0", shared));
    platform::closeKey(shared);
    ASSERT_EQ(screens.size(), 4u);
    EXPECT_EQ(screens[0],
              " Select file to Upload\n"
              "\n"
              " \\docs\\ [Any File]\n"
              " [..] ..\n"
              " [D]  sub\n"
              " [F]  a.txt\n"
              " [F]  b.PDF\n"
              " [F]  c.pdf\n"
              " Up Folder                             Menu");
    EXPECT_TRUE(screens[1].ends_with(" Expand                                Menu")) << screens[1];
    // The PDF filter, chosen from the menu, matches either case; the folder stays.
    EXPECT_NE(screens[2].find(" \\docs\\ [PDF (*.PDF)]\n [..] ..\n [D]  sub\n [F]  b.PDF\n [F]  c.pdf\n"),
              std::string::npos)
        << screens[2];
    // By size: the 2-byte file before the 3000-byte one, folders still first.
    EXPECT_NE(screens[3].find(" [D]  sub\n [F]  c.pdf\n [F]  b.PDF\n"), std::string::npos) << screens[3];
}

}  // namespace
