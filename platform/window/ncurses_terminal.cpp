// The ncursesw backend. Keys come raw (so Ctrl+C is a key, not a signal); a pipe wakes
// the loop when another thread posts. A crash signal restores the terminal with
// async-signal-safe calls only: the saved terminal modes and a prepared escape string.
#define NCURSES_WIDECHAR 1
#include "platform/window/ncurses_terminal.h"

#include <curses.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/window/terminal_input.h"

namespace platform {

namespace {

termios savedModes;
char restoreSequence[128];
std::size_t restoreLength = 0;
constexpr int fatalSignals[] = {SIGSEGV, SIGABRT, SIGTERM, SIGINT};
struct sigaction previousActions[std::size(fatalSignals)];

void restoreOnSignal(int signal) {
    ssize_t ignored = ::write(STDOUT_FILENO, restoreSequence, restoreLength);
    (void)ignored;
    tcsetattr(STDIN_FILENO, TCSANOW, &savedModes);
    ::raise(signal);  // the handler was reset: the default action follows
}

void prepareRestore() {
    restoreLength = 0;
    for (const char* capability : {"rmkx", "rmcup", "cnorm", "sgr0"}) {
        char* sequence = tigetstr(capability);
        if (sequence == nullptr || sequence == reinterpret_cast<char*>(-1)) continue;
        std::size_t length = std::strlen(sequence);
        if (restoreLength + length >= sizeof restoreSequence) break;
        std::memcpy(restoreSequence + restoreLength, sequence, length);
        restoreLength += length;
    }
    struct sigaction action {};
    action.sa_handler = restoreOnSignal;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(fatalSignals); ++i) sigaction(fatalSignals[i], &action, &previousActions[i]);
}

void removeRestore() {
    for (std::size_t i = 0; i < std::size(fatalSignals); ++i) sigaction(fatalSignals[i], &previousActions[i], nullptr);
}

enum Pair : short { pairTitle = 1, pairSoftKeys, pairSelected, pairField, pairFocusedField, pairFrame };

constexpr int escapeDelayMs = 50;  // how long a terminal takes at most between the characters of one key

void putCapability(const char* name) {
    const char* sequence = tigetstr(name);
    if (sequence != nullptr && sequence != reinterpret_cast<char*>(-1)) putp(sequence);
}

class NcursesTerminal final : public TerminalBackend {
public:
    NcursesTerminal() {
        std::setlocale(LC_ALL, "");
        unicode_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
        tcgetattr(STDIN_FILENO, &savedModes);
        if (pipe2(wakePipe_, O_NONBLOCK | O_CLOEXEC) != 0) wakePipe_[0] = wakePipe_[1] = -1;
        initscr();
        raw();
        noecho();
        nonl();
        nodelay(stdscr, TRUE);
        curs_set(0);
        // Keys are read here (terminal_input.h), not by ncurses, which takes a sequence
        // that terminfo does not name for Esc and typed characters. The terminal is
        // still put in the keypad mode that terminfo describes.
        putCapability("smkx");
        colours_ = has_colors();
        if (colours_) {
            start_color();
            use_default_colors();
            init_pair(pairTitle, COLOR_WHITE, COLOR_BLUE);
            init_pair(pairSoftKeys, COLOR_BLACK, COLOR_CYAN);
            init_pair(pairSelected, COLOR_WHITE, COLOR_BLUE);
            init_pair(pairField, -1, -1);
            init_pair(pairFocusedField, COLOR_BLACK, COLOR_WHITE);
            init_pair(pairFrame, COLOR_CYAN, -1);
        }
        prepareRestore();
    }

    ~NcursesTerminal() override {
        putCapability("rmkx");
        endwin();
        removeRestore();
        for (int fd : wakePipe_)
            if (fd >= 0) close(fd);
    }

    TerminalSize size() override {
        int rows = 0;
        int columns = 0;
        getmaxyx(stdscr, rows, columns);
        return {columns, rows};
    }

    void write(int row, int column, std::span<const Cell> given) override {
        const std::vector<Cell> narrow = unicode_ ? std::vector<Cell>() : cellsForNarrowLocale(given);
        const std::span<const Cell> cells = unicode_ ? given : std::span<const Cell>(narrow);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Cell& cell = cells[i];
            if (cell.character == 0) continue;  // drawn with the wide character before it
            wchar_t text[3] = {static_cast<wchar_t>(cell.character), static_cast<wchar_t>(cell.combining), 0};
            auto [attributes, pair] = look(cell.style);
            cchar_t shown;
            setcchar(&shown, text, attributes, pair, nullptr);
            mvadd_wch(row, column + static_cast<int>(i), &shown);
        }
    }

    void setCursor(int row, int column, bool visible) override {
        cursorRow_ = row;
        cursorColumn_ = column;
        cursorVisible_ = visible;
    }

    void flush() override {
        curs_set(cursorVisible_ ? 1 : 0);
        move(cursorRow_, cursorColumn_);
        refresh();
    }

    std::optional<InputEvent> readInput(int timeoutMs) override {
        if (std::optional<InputEvent> event = readKey()) return event;
        pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (poll(watched, wakePipe_[0] >= 0 ? 2 : 1, timeoutMs) <= 0) return std::nullopt;
        if (watched[1].revents & POLLIN) {
            char drain[64];
            while (::read(wakePipe_[0], drain, sizeof drain) > 0) {}
        }
        if (watched[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return InputEvent{InputEvent::Kind::endOfInput};
        return readKey();
    }

    void wake() override {
        if (wakePipe_[1] < 0) return;
        ssize_t ignored = ::write(wakePipe_[1], "w", 1);
        (void)ignored;
    }

    void bell() override { beep(); }
    bool unicode() override { return unicode_; }

    void suspend() override {
        putCapability("rmkx");
        endwin();
    }

    void resume() override {
        // A resize meanwhile reached only the other program: ncurses learns it here.
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0 &&
            (size.ws_row != LINES || size.ws_col != COLS)) {
            resizeterm(size.ws_row, size.ws_col);
        }
        putCapability("smkx");
        clearok(curscr, TRUE);
    }

private:
    std::pair<attr_t, short> look(CellStyle style) const {
        switch (style) {
        case CellStyle::title:
            return colours_ ? std::pair<attr_t, short>{A_BOLD, pairTitle}
                            : std::pair<attr_t, short>{A_REVERSE | A_BOLD, 0};
        case CellStyle::softKeys:
            return colours_ ? std::pair<attr_t, short>{A_NORMAL, pairSoftKeys} : std::pair<attr_t, short>{A_REVERSE, 0};
        case CellStyle::selected:
            return colours_ ? std::pair<attr_t, short>{A_BOLD, pairSelected} : std::pair<attr_t, short>{A_REVERSE, 0};
        case CellStyle::label: return {A_BOLD, 0};
        case CellStyle::focused: return {A_UNDERLINE, 0};
        case CellStyle::cut:
        case CellStyle::disabled: return {A_DIM, 0};
        case CellStyle::field: return {A_UNDERLINE, colours_ ? short{pairField} : short{0}};
        case CellStyle::focusedField:
            return colours_ ? std::pair<attr_t, short>{A_NORMAL, pairFocusedField}
                            : std::pair<attr_t, short>{A_UNDERLINE | A_BOLD, 0};
        case CellStyle::frame: return {A_BOLD, colours_ ? short{pairFrame} : short{0}};
        case CellStyle::normal: break;
        }
        return {A_NORMAL, 0};
    }

    // Moves what the terminal has sent into pending_; notes a resize.
    void readAvailable() {
        wint_t code = 0;
        for (int kind; (kind = get_wch(&code)) != ERR;) {
            if (kind == KEY_CODE_YES) resized_ = resized_ || code == KEY_RESIZE;
            else pending_ += static_cast<char32_t>(code);
        }
    }

    bool inputWithin(int timeoutMs) {
        pollfd watched{STDIN_FILENO, POLLIN, 0};
        return poll(&watched, 1, timeoutMs) > 0;
    }

    // The next key that has arrived. A sequence that has begun gets escapeDelayMs for each
    // further character; then what came is decided, so a lone Esc is Back.
    std::optional<InputEvent> readKey() {
        for (;;) {
            readAvailable();
            if (resized_) {
                resized_ = false;
                return InputEvent{InputEvent::Kind::resize};
            }
            if (pending_.empty()) return std::nullopt;
            DecodedInput decoded = decodeTerminalInput(pending_, false);
            if (decoded.length == 0) {
                const std::size_t had = pending_.size();
                if (inputWithin(escapeDelayMs)) readAvailable();
                if (pending_.size() > had) continue;
                decoded = decodeTerminalInput(pending_, true);
            }
            pending_.erase(0, decoded.length);
            if (decoded.event) return decoded.event;
        }
    }

    bool unicode_ = false;
    bool colours_ = false;
    int wakePipe_[2] = {-1, -1};
    std::u32string pending_;  // characters read but not yet a whole key
    bool resized_ = false;
    int cursorRow_ = 0;
    int cursorColumn_ = 0;
    bool cursorVisible_ = false;
};

bool encodable(char32_t c) {
    char bytes[MB_LEN_MAX];
    std::mbstate_t state{};
    return std::wcrtomb(bytes, static_cast<wchar_t>(c), &state) != static_cast<std::size_t>(-1);
}

}  // namespace

std::vector<Cell> cellsForNarrowLocale(std::span<const Cell> cells) {
    std::vector<Cell> shown(cells.begin(), cells.end());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        Cell& cell = shown[i];
        if (cell.character == 0) continue;
        const bool wide = i + 1 < shown.size() && shown[i + 1].character == 0;
        if (cell.combining != 0 && !encodable(cell.combining)) cell.combining = 0;
        if (encodable(cell.character)) continue;
        cell = Cell{U'?', 0, cell.style};
        if (wide) shown[i + 1] = Cell{U' ', 0, shown[i + 1].style};
    }
    return shown;
}

std::unique_ptr<TerminalBackend> openNcursesTerminal() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return nullptr;
    return std::make_unique<NcursesTerminal>();
}

}  // namespace platform
