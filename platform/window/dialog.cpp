// Dialogs: built from templates, run modally, with the focus moving between controls.
#include "platform/window/dialog.h"

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

bool takesFocus(Window window) {
    WindowData* data = find(window);
    return data && data->visible && data->enabled && data->control && data->control->takesFocus();
}

// The next (or previous) control of the dialog that takes the focus, wrapping around.
Window nextFocus(const WindowData& dialog, Window from, int direction) {
    const std::vector<Window>& children = dialog.children;
    int count = static_cast<int>(children.size());
    if (count == 0) return {};
    int at = -1;
    for (int i = 0; i < count; ++i)
        if (children[static_cast<std::size_t>(i)] == from) at = i;
    if (at < 0) at = direction > 0 ? -1 : count;
    for (int tries = 0; tries < count; ++tries) {
        at = (at + direction + count) % count;
        if (takesFocus(children[static_cast<std::size_t>(at)])) return children[static_cast<std::size_t>(at)];
    }
    return {};
}

LResult dialogDefault(Window dialog, MessageId message, WParam wParam, LParam lParam) {
    if (message == MessageId::command && (commandId(wParam) == 1 || commandId(wParam) == 2) &&
        commandCode(wParam) == CommandCode::none) {
        endDialog(dialog, commandId(wParam));
        return 1;
    }
    if (message == MessageId::close) {
        endDialog(dialog, 2);
        return 1;
    }
    return defaultWindowProcedure(dialog, message, wParam, lParam);
}

}  // namespace

bool dialogTakesKey(Window dialog, Key key) {
    WindowData* data = find(dialog);
    if (!data || data->kind != ControlKind::dialog) return false;
    State& s = *state();
    WindowData* focused = find(s.focus);
    bool wanted = focused && focused->control && focused->control->wantsKey(key);
    if ((key == Key::up || key == Key::down) && !wanted) {
        if (Window next = nextFocus(*data, s.focus, key == Key::down ? 1 : -1)) setFocusNow(next);
        return true;
    }
    if (key == Key::back && !(focused && focused->kind == ControlKind::edit)) {
        callProcedure(dialog, MessageId::command, makeCommandParam(2), 0);
        return true;
    }
    return false;
}

}  // namespace detail

using namespace detail;

int dialogBox(const DialogTemplate& dialogTemplate, Window owner, DialogProcedure procedure, LParam initParam) {
    if (!onUiThread()) return 0;
    WindowProcedure wrapper = [procedure](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
        LResult handled = procedure ? procedure(window, message, wParam, lParam) : 0;
        return handled ? handled : dialogDefault(window, message, wParam, lParam);
    };
    Window dialog = createWindowNow(
        {.kind = ControlKind::dialog, .text = dialogTemplate.title, .options = optionHidden, .procedure = wrapper});
    if (!dialog) return 0;
    int clientWidth = getClientRect(dialog).width();
    Window previous;
    for (const DialogItem& item : dialogTemplate.items) {
        int right = item.width > 0 ? item.column + item.width : clientWidth;
        Window control = createWindowNow({.kind = item.kind,
                                          .text = item.text,
                                          .options = item.options,
                                          .rect = {item.column, item.row, right, item.row + item.height},
                                          .parent = dialog,
                                          .id = item.id});
        if (item.kind == ControlKind::edit && item.limit > 0) editSetLimit(control, item.limit);
        if (item.kind == ControlKind::spinner) {
            spinnerSetBuddy(control, previous);
            spinnerSetRange(control, item.rangeLow, item.rangeHigh);
        }
        previous = control;
    }
    callProcedure(dialog, MessageId::initDialog, 0, initParam);
    WindowData* data = find(dialog);
    if (data && !data->endResult) {
        if (!isInside(find(dialog)->lastFocus, dialog)) find(dialog)->lastFocus = nextFocus(*data, {}, 1);
        showWindow(dialog, true);
        runModal(owner, [&] {
            WindowData* running = find(dialog);
            return !running || running->endResult.has_value();
        });
    }
    data = find(dialog);
    int result = data && data->endResult ? *data->endResult : 0;
    destroyWindow(dialog);
    return result;
}

bool endDialog(Window dialog, int result) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(dialog);
            if (!data || data->kind != ControlKind::dialog) return false;
            data->endResult = result;
            return true;
        },
        false);
}

void layoutDialogControls(Window dialog, Font labelFont) {
    onUiVoid([&] {
        WindowData* data = find(dialog);
        if (!data) return;
        int width = getClientRect(dialog).width();
        for (Window child : std::vector<Window>(data->children)) {
            WindowData* control = find(child);
            if (!control || control->kind == ControlKind::spinner) continue;  // spinners follow their buddy
            if (control->id == labelId) control->font = labelFont;
            Rect rect = control->rect;
            rect.right = rect.left <= narrowMargin ? width - rect.left : width - wideGap;
            moveWindow(child, rect);
        }
        markDirty();
    });
}

}  // namespace platform
