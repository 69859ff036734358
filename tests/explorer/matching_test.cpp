// The narrowing of a listing and the window title: pure functions of the population.
#include <gtest/gtest.h>

#include "explorer/population.h"
#include "platform/text.h"

namespace {

using namespace explorer;
using platform::toUtf8;

// Whether a name passes the type-ahead text or the filter's pattern list.
TEST(Matching, TypeAheadAndFilterPatterns) {
    struct Case {
        bool (*passes)(std::u16string_view, std::u16string_view);
        std::u16string text, name;
        bool expected;
    };
    const Case cases[] = {
        {nameMatchesTypeAhead, u"", u"anything", true},
        {nameMatchesTypeAhead, u"AB", u"cab.txt", true},
        {nameMatchesTypeAhead, u"AB", u"a.b", false},
        {nameMatchesTypeAhead, u"2ABC", u"cellar", true},  // a keypad group: any one of its letters
        {nameMatchesTypeAhead, u"2ABC", u"done", false},
        {nameMatchesTypeAhead, u"\u00c9T", u"\u00e9t\u00e9", true},
        {nameMatchesFilter, u"*.txt;*.doc", u"b.doc", true},
        {nameMatchesFilter, u"*.txt;*.doc", u"c.TXT", false},
        {nameMatchesFilter, u"*.*", u"no-dot", true},
        {nameMatchesFilter, u"report*", u"report1", false},
        {nameMatchesFilter, u"*.txt;", u"a.txt", true},
        {nameMatchesFilter, u"*;", u"a.bin", true},  // the pattern a new filter starts with
        {nameMatchesFilter, u"*.tar.gz", u"x.tar.gz", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.passes(c.text, c.name), c.expected) << toUtf8(c.text) << " / " << toUtf8(c.name);
    }
}

TEST(Matching, AttributeMask) {
    using namespace platform;
    struct Case {
        std::uint32_t mask, attributes;
        bool shown;
    };
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
        EXPECT_EQ(shownByAttributeMask(c.mask, c.attributes), c.shown)
            << "mask " << c.mask << " attributes " << c.attributes;
    }
}

TEST(Matching, DotSegmentsOfTheCurrentFolder) {
    struct Case {
        std::u16string folder, expected;
    };
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
