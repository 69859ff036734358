// Message boxes: a framed box over the screen, answered from the soft keys.
#include "platform/window/message_box.h"

#include <algorithm>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

constexpr int iconColumn = 4;  // "(?) "

std::u32string_view iconTag(MessageBoxIcon icon) {
    switch (icon) {
    case MessageBoxIcon::hand: return U"(x)";
    case MessageBoxIcon::question: return U"(?)";
    case MessageBoxIcon::exclamation: return U"(!)";
    case MessageBoxIcon::information: return U"(i)";
    case MessageBoxIcon::none: break;
    }
    return U"";
}

class MessageBoxControl final : public Control {
public:
    MessageBoxControl(std::u16string_view caption, std::u16string_view text, MessageBoxButtons buttons,
                      MessageBoxIcon icon, bool secret = false)
        : caption_(codePoints(caption)), text_(text), buttons_(buttons), icon_(icon), secret_(secret) {}

    // The box's place on a screen of this size.
    Rect layout(TerminalSize size) {
        int indent = icon_ == MessageBoxIcon::none ? 0 : iconColumn;
        int widest = 0;
        for (const std::u32string& line : layoutLines(text_, 1 << 20, false))
            widest = std::max(widest, cellWidth(line));
        int width = std::max({24, cellWidth(caption_) + 8, widest + indent + 4});
        width = std::min(width, std::max(8, size.columns - 2));
        lines_ = layoutLines(text_, width - 4 - indent, true);
        int height = std::min(static_cast<int>(lines_.size()) + 4, std::max(3, size.rows - 2));
        int left = std::max(0, (size.columns - width) / 2);
        int top = std::max(0, (size.rows - 1 - height) / 2);
        return {left, top, left + width, top + height};
    }

    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        bool yesNo = buttons_ == MessageBoxButtons::yesNo;
        MessageBoxResult positive = yesNo ? MessageBoxResult::yes : MessageBoxResult::ok;
        MessageBoxResult negative = yesNo ? MessageBoxResult::no : MessageBoxResult::ok;
        if (secret_) return handleSecret(window, message, wParam, lParam);
        if (message == MessageId::keyDown) {
            switch (static_cast<Key>(wParam)) {
            case Key::leftSoft:
            case Key::action: result = positive; break;
            case Key::rightSoft:
                if (yesNo) result = MessageBoxResult::no;
                break;
            case Key::back: result = negative; break;
            default: break;
            }
            return 0;
        }
        if (message == MessageId::character && yesNo) {
            if (wParam == u'y' || wParam == u'Y') result = MessageBoxResult::yes;
            if (wParam == u'n' || wParam == u'N') result = MessageBoxResult::no;
            return 0;
        }
        return Control::handle(window, message, wParam, lParam);
    }

    void draw(WindowData& window, Canvas& canvas) override {
        bool unicode = state()->terminal.unicode();
        int width = window.rect.width();
        int height = window.rect.height();
        canvas.fill({0, 0, width, height}, CellStyle::normal);
        canvas.frame({0, 0, width, height}, unicode);
        canvas.text(2, 0, U" " + caption_ + U" ", CellStyle::frame, width - 4);
        int indent = icon_ == MessageBoxIcon::none ? 0 : iconColumn;
        canvas.text(2, 2, iconTag(icon_), CellStyle::label);
        for (int row = 0; row < static_cast<int>(lines_.size()) && row < height - 4; ++row)
            canvas.text(2 + indent, 2 + row, lines_[static_cast<std::size_t>(row)], CellStyle::normal,
                        width - 4 - indent);
    }

    std::pair<std::u16string, std::u16string> softKeyLabels() const override {
        if (secret_) return {u"OK", u"Cancel"};
        if (buttons_ == MessageBoxButtons::yesNo) return {u"Yes", u"No"};
        return {u"OK", u""};
    }

    MessageBoxResult result = MessageBoxResult::none;
    std::u16string typed;  // a secret box's answer

private:
    // A secret is typed blind: nothing on the screen shows it, not even its length.
    LResult handleSecret(Window window, MessageId message, WParam wParam, LParam lParam) {
        if (message == MessageId::character && wParam >= 0x20) {
            typed.push_back(char16_t(wParam));
            return 0;
        }
        if (message != MessageId::keyDown) return Control::handle(window, message, wParam, lParam);
        switch (static_cast<Key>(wParam)) {
        case Key::leftSoft:
        case Key::action: result = MessageBoxResult::ok; break;
        case Key::rightSoft:
        case Key::back: result = MessageBoxResult::no; break;
        case Key::backspace:
            if (!typed.empty()) typed.pop_back();
            break;
        default: break;
        }
        return 0;
    }

    std::u32string caption_;
    std::u16string text_;
    MessageBoxButtons buttons_;
    MessageBoxIcon icon_;
    bool secret_;
    std::vector<std::u32string> lines_;
};

}  // namespace

}  // namespace detail

using namespace detail;

MessageBoxResult messageBox(Window owner, std::u16string_view text, std::u16string_view caption,
                            MessageBoxButtons buttons, MessageBoxIcon icon) {
    return onUi<MessageBoxResult>(
        [&] {
            auto control = std::make_unique<MessageBoxControl>(caption, text, buttons, icon);
            MessageBoxControl* box = control.get();
            Rect rect = box->layout(state()->frame.size());
            Window window = createWindowNow({.kind = ControlKind::messageBox, .text = caption, .rect = rect},
                                            std::move(control));
            runModal(owner, [&] { return !find(window) || box->result != MessageBoxResult::none; });
            MessageBoxResult result = find(window) ? box->result : MessageBoxResult::none;
            destroyWindow(window);
            return result;
        },
        MessageBoxResult::none);
}

std::optional<std::u16string> secretBox(Window owner, std::u16string_view text, std::u16string_view caption) {
    return onUi<std::optional<std::u16string>>(
        [&]() -> std::optional<std::u16string> {
            auto control = std::make_unique<MessageBoxControl>(caption, text, MessageBoxButtons::ok,
                                                               MessageBoxIcon::question, true);
            MessageBoxControl* box = control.get();
            Rect rect = box->layout(state()->frame.size());
            Window window = createWindowNow({.kind = ControlKind::messageBox, .text = caption, .rect = rect},
                                            std::move(control));
            runModal(owner, [&] { return !find(window) || box->result != MessageBoxResult::none; });
            std::optional<std::u16string> answer;
            if (find(window) && box->result == MessageBoxResult::ok) answer = std::move(box->typed);
            destroyWindow(window);
            return answer;
        },
        std::nullopt);
}

void messageBeep(MessageBoxIcon) {
    onUiVoid([] { state()->terminal.bell(); });
}

}  // namespace platform
