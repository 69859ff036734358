// What a terminal sends, read as keys. Plain characters are keys themselves; the other
// keys come as escape sequences, which differ between terminals and often from what
// TERM's terminfo entry says (tmux sends Home as ESC [1~ under TERM=xterm-256color), so
// the forms of xterm, tmux, screen, rxvt and the Linux console are all read here.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/window/terminal.h"

namespace platform {

struct DecodedInput {
    std::size_t length = 0;           // characters used; 0: a sequence has begun, wait for the rest
    std::optional<InputEvent> event;  // nothing: the characters are no key of the phone, drop them
};

// Reads the first key of `input` (not empty). While `complete` is false, an input that
// may be the start of a longer sequence gives length 0; once the terminal has been quiet
// for a moment, call again with `complete` true: a lone Esc is then Back, and a sequence
// cut short is dropped whole. A sequence the phone has no key for (Insert, F5, Alt+letter,
// one never heard of) is dropped whole too, never read as Back and typed characters.
DecodedInput decodeTerminalInput(std::u32string_view input, bool complete);

}  // namespace platform
