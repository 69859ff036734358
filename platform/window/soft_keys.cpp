// Soft-key bars: their keys, their overrides and the soft-key line.
#include "platform/window/soft_keys.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <string>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

std::atomic<bool> barCreationFails{false};
std::u16string softKeyStatus;  // UI thread only

struct SoftKeyState {
    std::u16string label;
    int command = 0;
    Menu menu;
};

class SoftKeyBarControl final : public Control {
public:
    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        if (message == MessageId::destroy)
            for (SoftKeyState& key : keys) destroyMenu(key.menu);
        return Control::handle(window, message, wParam, lParam);
    }
    void draw(WindowData&, Canvas&) override {}  // on the soft-key line, by drawSoftKeyLine
    bool takesFocus() const override { return false; }

    SoftKeyState keys[2];
    std::map<Key, unsigned> overrides;
};

SoftKeyBarControl* barOf(Window bar) { return controlOf<SoftKeyBarControl>(bar, ControlKind::softKeyBar); }

SoftKeyState* keyOf(Window bar, SoftKey key) {
    SoftKeyBarControl* control = barOf(bar);
    return control ? &control->keys[key == SoftKey::left ? 0 : 1] : nullptr;
}

}  // namespace

std::unique_ptr<Control> makeSoftKeyBar() { return std::make_unique<SoftKeyBarControl>(); }

bool barTakesPress(Window bar, Key key, PressRoute& route) {
    SoftKeyBarControl* control = barOf(bar);
    if (!control) return false;
    Window owner = find(bar)->owner;
    unsigned flags = control->overrides.count(key) ? control->overrides[key] : 0;
    route.bar = bar;
    if (flags & overrideNotify) {
        route.notify = true;
        callProcedure(owner, MessageId::hotKey, static_cast<WParam>(key), hotKeyPress);
        control = barOf(bar);  // the owner may have replaced its bar
        if (!control) return true;
    }
    if (flags & overrideNoDefault) {
        route.toFocus = false;
        return true;
    }
    if (key != Key::leftSoft && key != Key::rightSoft) return false;
    route.toFocus = false;
    SoftKeyState& softKey = control->keys[key == Key::leftSoft ? 0 : 1];
    if (softKey.menu) {
        TerminalSize size = state()->frame.size();
        bool right = key == Key::rightSoft;
        trackPopupMenu(softKey.menu, (right ? alignRight : alignLeft) | alignBottom,
                       {right ? size.columns - 1 : 0, size.rows - 2}, owner);
    } else if (softKey.command && (flags & overrideNotify)) {
        route.deferredCommand = softKey.command;  // a long press may still cancel it
    } else if (softKey.command) {
        callProcedure(owner, MessageId::command, makeCommandParam(softKey.command), 0);
    }
    return true;
}

void drawSoftKeyLine(Frame& frame, Window foreground) {
    TerminalSize size = frame.size();
    if (size.rows < 2) return;
    int row = size.rows - 1;
    Canvas canvas(frame, {0, row}, {0, row, size.columns, row + 1});
    canvas.fill({0, 0, size.columns, 1}, CellStyle::softKeys);
    WindowData* window = find(foreground);
    if (!window) return;
    std::pair<std::u16string, std::u16string> labels;
    if (SoftKeyBarControl* bar = barOf(window->softKeyBar)) labels = {bar->keys[0].label, bar->keys[1].label};
    else if (window->control) labels = window->control->softKeyLabels();
    int rightWidth = cellWidth(codePoints(labels.second));
    int leftWidth = canvas.text(1, 0, labels.first, CellStyle::softKeys, size.columns / 2 - 1);
    int rightStart = std::max(leftWidth + 2, size.columns - 1 - rightWidth);
    canvas.text(rightStart, 0, labels.second, CellStyle::softKeys, size.columns - 1 - rightStart);
    // The status goes between the labels, centred, with a cell of space either side.
    const int room = rightStart - leftWidth - 4;
    const int statusWidth = std::min(room, cellWidth(codePoints(softKeyStatus)));
    if (statusWidth > 0) {
        const int start = std::max(leftWidth + 3, (size.columns - statusWidth) / 2);
        canvas.text(std::min(start, rightStart - 1 - statusWidth), 0, softKeyStatus, CellStyle::softKeys, statusWidth);
    }
}

}  // namespace detail

using namespace detail;

Window createSoftKeyBar(Window owner, const SoftKeyBarResource& resource) {
    return onUi<Window>(
        [&] {
            WindowData* ownerData = find(owner);
            if (barCreationFails.load() || !ownerData || ownerData->parent) return Window{};
            if (ownerData->softKeyBar) destroyWindow(ownerData->softKeyBar);
            Window bar = createWindowNow({.kind = ControlKind::softKeyBar});
            find(bar)->owner = owner;
            find(owner)->softKeyBar = bar;
            SoftKeyBarControl* control = barOf(bar);
            const SoftKeyResource* keys[2] = {&resource.left, &resource.right};
            for (int i = 0; i < 2; ++i) {
                control->keys[i].label = keys[i]->label;
                control->keys[i].command = keys[i]->command;
                if (keys[i]->menu) control->keys[i].menu = loadMenu(*keys[i]->menu);
            }
            markDirty();
            return bar;
        },
        Window{});
}

Window findSoftKeyBar(Window owner) {
    return onUi<Window>(
        [&] {
            WindowData* data = find(owner);
            return data ? data->softKeyBar : Window{};
        },
        Window{});
}

bool softKeyBarSetKey(Window bar, SoftKey key, std::u16string_view label, int command) {
    return onUi<bool>(
        [&] {
            SoftKeyState* softKey = keyOf(bar, key);
            if (!softKey) return false;
            softKey->label = label;
            if (command) {
                destroyMenu(softKey->menu);
                softKey->menu = {};
                softKey->command = command;
            }
            markDirty();
            return true;
        },
        false);
}

Menu softKeyBarGetMenu(Window bar, SoftKey key) {
    return onUi<Menu>(
        [&] {
            SoftKeyState* softKey = keyOf(bar, key);
            return softKey ? softKey->menu : Menu{};
        },
        Menu{});
}

bool softKeyBarOverrideKey(Window bar, Key key, unsigned flags) {
    return onUi<bool>(
        [&] {
            SoftKeyBarControl* control = barOf(bar);
            if (!control) return false;
            if (flags) control->overrides[key] = flags;
            else control->overrides.erase(key);
            return true;
        },
        false);
}

void setSoftKeyStatus(std::u16string_view text) {
    onUi<bool>(
        [&] {
            if (softKeyStatus == text) return true;
            softKeyStatus = text;
            markDirty();
            return true;
        },
        false);
}

void setSoftKeyBarCreationFails(bool fails) { barCreationFails.store(fails); }

}  // namespace platform
