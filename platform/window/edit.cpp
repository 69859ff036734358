// The single-line edit control. Positions are UTF-16 units and never split a surrogate
// pair; the text scrolls sideways to keep the cursor in view.
#include <algorithm>

#include "platform/window/controls.h"
#include "platform/window/internal/system.h"
#include "platform/window/message_box.h"

namespace platform {

namespace detail {

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

int previousBoundary(const std::u16string& text, int position) {
    if (position <= 0) return 0;
    --position;
    if (position > 0 && isLowSurrogate(text[static_cast<std::size_t>(position)]) &&
        isHighSurrogate(text[static_cast<std::size_t>(position) - 1]))
        --position;
    return position;
}

int nextBoundary(const std::u16string& text, int position) {
    int size = static_cast<int>(text.size());
    if (position >= size) return size;
    ++position;
    if (position < size && isLowSurrogate(text[static_cast<std::size_t>(position)]) &&
        isHighSurrogate(text[static_cast<std::size_t>(position) - 1]))
        ++position;
    return position;
}

// The longest prefix of at most `limit` units that does not end inside a pair.
std::size_t cutPoint(const std::u16string& text, int limit) {
    if (limit <= 0 || text.size() <= static_cast<std::size_t>(limit)) return text.size();
    std::size_t cut = static_cast<std::size_t>(limit);
    if (isHighSurrogate(text[cut - 1])) --cut;
    return cut;
}

class EditControl final : public Control {
public:
    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        WindowData* data = find(window);
        switch (message) {
        case MessageId::keyDown: key(*data, static_cast<Key>(wParam), static_cast<unsigned>(lParam)); return 0;
        case MessageId::character: type(*data, static_cast<char16_t>(wParam)); return 0;
        case MessageId::killFocus: endLabelEdit(false); return 0;
        default: return Control::handle(window, message, wParam, lParam);
        }
    }

    void textSet(WindowData& window) override {
        window.text.resize(cutPoint(window.text, limit));
        anchor = cursor = static_cast<int>(window.text.size());
    }

    bool wantsKey(Key key) const override {
        return key == Key::left || key == Key::right || key == Key::home || key == Key::end;
    }

    std::optional<Point> caret(const WindowData& window) const override {
        return Point{textLeft() + caretCell(window) - scroll_, 0};
    }

    void draw(WindowData& window, Canvas& canvas) override {
        int width = window.rect.width();
        CellStyle style = window.enabled ? fieldStyle(window.handle) : CellStyle::disabled;
        canvas.fill({0, 0, width, 1}, style);
        if (spinner) {
            canvas.text(1, 0, U"<", style);
            canvas.text(width - 2, 0, U">", style);
        }
        int visible = std::max(1, width - textLeft() - (spinner ? 3 : 1));
        int caretAt = caretCell(window);
        if (caretAt < scroll_) scroll_ = caretAt;
        if (caretAt >= scroll_ + visible) scroll_ = caretAt - visible + 1;
        int from = std::min(anchor, cursor);
        int to = std::max(anchor, cursor);
        int cell = 0;
        for (int unit = 0; unit < static_cast<int>(window.text.size());) {
            int next = nextBoundary(window.text, unit);
            std::u32string shown = (window.options & editPassword)
                                       ? std::u32string(U"*")
                                       : codePoints(std::u16string_view(window.text)
                                                        .substr(static_cast<std::size_t>(unit),
                                                                static_cast<std::size_t>(next - unit)));
            int width = cellWidth(shown);
            if (cell >= scroll_ && cell + width <= scroll_ + visible) {
                CellStyle cellStyle = unit >= from && unit < to ? CellStyle::selected : style;
                canvas.text(textLeft() + cell - scroll_, 0, shown, cellStyle);
            }
            cell += width;
            unit = next;
        }
    }

    int anchor = 0;
    int cursor = 0;
    int limit = 0;
    std::function<void(bool)> labelEditEnd;

private:
    static CellStyle fieldStyle(Window window) {
        return state()->focus == window ? CellStyle::focusedField : CellStyle::field;
    }

    int textLeft() const { return spinner ? 3 : 1; }  // a cell of the field before the text

    int caretCell(const WindowData& window) const {
        std::u16string_view before = std::u16string_view(window.text).substr(0, static_cast<std::size_t>(cursor));
        return (window.options & editPassword) ? static_cast<int>(codePoints(before).size())
                                               : cellWidth(codePoints(before));
    }

    void endLabelEdit(bool cancelled) {
        if (!labelEditEnd) return;
        auto end = std::move(labelEditEnd);
        labelEditEnd = nullptr;
        end(cancelled);
    }

    bool eraseSelection(WindowData& window) {
        int from = std::min(anchor, cursor);
        int to = std::max(anchor, cursor);
        if (from == to) return false;
        window.text.erase(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
        anchor = cursor = from;
        return true;
    }

    void changed(WindowData& window) {
        markDirty();
        sendCommandToParent(window.handle, CommandCode::editChanged);
    }

    void key(WindowData& window, Key key, unsigned flags) {
        bool readOnly = (window.options & editReadOnly) != 0;
        int size = static_cast<int>(window.text.size());
        switch (key) {
        case Key::left:
        case Key::right:
            if (spinner && !readOnly) {
                spinnerStep(spinner, key == Key::right ? 1 : -1);
                return;
            }
            if (anchor != cursor) cursor = key == Key::left ? std::min(anchor, cursor) : std::max(anchor, cursor);
            else cursor = key == Key::left ? previousBoundary(window.text, cursor) : nextBoundary(window.text, cursor);
            anchor = cursor;
            break;
        case Key::home: anchor = cursor = 0; break;
        case Key::end: anchor = cursor = size; break;
        case Key::back:
        case Key::backspace:
            if (key == Key::back && window.text.empty() && labelEditEnd) {
                endLabelEdit(true);
                return;
            }
            if (readOnly) return;
            if (key == Key::back && (flags & keyRepeat) && (window.options & editClearOnBackHeld)) {
                window.text.clear();
                anchor = cursor = 0;
            } else if (!eraseSelection(window)) {
                if (cursor == 0) return;
                int from = previousBoundary(window.text, cursor);
                window.text.erase(static_cast<std::size_t>(from), static_cast<std::size_t>(cursor - from));
                anchor = cursor = from;
            }
            changed(window);
            return;
        case Key::del:
            if (readOnly) return;
            if (!eraseSelection(window)) {
                if (cursor == size) return;
                int to = nextBoundary(window.text, cursor);
                window.text.erase(static_cast<std::size_t>(cursor), static_cast<std::size_t>(to - cursor));
            }
            changed(window);
            return;
        case Key::action: endLabelEdit(false); return;
        default: return;
        }
        markDirty();
    }

    void type(WindowData& window, char16_t unit) {
        if (window.options & editReadOnly) return;
        if ((window.options & editDigits) && (unit < u'0' || unit > u'9')) {
            messageBeep();
            return;
        }
        int selected = std::abs(anchor - cursor);
        int room = isHighSurrogate(unit) ? 2 : 1;
        if (limit > 0 && static_cast<int>(window.text.size()) - selected + room > limit) {
            messageBeep();
            return;
        }
        eraseSelection(window);
        window.text.insert(window.text.begin() + cursor, unit);
        anchor = ++cursor;
        changed(window);
    }

    int scroll_ = 0;
};

}  // namespace

std::unique_ptr<Control> makeEdit() { return std::make_unique<EditControl>(); }

void setLabelEditEnd(Window edit, std::function<void(bool)> end) {
    if (auto* control = controlOf<EditControl>(edit, ControlKind::edit)) control->labelEditEnd = std::move(end);
}

}  // namespace detail

using namespace detail;

bool editSetLimit(Window edit, int maxUnits) {
    return onUi<bool>(
        [&] {
            auto* control = controlOf<EditControl>(edit, ControlKind::edit);
            if (!control) return false;
            control->limit = std::max(0, maxUnits);
            control->textSet(*find(edit));
            markDirty();
            return true;
        },
        false);
}

bool editSetSelection(Window edit, int from, int to) {
    return onUi<bool>(
        [&] {
            auto* control = controlOf<EditControl>(edit, ControlKind::edit);
            if (!control) return false;
            const std::u16string& text = find(edit)->text;
            int size = static_cast<int>(text.size());
            if (to < 0 || to > size) to = size;
            from = std::clamp(from, 0, size);
            // Keep both ends on character boundaries.
            if (from > 0 && from < size && isLowSurrogate(text[static_cast<std::size_t>(from)])) --from;
            if (to > 0 && to < size && isLowSurrogate(text[static_cast<std::size_t>(to)])) ++to;
            control->anchor = from;
            control->cursor = to;
            markDirty();
            return true;
        },
        false);
}

std::pair<int, int> editGetSelection(Window edit) {
    return onUi<std::pair<int, int>>(
        [&] {
            auto* control = controlOf<EditControl>(edit, ControlKind::edit);
            if (!control) return std::pair{0, 0};
            return std::pair{std::min(control->anchor, control->cursor), std::max(control->anchor, control->cursor)};
        },
        std::pair{0, 0});
}

bool editSetReadOnly(Window edit, bool readOnly) {
    return editSetOptions(edit, readOnly ? unsigned{editReadOnly} : 0u, editReadOnly);
}

bool editSetOptions(Window edit, unsigned options, unsigned mask) {
    return onUi<bool>(
        [&] {
            WindowData* data = find(edit);
            if (!data || data->kind != ControlKind::edit) return false;
            data->options = (data->options & ~mask) | (options & mask);
            markDirty();
            return true;
        },
        false);
}

}  // namespace platform
