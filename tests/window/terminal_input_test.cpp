// Bytes from terminals -> keys: every form of a key the terminals send, and sequences the
// phone has no key for dropped whole rather than read as Back and typed characters.
#include "platform/window/terminal_input.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace platform;

std::string describe(const InputEvent& event) {
    const char* names[] = {"F1",   "F2",   "Back", "Enter", "Left", "Right", "Up",   "Down", "PgUp",
                           "PgDn", "Home", "End",  "BkSp",  "Del",  "Tab",   "Menu", "F3",   "F4"};
    const auto index = static_cast<std::size_t>(event.key) - static_cast<std::size_t>(Key::leftSoft);
    const char32_t character = event.character ? event.character : static_cast<char32_t>(event.key);
    return std::string(event.modifiers & keyShift ? "Shift+" : "") + (event.modifiers & keyControl ? "Ctrl+" : "") +
           (index < std::size(names) ? names[index] : std::string(1, static_cast<char>(character)));
}

// The keys of `bytes` once the terminal is quiet after them.
std::string keysOf(std::string_view bytes) {
    std::u32string input(bytes.begin(), bytes.end());
    std::string keys;
    while (!input.empty()) {
        const DecodedInput decoded = decodeTerminalInput(input, true);
        if (decoded.event) keys += (keys.empty() ? "" : " ") + describe(*decoded.event);
        input.erase(0, decoded.length);
    }
    return keys;
}

TEST(TerminalInput, BytesFromTerminalsAreReadAsKeys) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"a\x01\r\x7f\t\x1b[Z\x1b\t", "a Ctrl+A Enter BkSp Tab Shift+Tab Shift+Tab"},
        {"\x1b\x1b\x1b", "Back Back Back"},                                          // Esc held down while busy
        {"\x1b[1~\x1b[4~\x1bOH\x1bOF\x1b[H\x1b[7~", "Home End Home End Home Home"},  // tmux, xterm, rxvt
        {"\x1b[3~\x1b[5~\x1b[6~\x1bOA\x1b[A\x1bOp\x1bOk\x1bOM", "Del PgUp PgDn Up Up 0 + Enter"},
        {"\x1bOP\x1b[12~\x1b[[C\x1b[1;2P\x1bO2P\x1b[21;2~\x1b[29~", "F1 F2 F3 Shift+F1 Shift+F1 Menu Menu"},
        {"\x1bOS\x1b[14~\x1b[[D", "F4 F4 F4"},  // xterm, rxvt, the Linux console
        {"\x1b[1;5H\x1b[7^\x1b[5;5~", "Ctrl+Home Ctrl+Home Ctrl+PgUp"},
        {"\x1b[2~\x1b[15~\x1b[21~\x1b[[E\x1bOE", ""},  // Insert, F5, F10, F5, keypad 5
        {"\x1bx\x1b\x1b[A\x1b[1;3H\x1b[3;9~", ""},     // Alt+x, Alt+Up, Alt+Home, Meta+Delete
        {"\x1b[?1;2cz\x1b[99999999999~z\x1b[9Xz\x1b[1\x1b[Az\x1bO\rz\x1b[", "z z z Up z Enter z"},  // unknown, broken
    };
    for (auto [bytes, keys] : cases) EXPECT_EQ(keysOf(bytes), keys) << testing::PrintToString(std::string(bytes));
}

TEST(TerminalInput, TheStartOfASequenceWaitsForTheRest) {
    for (std::u32string_view start : {U"\x1b", U"\x1b[1;5", U"\x1bO", U"\x1b\x1b", U"\x1b\x1b[", U"\x1b[["})
        EXPECT_EQ(decodeTerminalInput(start, false).length, 0u) << start.size() << " characters";
}

}  // namespace
