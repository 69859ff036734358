// Keypad type-ahead: how a typed character and an erase change the text that narrows
// the listing. A digit key stands for its whole letter group ("2" gives "2ABC"), so one
// press shows every name holding any of its letters; letters build a word.
#pragma once

#include <string>
#include <string_view>

#include "platform/window/keys.h"

namespace explorer {

// The text after `character` was typed: the whole group of `digitKey` (1 to 9) when the
// character is one of that group's, otherwise the text with the character appended.
std::u16string typeAheadAfterCharacter(std::u16string_view text, char16_t character, platform::Key digitKey);

// A keypad group is one unit: erasing empties it. A word loses its last character.
std::u16string typeAheadAfterErase(std::u16string_view text);

// Whether the text is a keypad group (it does not begin with a letter): a name then
// matches by any one of its characters rather than by the whole text.
bool isKeypadGroup(std::u16string_view text);

}  // namespace explorer
