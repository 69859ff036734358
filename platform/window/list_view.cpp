// The owner-data list view and the image lists.
#include "platform/window/list_view.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

// Image lists are shared with the population thread, which fills them while the UI
// thread draws from them: they live under their own lock instead of being marshalled.
struct ImageLists {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, std::vector<IconId>> lists;
    std::uint32_t nextId = 1;
};

ImageLists& imageLists() {
    static ImageLists instance;
    return instance;
}

constexpr int tileWidth = 14;
constexpr int tileHeight = 3;
constexpr int displayTextCapacity = 260;

class ListViewControl final : public Control {
public:
    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        switch (message) {
        case MessageId::keyDown: key(window, static_cast<Key>(wParam)); return 0;
        case MessageId::character: find(window, static_cast<char16_t>(wParam), static_cast<Key>(lParam)); return 0;
        case MessageId::size: clampTop(window); return 0;
        default: return Control::handle(window, message, wParam, lParam);
        }
    }

    bool wantsKey(Key key) const override {
        return key == Key::up || key == Key::down || key == Key::left || key == Key::right || key == Key::pageUp ||
               key == Key::pageDown || key == Key::home || key == Key::end;
    }

    void draw(WindowData& window, Canvas& canvas) override {
        int width = window.rect.width();
        int height = window.rect.height();
        canvas.fill({0, 0, width, height}, CellStyle::normal);
        bool unicode = state()->terminal.unicode();
        int perPage = countPerPage(window);
        for (int slot = 0; slot < perPage; ++slot) {
            int index = top + slot;
            if (index >= count) break;
            Display row = display(index);
            CellStyle style = rowStyle(index);
            if (mode == ListViewMode::report) {
                canvas.fill({0, slot, width, slot + 1}, style);
                int x = 1 + canvas.text(1, slot, iconCells(row.icon, unicode), style) + 1;
                canvas.text(x, slot, row.text, style, width - x);
            } else {
                int columns = std::max(1, width / tileWidth);
                int left = (slot % columns) * tileWidth;
                int y = (slot / columns) * tileHeight;
                std::u32string icon = iconCells(row.icon, unicode);
                while (!icon.empty() && icon.back() == U' ') icon.pop_back();
                std::u32string name = codePoints(row.text);
                int nameWidth = std::min(cellWidth(name), tileWidth - 2);
                canvas.text(left + (tileWidth - cellWidth(icon)) / 2, y, icon, style);
                canvas.fill({left + 1, y + 1, left + tileWidth - 1, y + 2}, style);
                canvas.text(left + (tileWidth - nameWidth) / 2, y + 1, name, style, nameWidth);
            }
        }
    }

    int countPerPage(const WindowData& window) const {
        if (mode == ListViewMode::report) return std::max(1, window.rect.height());
        return std::max(1, window.rect.width() / tileWidth) * std::max(1, window.rect.height() / tileHeight);
    }

    int columns(const WindowData& window) const {
        return mode == ListViewMode::report ? 1 : std::max(1, window.rect.width() / tileWidth);
    }

    unsigned stateOf(int index) const {
        return index >= 0 && static_cast<std::size_t>(index) < states.size() ? states[static_cast<std::size_t>(index)]
                                                                             : 0;
    }

    void setState(Window window, int index, unsigned state, unsigned mask) {
        int last = index;
        if (index < 0) {
            index = 0;
            last = std::max(count, static_cast<int>(states.size())) - 1;
            if (last < 0) return;
        }
        if (static_cast<std::size_t>(last) >= states.size()) states.resize(static_cast<std::size_t>(last) + 1, 0);
        unsigned oldState = stateOf(index);
        if ((state & mask & itemFocused) && index == last) {
            for (auto& s : states) s &= ~itemFocused;  // one focused row
        }
        for (int i = index; i <= last; ++i) {
            auto& s = states[static_cast<std::size_t>(i)];
            s = static_cast<std::uint8_t>((s & ~mask) | (state & mask));
        }
        markDirty();
        ListViewStateChange change;
        change.code = NotifyCode::listStateChanged;
        change.from = index;
        change.to = last;
        change.newState = state & mask;
        change.oldState = oldState;
        sendNotify(window, change);
    }

    void ensureVisible(const WindowData& window, int index) {
        if (index < 0 || index >= count) return;
        int step = columns(window);
        int perPage = countPerPage(window);
        if (index < top) top = index - index % step;
        while (index >= top + perPage) top += step;
        markDirty();
    }

    void clampTop(Window window) {
        WindowData* data = platform::detail::find(window);
        if (!data) return;
        int step = columns(*data);
        int perPage = countPerPage(*data);
        int maximum = std::max(0, count - perPage + step - 1);
        maximum -= maximum % step;
        top = std::clamp(top, 0, maximum);
    }

    int focused() const {
        for (int i = 0; i < count && static_cast<std::size_t>(i) < states.size(); ++i)
            if (states[static_cast<std::size_t>(i)] & itemFocused) return i;
        return -1;
    }

    // Moves the focus and the single selection to a row, as the user does with the keys.
    void moveTo(Window window, int index) {
        if (count == 0) return;
        index = std::clamp(index, 0, count - 1);
        setState(window, -1, 0, itemSelected);
        setState(window, index, itemSelected | itemFocused, itemSelected | itemFocused);
        if (WindowData* data = platform::detail::find(window)) ensureVisible(*data, index);
    }

    int count = 0;
    int top = 0;
    ListViewMode mode = ListViewMode::report;
    std::vector<std::uint8_t> states;
    ImageList images[2];
    Window labelEdit;
    int labelEditItem = -1;

    struct Display {
        std::u16string text;
        IconId icon = IconId::none;
    };

    Display display(int index) {
        char16_t buffer[displayTextCapacity] = {};
        ListViewDisplayInfo info;
        info.code = NotifyCode::listGetDisplayInfo;
        info.item = index;
        info.mask = displayText | displayImage;
        info.state = stateOf(index);
        info.text = buffer;
        info.textCapacity = displayTextCapacity;
        sendNotify(self, info);
        buffer[displayTextCapacity - 1] = 0;  // the owner may have filled it to the end
        ImageList list = images[mode == ListViewMode::report ? 0 : 1];
        return {std::u16string(buffer), imageListGetIcon(list, info.image)};
    }

private:
    CellStyle rowStyle(int index) const {
        unsigned s = stateOf(index);
        if (s & itemSelected) return CellStyle::selected;
        if (s & itemCut) return CellStyle::cut;
        if ((s & itemFocused) && state()->focus == self) return CellStyle::focused;
        return CellStyle::normal;
    }

    void key(Window window, Key key) {
        ListViewKeyDown notice;
        notice.code = NotifyCode::listKeyDown;
        notice.key = key;
        sendNotify(window, notice);
        WindowData* data = platform::detail::find(window);
        if (!data || labelEdit) return;
        int current = focused();
        int step = columns(*data);
        int page = countPerPage(*data);
        switch (key) {
        case Key::up:
            if (current < 0 || current - step >= 0) moveTo(window, current < 0 ? 0 : current - step);
            break;
        case Key::down:
            if (current + step < count) moveTo(window, current < 0 ? 0 : current + step);
            break;
        case Key::left:
            if (mode == ListViewMode::icon && current > 0) moveTo(window, current - 1);
            break;
        case Key::right:
            if (mode == ListViewMode::icon) moveTo(window, current + 1);
            break;
        case Key::pageUp: moveTo(window, current - page); break;
        case Key::pageDown: moveTo(window, current < 0 ? page - 1 : current + page); break;
        case Key::home: moveTo(window, 0); break;
        case Key::end: moveTo(window, count - 1); break;
        case Key::action:
            if (current >= 0) {
                ListViewItem item;
                item.code = NotifyCode::listItemActivate;
                item.item = current;
                sendNotify(window, item);
            }
            break;
        case Key::context: {
            ContextGesture gesture;
            gesture.code = NotifyCode::contextGesture;
            Rect area = screenClientRect(*data);
            int slot = std::max(0, current - top);
            gesture.point = mode == ListViewMode::report
                                ? Point{area.left + 1, area.top + std::min(slot, area.height() - 1)}
                                : Point{area.left + (slot % step) * tileWidth, area.top + (slot / step) * tileHeight};
            sendNotify(window, gesture);
            break;
        }
        default: break;
        }
    }

    void find(Window window, char16_t character, Key digitKey) {
        if (labelEdit) return;
        ListViewFindItem request;
        request.code = NotifyCode::listFindItem;
        request.character = character;
        request.digitKey = digitKey;
        request.start = focused();
        WindowData* parent = platform::detail::find(platform::detail::find(window)->parent);
        if (!parent) return;
        request.from = window;
        request.controlId = platform::detail::find(window)->id;
        LResult found = callProcedure(parent->handle, MessageId::notify, static_cast<WParam>(request.controlId),
                                      reinterpret_cast<LParam>(&request));
        if (found >= 0 && found < count && platform::detail::find(window)) moveTo(window, static_cast<int>(found));
    }
};

ListViewControl* listOf(Window list) { return controlOf<ListViewControl>(list, ControlKind::listView); }

void endLabelEdit(Window list, bool cancelled) {
    ListViewControl* control = listOf(list);
    if (!control || !control->labelEdit) return;
    Window edit = control->labelEdit;
    std::u16string text = getWindowText(edit);
    ListViewLabelEdit end;
    end.code = NotifyCode::listEndLabelEdit;
    end.item = control->labelEditItem;
    end.text = cancelled ? nullptr : text.c_str();
    end.textLength = cancelled ? 0 : text.size();
    control->labelEdit = {};
    control->labelEditItem = -1;
    if (state()->focus == edit) setFocusNow(list);
    sendNotify(list, end);
    // The edit is still running its own procedure: destroy it from the queue.
    postMessage(edit, MessageId::close);
    markDirty();
}

}  // namespace

std::unique_ptr<Control> makeListView() { return std::make_unique<ListViewControl>(); }

}  // namespace detail

using namespace detail;

ImageList imageListCreate(int count) {
    ImageLists& all = imageLists();
    std::lock_guard lock(all.mutex);
    ImageList list{all.nextId++};
    all.lists[list.id].assign(static_cast<std::size_t>(std::max(0, count)), IconId::none);
    return list;
}

bool imageListDestroy(ImageList list) {
    ImageLists& all = imageLists();
    std::lock_guard lock(all.mutex);
    return all.lists.erase(list.id) > 0;
}

bool imageListSetImageCount(ImageList list, int count) {
    ImageLists& all = imageLists();
    std::lock_guard lock(all.mutex);
    auto it = all.lists.find(list.id);
    if (it == all.lists.end() || count < 0) return false;
    it->second.resize(static_cast<std::size_t>(count), IconId::none);
    return true;
}

int imageListGetImageCount(ImageList list) {
    ImageLists& all = imageLists();
    std::lock_guard lock(all.mutex);
    auto it = all.lists.find(list.id);
    return it == all.lists.end() ? -1 : static_cast<int>(it->second.size());
}

bool imageListReplace(ImageList list, int index, IconId icon) {
    ImageLists& all = imageLists();
    std::lock_guard lock(all.mutex);
    auto it = all.lists.find(list.id);
    if (it == all.lists.end() || index < 0 || static_cast<std::size_t>(index) >= it->second.size()) return false;
    it->second[static_cast<std::size_t>(index)] = icon;
    return true;
}

IconId imageListGetIcon(ImageList list, int index) {
    ImageLists& all = imageLists();
    std::lock_guard lock(all.mutex);
    auto it = all.lists.find(list.id);
    if (it == all.lists.end() || index < 0 || static_cast<std::size_t>(index) >= it->second.size()) return IconId::none;
    return it->second[static_cast<std::size_t>(index)];
}

bool listViewSetItemCount(Window list, int count, unsigned flags) {
    return onUi<bool>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control || count < 0) return false;
            if (count < control->count && static_cast<std::size_t>(count) < control->states.size())
                control->states.resize(static_cast<std::size_t>(count));
            control->count = count;
            if (!(flags & countNoScroll)) control->clampTop(list);
            control->top = std::min(control->top, std::max(0, count - 1));
            if (!(flags & countNoInvalidate)) markDirty();
            return true;
        },
        false);
}

int listViewGetItemCount(Window list) {
    return onUi<int>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->count : 0;
        },
        0);
}

bool listViewSetItemState(Window list, int index, unsigned state, unsigned mask) {
    return onUi<bool>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control || index < -1) return false;
            control->setState(list, index, state, mask);
            return true;
        },
        false);
}

unsigned listViewGetItemState(Window list, int index, unsigned mask) {
    return onUi<unsigned>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->stateOf(index) & mask : 0u;
        },
        0u);
}

int listViewGetNextItem(Window list, int start, unsigned flags) {
    return onUi<int>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control) return -1;
            for (int i = std::max(start + 1, 0); i < control->count; ++i)
                if ((control->stateOf(i) & flags) == flags) return i;
            return -1;
        },
        -1);
}

bool listViewEnsureVisible(Window list, int index) {
    return onUi<bool>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control || index < 0 || index >= control->count) return false;
            control->ensureVisible(*find(list), index);
            return true;
        },
        false);
}

int listViewGetTopIndex(Window list) {
    return onUi<int>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->top : 0;
        },
        0);
}

int listViewGetCountPerPage(Window list) {
    return onUi<int>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->countPerPage(*find(list)) : 0;
        },
        0);
}

bool listViewSetMode(Window list, ListViewMode mode) {
    return onUi<bool>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control) return false;
            control->mode = mode;
            control->clampTop(list);
            markDirty();
            return true;
        },
        false);
}

ListViewMode listViewGetMode(Window list) {
    return onUi<ListViewMode>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->mode : ListViewMode::report;
        },
        ListViewMode::report);
}

bool listViewSetImageList(Window list, ImageList images, ImageListKind kind) {
    return onUi<bool>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control) return false;
            control->images[kind == ImageListKind::small ? 0 : 1] = images;
            markDirty();
            return true;
        },
        false);
}

ImageList listViewGetImageList(Window list, ImageListKind kind) {
    return onUi<ImageList>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->images[kind == ImageListKind::small ? 0 : 1] : ImageList{};
        },
        ImageList{});
}

bool listViewRedrawItems(Window list, int, int) {
    return onUi<bool>(
        [&] {
            markDirty();
            return listOf(list) != nullptr;
        },
        false);
}

Window listViewEditLabel(Window list, int index) {
    return onUi<Window>(
        [&] {
            ListViewControl* control = listOf(list);
            if (!control || index < 0 || index >= control->count) return Window{};
            if (control->labelEdit) endLabelEdit(list, false);
            WindowData* data = find(list);
            control->ensureVisible(*data, index);
            int slot = index - control->top;
            int left = 2 + iconWidth(state()->terminal.unicode());
            Rect rect = control->mode == ListViewMode::report ? Rect{left, slot, data->rect.width(), slot + 1}
                                                              : Rect{(slot % control->columns(*data)) * tileWidth,
                                                                     (slot / control->columns(*data)) * tileHeight + 1,
                                                                     (slot % control->columns(*data) + 1) * tileWidth,
                                                                     (slot / control->columns(*data)) * tileHeight + 2};
            Window edit = createWindowNow(
                {.kind = ControlKind::edit, .text = control->display(index).text, .rect = rect, .parent = list});
            control->labelEdit = edit;
            control->labelEditItem = index;
            ListViewLabelEdit begin;
            begin.code = NotifyCode::listBeginLabelEdit;
            begin.item = index;
            WindowData* parent = find(data->parent);
            begin.from = list;
            begin.controlId = data->id;
            LResult refused = parent ? callProcedure(parent->handle, MessageId::notify, static_cast<WParam>(data->id),
                                                     reinterpret_cast<LParam>(&begin))
                                     : 0;
            if (refused || !find(edit) || control->labelEdit != edit) {
                if (control->labelEdit == edit) control->labelEdit = {};
                destroyWindow(edit);
                return Window{};
            }
            setLabelEditEnd(edit, [list](bool cancelled) { endLabelEdit(list, cancelled); });
            setFocusNow(edit);
            return edit;
        },
        Window{});
}

Window listViewGetEditControl(Window list) {
    return onUi<Window>(
        [&] {
            ListViewControl* control = listOf(list);
            return control ? control->labelEdit : Window{};
        },
        Window{});
}

}  // namespace platform
