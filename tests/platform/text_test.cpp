#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using platform::toUtf16;
using platform::toUtf8;

TEST(Text, RoundTripsEveryPlane) {
    const std::u16string samples[] = {
        u"", u"plain", u"Grüße \u00e9t\u00e9", u"\u65e5\u672c\u8a9e", u"emoji \U0001F600 end", u"\U0010FFFF"};
    for (const auto& sample : samples) {
        EXPECT_EQ(toUtf16(toUtf8(sample)), sample) << toUtf8(sample);
    }
    EXPECT_EQ(toUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(Text, UnpairedSurrogatesBecomeReplacement) {
    struct Case {
        std::u16string input;
        std::string expected;
    };
    const Case cases[] = {
        {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
        {std::u16string{char16_t(0xDC00), u'a'},
         "\xEF\xBF\xBD"
         "a"},
        {std::u16string{u'a', char16_t(0xD83D)}, "a\xEF\xBF\xBD"},
        {std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(toUtf8(c.input), c.expected) << "case " << &c - cases;
}

TEST(Text, InvalidUtf8BecomesReplacement) {
    struct Case {
        std::string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\x80"
         "b",
         u"a\uFFFDb"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},  // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD"},    // encoded surrogate
        {"\xE6\x97", u"\uFFFD"},        // cut at the end
        {"\xE6\x97"
         "x",
         u"\uFFFDx"},                     // cut in the middle
        {"\xF4\x90\x80\x80", u"\uFFFD"},  // above U+10FFFF
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const auto& c : cases) EXPECT_EQ(toUtf16(c.input), c.expected) << "input " << c.input;
}

// A host name and its device form map one to one, and no device form holds a separator.
TEST(Text, HostNamesEscapeWhatCouldNameAnotherEntry) {
    using platform::nameFromHost;
    const auto escape = [](unsigned char byte) { return std::u16string(1, char16_t(0xDC00 + byte)); };
    struct Case {
        std::string host;
        std::u16string device;
    };
    const Case cases[] = {
        {"plain name.txt", u"plain name.txt"},
        {"Gr\xC3\xBC\xC3\x9F"
         "e \xF0\x9F\x98\x80",
         u"Grüße \U0001F600"},
        {"..\\victim.txt", u".." + escape('\\') + u"victim.txt"},
        {"a\xFF", u"a" + escape(0xFF)},
        {"a\xEF\xBF\xBD", u"a\uFFFD"},
        {"\xED\xA0\x80", escape(0xED) + escape(0xA0) + escape(0x80)},  // an encoded surrogate, byte by byte
        {"\xE6\x97x", escape(0xE6) + escape(0x97) + u"x"},             // a cut character before a good one
        {"\x1B[2J\x7F", escape(0x1B) + u"[2J" + escape(0x7F)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nameFromHost(c.host), c.device) << c.host;
        EXPECT_EQ(toUtf8(c.device), c.host) << c.host;
        EXPECT_TRUE(platform::hasByteForm(c.device)) << c.host;
    }
    // Every byte string comes back whole.
    std::string bytes;
    for (int i = 1; i < 256; ++i) bytes += static_cast<char>(i);
    for (std::size_t cut = 0; cut < bytes.size(); cut += 7) {
        const std::string name = bytes.substr(cut) + bytes.substr(0, cut);
        EXPECT_EQ(toUtf8(nameFromHost(name)), name) << cut;
        EXPECT_EQ(nameFromHost(name).find(u'\\'), std::u16string::npos) << cut;
    }
    // Surrogates that no name escape makes have no byte form.
    EXPECT_FALSE(platform::hasByteForm(u"a" + std::u16string(1, char16_t(0xD800))));
    EXPECT_FALSE(platform::hasByteForm(escape('/')));
    EXPECT_FALSE(platform::hasByteForm(escape('.')));
}

TEST(Text, BoundedCopiesAndViewsStayInsideTheirBuffers) {
    char16_t wide[4];
    EXPECT_TRUE(platform::copyBounded(wide, 4, u"abc"));
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_FALSE(platform::copyBounded(wide, 4, u"abcd"));
    EXPECT_EQ(std::u16string(wide), u"abc");
    EXPECT_FALSE(platform::copyBounded(wide, 4, u"ab\U0001F600"));
    EXPECT_EQ(std::u16string(wide), u"ab");

    char narrow[4];
    EXPECT_FALSE(platform::copyBounded(narrow, 4, "a\xC3\xA9\xC3\xA9"));
    EXPECT_STREQ(narrow, "a\xC3\xA9");
    EXPECT_FALSE(platform::copyBounded(narrow, 4, "ab\xC3\xA9"));
    EXPECT_STREQ(narrow, "ab");
    EXPECT_FALSE(platform::copyBounded(narrow, 1, "x"));
    EXPECT_STREQ(narrow, "");
    EXPECT_FALSE(platform::copyBounded(narrow, 0, "x"));

    const char16_t unterminated[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(platform::boundedView(unterminated, 3), u"abc");
    const char terminated[5] = "ab";
    EXPECT_EQ(platform::boundedView(terminated, 5), "ab");
}

}  // namespace
