#include "explorer/type_ahead.h"

#include <array>
#include <cwctype>

namespace explorer {
namespace {

constexpr std::array<std::u16string_view, 10> keypadGroups = {u"0",    u"1",    u"2ABC",  u"3DEF", u"4GHI",
                                                              u"5JKL", u"6MNO", u"7PQRS", u"8TUV", u"9WXYZ"};

}  // namespace

std::u16string typeAheadAfterCharacter(std::u16string_view text, char16_t character, platform::Key digitKey) {
    if (digitKey >= platform::keyFor('1') && digitKey <= platform::keyFor('9')) {
        const std::u16string_view group = keypadGroups[static_cast<std::size_t>(digitKey) - '0'];
        if (group.find(character) != std::u16string_view::npos) return std::u16string(group);
    }
    return std::u16string(text) + character;
}

std::u16string typeAheadAfterErase(std::u16string_view text) {
    if (text.empty() || isKeypadGroup(text)) return {};
    return std::u16string(text.substr(0, text.size() - 1));
}

bool isKeypadGroup(std::u16string_view text) {
    return !text.empty() && (text[0] >= 0xD800 || !std::iswalpha(static_cast<wint_t>(text[0])));
}

}  // namespace explorer
