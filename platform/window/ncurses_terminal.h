// The real terminal, through ncursesw: UTF-8, double-width characters, colours where the
// terminal has them and bold/reverse video where not, resize reported as input. The
// terminal is restored when the object goes and when the program dies of SIGSEGV,
// SIGABRT, SIGTERM or SIGINT.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "platform/window/terminal.h"

namespace platform {

// What a terminal whose locale is not UTF-8 is given for a row of cells: a character
// that the locale cannot encode becomes one '?' (the second cell of a wide one a blank),
// so that a name never reaches the screen as stray bytes; a combining mark that the
// locale cannot encode is left out. UI thread only (reads the locale).
std::vector<Cell> cellsForNarrowLocale(std::span<const Cell> cells);

// Takes over the terminal on stdin/stdout; no terminal when it is not one.
std::unique_ptr<TerminalBackend> openNcursesTerminal();  // UI thread only.

}  // namespace platform
