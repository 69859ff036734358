// The forms read, one sample each:
//   a character                  "a"; "\r" Enter; "\x7f" Backspace; "\x01" Ctrl+A; "\x1b" Esc
//   CSI, a number and ~          ESC [3~ Delete; ESC [1;5~ Ctrl+Home; rxvt's ESC [7$ Shift+Home, ESC [7^ Ctrl+Home
//   CSI and a letter             ESC [A Up; ESC [H Home; ESC [1;5H Ctrl+Home; ESC [1;2P Shift+F1; ESC [Z Shift+Tab
//   SS3 and a letter             ESC OA Up; ESC OH Home; ESC OP F1; ESC O2P Shift+F1; ESC Op the keypad's 0
//   the Linux console's F1-F5    ESC [[A .. ESC [[E
//   Alt and a key                ESC x; ESC ESC [A (dropped)
// A modifier number m is xterm's: the bits of m - 1 are Shift 1, Alt 2, Ctrl 4, Meta 8.
#include "platform/window/terminal_input.h"

#include <algorithm>
#include <vector>

#include "platform/window/internal/system.h"

namespace platform {

namespace {

constexpr char32_t escape = 0x1b;

DecodedInput dropped(std::size_t length) { return {length, std::nullopt}; }

std::optional<InputEvent> plainKey(char32_t c) {
    switch (c) {
    case '\r':
    case '\n': return InputEvent{InputEvent::Kind::key, Key::action};
    case 0x7f:
    case 0x08: return InputEvent{InputEvent::Kind::key, Key::backspace};
    case '\t': return InputEvent{InputEvent::Kind::key, Key::tab};
    default: break;
    }
    if (c >= 1 && c <= 26) return InputEvent{InputEvent::Kind::key, static_cast<Key>('A' + c - 1), 0, keyControl};
    if (c < 0x20) return std::nullopt;
    return detail::characterInput(c);
}

// The key with Shift and Ctrl from a modifier number (0 and 1: none); nothing with Alt or
// Meta, which the phone does not have.
DecodedInput modifiedKey(std::size_t length, Key key, int modifier) {
    const int bits = std::max(modifier - 1, 0);
    if (key == Key::none || (bits & ~5) != 0) return dropped(length);
    const unsigned flags = ((bits & 1) ? keyShift : 0u) | ((bits & 4) ? keyControl : 0u);
    return {length, InputEvent{InputEvent::Kind::key, key, 0, flags}};
}

// The vt220 numbers of ESC [n~. F10 is the context gesture with Shift only (see below).
Key numberedKey(int number) {
    switch (number) {
    case 1:
    case 7: return Key::home;  // 7 and 8: rxvt
    case 3: return Key::del;
    case 4:
    case 8: return Key::end;
    case 5: return Key::pageUp;
    case 6: return Key::pageDown;
    case 11: return Key::leftSoft;
    case 12: return Key::rightSoft;
    case 13: return Key::help;
    case 14: return Key::edit;
    case 29: return Key::context;  // the Menu key
    default: return Key::none;     // Insert, F5 and up
    }
}

Key letterKey(char32_t letter) {
    switch (letter) {
    case 'A': return Key::up;
    case 'B': return Key::down;
    case 'C': return Key::right;
    case 'D': return Key::left;
    case 'H': return Key::home;
    case 'F': return Key::end;
    case 'P': return Key::leftSoft;
    case 'Q': return Key::rightSoft;
    case 'R': return Key::help;
    case 'S': return Key::edit;
    default: return Key::none;
    }
}

// The numbers of "1;5", an empty one 0; other characters (private forms) are passed over.
std::vector<int> numbersOf(std::u32string_view parameters) {
    std::vector<int> numbers(1, 0);
    for (char32_t c : parameters) {
        if (c == ';') numbers.push_back(0);
        else if (c >= '0' && c <= '9') numbers.back() = std::min(numbers.back() * 10 + static_cast<int>(c - '0'), 9999);
    }
    return numbers;
}

// ESC [ or ESC O, parameters 0x30-0x3F, then one final character 0x40-0x7E (or rxvt's $).
DecodedInput controlSequence(std::u32string_view input, bool complete) {
    const bool csi = input[1] == '[';
    if (csi && input.size() > 2 && input[2] == '[') {  // the Linux console's F1-F5
        if (input.size() == 3) return complete ? dropped(3) : DecodedInput{};
        constexpr Key linuxKeys[] = {Key::leftSoft, Key::rightSoft, Key::help, Key::edit};
        const char32_t index = input[3] - U'A';
        return modifiedKey(4, index < std::size(linuxKeys) ? linuxKeys[index] : Key::none, 1);
    }
    std::size_t end = 2;
    while (end < input.size() && input[end] >= 0x30 && input[end] <= 0x3f) ++end;
    if (end == input.size()) return complete ? dropped(end) : DecodedInput{};
    const char32_t final = input[end];
    if ((final < 0x40 || final > 0x7e) && final != '$') return dropped(end);  // broken off: drop what came
    const std::size_t length = end + 1;
    const std::vector<int> numbers = numbersOf(input.substr(2, end - 2));
    const int first = numbers.front();
    if (csi) {
        switch (final) {
        case '~':
            if (first == 21)
                return modifiedKey(length, numbers.back() == 2 ? Key::context : Key::none, 1);  // Shift+F10
            return modifiedKey(length, numberedKey(first), numbers.size() > 1 ? numbers[1] : 1);
        case '$': return modifiedKey(length, numberedKey(first), 2);  // rxvt: Shift
        case '^': return modifiedKey(length, numberedKey(first), 5);  // Ctrl
        case '@': return modifiedKey(length, numberedKey(first), 6);  // Ctrl+Shift
        case 'Z': return modifiedKey(length, Key::tab, 2);
        default: break;
        }
    } else {
        // The keypad in application mode.
        constexpr std::u32string_view keypadFinals = U"pqrstuvwxyjkmnoX", keypadCharacters = U"0123456789*+-./=";
        if (final == 'M') return modifiedKey(length, Key::action, 1);
        if (std::size_t at = keypadFinals.find(final); at != keypadFinals.npos)
            return {length, detail::characterInput(keypadCharacters[at])};
    }
    return modifiedKey(length, letterKey(final), numbers.back());
}

}  // namespace

DecodedInput decodeTerminalInput(std::u32string_view input, bool complete) {
    if (input[0] != escape) return {1, plainKey(input[0])};
    if (input.size() == 1)
        return complete ? DecodedInput{1, InputEvent{InputEvent::Kind::key, Key::back}} : DecodedInput{};
    switch (input[1]) {
    case '[':
    case 'O': return controlSequence(input, complete);
    case '\t': return {2, InputEvent{InputEvent::Kind::key, Key::tab, 0, keyShift}};  // the Linux console's Shift+Tab
    case escape: {
        // Alt with a key that is a sequence itself (ESC ESC [A) is dropped whole; otherwise
        // Esc was pressed twice.
        const DecodedInput rest = decodeTerminalInput(input.substr(1), complete);
        if (rest.length == 0) return {};
        if (rest.length > 1) return dropped(rest.length + 1);
        return {1, InputEvent{InputEvent::Kind::key, Key::back}};
    }
    default: return dropped(2);  // Alt and a character
    }
}

}  // namespace platform
