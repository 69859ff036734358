// Internal: the state of the window system and what its parts share. Everything here
// is touched on the UI thread only, except the message queue (under its mutex).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/counted_lock.h"
#include "platform/window/controls.h"
#include "platform/window/internal/canvas.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"

namespace platform::detail {

struct WindowData;

// The built-in behaviour of a kind of window: its default procedure and its drawing.
class Control {
public:
    virtual ~Control() = default;
    virtual LResult handle(Window window, MessageId message, WParam wParam, LParam lParam);
    virtual void draw(WindowData& window, Canvas& canvas) = 0;
    // Whether the control takes the keyboard focus when the user moves through a dialog.
    virtual bool takesFocus() const { return true; }
    // Keys the control uses itself, which a dialog must not take for moving the focus.
    virtual bool wantsKey(Key) const { return false; }
    // Where the text cursor is shown while the control has the focus (client cells).
    virtual std::optional<Point> caret(const WindowData&) const { return std::nullopt; }
    // The soft-key labels of a box or menu that has no bar of its own.
    virtual std::pair<std::u16string, std::u16string> softKeyLabels() const { return {}; }
    // The window's text was set by the program.
    virtual void textSet(WindowData&) {}
    // The window, set when it is created.
    Window self;
    // A spinner attached to this selector or edit.
    Window spinner;
};

struct WindowData {
    Window handle;
    ControlKind kind = ControlKind::window;
    Window parent;
    Window owner;  // a soft-key bar's window
    std::vector<Window> children;
    std::u16string text;
    unsigned options = 0;
    Rect rect;  // children: in the parent's client cells; boxes and menus: screen cells
    int id = 0;
    bool visible = true;
    bool enabled = true;
    bool destroying = false;
    Font font = Font::normal;
    WindowProcedure procedure;
    void* data = nullptr;
    std::unique_ptr<Control> control;
    Window softKeyBar;             // top-level windows
    Window lastFocus;              // top-level windows: where the focus returns when it is in front again
    std::optional<int> endResult;  // dialogs: the result once endDialog was called
};

struct MenuEntry {
    std::u16string text;  // empty with command 0 and no sub-menu: a separator
    int command = 0;
    std::uint32_t subMenu = 0;
};

struct MenuData {
    std::vector<MenuEntry> entries;
    bool isSubMenu = false;  // destroyed with the menu that holds it
};

struct QueuedMessage {
    Window window;
    MessageId message{};
    WParam wParam = 0;
    LParam lParam = 0;
    std::shared_ptr<const void> record;
    // A call carried over from another thread; run(true) carries it out, run(false)
    // answers it without (the window system stopped).
    std::function<void(bool)> call;
};

struct Timer {
    int intervalMs = 0;
    std::int64_t dueMs = 0;
};

// One held key (only the left soft key is held; see KeyTiming).
struct KeyHold {
    bool down = false;
    bool ignoreRepeats = false;  // released by the program; the hold goes on in the terminal
    std::int64_t releaseMs = 0;
};

// Where a key press went, so that its release goes the same way.
struct PressRoute {
    Window bar;               // the bar that took the press, if any
    bool notify = false;      // the bar's owner gets hotKey for the release
    bool toFocus = true;      // the focused window gets keyUp
    int deferredCommand = 0;  // a soft key's command carried out on release
};

struct State {
    State(TerminalBackend& terminal, Clock& clock) : terminal(terminal), clock(clock) {}
    TerminalBackend& terminal;
    Clock& clock;
    std::thread::id uiThread = std::this_thread::get_id();

    std::unordered_map<std::uint32_t, std::unique_ptr<WindowData>> windows;
    std::uint32_t nextWindowId = 1;
    std::vector<Window> topLevels;  // bottom to top
    Window focus;
    Window foreground;  // the topmost visible top-level window: it gets the keys
    Window active;      // the same without popup menus: it gets activate

    std::mutex queueMutex;
    std::condition_variable queueSignal;
    std::deque<QueuedMessage> queue;
    bool accepting = true;  // under queueMutex

    std::span<const Accelerator> accelerators;
    int modalDepth = 0;
    bool quit = false;
    int quitCode = 0;

    std::map<std::pair<std::uint32_t, int>, Timer> timers;
    std::unordered_map<std::uint32_t, MenuData> menus;
    std::uint32_t nextMenuId = 1;
    // Windows destroyed while a procedure may still be running on them; freed when no
    // procedure is.
    std::vector<std::unique_ptr<WindowData>> destroyed;
    int callDepth = 0;

    Frame frame;
    bool dirty = true;
    bool busy = false;
    Window painting;  // the window whose paint message is being handled
    Canvas* paintCanvas = nullptr;

    KeyTiming keyTiming;
    KeyHold leftSoftHold;
    std::map<Key, PressRoute> pressRoutes;
    std::map<Key, std::int64_t> lastKeyReport;
    Key keyBeingPressed = Key::none;
};

State* state();  // null while the window system is not running
bool onUiThread();
WindowData* find(Window window);
std::int64_t now();
void markDirty();

// Carries `call` out on the UI thread and returns its result; from another thread it is
// queued and waited for. `fallback` answers when the window system is not running.
template <class Result, class Call>
Result onUi(Call&& call, Result fallback, std::source_location where = std::source_location::current()) {
    State* s = state();
    if (!s) return fallback;
    if (onUiThread()) return call();
    checkNoLockHeld(where);
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    QueuedMessage message;
    message.call = [promise, fallback, call = std::forward<Call>(call)](bool run) mutable {
        promise->set_value(run ? call() : fallback);
    };
    {
        // Signalled under the lock: once the window system has stopped accepting, no
        // other thread touches its state any more.
        std::lock_guard lock(s->queueMutex);
        if (!s->accepting) return fallback;
        s->queue.push_back(std::move(message));
        s->queueSignal.notify_all();
        s->terminal.wake();
    }
    return future.get();
}

template <class Call>
void onUiVoid(Call&& call, std::source_location where = std::source_location::current()) {
    onUi<bool>(
        [&] {
            call();
            return true;
        },
        false, where);
}

// The control of a window of the given kind, or null.
template <class ControlType>
ControlType* controlOf(Window window, ControlKind kind) {
    WindowData* data = find(window);
    return data && data->kind == kind ? static_cast<ControlType*>(data->control.get()) : nullptr;
}

// Creates a window with the given control, or the kind's own when none is given.
Window createWindowNow(const CreateWindowArgs& args, std::unique_ptr<Control> control = nullptr);
std::unique_ptr<Control> makeControl(ControlKind kind);
std::unique_ptr<Control> makeListView();
std::unique_ptr<Control> makeEdit();
std::unique_ptr<Control> makeSoftKeyBar();
// The end of a list's label edit: the edit calls `end` once, when it loses the focus or
// on Enter (false), or on Back with no text left (true).
void setLabelEditEnd(Window edit, std::function<void(bool cancelled)> end);
// Steps the spinner's buddy one entry or number on (1) or back (-1); true when it moved.
bool spinnerStep(Window spinner, int direction);
LResult callProcedure(Window window, MessageId message, WParam wParam, LParam lParam);
Window topLevelOf(Window window);
Rect screenClientRect(const WindowData& window);
bool isFullScreen(ControlKind kind);
void setForegroundAfterChange();
Window setFocusNow(Window window);
bool isInside(Window window, Window ancestor);
void sendNotify(Window control, NotifyHeader& header);
void sendCommandToParent(Window control, CommandCode code);

// Runs messages, timers and input until `done` says so, the input ends (false) or a
// quit is asked for (false).
bool runLoop(const std::function<bool()>& done);
// A modal loop: disables `owner`, runs until `done`, enables it again.
bool runModal(Window owner, const std::function<bool()>& done);

// Input (input.cpp).
// The report of a typed character: letters and digits with their key, others as Key::other.
InputEvent characterInput(char32_t character);
void handleTerminalKey(const InputEvent& event);
std::optional<std::int64_t> nextKeyDeadline();
bool releaseDueKeys();
// Soft-key bars (soft_keys.cpp): a key press or release for the foreground's bar; true
// when the bar took it.
bool barTakesPress(Window bar, Key key, PressRoute& route);
void drawSoftKeyLine(Frame& frame, Window foreground);
// Dialogs (dialog.cpp): keys a dialog takes before its focused control; true when taken.
bool dialogTakesKey(Window dialog, Key key);
// Menus (menu.cpp): a modal list of entries below or above a point; the chosen index or -1.
int trackChoiceList(const std::vector<std::u16string>& entries, int selected, Rect below, Window owner);

}  // namespace platform::detail
