// Farlink as a user meets it: start-up in the documents folder, opening folders, Back,
// the menus, sorting, settings that survive a restart, a new filter, properties and
// deleting a folder that is not empty.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/main_window.h"
#include "explorer/provider.h"
#include "local/explorer_options.h"
#include "local/filters.h"
#include "platform/window/controls.h"
#include "platform/window/list_view.h"
#include "tests/app/app_fixture.h"
#include "ui/platform_type.h"

namespace {

using platform::Key;
using namespace resources;

class MainWindow : public app_test::Farlink {
protected:
    // The rows' lines of the screen, from below the filter line to above the soft keys.
    std::string rows() const {
        std::string text;
        for (int row = 2; row < 15; ++row) {
            const std::string line = terminal.rowText(row);
            if (!line.empty()) text += line + "\n";
        }
        return text;
    }
};

TEST_F(MainWindow, StartsInTheDocumentsFolderAndBackGoesUpThenLeaves) {
    start();
    EXPECT_EQ(screen(),
              " \\home\\me\\ - Farlink\n"
              " < All Files                                              >\n"
              " [..] ..\n"
              " [D]  Projects\n"
              " [T]  notes\n"
              " [H]  page\n"
              " [I]  photo\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              " Remote                                                Menu");
    terminal.pressKeys({Key::down, Key::action});
    play();
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\Projects\\ - Farlink");
    EXPECT_EQ(rows(), " [..] ..\n [D]  sub\n [T]  a\n [T]  b\n");

    terminal.pressKey(Key::back);
    play();
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink");
    // The folder just left comes up selected.
    EXPECT_EQ(platform::listViewGetNextItem(app::mainWindow.listView, -1, platform::nextSelected), 1);

    terminal.pressKeys({Key::back, Key::back});
    play();
    EXPECT_EQ(terminal.rowText(0), " \\ - Farlink");
    terminal.pressKey(Key::back);
    play();
    EXPECT_FALSE(platform::isWindow(main)) << "Back at the root leaves Farlink";
}

TEST_F(MainWindow, TheRightSoftKeyOpensTheMenuAndAHeldLeftOneThePopup) {
    start();
    std::string menu;
    terminal.pressKey(Key::rightSoft);
    capture(menu);
    terminal.pressKey(Key::back);
    play();
    EXPECT_EQ(menu,
              " \\home\\me\\ - Farlink                        +--------------+\n"
              " < All Files                                | Open         |\n"
              " [..] ..                                    | Properties   |\n"
              " [D]  Projects                              |--------------|\n"
              " [T]  notes                                 | Edit       > |\n"
              " [H]  page                                  | Go         > |\n"
              " [I]  photo                                 | View       > |\n"
              "                                            | Filter     > |\n"
              "                                            | Send       > |\n"
              "                                            | Queue        |\n"
              "                                            | Settings     |\n"
              "                                            |--------------|\n"
              "                                            | Exit         |\n"
              "                                            | Help         |\n"
              "                                            +--------------+\n"
              " Select                                              Cancel");

    std::string popup;
    terminal.holdKey(Key::leftSoft, 700);
    capture(popup);
    terminal.pressKey(Key::back);
    play();
    EXPECT_NE(popup.find("| Open "), std::string::npos) << popup;
    EXPECT_NE(popup.find("| New Folder"), std::string::npos) << popup;
    EXPECT_EQ(popup.find("not available"), std::string::npos) << "the left soft key's own command must not run";
}

TEST_F(MainWindow, SortCommandsReorderTheRows) {
    root.file("home/me/big.bin", std::string(5000, 'b'));
    start();
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [F]  big\n [T]  notes\n [H]  page\n [I]  photo\n");
    command(commandSortSize);
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [H]  page\n [T]  notes\n [I]  photo\n [F]  big\n");
    command(commandDescending);
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [F]  big\n [I]  photo\n [T]  notes\n [H]  page\n");
    command(commandSortType);
    command(commandAscending);
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [F]  big\n [H]  page\n [I]  photo\n [T]  notes\n");
}

TEST_F(MainWindow, SettingsSurviveARestart) {
    start();
    std::string dialog;
    // File Types: "Standard, Hidden"; In Title: "Path and Count".
    terminal.pressKeys({Key::right, Key::right, Key::right, Key::down, Key::right, Key::right});
    capture(dialog);
    terminal.pressKey(Key::leftSoft);
    command(commandSettings);
    EXPECT_NE(dialog.find(" Explorer Options"), std::string::npos) << dialog;
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ D:1 F:3 - Farlink");

    platform::destroyWindow(main);
    play();
    explorer::deviceProvider.showFiles = 0;
    explorer::deviceProvider.titleInfo = 0;
    start();
    EXPECT_EQ(explorer::deviceProvider.showFiles, 3u);
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ D:1 F:3 - Farlink");
}

TEST_F(MainWindow, ANewFilterForTextFilesShowsOnlyThem) {
    start();
    for (int i = 0; i < 9; ++i) terminal.pressKey(Key::backspace);
    terminal.typeText(u"Text only");
    terminal.pressKey(Key::down);
    for (int i = 0; i < 2; ++i) terminal.pressKey(Key::backspace);
    terminal.typeText(u"*.txt");
    terminal.pressKey(Key::leftSoft);
    command(commandNewEntry);
    EXPECT_EQ(terminal.rowText(1), " < Text only                                              >");
    EXPECT_EQ(rows(), " [..] ..\n [D]  Projects\n [T]  notes\n");
    EXPECT_EQ(explorer::deviceProvider.filterIndex, 13u);
    const local_test::StoredValue stored = local_test::storedValue(local::filtersKeyPath, u"13");
    EXPECT_EQ(stored.type, platform::registryBinary);
    EXPECT_EQ(stored.data.size(), 1170u);

    // Deleting the current filter needs no question and the one before becomes current.
    command(commandDeleteCurrent);
    EXPECT_EQ(terminal.rowText(1), " < Executable Files                                       >");
    EXPECT_FALSE(local_test::storedValue(local::filtersKeyPath, u"13").exists);
}

TEST_F(MainWindow, PropertiesOfAFolderShowItsCounts) {
    start();
    terminal.pressKey(Key::down);
    play();
    std::string shown;
    terminal.atIdle([&] {
        // The counting thread reports back once; wait for it unless it already has.
        if (terminal.screenText().find("All Folders") == std::string::npos) platform::waitForMessage(5000);
    });
    capture(shown);
    terminal.pressKey(Key::leftSoft);
    command(commandProperties);
    EXPECT_NE(shown.find("Folder: Projects"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Folders: 1, Files: 2 Size: 3 B"), std::string::npos) << shown;
    EXPECT_NE(shown.find("All Folders: 1, Files: 3 Size: 6 B"), std::string::npos) << shown;
}

TEST_F(MainWindow, DeletingAFolderThatIsNotEmptyAsksFirst) {
    root.file("elsewhere/keep.txt", "mine");
    std::filesystem::create_directory_symlink(root.at("elsewhere"), root.at("home/me/Projects/sub/link"));
    start();
    std::string question;
    terminal.pressKeys({Key::down, Key::del});
    capture(question);
    terminal.pressKey(Key::rightSoft);
    play();
    EXPECT_EQ(question,
              " \\home\\me\\ - Farlink\n"
              " < All Files                                              >\n"
              " [..] ..\n"
              " [D]  Projects\n"
              " +- Confirm Delete ---------------------------------------+\n"
              " |                                                        |\n"
              " | (?) The folder '\\home\\me\\Projects' is not empty, would |\n"
              " |     you like to delete all files and folders?          |\n"
              " |                                                        |\n"
              " +--------------------------------------------------------+\n"
              "\n"
              "\n"
              "\n"
              "\n"
              "\n"
              " Yes                                                     No");
    EXPECT_TRUE(std::filesystem::exists(root.at("home/me/Projects/sub/c.txt")));

    terminal.pressKey(Key::del);
    terminal.pressKey(Key::leftSoft);
    play();
    EXPECT_FALSE(std::filesystem::exists(root.at("home/me/Projects")));
    EXPECT_EQ(root.read("elsewhere/keep.txt"), "mine") << "a link is removed, not followed";
    EXPECT_EQ(rows(), " [..] ..\n [T]  notes\n [H]  page\n [I]  photo\n");
}

TEST_F(MainWindow, TheParentRowIsNeverDeleted) {
    start();
    const int bells = terminal.bellCount();
    terminal.pressKey(Key::del);
    play();
    EXPECT_EQ(terminal.bellCount(), bells + 1);
    EXPECT_TRUE(std::filesystem::exists(root.at("home/me")));
}

TEST_F(MainWindow, NewFolderTakesTheFirstFreeName) {
    root.folder("home/me/New Folder");
    start();
    command(commandNewFolder);
    EXPECT_TRUE(std::filesystem::is_directory(root.at("home/me/New Folder (1)")));
    const int selected = platform::listViewGetNextItem(app::mainWindow.listView, -1, platform::nextSelected);
    EXPECT_EQ(terminal.rowText(2 + selected), " [D]  New Folder (1)");
}

TEST_F(MainWindow, RootAndDocumentsFolderAndUp) {
    start();
    command(commandRootFolder);
    EXPECT_EQ(terminal.rowText(0), " \\ - Farlink");
    command(commandDocumentsFolder);
    EXPECT_EQ(terminal.rowText(0), " \\home\\me\\ - Farlink");
    command(commandUpFolder);
    EXPECT_EQ(terminal.rowText(0), " \\home\\ - Farlink");
    EXPECT_EQ(terminal.rowText(3), " [D]  me");
}

TEST_F(MainWindow, LaterFeaturesSaySoInsteadOfFailingSilently) {
    start();
    std::string shown;
    capture(shown);
    terminal.pressKey(Key::leftSoft);
    command(commandRemoteView);
    EXPECT_NE(shown.find("The Remote view is not available in this version"), std::string::npos) << shown;
}

TEST_F(MainWindow, OnTouchScreensTheFilterIsADropDownList) {
    ui::setPlatformType(ui::pocketPCPlatform);
    start();
    ui::setPlatformType(ui::keypadPlatform);
    EXPECT_EQ(platform::getWindowKind(app::mainWindow.filterControl), platform::ControlKind::dropDown);
    EXPECT_EQ(terminal.rowText(1), " All Files                                                v");
    EXPECT_EQ(terminal.rowText(15), " Remote                                                Menu");
}

}  // namespace
