// The headless terminal: a cell grid and a scripted input, for tests.
#include "platform/window/headless_terminal.h"

#include "platform/text.h"
#include "platform/window/internal/canvas.h"
#include "platform/window/internal/system.h"

namespace platform {

HeadlessTerminal::HeadlessTerminal(int columns, int rows, bool unicode) : size_{columns, rows}, unicode_(unicode) {
    cells_.assign(static_cast<std::size_t>(columns * rows), Cell{});
}

void HeadlessTerminal::pressKey(Key key, unsigned modifiers) {
    InputEvent event{InputEvent::Kind::key, key, 0, modifiers};
    auto code = static_cast<std::uint16_t>(key);
    if (code >= '0' && code <= '9' && modifiers == 0) event.character = code;
    if (code >= 'A' && code <= 'Z' && (modifiers & keyControl) == 0)
        event.character = (modifiers & keyShift) ? code : code - 'A' + 'a';
    script_.emplace_back(event);
}

void HeadlessTerminal::pressKeys(std::initializer_list<Key> keys) {
    for (Key key : keys) pressKey(key);
}

void HeadlessTerminal::typeText(std::u16string_view text) {
    for (char32_t c : detail::codePoints(text)) script_.emplace_back(detail::characterInput(c));
}

void HeadlessTerminal::advanceTime(int ms) { script_.emplace_back(TimeStep{ms}); }

void HeadlessTerminal::holdKey(Key key, int ms, int firstRepeatMs, int repeatMs) {
    pressKey(key);
    int at = 0;
    for (int next = firstRepeatMs; next <= ms; next += repeatMs) {
        advanceTime(next - at);
        pressKey(key);
        at = next;
    }
    if (ms > at) advanceTime(ms - at);
}

void HeadlessTerminal::atIdle(std::function<void()> action) { script_.emplace_back(std::move(action)); }

void HeadlessTerminal::resize(int columns, int rows) { script_.emplace_back(ResizeStep{{columns, rows}}); }

bool HeadlessTerminal::scriptDone() const { return script_.empty(); }

std::string HeadlessTerminal::rowText(int row) const {
    std::u32string text;
    for (int column = 0; column < size_.columns; ++column) {
        const Cell& cell = cells_[static_cast<std::size_t>(row * size_.columns + column)];
        if (cell.character == 0) continue;  // the second half of a wide character
        text += cell.character;
        if (cell.combining) text += cell.combining;
    }
    while (!text.empty() && text.back() == U' ') text.pop_back();
    return toUtf8(detail::utf16Units(text));
}

std::string HeadlessTerminal::screenText() const {
    std::string text;
    for (int row = 0; row < size_.rows; ++row) {
        if (row > 0) text += '\n';
        text += rowText(row);
    }
    return text;
}

CellStyle HeadlessTerminal::styleAt(int row, int column) const { return cellAt(row, column).style; }

Cell HeadlessTerminal::cellAt(int row, int column) const {
    if (row < 0 || row >= size_.rows || column < 0 || column >= size_.columns) return {};
    return cells_[static_cast<std::size_t>(row * size_.columns + column)];
}

TerminalSize HeadlessTerminal::size() { return size_; }

void HeadlessTerminal::write(int row, int column, std::span<const Cell> cells) {
    if (row < 0 || row >= size_.rows) return;
    for (std::size_t i = 0; i < cells.size() && column + static_cast<int>(i) < size_.columns; ++i)
        cells_[static_cast<std::size_t>(row * size_.columns + column) + i] = cells[i];
}

void HeadlessTerminal::setCursor(int, int, bool) {}

void HeadlessTerminal::suspend() { cells_.assign(cells_.size(), Cell{U'~'}); }

std::optional<InputEvent> HeadlessTerminal::readInput(int timeoutMs) {
    if (busy_ && busy_()) {
        const auto now = std::chrono::steady_clock::now();
        if (!busySince_) busySince_ = now;
        if (now - *busySince_ < std::chrono::minutes(1)) {
            waitForMessage(20);
            return std::nullopt;
        }
    } else {
        busySince_.reset();
    }
    if (script_.empty()) return InputEvent{InputEvent::Kind::endOfInput};
    Step step = std::move(script_.front());
    script_.pop_front();
    if (auto* event = std::get_if<InputEvent>(&step)) return *event;
    if (auto* time = std::get_if<TimeStep>(&step)) {
        // Time passes up to the next deadline; the rest of the step waits its turn.
        int passed = timeoutMs < 0 ? time->ms : std::min(time->ms, timeoutMs);
        clock_.advance(passed);
        if (time->ms > passed) script_.push_front(TimeStep{time->ms - passed});
        return std::nullopt;
    }
    if (auto* resize = std::get_if<ResizeStep>(&step)) {
        size_ = resize->size;
        cells_.assign(static_cast<std::size_t>(size_.columns * size_.rows), Cell{});
        return InputEvent{InputEvent::Kind::resize};
    }
    std::get<std::function<void()>>(step)();
    return std::nullopt;
}

}  // namespace platform
