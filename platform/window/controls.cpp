// The small controls: selector and drop-down list, spinner, check box, static text.
#include "platform/window/controls.h"

#include <algorithm>
#include <charconv>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

CellStyle fieldStyle(Window window) { return state()->focus == window ? CellStyle::focusedField : CellStyle::field; }

class SelectorControl final : public Control {
public:
    explicit SelectorControl(bool dropDown) : dropDown_(dropDown) {}

    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        if (message != MessageId::keyDown) return Control::handle(window, message, wParam, lParam);
        auto key = static_cast<Key>(wParam);
        if (!dropDown_ && spinner && (key == Key::left || key == Key::right)) {
            if (spinnerStep(spinner, key == Key::right ? 1 : -1))
                sendCommandToParent(window, CommandCode::selectionChanged);
        } else if (dropDown_ && key == Key::action && !entries.empty()) {
            WindowData* data = find(window);
            int chosen = trackChoiceList(entries, selection, screenClientRect(*data), window);
            if (chosen >= 0 && chosen != selection && find(window)) {
                selection = chosen;
                markDirty();
                sendCommandToParent(window, CommandCode::selectionChanged);
            }
        }
        return 0;
    }

    bool wantsKey(Key key) const override { return !dropDown_ && spinner && (key == Key::left || key == Key::right); }

    void draw(WindowData& window, Canvas& canvas) override {
        int width = window.rect.width();
        CellStyle style = fieldStyle(window.handle);
        canvas.fill({0, 0, width, 1}, style);
        std::u16string_view text = selection >= 0 ? std::u16string_view(entries[static_cast<std::size_t>(selection)])
                                                  : u"";
        if (dropDown_) {
            canvas.text(1, 0, text, style, width - 4);
            canvas.text(width - 2, 0, U"v", style);
        } else if (spinner) {
            canvas.text(1, 0, U"<", style);
            canvas.text(3, 0, text, style, width - 6);
            canvas.text(width - 2, 0, U">", style);
        } else {
            canvas.text(1, 0, text, style, width - 2);
        }
    }

    std::vector<std::u16string> entries;
    int selection = -1;

private:
    bool dropDown_;
};

class SpinnerControl final : public Control {
public:
    // Arrows are drawn by the buddy, between which it draws its content.
    void draw(WindowData&, Canvas&) override {}
    bool takesFocus() const override { return false; }
    Window buddy;
    int low = 0;
    int high = 100;
};

class CheckBoxControl final : public Control {
public:
    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        bool toggle = (message == MessageId::keyDown && static_cast<Key>(wParam) == Key::action) ||
                      (message == MessageId::character && wParam == u' ');
        if (!toggle) return Control::handle(window, message, wParam, lParam);
        checked = !checked;
        markDirty();
        sendCommandToParent(window, CommandCode::none);
        return 0;
    }

    void draw(WindowData& window, Canvas& canvas) override {
        CellStyle style = state()->focus == window.handle ? CellStyle::focusedField : CellStyle::normal;
        int used = canvas.text(1, 0, checked ? U"[x] " : U"[ ] ", style);
        canvas.text(1 + used, 0, window.text, window.enabled ? style : CellStyle::disabled,
                    window.rect.width() - 1 - used);
    }

    bool checked = false;
};

class StaticTextControl final : public Control {
public:
    void draw(WindowData& window, Canvas& canvas) override {
        int width = window.rect.width();
        CellStyle style = window.font == Font::label ? CellStyle::label : CellStyle::normal;
        std::vector<std::u32string> lines = layoutLines(window.text, width, true);
        for (std::size_t row = 0; row < lines.size() && static_cast<int>(row) < window.rect.height(); ++row) {
            int x = (window.options & staticCenter) ? std::max(0, (width - cellWidth(lines[row])) / 2) : 0;
            canvas.text(x, static_cast<int>(row), lines[row], style, width - x);
        }
    }
    bool takesFocus() const override { return false; }
};

SelectorControl* selectorOf(Window window) {
    WindowData* data = find(window);
    if (!data || (data->kind != ControlKind::selector && data->kind != ControlKind::dropDown)) return nullptr;
    return static_cast<SelectorControl*>(data->control.get());
}

}  // namespace

std::unique_ptr<Control> makeControl(ControlKind kind) {
    switch (kind) {
    case ControlKind::listView: return makeListView();
    case ControlKind::selector: return std::make_unique<SelectorControl>(false);
    case ControlKind::dropDown: return std::make_unique<SelectorControl>(true);
    case ControlKind::spinner: return std::make_unique<SpinnerControl>();
    case ControlKind::edit: return makeEdit();
    case ControlKind::checkBox: return std::make_unique<CheckBoxControl>();
    case ControlKind::staticText: return std::make_unique<StaticTextControl>();
    case ControlKind::softKeyBar: return makeSoftKeyBar();
    default: return nullptr;
    }
}

bool spinnerStep(Window spinner, int direction) {
    auto* control = controlOf<SpinnerControl>(spinner, ControlKind::spinner);
    if (!control) return false;
    bool wrap = (find(spinner)->options & spinnerWrap) != 0;
    if (SelectorControl* selector = selectorOf(control->buddy)) {
        int count = static_cast<int>(selector->entries.size());
        if (count == 0) return false;
        int next = selector->selection < 0 ? 0 : selector->selection + direction;
        if (next < 0 || next >= count) {
            if (!wrap) return false;
            next = next < 0 ? count - 1 : 0;
        }
        selector->selection = next;
        markDirty();
        return true;
    }
    WindowData* edit = find(control->buddy);
    if (!edit || edit->kind != ControlKind::edit) return false;
    int low = std::min(control->low, control->high);
    int high = std::max(control->low, control->high);
    std::string digits(edit->text.begin(), edit->text.end());
    int value = low;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    int next = value + direction;
    if (next < low || next > high) {
        if (!wrap) return false;
        next = next < low ? high : low;
    }
    std::string text = std::to_string(next);
    edit->text.assign(text.begin(), text.end());
    edit->control->textSet(*edit);
    markDirty();
    sendCommandToParent(edit->handle, CommandCode::editChanged);
    return true;
}

}  // namespace detail

using namespace detail;

int selectorAddString(Window selector, std::u16string_view text) {
    return onUi<int>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            if (!control) return -1;
            control->entries.emplace_back(text);
            markDirty();
            return static_cast<int>(control->entries.size()) - 1;
        },
        -1);
}

int selectorInsertString(Window selector, int index, std::u16string_view text) {
    return onUi<int>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            if (!control) return -1;
            int count = static_cast<int>(control->entries.size());
            if (index == -1) index = count;
            if (index < 0 || index > count) return -1;
            control->entries.emplace(control->entries.begin() + index, text);
            if (control->selection >= index) ++control->selection;
            markDirty();
            return index;
        },
        -1);
}

int selectorDeleteString(Window selector, int index) {
    return onUi<int>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            if (!control || index < 0 || index >= static_cast<int>(control->entries.size())) return -1;
            control->entries.erase(control->entries.begin() + index);
            if (control->selection == index) control->selection = -1;
            else if (control->selection > index) --control->selection;
            markDirty();
            return static_cast<int>(control->entries.size());
        },
        -1);
}

bool selectorReset(Window selector) {
    return onUi<bool>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            if (!control) return false;
            control->entries.clear();
            control->selection = -1;
            markDirty();
            return true;
        },
        false);
}

int selectorGetCount(Window selector) {
    return onUi<int>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            return control ? static_cast<int>(control->entries.size()) : -1;
        },
        -1);
}

int selectorGetSelection(Window selector) {
    return onUi<int>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            return control ? control->selection : -1;
        },
        -1);
}

int selectorSetSelection(Window selector, int index) {
    return onUi<int>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            if (!control || index < -1 || index >= static_cast<int>(control->entries.size())) return -1;
            control->selection = index;
            markDirty();
            return index;
        },
        -1);
}

std::u16string selectorGetText(Window selector, int index) {
    return onUi<std::u16string>(
        [&] {
            SelectorControl* control = selectorOf(selector);
            if (!control || index < 0 || index >= static_cast<int>(control->entries.size())) return std::u16string();
            return control->entries[static_cast<std::size_t>(index)];
        },
        {});
}

bool spinnerSetBuddy(Window spinner, Window buddy) {
    return onUi<bool>(
        [&] {
            auto* control = controlOf<SpinnerControl>(spinner, ControlKind::spinner);
            if (!control) return false;
            if (WindowData* old = find(control->buddy); old && old->control) old->control->spinner = {};
            control->buddy = {};
            WindowData* data = find(buddy);
            if (data && data->control && (selectorOf(buddy) || data->kind == ControlKind::edit)) {
                control->buddy = buddy;
                data->control->spinner = spinner;
            }
            markDirty();
            return !buddy || control->buddy == buddy;
        },
        false);
}

Window spinnerGetBuddy(Window spinner) {
    return onUi<Window>(
        [&] {
            auto* control = controlOf<SpinnerControl>(spinner, ControlKind::spinner);
            return control ? control->buddy : Window{};
        },
        Window{});
}

bool spinnerSetRange(Window spinner, int low, int high) {
    return onUi<bool>(
        [&] {
            auto* control = controlOf<SpinnerControl>(spinner, ControlKind::spinner);
            if (!control) return false;
            control->low = low;
            control->high = high;
            return true;
        },
        false);
}

bool checkBoxSetChecked(Window checkBox, bool checked) {
    return onUi<bool>(
        [&] {
            auto* control = controlOf<CheckBoxControl>(checkBox, ControlKind::checkBox);
            if (!control) return false;
            control->checked = checked;
            markDirty();
            return true;
        },
        false);
}

bool checkBoxIsChecked(Window checkBox) {
    return onUi<bool>(
        [&] {
            auto* control = controlOf<CheckBoxControl>(checkBox, ControlKind::checkBox);
            return control && control->checked;
        },
        false);
}

bool setWindowFont(Window window, Font font) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(window);
            if (!data) return false;
            data->font = font;
            markDirty();
            return true;
        },
        false);
}

Font getWindowFont(Window window) {
    return onUi<Font>(
        [&] {
            WindowData* data = find(window);
            return data ? data->font : Font::normal;
        },
        Font::normal);
}

}  // namespace platform
