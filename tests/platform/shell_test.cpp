#include "platform/shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/text.h"
#include "tests/platform/helpers.h"
#include "tests/support/scoped_variable.h"

namespace {

using namespace platform;
using test_support::readFile;
using test_support::ScopedVariable;
using test_support::TemporaryFolder;
using test_support::writeFile;

constexpr std::uint32_t everything = shellDisplayName | shellTypeName | shellSystemIconIndex | shellAttributes;

std::string display(const ShellFileInfo& info) { return toUtf8(boundedView(info.displayName, maxPath)); }
std::string type(const ShellFileInfo& info) { return toUtf8(boundedView(info.typeName, std::size(info.typeName))); }

TEST(Shell, NameAndAttributesAloneGiveTypeIconAndDisplayName) {
    struct Case {
        std::u16string path;
        std::uint32_t attributes;
        const char* display;
        const char* type;
        IconId icon;
    };
    const Case cases[] = {
        {u"\\a\\photo.JPG", attributeArchive, "photo", "JPEG Image", IconId::image},
        {u"\\a\\x.tar.gz", 0, "x.tar", "Gzip Archive", IconId::archive},
        {u"/pub/setup.exe", 0, "setup", "Application", IconId::program},
        {u"\\a\\data.xyz", 0, "data", ".xyz File", IconId::file},
        {u"\\a\\README", 0, "README", "File", IconId::file},
        {u"\\a\\.profile", attributeHidden, ".profile", "File", IconId::file},
        {u"\\a\\notes.", 0, "notes.", "File", IconId::file},
        {u"\\a\\sub.d\\", attributeFolder, "sub.d", "Folder", IconId::folder},
        {u"\\a\\b\\..", attributeFolder, "..", "Folder", IconId::parentFolder},
        {u"\\Storage Card", attributeFolder | attributeTemporary, "Storage Card", "Storage Card", IconId::storageCard},
        {u"\\", 0, "My Device", "Folder", IconId::device},
        {u"\"\\a\\letter.txt", 0, "letter", "Text Document", IconId::text},  // a shortcut's target
    };
    for (const auto& c : cases) {
        ShellFileInfo info;
        EXPECT_EQ(getFileInfo(c.path, c.attributes, info, everything | shellUseFileAttributes), systemImageList)
            << toUtf8(c.path);
        EXPECT_EQ(display(info), c.display) << toUtf8(c.path);
        EXPECT_EQ(type(info), c.type) << toUtf8(c.path);
        EXPECT_EQ(info.iconIndex, static_cast<int>(c.icon)) << toUtf8(c.path);
        EXPECT_EQ(info.attributes, c.attributes) << toUtf8(c.path);
    }
    // An extension longer than the type name's buffer is cut to fit it.
    ShellFileInfo info;
    ASSERT_NE(getFileInfo(u"\\a." + std::u16string(200, u'x'), 0, info, everything | shellUseFileAttributes), 0u);
    EXPECT_EQ(type(info), "." + std::string(std::size(info.typeName) - 2, 'x'));
}

using ShellInScratch = platform_test::ScratchRoot;

TEST_F(ShellInScratch, LookingAtTheObjectNeedsItToExist) {
    mkdir((scratch / "Music").c_str(), 0755);
    writeFile(scratch / "Music/tune.ogg", "");
    ShellFileInfo info;
    ASSERT_NE(getFileInfo(u"\\Music", 0x20000000, info, everything), 0u);
    EXPECT_EQ(info.iconIndex, static_cast<int>(IconId::folder));
    EXPECT_EQ(info.attributes, attributeFolder);
    ASSERT_NE(getFileInfo(u"\\Music\\tune.ogg", 0, info, everything), 0u);
    EXPECT_EQ(type(info), "Ogg Audio");
    EXPECT_EQ(info.attributes, attributeArchive);
    EXPECT_EQ(getFileInfo(u"\\Music\\gone.ogg", 0, info, everything), 0u);
    EXPECT_EQ(lastError(), errorFileNotFound);
}

TEST_F(ShellInScratch, DocumentsFolderIsTheXdgFolderOrHomeInsideTheRoot) {
    std::filesystem::create_directories(scratch / "home/me/Dokumente");
    std::filesystem::create_directories(scratch / "config");
    const ScopedVariable home("HOME", scratch / "home/me");
    const ScopedVariable config("XDG_CONFIG_HOME", scratch / "config");

    EXPECT_EQ(documentsFolder(), u"\\home\\me\\") << "no user-dirs.dirs";
    writeFile(scratch / "config/user-dirs.dirs",
              "# XDG_DOCUMENTS_DIR=\"$HOME/Wrong\"\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
              "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(documentsFolder(), u"\\home\\me\\Dokumente\\");
    writeFile(scratch / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Missing\"\n");
    EXPECT_EQ(documentsFolder(), u"\\home\\me\\");

    setDeviceRoot(scratch / "config");
    EXPECT_EQ(documentsFolder(), u"\\") << "home outside the root";
}

TEST_F(ShellInScratch, ShortcutIsTheLengthThenTheQuotedTarget) {
    ASSERT_TRUE(createShortcut(u"\\Shortcut to a.lnk", u"\"\\My Documents\\a.txt"));
    EXPECT_EQ(readFile(scratch / "Shortcut to a.lnk"), "21#\"\\My Documents\\a.txt\"");
    ASSERT_TRUE(createShortcut(u"\\b.lnk", u"\\\u00e9.txt"));
    EXPECT_EQ(readFile(scratch / "b.lnk"), "9#\"\\\xC3\xA9.txt\"");
    EXPECT_FALSE(createShortcut(u"\\b.lnk", u"\\other"));
    EXPECT_EQ(lastError(), errorFileExists);
    EXPECT_EQ(readFile(scratch / "b.lnk"), "9#\"\\\xC3\xA9.txt\"");
}

// Started programs write into a named pipe: reading it blocks until the program has
// opened and closed it, so no test waits for time.
class ShellThreads : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0); }

    std::string readPipe() {
        const int fd = open(pipe.c_str(), O_RDONLY);
        std::string text;
        char buffer[256];
        for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(count));
        close(fd);
        return text;
    }

    TemporaryFolder scratch;
    const std::string pipe = scratch / "pipe";
};

TEST_F(ShellThreads, StartedProgramsGetTheirArgumentsUntouched) {
    ASSERT_TRUE(startProgram("sh", {"-c", "printf '%s|' \"$@\" > \"$0\"", pipe, "a b", "$(false)", ";", "\"q\""}));
    EXPECT_EQ(readPipe(), "a b|$(false)|;|\"q\"|");

    EXPECT_FALSE(startProgram("farlink-no-such-program", {}));
    EXPECT_EQ(lastError(), errorFileNotFound);
}

TEST_F(ShellThreads, DesktopOpenerIsXdgOpenFromThePath) {
    std::filesystem::create_directories(scratch / "bin");
    writeFile(scratch / "bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > " + pipe + "\n");
    chmod((scratch / "bin/xdg-open").c_str(), 0755);

    {
        const ScopedVariable path("PATH", scratch / "bin");
        ASSERT_TRUE(openWithDesktop("/home/me/My File.pdf"));
        EXPECT_EQ(readPipe(), "/home/me/My File.pdf");
    }
    const ScopedVariable path("PATH", scratch / "nothing-here");
    EXPECT_FALSE(openWithDesktop("/home/me/a.pdf"));
    EXPECT_EQ(lastError(), errorFileNotFound);
}

}  // namespace
