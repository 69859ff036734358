// Keys: the phone's keys as the terminal gives them. F1 and F2 are the left and right
// soft keys, Esc is Back, Enter the action key. A terminal reports presses only; the
// window system makes up the releases (see KeyTiming).
#pragma once

#include <cstdint>

namespace platform {

// Letters and digits are their upper-case ASCII codes ('A'..'Z', '0'..'9'), as keyFor()
// gives them; the other keys have names.
enum class Key : std::uint16_t {
    none = 0,
    leftSoft = 0x100,  // F1
    rightSoft,         // F2
    back,              // Esc
    action,            // Enter
    left,
    right,
    up,
    down,
    pageUp,
    pageDown,
    home,
    end,
    backspace,
    del,  // Delete
    tab,
    context,  // Shift+F10 or the Menu key: the context gesture
    help,     // F3
    edit,     // F4: Edit File on a file's row
    other,    // a printable character without a key of its own (its character follows)
};

constexpr Key keyFor(char letterOrDigit) {
    return static_cast<Key>(letterOrDigit >= 'a' && letterOrDigit <= 'z' ? letterOrDigit - 'a' + 'A' : letterOrDigit);
}
constexpr bool isDigitKey(Key key) { return key >= keyFor('0') && key <= keyFor('9'); }

// Bits of the lParam of keyDown and keyUp, and of Accelerator::modifiers.
enum KeyFlag : unsigned {
    keyShift = 1u << 0,
    keyControl = 1u << 1,
    keyRepeat = 1u << 2,  // keyDown: the terminal's auto-repeat of a key held down
};

// The lParam of a hotKey message.
enum HotKeyFlag : unsigned {
    hotKeyPress = 1u << 0,
    hotKeyRelease = 1u << 1,
};

// The left soft key (F1) is the one key whose release matters (a long press opens a
// menu). When its press reaches a bar whose owner is told of it (overrideNotify), it is
// held down from its first report until its auto-repeat stops: released `firstRepeatMs`
// after a single press, or `repeatGapMs` after the last repeat, and its command comes
// with the release. Holding F1 for 600 ms is therefore a long press on a terminal whose
// auto-repeat starts within `firstRepeatMs`; Shift+F1 is a press held for `shiftHoldMs`,
// a long press at once for terminals that do not repeat. Every other key, and F1
// anywhere else, is released as soon as it is pressed.
struct KeyTiming {
    int firstRepeatMs = 550;
    int repeatGapMs = 150;
    int shiftHoldMs = 700;
};
void setKeyTiming(const KeyTiming& timing);  // UI thread only.

// Whether the key is down now (for the left soft key: held). Any thread.
bool isKeyDown(Key key);
// Ends a held key now, as if the user had let it go: the key-up is delivered and the
// terminal's further repeats of this hold are ignored. UI thread only.
void releaseKey(Key key);
// Hands Back to the focused window as a key press, bypassing the soft-key bar's
// override: an edit erases one character. UI thread only.
void sendBackToFocusWindow();

}  // namespace platform
