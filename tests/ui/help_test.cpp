// Help: the help file beside the program holds every topic the program opens (shown
// full-screen in a terminal: tests/ui/dialog_runner_test.cpp).
#include "ui/help.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "resources/strings.h"
#include "tests/support/temporary_folder.h"

namespace {

using platform::toUtf8;

TEST(Help, TheFileBesideTheProgramHasEveryTopicTheProgramOpens) {
    EXPECT_TRUE(ui::helpFilePath().ends_with("/ui_tests.htm")) << ui::helpFilePath();
    const std::string html = test_support::readFile(ui::helpFilePath());
    struct Case {
        int stringId;
        const char* heading;
    };
    const Case cases[] = {
        {resources::stringMainHelpTopic, "Farlink\r\r"},
        {resources::stringOptionsHelpTopic, "Explorer Options\r\r"},
        {resources::stringPropertiesHelpTopic, "File Properties\r\r"},
        {resources::stringFilterHelpTopic, "Filters\r\r"},
        {resources::stringPlaceHelpTopic, "Ftp Places\r\r"},
        {resources::stringAdvancedPlaceHelpTopic, "Ftp Place: Advanced\r\r"},
        {resources::stringSynchronizeHelpTopic, "Synchronize\r\r"},
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

}  // namespace
