// A terminal whose locale is not UTF-8: what it cannot show becomes '?', one per
// character, and the columns stay where the layout put them.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/window/ncurses_terminal.h"

namespace {

using platform::Cell;

TEST(NarrowLocale, CharactersTheLocaleCannotEncodeBecomeOneQuestionMarkEach) {
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "C"));
    // "a", "ü", a wide "日" with its second cell, "e" with a combining acute, "z".
    const Cell given[] = {{U'a'}, {U'\u00fc'}, {U'\u65e5'}, {0}, {U'e', U'\u0301'}, {U'z'}};
    const std::vector<Cell> shown = platform::cellsForNarrowLocale(given);
    std::setlocale(LC_CTYPE, previous.c_str());
    std::u32string text;
    for (const Cell& cell : shown) {
        text += cell.character;
        if (cell.combining) text += cell.combining;
    }
    EXPECT_EQ(text, U"a?? ez");
}

}  // namespace
