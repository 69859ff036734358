// The real terminal, through ncursesw: UTF-8, double-width characters, colours where the
// terminal has them and bold/reverse video where not, resize reported as input. The
// terminal is restored when the object goes and when the program dies of SIGSEGV,
// SIGABRT, SIGTERM or SIGINT.
#pragma once

#include <memory>

#include "platform/window/terminal.h"

namespace platform {

// Takes over the terminal on stdin/stdout; no terminal when it is not one.
std::unique_ptr<TerminalBackend> openNcursesTerminal();  // UI thread only.

}  // namespace platform
