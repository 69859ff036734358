// The seam between the window system and a terminal: a backend shows a grid of cells
// and reads input; everything above it (windows, controls, dialogs, menus) draws into
// the grid. Two backends exist: ncursesw for a real terminal (ncurses_terminal.h) and a
// headless grid for tests (headless_terminal.h). The clock that drives timers and key
// releases is injected with the backend.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/window/keys.h"

namespace platform {

// What a cell is for; each backend decides how it looks (colours, or bold and reverse
// video on a monochrome terminal).
enum class CellStyle : std::uint8_t {
    normal,
    title,         // the title line
    label,         // bold label text
    softKeys,      // the soft-key line
    selected,      // a selected row, a chosen menu item, selected text in an edit
    focused,       // the focused row of a list when it is not selected
    cut,           // a row marked cut
    field,         // the body of an edit, selector or drop-down
    focusedField,  // the same with the keyboard focus
    frame,         // the frame of a box or menu
    disabled,
};

// One terminal cell. A double-width character takes its cell and the next one, which is
// a continuation cell (character 0).
struct Cell {
    char32_t character = U' ';
    char32_t combining = 0;  // one combining mark drawn with the character, or 0
    CellStyle style = CellStyle::normal;
    friend bool operator==(const Cell&, const Cell&) = default;
};

struct TerminalSize {
    int columns = 0;
    int rows = 0;
    friend bool operator==(TerminalSize, TerminalSize) = default;
};

// One report of the terminal.
struct InputEvent {
    enum class Kind {
        key,         // key (and character for a printable one); modifiers keyShift/keyControl
        resize,      // the terminal changed its size
        endOfInput,  // nothing more will come (the headless script is used up, or stdin closed)
    };
    Kind kind = Kind::key;
    Key key = Key::none;
    char32_t character = 0;
    unsigned modifiers = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since an arbitrary start; never goes back. Any thread.
    virtual std::int64_t nowMs() const = 0;
};

// The steady clock of the host.
class SteadyClock final : public Clock {
public:
    std::int64_t nowMs() const override;
};

// A clock that moves only when told: tests drive timers with it.
class ManualClock final : public Clock {
public:
    std::int64_t nowMs() const override;
    void advance(std::int64_t ms);

private:
    std::int64_t now_ = 0;
};

class TerminalBackend {
public:
    virtual ~TerminalBackend() = default;
    virtual TerminalSize size() = 0;
    // Writes one row of cells starting at the column.
    virtual void write(int row, int column, std::span<const Cell> cells) = 0;
    // Shows the text cursor at the cell, or hides it.
    virtual void setCursor(int row, int column, bool visible) = 0;
    // Makes what was written visible.
    virtual void flush() = 0;
    // Waits up to timeoutMs (-1: no limit) for input; nothing when the time passed or
    // wake() was called.
    virtual std::optional<InputEvent> readInput(int timeoutMs) = 0;
    // Makes a waiting readInput return at once. Any thread.
    virtual void wake() = 0;
    virtual void bell() = 0;
    // Whether the terminal shows Unicode symbols (a UTF-8 locale).
    virtual bool unicode() = 0;
    // Gives the terminal to another program for a while: its modes and screen as they
    // were before the window system took it. resume() takes it back, at the size it has
    // now, and the next flush draws every cell again (the other program left its own).
    virtual void suspend() = 0;
    virtual void resume() = 0;
};

// Starts the window system on the calling thread, which becomes the UI thread, drawing
// on `terminal` and timing with `clock`; both must outlive the window system.
class WindowSystemScope {
public:
    WindowSystemScope(TerminalBackend& terminal, Clock& clock);
    // Destroys every window and answers calls still waiting from other threads with 0.
    ~WindowSystemScope();
    WindowSystemScope(const WindowSystemScope&) = delete;
    WindowSystemScope& operator=(const WindowSystemScope&) = delete;

    // For a program that leaves while another thread may still be calling in: the end
    // answers calls as usual, but keeps the state such a thread may be on its way to for
    // the rest of the program's life instead of freeing it.
    void keepStateAfterEnd() { keepState_ = true; }

private:
    bool keepState_ = false;
};

}  // namespace platform
