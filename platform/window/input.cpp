// Keys: from the terminal's reports to key messages. Accelerators come first, then the
// foreground window's soft-key bar, then a dialog's focus movement, then the focused
// window. The terminal reports presses only; releases are made up here (see KeyTiming).
#include <string>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

bool acceleratorTaken(State& s, Key key, unsigned flags) {
    if (s.modalDepth > 0 || s.accelerators.empty()) return false;
    WindowData* focused = find(s.focus);
    if (focused && focused->kind == ControlKind::edit) return false;  // the keys edit the text
    unsigned modifiers = flags & (keyShift | keyControl);
    for (const Accelerator& accelerator : s.accelerators) {
        if (accelerator.key == key && accelerator.modifiers == modifiers) {
            callProcedure(s.active, MessageId::command, makeCommandParam(accelerator.command), 0);
            return true;
        }
    }
    return false;
}

void deliverPress(Key key, unsigned flags, char32_t character) {
    State& s = *state();
    PressRoute route;
    if (acceleratorTaken(s, key, flags)) {
        route.toFocus = false;
        s.pressRoutes[key] = route;
        return;
    }
    WindowData* foreground = find(s.foreground);
    if (foreground && foreground->softKeyBar && barTakesPress(foreground->softKeyBar, key, route)) {
        s.pressRoutes[key] = route;
        return;
    }
    s.pressRoutes[key] = route;
    if (key == Key::help) {
        callProcedure(s.active, MessageId::help, 0, 0);
        return;
    }
    if (dialogTakesKey(s.foreground, key)) return;
    Window target = s.focus ? s.focus : s.foreground;
    WindowData* data = find(target);
    if (!data || !data->enabled) return;
    callProcedure(target, MessageId::keyDown, static_cast<WParam>(key), flags);
    bool printable = character >= 0x20 && character != 0x7F && (flags & keyControl) == 0;
    if (!printable) return;
    LParam producer = isDigitKey(key) ? static_cast<LParam>(key) : 0;
    for (char16_t unit : utf16Units(std::u32string_view(&character, 1)))
        callProcedure(target, MessageId::character, unit, producer);
}

void deliverRelease(Key key, unsigned flags) {
    State& s = *state();
    PressRoute route;
    if (auto it = s.pressRoutes.find(key); it != s.pressRoutes.end()) {
        route = it->second;
        s.pressRoutes.erase(it);
    }
    if (WindowData* bar = find(route.bar)) {
        Window owner = bar->owner;
        if (route.notify) callProcedure(owner, MessageId::hotKey, static_cast<WParam>(key), hotKeyRelease);
        if (route.deferredCommand) callProcedure(owner, MessageId::command, makeCommandParam(route.deferredCommand), 0);
    }
    if (route.toFocus) {
        Window target = s.focus ? s.focus : s.foreground;
        callProcedure(target, MessageId::keyUp, static_cast<WParam>(key), flags);
    }
}

}  // namespace

InputEvent characterInput(char32_t character) {
    InputEvent event{InputEvent::Kind::key, Key::other, character, 0};
    if ((character >= U'0' && character <= U'9') || (character >= U'A' && character <= U'Z'))
        event.key = static_cast<Key>(character);
    else if (character >= U'a' && character <= U'z') event.key = static_cast<Key>(character - U'a' + U'A');
    return event;
}

void handleTerminalKey(const InputEvent& event) {
    State& s = *state();
    Key key = event.key;
    if (key == Key::leftSoft) {
        KeyHold& hold = s.leftSoftHold;
        if (hold.down || hold.ignoreRepeats) {
            // The terminal's auto-repeat: the key is still held.
            hold.releaseMs = now() + s.keyTiming.repeatGapMs;
            return;
        }
        bool shift = (event.modifiers & keyShift) != 0;
        hold.down = true;
        hold.releaseMs = now() + (shift ? s.keyTiming.shiftHoldMs : s.keyTiming.firstRepeatMs);
        deliverPress(key, event.modifiers & ~keyShift, 0);
        // Only a bar that is told of the press waits for a long one; elsewhere (dialogs,
        // boxes, menus) the key is released at once, so that quick presses all count.
        if (hold.down && !s.pressRoutes[key].notify) {
            hold.down = false;
            deliverRelease(key, event.modifiers & ~keyShift);
        }
        return;
    }
    unsigned flags = event.modifiers;
    auto last = s.lastKeyReport.find(key);
    if (last != s.lastKeyReport.end() && now() - last->second <= s.keyTiming.repeatGapMs) flags |= keyRepeat;
    s.lastKeyReport[key] = now();
    Key previous = s.keyBeingPressed;
    s.keyBeingPressed = key;
    deliverPress(key, flags, event.character);
    deliverRelease(key, event.modifiers);
    s.keyBeingPressed = previous;
}

std::optional<std::int64_t> nextKeyDeadline() {
    const KeyHold& hold = state()->leftSoftHold;
    if (hold.down || hold.ignoreRepeats) return hold.releaseMs;
    return std::nullopt;
}

bool releaseDueKeys() {
    KeyHold& hold = state()->leftSoftHold;
    if (!(hold.down || hold.ignoreRepeats) || now() < hold.releaseMs) return false;
    hold.ignoreRepeats = false;
    if (hold.down) {
        hold.down = false;
        deliverRelease(Key::leftSoft, 0);
    }
    return true;
}

}  // namespace detail

using namespace detail;

void setKeyTiming(const KeyTiming& timing) { state()->keyTiming = timing; }

bool isKeyDown(Key key) {
    return onUi<bool>(
        [&] {
            State& s = *state();
            return key == Key::leftSoft ? s.leftSoftHold.down : s.keyBeingPressed == key;
        },
        false);
}

void releaseKey(Key key) {
    State& s = *state();
    if (key != Key::leftSoft || !s.leftSoftHold.down) return;
    s.leftSoftHold.down = false;
    s.leftSoftHold.ignoreRepeats = true;
    deliverRelease(Key::leftSoft, 0);
}

void sendBackToFocusWindow() {
    State& s = *state();
    Window target = s.focus;
    callProcedure(target, MessageId::keyDown, static_cast<WParam>(Key::back), 0);
    callProcedure(target, MessageId::keyUp, static_cast<WParam>(Key::back), 0);
}

}  // namespace platform
