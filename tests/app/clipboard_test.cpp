// Cut, Copy, Paste, Put From Device and Send via as a user meets them, the server a real one.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include "app/main_window.h"
#include "explorer/provider.h"
#include "platform/clipboard.h"
#include "platform/text.h"
#include "platform/window/list_view.h"
#include "queue/operation_queue.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using platform::Key;
using test_support::FtpServerKind;
using namespace resources;

namespace fs = std::filesystem;

std::optional<std::u16string> clipboardText() {
    std::u16string text;
    if (!platform::openClipboard()) return std::nullopt;
    const bool held = platform::getClipboardText(text);
    platform::closeClipboard();
    return held ? std::optional(text) : std::nullopt;
}

void setClipboardText(std::u16string_view text) {
    ASSERT_TRUE(platform::openClipboard());
    platform::emptyClipboard();
    platform::setClipboardText(text);
    platform::closeClipboard();
}

// Farlink on a headless screen with a device root of its own, starting in "\".
class Clipboard : public test_support::FarlinkScreen {
protected:
    Clipboard() : FarlinkScreen(60, 12) {
        setClipboardText(u"");
        sortByName();
    }

    void goTo(explorer::ViewProvider& view, std::u16string_view folder) {
        view.SetCurrentFolder(folder);
        command(commandRefresh);
    }
};

// A copy pasted in the Device view is made at once and stays on the clipboard; a cut
// moves and leaves the clipboard empty, so that a second paste has nothing to give.
TEST_F(Clipboard, PasteInAnotherFolderCopiesACopyAndMovesACut) {
    const struct {
        int command;
        bool sourceKept;
        std::optional<std::u16string> clipboard;
    } cases[] = {
        {commandCopy, true, u"\\box\\a.txt"},
        {commandCut, false, std::nullopt},
    };
    root.folder("other");
    start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        root.file("box/a.txt", "alpha");
        fs::remove(root.at("other/a.txt"));
        goTo(explorer::deviceProvider, u"\\box\\");
        focus("a");
        command(c.command);
        goTo(explorer::deviceProvider, u"\\other\\");
        command(commandPaste);
        EXPECT_EQ(root.read("other/a.txt"), "alpha");
        EXPECT_EQ(fs::exists(root.at("box/a.txt")), c.sourceKept);
        EXPECT_EQ(clipboardText(), c.clipboard);
        EXPECT_EQ(rows(), " [..] ..\n [T]  a\n");
        EXPECT_EQ(queue::listRecords(queue::listPending).size(), 0u);
    }
    const int bells = terminal.bellCount();
    command(commandPaste);
    EXPECT_EQ(terminal.bellCount(), bells + 1);
}

TEST_F(Clipboard, PasteShortcutMakesALinkToTheCopiedFileToBeNamedAtOnceAndRefusesAServerPath) {
    root.file("box/a.txt", "alpha");
    root.file("other/b.txt", "beta");
    start();
    goTo(explorer::deviceProvider, u"\\box\\");
    focus("a");
    command(commandCopy);
    goTo(explorer::deviceProvider, u"\\other\\");
    focus("b");
    command(commandPasteShortcut);
    EXPECT_EQ(root.read("other/Shortcut to a.lnk"), "12#\"\\box\\a.txt\"");
    // The rename opens on the new shortcut, never on the row that was focused.
    ASSERT_TRUE(app::mainWindow.renaming);
    EXPECT_EQ(platform::toUtf8(platform::getWindowText(platform::listViewGetEditControl(app::mainWindow.listView))),
              "\\other\\Shortcut to a.lnk");
    command(commandRenameDone);

    setClipboardText(u"/pub/a.txt");
    const std::string screen = shownByCommand(commandPasteShortcut, Key::leftSoft);
    EXPECT_NE(screen.find("is on the server"), std::string::npos) << screen;
}

// A pasted text is data: whatever it holds, it never becomes a path that names
// something else than it says.
TEST_F(Clipboard, APastedTextThatIsNoUsablePathIsRefusedSayingWhy) {
    root.file("box/a.txt", "alpha");
    root.file("box/a", "short");
    root.folder("other");
    const struct {
        std::u16string text;
        std::string said;
    } cases[] = {
        {std::u16string(u"\\box\\a\0.txt", 11), "Farlink pastes no"},
        {u"\\box\\a.txt\n", "Farlink pastes no"},
        {u"\\box\\" + std::u16string(260, u'n'), "The path is too long"},
        {u"box\\a.txt", "The clipboard holds no"},
        {u"\\box\\..", "The path names no"},
    };
    start();
    goTo(explorer::deviceProvider, u"\\other\\");
    for (const auto& [text, said] : cases) {
        setClipboardText(text);
        const std::string screen = shownByCommand(commandPaste, Key::leftSoft);
        EXPECT_NE(screen.find("Paste Error"), std::string::npos) << screen;
        EXPECT_NE(screen.find(said), std::string::npos) << said << "\n" << screen;
        EXPECT_TRUE(fs::is_empty(root.at("other"))) << platform::toUtf8(text);
    }
}

TEST_F(Clipboard, SendViaStartsTheMailComposerWithTheFileAttachedOrSaysThereIsNone) {
    root.file("box/a.txt", "alpha");
    root.folder("box/sub");
    test_support::TemporaryFolder programs;
    const std::string recorded = programs / "arguments";
    test_support::writeFile(programs / "xdg-email", "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + recorded + ".part\nmv " +
                                                        recorded + ".part " + recorded + "\n");
    fs::permissions(programs / "xdg-email", fs::perms::owner_all);
    start();
    goTo(explorer::deviceProvider, u"\\box\\");

    std::string noComposer;
    {
        test_support::ScopedVariable path{"PATH", programs.path() + "/none"};
        test_support::ScopedVariable display{"DISPLAY", ":0"};
        focus("a");
        noComposer = shownByCommand(commandSendVia, Key::leftSoft);
    }
    EXPECT_NE(noComposer.find("Send via"), std::string::npos) << noComposer;
    EXPECT_NE(noComposer.find("There is no mail program"), std::string::npos) << noComposer;

    test_support::ScopedVariable path{"PATH", programs.path() + ":/usr/bin:/bin"};
    test_support::ScopedVariable display{"DISPLAY", ":0"};
    const int bells = terminal.bellCount();
    focus("sub");
    command(commandSendVia);
    EXPECT_EQ(terminal.bellCount(), bells + 1);  // a folder is no attachment
    focus("a");
    command(commandSendVia);
    test_support::eventually([&] { return fs::exists(recorded); });
    EXPECT_EQ(test_support::readFile(recorded), "--attach\n" + root.at("box/a.txt") + "\n");
}

// The same program with a real server as its one place, the Remote view in the
// server's writable folder.
class ClipboardBetweenViews : public Clipboard, public ::testing::WithParamInterface<FtpServerKind> {
protected:
    void startOnServer() {
        ASSERT_EQ(server.error(), "");
        startWithPlace(server.address(), {.user = server.user(), .password = server.password(), .name = u"Box"});
        command(commandRemoteView);
        goTo(explorer::remoteProvider, platform::toUtf16(server.remotePath("")));
    }

    test_support::TemporaryFolder served;
    test_support::RealFtpServer server{GetParam(), served.path()};
};

// A copy from the Device view pasted in the Remote view uploads; a cut from the Remote
// view pasted in the Device view downloads, then removes its source.
TEST_P(ClipboardBetweenViews, PasteUploadsACopyAndDownloadsACutThenRemovesItsSource) {
    root.file("box/up.txt", test_support::patternBytes(70000));
    startOnServer();
    command(commandDeviceView);
    goTo(explorer::deviceProvider, u"\\box\\");
    focus("up");
    command(commandCopy);
    command(commandRemoteView);
    command(commandPaste);
    drainQueue();
    EXPECT_EQ(test_support::readFile(server.hostPath("up.txt")), test_support::patternBytes(70000));
    EXPECT_EQ(root.read("box/up.txt"), test_support::patternBytes(70000));
    EXPECT_EQ(clipboardText(), u"\\box\\up.txt");

    test_support::writeFile(server.hostPath("down.txt"), "download me");
    command(commandRefresh);
    focus("down");
    command(commandCut);
    command(commandDeviceView);
    command(commandPaste);
    drainQueue();
    EXPECT_EQ(root.read("box/down.txt"), "download me");
    EXPECT_FALSE(fs::exists(server.hostPath("down.txt")));
    EXPECT_EQ(clipboardText(), std::nullopt);
}

// Copy To and Move To from the Device view take a row's path and name whole: a ':' ends
// no scheme there, a final '.' stays, and a Move deletes only the file it copied.
TEST_P(ClipboardBetweenViews, CopyToAndMoveToFromTheDeviceTakeTheRowsPathAndNameWhole) {
    using Case = std::tuple<std::string, std::string, bool>;  // file (holding its name), row, moved
    const Case cases[] = {{"notes 10:30.txt", "notes 10:30", true},
                          {"notes.", "notes.", true},
                          {"a.tar.gz", "a.tar", false},
                          {"readme", "readme", false}};
    for (const auto& [file, row, move] : cases) root.file("at 10:00/" + file, file);
    root.file("00/notes 10:30.txt", "not this");  // what the scheme rule made of the first
    startOnServer();
    command(commandDeviceView);
    goTo(explorer::deviceProvider, u"\\at 10:00\\");
    for (const auto& [file, row, move] : cases) {
        focus(row);
        command(move ? commandMoveTo : commandCopyTo);
        drainQueue();
        EXPECT_EQ(test_support::readFile(server.hostPath(file)), file) << file;
        EXPECT_EQ(fs::exists(root.at("at 10:00/" + file)), !move) << file;
    }
    EXPECT_EQ(root.read("00/notes 10:30.txt"), "not this");
}

// "notes." keeps its dot: a name is taken whole, not split and joined again.
TEST_P(ClipboardBetweenViews, PutFromDeviceThroughThePickerUploadsTheChosenFile) {
    root.file("box/a.txt", "not this");
    root.file("box/notes.", "these notes");
    startOnServer();
    explorer::deviceProvider.SetCurrentFolder(u"\\box\\");
    terminal.pressKeys({Key::down, Key::down, Key::leftSoft});  // "..", "a.txt", "notes."
    command(commandPutFromDevice);
    drainQueue();

    EXPECT_EQ(test_support::readFile(server.hostPath("notes.")), "these notes");
    EXPECT_FALSE(fs::exists(server.hostPath("a.txt")));
}

INSTANTIATE_TEST_SUITE_P(Servers, ClipboardBetweenViews,
                         ::testing::Values(FtpServerKind::Pyftpdlib, FtpServerKind::Vsftpd),
                         test_support::kindParamName);

}  // namespace
