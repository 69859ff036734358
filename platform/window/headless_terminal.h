// The headless terminal: a cell grid in memory with a scripted input, for tests. The
// script is a list of steps (keys, text, time passing, actions) that the window system
// reads as the terminal's input; runUntilIdle() plays it to its end. The screen is read
// back as text, one line per row with trailing blanks removed.
//
//   HeadlessTerminal terminal(40, 12);
//   WindowSystemScope scope(terminal, terminal.clock());
//   ... create windows ...
//   terminal.pressKeys({Key::down, Key::action});
//   runUntilIdle();
//   EXPECT_EQ(terminal.screenText(), R"(...)");
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/window/terminal.h"

namespace platform {

class HeadlessTerminal final : public TerminalBackend {
public:
    explicit HeadlessTerminal(int columns = 80, int rows = 24, bool unicode = false);

    // Script steps, played in order when the window system reads input.
    void pressKey(Key key, unsigned modifiers = 0);
    void pressKeys(std::initializer_list<Key> keys);
    void typeText(std::u16string_view text);  // one key report per character
    // Time passes: the window system's clock moves on by `ms`, stopping at each timer or
    // key release due on the way.
    void advanceTime(int ms);
    // The terminal's auto-repeat of a key held for `ms`: the press, then a repeat every
    // `repeatMs` once `firstRepeatMs` have passed, then time up to `ms`.
    void holdKey(Key key, int ms, int firstRepeatMs = 500, int repeatMs = 40);
    // Runs the action when the script reaches it: the screen is drawn and every message
    // before it handled (for example to look at a modal dialog).
    void atIdle(std::function<void()> action);
    void resize(int columns, int rows);
    bool scriptDone() const;
    // While `busy` says so the script holds its next step, its end too, for a bounded
    // while (a minute), as a user who waits for a wait screen to go; null holds nothing.
    void holdWhile(std::function<bool()> busy) { busy_ = std::move(busy); }

    // The screen as text: rows joined with '\n', trailing blanks of each row removed.
    std::string screenText() const;
    std::string rowText(int row) const;
    CellStyle styleAt(int row, int column) const;
    Cell cellAt(int row, int column) const;
    int bellCount() const { return bells_; }
    ManualClock& clock() { return clock_; }

    TerminalSize size() override;
    void write(int row, int column, std::span<const Cell> cells) override;
    void setCursor(int row, int column, bool visible) override;
    void flush() override {}
    std::optional<InputEvent> readInput(int timeoutMs) override;
    void wake() override {}  // the script never waits: nothing to wake
    void bell() override { ++bells_; }
    bool unicode() override { return unicode_; }
    // The other program leaves nothing of the screen that a test could take for it.
    void suspend() override;
    void resume() override {}

private:
    struct TimeStep {
        int ms;
    };
    struct ResizeStep {
        TerminalSize size;
    };
    using Step = std::variant<InputEvent, TimeStep, ResizeStep, std::function<void()>>;

    TerminalSize size_;
    bool unicode_;
    std::vector<Cell> cells_;
    std::deque<Step> script_;
    std::function<bool()> busy_;
    std::optional<std::chrono::steady_clock::time_point> busySince_;
    ManualClock clock_;
    int bells_ = 0;
};

}  // namespace platform
