// The window system's core: windows, focus and activation, the message queue, timers,
// the loop and painting.
#include <algorithm>
#include <atomic>
#include <chrono>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

std::atomic<State*> currentState{nullptr};

constexpr std::u16string_view busySign = u"[wait]";

bool isTopLevel(const WindowData& window) { return !window.parent && window.kind != ControlKind::softKeyBar; }

void freeDestroyed(State& s) {
    if (s.callDepth == 0) s.destroyed.clear();
}

void paintWindow(State& s, Window window, Rect parentClip) {
    WindowData* data = find(window);
    if (!data || !data->visible) return;
    Rect area = screenClientRect(*data);
    Rect clip = intersect(area, parentClip);
    Canvas canvas(s.frame, {area.left, area.top}, clip);
    if (data->control) {
        data->control->draw(*data, canvas);
    } else {
        canvas.fill({0, 0, area.width(), area.height()}, CellStyle::normal);
        Window previousWindow = s.painting;
        Canvas* previousCanvas = s.paintCanvas;
        s.painting = window;
        s.paintCanvas = &canvas;
        callProcedure(window, MessageId::paint, 0, 0);
        s.painting = previousWindow;
        s.paintCanvas = previousCanvas;
    }
    std::vector<Window> children = data->children;
    for (Window child : children) paintWindow(s, child, clip);
}

void paintTitle(State& s, const WindowData& window) {
    TerminalSize size = s.frame.size();
    Canvas canvas(s.frame, {0, 0}, {0, 0, size.columns, 1});
    canvas.fill({0, 0, size.columns, 1}, CellStyle::title);
    int signWidth = s.busy ? static_cast<int>(busySign.size()) + 1 : 0;
    canvas.text(1, 0, window.text, CellStyle::title, size.columns - 2 - signWidth);
    if (s.busy) canvas.text(size.columns - signWidth, 0, busySign, CellStyle::title);
}

void placeCaret(State& s) {
    WindowData* focused = find(s.focus);
    std::optional<Point> caret;
    if (focused && focused->control && isWindowVisible(s.focus)) caret = focused->control->caret(*focused);
    if (caret) {
        Rect area = screenClientRect(*focused);
        Point at{area.left + caret->x, area.top + caret->y};
        TerminalSize size = s.frame.size();
        if (at.x >= 0 && at.x < size.columns && at.y >= 0 && at.y < size.rows) {
            s.terminal.setCursor(at.y, at.x, true);
            return;
        }
    }
    s.terminal.setCursor(0, 0, false);
}

void paint(State& s) {
    s.dirty = false;
    s.frame.clear();
    TerminalSize size = s.frame.size();
    Rect screen{0, 0, size.columns, size.rows};
    // The topmost full-screen window, then the boxes and menus above it.
    std::size_t first = 0;
    for (std::size_t i = s.topLevels.size(); i-- > 0;) {
        WindowData* data = find(s.topLevels[i]);
        if (data && data->visible && isFullScreen(data->kind)) {
            first = i;
            break;
        }
    }
    std::vector<Window> layers(s.topLevels.begin() + static_cast<std::ptrdiff_t>(std::min(first, s.topLevels.size())),
                               s.topLevels.end());
    for (Window layer : layers) {
        WindowData* data = find(layer);
        if (!data || !data->visible) continue;
        if (isFullScreen(data->kind)) paintTitle(s, *data);
        paintWindow(s, layer, screen);
    }
    drawSoftKeyLine(s.frame, s.foreground);
    for (int row = 0; row < size.rows; ++row)
        s.terminal.write(row, 0, std::span<const Cell>(s.frame.row(row), static_cast<std::size_t>(size.columns)));
    placeCaret(s);
    s.terminal.flush();
}

bool dispatchOne(State& s) {
    QueuedMessage message;
    {
        std::lock_guard lock(s.queueMutex);
        if (s.queue.empty()) return false;
        message = std::move(s.queue.front());
        s.queue.pop_front();
    }
    if (message.call) message.call(true);
    else callProcedure(message.window, message.message, message.wParam, message.lParam);
    return true;
}

bool fireDueTimer(State& s) {
    auto due = s.timers.end();
    for (auto it = s.timers.begin(); it != s.timers.end(); ++it)
        if (it->second.dueMs <= now() && (due == s.timers.end() || it->second.dueMs < due->second.dueMs)) due = it;
    if (due == s.timers.end()) return false;
    due->second.dueMs = now() + due->second.intervalMs;
    callProcedure(Window{due->first.first}, MessageId::timer, static_cast<WParam>(due->first.second), 0);
    return true;
}

int waitTimeout(State& s) {
    std::optional<std::int64_t> deadline = nextKeyDeadline();
    for (const auto& [key, timer] : s.timers)
        if (!deadline || timer.dueMs < *deadline) deadline = timer.dueMs;
    if (!deadline) return -1;
    return static_cast<int>(std::clamp<std::int64_t>(*deadline - now(), 0, 1 << 30));
}

void handleResize(State& s) {
    s.frame.resize(s.terminal.size());
    std::vector<Window> topLevels = s.topLevels;
    for (Window window : topLevels) {
        WindowData* data = find(window);
        if (!data || !isFullScreen(data->kind)) continue;
        Rect client = screenClientRect(*data);
        callProcedure(window, MessageId::size, static_cast<WParam>(client.width()), client.height());
    }
    markDirty();
}

bool destroyWindowNow(Window window) {
    State& s = *state();
    WindowData* data = find(window);
    if (!data || data->destroying) return false;
    data->destroying = true;
    std::vector<Window> children = data->children;
    for (Window child : children) destroyWindowNow(child);
    if (data->softKeyBar) destroyWindowNow(data->softKeyBar);
    std::erase_if(s.timers, [&](const auto& timer) { return timer.first.first == window.id; });
    callProcedure(window, MessageId::destroy, 0, 0);

    if (WindowData* parent = find(data->parent)) std::erase(parent->children, window);
    if (WindowData* owner = find(data->owner); owner && owner->softKeyBar == window) owner->softKeyBar = {};
    std::erase(s.topLevels, window);
    bool hadFocus = s.focus == window;
    auto it = s.windows.find(window.id);
    s.destroyed.push_back(std::move(it->second));
    s.windows.erase(it);
    if (hadFocus) {
        s.focus = {};
        WindowData* parent = find(s.destroyed.back()->parent);
        if (parent && !parent->destroying) setFocusNow(parent->handle);
    }
    setForegroundAfterChange();
    markDirty();
    return true;
}

}  // namespace

LResult Control::handle(Window window, MessageId message, WParam wParam, LParam lParam) {
    return defaultWindowProcedure(window, message, wParam, lParam);
}

State* state() { return currentState.load(); }

bool onUiThread() {
    State* s = state();
    return s && std::this_thread::get_id() == s->uiThread;
}

WindowData* find(Window window) {
    State* s = state();
    if (!s || !window) return nullptr;
    auto it = s->windows.find(window.id);
    return it == s->windows.end() ? nullptr : it->second.get();
}

std::int64_t now() { return state()->clock.nowMs(); }

void markDirty() {
    if (State* s = state()) s->dirty = true;
}

bool isFullScreen(ControlKind kind) { return kind == ControlKind::window || kind == ControlKind::dialog; }

Rect screenClientRect(const WindowData& window) {
    TerminalSize size = state()->frame.size();
    if (window.kind == ControlKind::softKeyBar) return {0, size.rows - 1, size.columns, size.rows};
    if (WindowData* parent = find(window.parent)) {
        Rect origin = screenClientRect(*parent);
        return {origin.left + window.rect.left, origin.top + window.rect.top, origin.left + window.rect.right,
                origin.top + window.rect.bottom};
    }
    if (isFullScreen(window.kind)) return {0, 1, size.columns, std::max(1, size.rows - 1)};
    return window.rect;
}

Window topLevelOf(Window window) {
    WindowData* data = find(window);
    while (data && data->parent) data = find(data->parent);
    return data ? data->handle : Window{};
}

bool isInside(Window window, Window ancestor) {
    for (WindowData* data = find(window); data; data = find(data->parent))
        if (data->handle == ancestor) return true;
    return false;
}

LResult callProcedure(Window window, MessageId message, WParam wParam, LParam lParam) {
    WindowData* data = find(window);
    if (!data || !data->procedure) return 0;
    WindowProcedure procedure = data->procedure;  // the procedure may replace itself
    State& s = *state();
    ++s.callDepth;
    LResult result = procedure(window, message, wParam, lParam);
    --s.callDepth;
    return result;
}

void sendNotify(Window control, NotifyHeader& header) {
    WindowData* data = find(control);
    if (!data) return;
    header.from = control;
    header.controlId = data->id;
    callProcedure(data->parent, MessageId::notify, static_cast<WParam>(data->id), reinterpret_cast<LParam>(&header));
}

void sendCommandToParent(Window control, CommandCode code) {
    WindowData* data = find(control);
    if (!data) return;
    callProcedure(data->parent, MessageId::command, makeCommandParam(data->id, code), static_cast<LParam>(control.id));
}

Window setFocusNow(Window window) {
    State& s = *state();
    if (window && !find(window)) return {};
    Window old = s.focus;
    if (window) {
        WindowData* top = find(topLevelOf(window));
        top->lastFocus = window;
        // A window behind the foreground one gets the focus back when it is in front.
        if (top->handle != s.foreground) return old;
    }
    if (old == window) return old;
    s.focus = window;
    callProcedure(old, MessageId::killFocus, window.id, 0);
    if (s.focus == window) callProcedure(window, MessageId::setFocus, old.id, 0);
    markDirty();
    return old;
}

void setForegroundAfterChange() {
    State& s = *state();
    Window top;
    Window active;
    for (auto it = s.topLevels.rbegin(); it != s.topLevels.rend(); ++it) {
        WindowData* data = find(*it);
        if (!data || !data->visible || data->destroying) continue;
        if (!top) top = *it;
        if (data->kind != ControlKind::popupMenu) {
            active = *it;
            break;
        }
    }
    if (top != s.foreground) {
        s.foreground = top;
        markDirty();
    }
    if (top && !isInside(s.focus, top)) {
        WindowData* data = find(top);
        Window restore = find(data->lastFocus) && isInside(data->lastFocus, top) ? data->lastFocus : top;
        setFocusNow(restore);
    }
    if (active != s.active) {
        Window old = s.active;
        s.active = active;
        callProcedure(old, MessageId::activate, 0, 0);
        if (s.active == active) callProcedure(active, MessageId::activate, 1, 0);
    }
}

Window createWindowNow(const CreateWindowArgs& args, std::unique_ptr<Control> control) {
    State& s = *state();
    if (args.parent && !find(args.parent)) return {};
    auto data = std::make_unique<WindowData>();
    Window window{s.nextWindowId++};
    data->handle = window;
    data->kind = args.kind;
    data->parent = args.parent;
    data->text = args.text;
    data->options = args.options;
    data->rect = args.rect;
    data->id = args.id;
    data->visible = (args.options & optionHidden) == 0;
    data->control = control ? std::move(control) : makeControl(args.kind);
    if (data->control) {
        data->control->self = window;
        data->procedure = [](Window w, MessageId message, WParam wParam, LParam lParam) -> LResult {
            WindowData* target = find(w);
            return target && target->control ? target->control->handle(w, message, wParam, lParam) : 0;
        };
    } else {
        data->procedure = args.procedure ? args.procedure : WindowProcedure(defaultWindowProcedure);
    }
    bool topLevel = isTopLevel(*data);
    s.windows.emplace(window.id, std::move(data));
    if (WindowData* parent = find(args.parent)) parent->children.push_back(window);
    else if (topLevel) s.topLevels.push_back(window);
    if (WindowData* created = find(window); created && created->control) created->control->textSet(*created);

    callProcedure(window, MessageId::create, 0, args.createParam);
    WindowData* created = find(window);
    if (!created) return {};
    Rect client = screenClientRect(*created);
    callProcedure(window, MessageId::size, static_cast<WParam>(client.width()), client.height());
    if (topLevel) setForegroundAfterChange();
    markDirty();
    return find(window) ? window : Window{};
}

bool runLoop(const std::function<bool()>& done) {
    State& s = *state();
    while (true) {
        freeDestroyed(s);
        if (s.quit) return false;
        if (done()) return true;
        if (dispatchOne(s) || releaseDueKeys() || fireDueTimer(s)) continue;
        if (s.dirty) paint(s);
        std::optional<InputEvent> event = s.terminal.readInput(waitTimeout(s));
        if (!event) continue;
        switch (event->kind) {
        case InputEvent::Kind::endOfInput: return false;
        case InputEvent::Kind::resize: handleResize(s); break;
        case InputEvent::Kind::key: handleTerminalKey(*event); break;
        }
    }
}

bool runModal(Window owner, const std::function<bool()>& done) {
    State& s = *state();
    bool ownerWasEnabled = isWindowEnabled(owner);
    if (owner) enableWindow(owner, false);
    ++s.modalDepth;
    bool finished = runLoop(done);
    --s.modalDepth;
    if (owner && ownerWasEnabled) enableWindow(owner, true);
    return finished;
}

}  // namespace detail

using namespace detail;

std::int64_t SteadyClock::nowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t ManualClock::nowMs() const { return now_; }
void ManualClock::advance(std::int64_t ms) { now_ += ms; }

WindowSystemScope::WindowSystemScope(TerminalBackend& terminal, Clock& clock) {
    auto* s = new State(terminal, clock);
    s->frame.resize(terminal.size());
    State* expected = nullptr;
    if (!currentState.compare_exchange_strong(expected, s)) {
        delete s;
        std::abort();  // one window system per program
    }
}

WindowSystemScope::~WindowSystemScope() {
    State* s = state();
    std::vector<Window> topLevels = s->topLevels;
    for (auto it = topLevels.rbegin(); it != topLevels.rend(); ++it) destroyWindowNow(*it);
    std::deque<QueuedMessage> left;
    {
        std::lock_guard lock(s->queueMutex);
        s->accepting = false;
        left.swap(s->queue);
    }
    for (QueuedMessage& message : left)
        if (message.call) message.call(false);
    s->destroyed.clear();
    currentState.store(nullptr);
    if (keepState_) {
        // Kept where it can still be reached, so that a leak check does not count it.
        static std::vector<std::unique_ptr<State>> kept;
        kept.emplace_back(s);
    } else {
        delete s;
    }
}

Window createWindow(const CreateWindowArgs& args) {
    return onUi<Window>([&] { return createWindowNow(args); }, Window{});
}

bool destroyWindow(Window window) {
    return onUi<bool>([&] { return destroyWindowNow(window); }, false);
}

bool isWindow(Window window) {
    return onUi<bool>([&] { return find(window) != nullptr; }, false);
}

Window getParent(Window window) {
    return onUi<Window>(
        [&] {
            WindowData* data = find(window);
            return data ? data->parent : Window{};
        },
        Window{});
}

std::vector<Window> getChildren(Window window) {
    return onUi<std::vector<Window>>(
        [&] {
            WindowData* data = find(window);
            return data ? data->children : std::vector<Window>{};
        },
        {});
}

ControlKind getWindowKind(Window window) {
    return onUi<ControlKind>(
        [&] {
            WindowData* data = find(window);
            return data ? data->kind : ControlKind::window;
        },
        ControlKind::window);
}

int getWindowId(Window window) {
    return onUi<int>(
        [&] {
            WindowData* data = find(window);
            return data ? data->id : 0;
        },
        0);
}

Window getDialogItem(Window parent, int id) {
    return onUi<Window>(
        [&] {
            std::function<Window(Window)> search = [&](Window at) -> Window {
                WindowData* data = find(at);
                if (!data) return {};
                for (Window child : data->children) {
                    if (WindowData* c = find(child); c && c->id == id) return child;
                    if (Window found = search(child)) return found;
                }
                return {};
            };
            return search(parent);
        },
        Window{});
}

bool setWindowText(Window window, std::u16string_view text) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(window);
            if (!data) return false;
            data->text = text;
            if (data->control) data->control->textSet(*data);
            markDirty();
            return true;
        },
        false);
}

std::u16string getWindowText(Window window) {
    return onUi<std::u16string>(
        [&] {
            WindowData* data = find(window);
            return data ? data->text : std::u16string();
        },
        {});
}

Rect getClientRect(Window window) {
    return onUi<Rect>(
        [&] {
            WindowData* data = find(window);
            if (!data) return Rect{};
            Rect area = screenClientRect(*data);
            return Rect{0, 0, area.width(), area.height()};
        },
        Rect{});
}

Rect getWindowRect(Window window) {
    return onUi<Rect>(
        [&] {
            WindowData* data = find(window);
            return data ? screenClientRect(*data) : Rect{};
        },
        Rect{});
}

bool moveWindow(Window window, Rect rect) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(window);
            if (!data || !data->parent) return false;  // top-level windows fill the screen
            data->rect = rect;
            markDirty();
            callProcedure(window, MessageId::size, static_cast<WParam>(rect.width()), rect.height());
            return true;
        },
        false);
}

bool showWindow(Window window, bool visible) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(window);
            if (!data) return false;
            bool was = data->visible;
            data->visible = visible;
            if (!visible && isInside(state()->focus, window) && data->parent) setFocusNow(data->parent);
            if (isTopLevel(*data)) setForegroundAfterChange();
            markDirty();
            return was;
        },
        false);
}

bool isWindowVisible(Window window) {
    return onUi<bool>(
        [&] {
            for (WindowData* data = find(window); data; data = find(data->parent))
                if (!data->visible) return false;
            return find(window) != nullptr;
        },
        false);
}

bool enableWindow(Window window, bool enabled) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(window);
            if (!data) return false;
            bool was = data->enabled;
            if (was == enabled) return was;
            data->enabled = enabled;
            markDirty();
            callProcedure(window, MessageId::enable, enabled ? 1 : 0, 0);
            return was;
        },
        false);
}

bool isWindowEnabled(Window window) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(window);
            return data && data->enabled;
        },
        false);
}

Window setFocus(Window window) {
    return onUi<Window>([&] { return setFocusNow(window); }, Window{});
}

Window getFocus() {
    return onUi<Window>([] { return state()->focus; }, Window{});
}

Window getForegroundWindow() {
    return onUi<Window>([] { return state()->active; }, Window{});
}

WindowProcedure setWindowProcedure(Window window, WindowProcedure procedure) {
    return onUi<WindowProcedure>(
        [&] {
            WindowData* data = find(window);
            if (!data) return WindowProcedure{};
            std::swap(data->procedure, procedure);
            return procedure;
        },
        WindowProcedure{});
}

LResult defaultWindowProcedure(Window window, MessageId message, WParam, LParam) {
    if (message == MessageId::close) destroyWindow(window);
    return 0;
}

void setWindowData(Window window, void* value) {
    onUiVoid([&] {
        if (WindowData* data = find(window)) data->data = value;
    });
}

void* getWindowData(Window window) {
    return onUi<void*>(
        [&] {
            WindowData* data = find(window);
            return data ? data->data : nullptr;
        },
        nullptr);
}

void invalidateWindow(Window) {
    onUiVoid([] { markDirty(); });
}

namespace {

bool enqueue(QueuedMessage message) {
    State* s = state();
    if (!s) return false;
    if (onUiThread() && !message.call && !find(message.window)) return false;
    std::lock_guard lock(s->queueMutex);  // signalled under the lock, as in onUi
    if (!s->accepting) return false;
    s->queue.push_back(std::move(message));
    s->queueSignal.notify_all();
    s->terminal.wake();
    return true;
}

}  // namespace

bool postMessage(Window window, MessageId message, WParam wParam, LParam lParam) {
    return enqueue({window, message, wParam, lParam, nullptr, nullptr});
}

bool postMessage(Window window, MessageId message, WParam wParam, std::shared_ptr<const void> record) {
    LParam lParam = reinterpret_cast<LParam>(record.get());
    return enqueue({window, message, wParam, lParam, std::move(record), nullptr});
}

LResult sendMessage(Window window, MessageId message, WParam wParam, LParam lParam) {
    return onUi<LResult>([&] { return callProcedure(window, message, wParam, lParam); }, 0);
}

bool setTimer(Window window, int timerId, int intervalMs) {
    return onUi<bool>(
        [&] {
            if (!find(window)) return false;
            intervalMs = std::max(intervalMs, 1);
            state()->timers[{window.id, timerId}] = Timer{intervalMs, now() + intervalMs};
            return true;
        },
        false);
}

bool killTimer(Window window, int timerId) {
    return onUi<bool>([&] { return state()->timers.erase({window.id, timerId}) > 0; }, false);
}

int runMessageLoop(std::span<const Accelerator> accelerators) {
    State& s = *state();
    std::span<const Accelerator> previous = s.accelerators;
    s.accelerators = accelerators;
    runLoop([] { return false; });
    s.accelerators = previous;
    int code = s.quit ? s.quitCode : 0;
    s.quit = false;
    return code;
}

void postQuitMessage(int code) {
    State* s = state();
    if (!s) return;
    QueuedMessage message;
    message.call = [code](bool run) {
        if (!run) return;
        state()->quit = true;
        state()->quitCode = code;
    };
    if (onUiThread()) message.call(true);
    else enqueue(std::move(message));
}

void runUntilIdle() {
    runLoop([] { return false; });
}

bool waitForMessage(int timeoutMs) {
    State& s = *state();
    std::unique_lock lock(s.queueMutex);
    return s.queueSignal.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !s.queue.empty(); });
}

bool isUiThread() { return detail::onUiThread(); }

void lendTerminal(const std::function<void()>& use) {
    State& s = *state();
    s.terminal.suspend();
    use();
    s.terminal.resume();
    handleResize(s);  // the terminal may have changed its size meanwhile
}

void setWaitCursor(bool busy) {
    onUiVoid([&] {
        state()->busy = busy;
        markDirty();
    });
}

}  // namespace platform
