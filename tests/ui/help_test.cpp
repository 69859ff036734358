// Help: the help file beside the program holds every topic the program opens, and in a
// terminal without a desktop the topic's text is shown full-screen.
#include "ui/help.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/text.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "resources/strings.h"
#include "tests/support/scoped_variable.h"
#include "ui/desktop.h"

namespace {

using platform::toUtf8;

std::string helpFile() {
    std::ifstream in(ui::helpFilePath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Help, TheFileBesideTheProgramHasEveryTopicTheProgramOpens) {
    EXPECT_TRUE(ui::helpFilePath().ends_with("/ui_tests.htm")) << ui::helpFilePath();
    const std::string html = helpFile();
    ASSERT_FALSE(html.empty());
    struct Case {
        int stringId;
        const char* heading;
    };
    const Case cases[] = {
        {resources::stringMainHelpTopic, "Farlink\r\r"},
        {resources::stringOptionsHelpTopic, "Explorer Options\r\r"},
        {resources::stringPropertiesHelpTopic, "File Properties\r\r"},
        {resources::stringFilterHelpTopic, "Filters\r\r"},
    };
    for (const Case& c : cases) {
        const std::string topic = toUtf8(*resources::loadString(c.stringId));
        EXPECT_TRUE(toUtf8(ui::helpTopicText(html, topic)).starts_with(c.heading)) << topic;
    }
    EXPECT_TRUE(ui::helpTopicText(html, "nowhere").empty());
}

TEST(Help, TopicTextKeepsParagraphsAndListItemsAndDecodesEntities) {
    const std::string html =
        "<h2 id=\"a\">First</h2>\n<p>One &amp; two\n   lines.</p><ul><li>x &lt; y</li><li>z</li></ul>"
        "<h2 id=\"b\">Second</h2><p>Other</p>";
    EXPECT_EQ(toUtf8(ui::helpTopicText(html, "a")), "First\r\rOne & two lines.\r\r- x < y\r- z");
    EXPECT_EQ(toUtf8(ui::helpTopicText(html, "b")), "Second\r\rOther");
}

bool openerCalled = false;
bool refusingOpener(const std::string&) {
    openerCalled = true;
    return false;
}

TEST(Help, InATerminalTheTopicIsShownFullScreen) {
    test_support::ScopedVariable noDesktop("DISPLAY", "");
    test_support::ScopedVariable noWayland("WAYLAND_DISPLAY", "");
    ui::setDesktopOpener(refusingOpener);
    platform::HeadlessTerminal terminal(70, 20);
    platform::WindowSystemScope scope(terminal, terminal.clock());
    const platform::Window main = platform::createWindow({.text = u"Farlink"});
    std::string shown;
    terminal.atIdle([&] { shown = terminal.screenText(); });
    terminal.pressKey(platform::Key::leftSoft);
    ui::openHelp(main, resources::stringFilterHelpTopic);
    EXPECT_FALSE(openerCalled) << "no desktop, no opener";
    EXPECT_EQ(shown.substr(0, shown.rfind("\n Done")),
              " Help\n"
              " Filters\n"
              "\n"
              " A filter shows only the files whose names match its patterns;\n"
              " folders are always shown. Write patterns such as *.txt and separate\n"
              " several with a semi-colon: *.txt;*.htm. A filter with the pattern *\n"
              " shows every file.\n"
              "\n"
              " - Filter Name: the name shown in the filter line.\n"
              " - Isolated File System: the filter remembers its own folder; other\n"
              " filters share one.\n"
              " - Track Last Folder: the filter's folder is kept from one run to the\n"
              " next; otherwise it starts in your documents folder.\n"
              "\n"
              " Done keeps the filter, Cancel leaves it as it was. At most 31\n"
              " filters can exist.\n"
              "\n"
              "\n");
}

}  // namespace
