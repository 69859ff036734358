// The narrowing of a listing and the window title: pure functions of the population.
#include <gtest/gtest.h>

#include "explorer/population.h"
#include "platform/text.h"

namespace {

using namespace explorer;
using platform::toUtf8;

TEST(Matching, TypeAhead) {
    struct Case { std::u16string text, name; bool matches; };
    const Case cases[] = {
        {u"", u"anything", true},
        {u"AB", u"cab.txt", true},
        {u"AB", u"a.b", false},
        {u"2ABC", u"cellar", true},  // a keypad group: any one of its letters
        {u"2ABC", u"done", false},
        {u"\u00c9T", u"\u00e9t\u00e9", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nameMatchesTypeAhead(c.text, c.name), c.matches) << toUtf8(c.text) << " / " << toUtf8(c.name);
    }
}

TEST(Matching, FilterPatterns) {
    struct Case { std::u16string list, name; bool matches; };
    const Case cases[] = {
        {u"*.txt;*.doc", u"b.doc", true},
        {u"*.txt;*.doc", u"c.TXT", false},
        {u"*.*", u"no-dot", true},
        {u"report*", u"report1", false},
        {u"*.txt;", u"a.txt", true},
        {u"*;", u"a.bin", true},  // the pattern a new filter starts with
        {u"*.tar.gz", u"x.tar.gz", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(nameMatchesFilter(c.list, c.name), c.matches) << toUtf8(c.list) << " / " << toUtf8(c.name);
    }
}

TEST(Matching, AttributeMask) {
    using namespace platform;
    struct Case { std::uint32_t mask, attributes; bool shown; };
    const Case cases[] = {
        {0, attributeHidden | attributeSystem, true},
        {1, attributeArchive, true},
        {1, attributeHidden, false},
        {3, attributeSystem, false},
        {6, attributeHidden | attributeSystem, true},
        {2, attributeHidden | attributeSystem, false},
        {8, attributeInRom, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shownByAttributeMask(c.mask, c.attributes), c.shown) << "mask " << c.mask << " attributes " << c.attributes;
    }
}

TEST(Matching, DotSegmentsOfTheCurrentFolder) {
    struct Case { std::u16string folder, expected; };
    const Case cases[] = {
        {u"\\a\\b\\c\\..\\..\\", u"\\a\\"},
        {u"\\..\\", u"\\"},
        {u"\\a\\b.\\", u"\\a\\b.\\"},  // a folder whose name ends in a dot is no ".." step
        {u"\\a\\.\\", u"\\a\\"},
        {u"/pub/x/../", u"/pub/"},
    };
    for (const auto& c : cases) EXPECT_EQ(toUtf8(withoutDotSegments(c.folder)), toUtf8(c.expected)) << toUtf8(c.folder);
}

TEST(Matching, TitleForEachTitleInfo) {
    Listing listing;
    listing.patternList = u"*.txt;*.doc";
    const char* expected[] = {
        "\\My Documents\\ - Farlink",
        "\\My Documents\\*.txt;*.doc - Farlink",
        "\\My Documents\\ D:2 F:5 - Farlink",
        "\\My Documents\\*.txt;*.doc D:2 F:5 - Farlink",
    };
    for (std::uint32_t info = 0; info < 4; ++info) {
        listing.view.titleInfo = info;
        EXPECT_EQ(toUtf8(composeTitle(listing, u"\\My Documents\\", 2, 5)), expected[info]) << "Title Info " << info;
    }
    EXPECT_EQ(composeTitle(listing, u"\\" + std::u16string(300, u'x'), 0, 0).size(), 259u);
}

}  // namespace
