// Menus and the popup that shows them (also the list of an open drop-down).
#include "platform/window/menu.h"

#include <algorithm>
#include <limits>

#include "platform/window/internal/system.h"

namespace platform {

namespace detail {

namespace {

MenuData* menuOf(Menu menu) {
    State* s = state();
    if (!s) return nullptr;
    auto it = s->menus.find(menu.id);
    return it == s->menus.end() ? nullptr : &it->second;
}

Menu newMenu(bool isSubMenu) {
    State& s = *state();
    Menu menu{s.nextMenuId++};
    s.menus[menu.id].isSubMenu = isSubMenu;
    return menu;
}

void fill(Menu menu, const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
        MenuEntry entry{std::u16string(item.text), item.command, 0};
        if (!item.subItems.empty()) {
            Menu sub = newMenu(true);
            fill(sub, item.subItems);
            entry.subMenu = sub.id;
        }
        menuOf(menu)->entries.push_back(std::move(entry));
    }
}

void destroyTree(std::uint32_t id) {
    MenuData* data = menuOf(Menu{id});
    if (!data) return;
    std::vector<MenuEntry> entries = std::move(data->entries);
    state()->menus.erase(id);
    for (const MenuEntry& entry : entries)
        if (entry.subMenu) destroyTree(entry.subMenu);
}

bool isSeparator(const MenuEntry& entry) { return entry.text.empty() && entry.command == 0 && entry.subMenu == 0; }

// The narrowest sub-menu worth opening beside its parent: a frame and a few letters.
constexpr int minimumRoom = 6;

class PopupControl final : public Control {
public:
    struct Level {
        std::vector<MenuEntry> entries;
        int selected = 0;
        int first = 0;
        Rect box;
    };

    // The width a level needs for its entries, at least `minimumWidth`.
    static int neededWidth(const std::vector<MenuEntry>& entries, int minimumWidth) {
        bool anySub = std::any_of(entries.begin(), entries.end(), [](const MenuEntry& e) { return e.subMenu != 0; });
        int width = minimumWidth;
        for (const MenuEntry& entry : entries)
            width = std::max(width, cellWidth(codePoints(entry.text)) + 4 + (anySub ? 2 : 0));
        return width;
    }

    // Opens a level with `point` at the corner `align` names, at most `maximumWidth` wide.
    void open(std::vector<MenuEntry> entries, int selected, unsigned align, Point point, int minimumWidth = 0,
              int maximumWidth = std::numeric_limits<int>::max()) {
        TerminalSize size = state()->frame.size();
        Level level;
        level.entries = std::move(entries);
        int width = std::min({neededWidth(level.entries, minimumWidth), maximumWidth, size.columns});
        int visible = std::clamp(static_cast<int>(level.entries.size()), 1, std::max(1, size.rows - 3));
        int height = visible + 2;
        int x = (align & alignRight) ? point.x - width + 1 : (align & alignCenter) ? point.x - width / 2 : point.x;
        int y = (align & alignBottom) ? point.y - height + 1 : point.y;
        x = std::clamp(x, 0, std::max(0, size.columns - width));
        y = std::clamp(y, 0, std::max(0, size.rows - 1 - height));
        level.box = {x, y, x + width, y + height};
        level.selected = std::clamp(selected, 0, static_cast<int>(level.entries.size()) - 1);
        if (isSeparator(level.entries[static_cast<std::size_t>(level.selected)])) step(level, 1);
        levels.push_back(std::move(level));
        scrollToSelection(levels.back());
        markDirty();
    }

    LResult handle(Window window, MessageId message, WParam wParam, LParam lParam) override {
        if (message != MessageId::keyDown || levels.empty()) return Control::handle(window, message, wParam, lParam);
        Level& level = levels.back();
        const MenuEntry& entry = level.entries[static_cast<std::size_t>(level.selected)];
        switch (static_cast<Key>(wParam)) {
        case Key::up: step(level, -1); break;
        case Key::down: step(level, 1); break;
        case Key::home:
            level.selected = static_cast<int>(level.entries.size()) - 1;
            step(level, 1);
            break;
        case Key::end:
            level.selected = 0;
            step(level, -1);
            break;
        case Key::right:
            if (entry.subMenu) openSubMenu(entry.subMenu);
            break;
        case Key::action:
        case Key::leftSoft:
            if (entry.subMenu) {
                openSubMenu(entry.subMenu);
            } else if (!isSeparator(entry)) {
                chosen = entry.command;
                done = true;
            }
            break;
        case Key::left:
        case Key::back:
            levels.pop_back();
            done = levels.empty();
            break;
        case Key::rightSoft: done = true; break;
        default: break;
        }
        if (!levels.empty()) scrollToSelection(levels.back());
        markDirty();
        return 0;
    }

    void draw(WindowData&, Canvas& canvas) override {
        bool unicode = state()->terminal.unicode();
        for (const Level& level : levels) {
            const Rect& box = level.box;
            int width = box.width();
            canvas.frame(box, unicode);
            for (int row = 0; row < box.height() - 2; ++row) {
                int index = level.first + row;
                int y = box.top + 1 + row;
                if (index >= static_cast<int>(level.entries.size())) {
                    canvas.fill({box.left + 1, y, box.right - 1, y + 1}, CellStyle::normal);
                    continue;
                }
                const MenuEntry& entry = level.entries[static_cast<std::size_t>(index)];
                if (isSeparator(entry)) {
                    canvas.frameDivider(box, y, unicode);
                    continue;
                }
                CellStyle style = index == level.selected ? CellStyle::selected : CellStyle::normal;
                canvas.fill({box.left + 1, y, box.right - 1, y + 1}, style);
                canvas.text(box.left + 2, y, entry.text, style, width - 4 - (entry.subMenu ? 2 : 0));
                if (entry.subMenu) canvas.text(box.right - 3, y, U">", style);
            }
        }
    }

    std::pair<std::u16string, std::u16string> softKeyLabels() const override { return {u"Select", u"Cancel"}; }

    std::vector<Level> levels;
    int chosen = 0;
    bool done = false;

private:
    void step(Level& level, int direction) {
        int count = static_cast<int>(level.entries.size());
        for (int tries = 0; tries < count; ++tries) {
            level.selected = (level.selected + direction + count) % count;
            if (!isSeparator(level.entries[static_cast<std::size_t>(level.selected)])) return;
        }
    }

    static void scrollToSelection(Level& level) {
        int visible = level.box.height() - 2;
        if (level.selected < level.first) level.first = level.selected;
        if (level.selected >= level.first + visible) level.first = level.selected - visible + 1;
    }

    void openSubMenu(std::uint32_t id) {
        MenuData* data = menuOf(Menu{id});
        if (!data || data->entries.empty()) return;
        const Level& parent = levels.back();
        TerminalSize size = state()->frame.size();
        int row = parent.box.top + 1 + parent.selected - parent.first;
        // Beside the parent, never over it: to the right when it fits there, else to the
        // left, else on the wider side with its names cut to the room there.
        const int width = neededWidth(data->entries, 0);
        const int roomRight = size.columns - parent.box.right;
        const int roomLeft = parent.box.left;
        const bool right = width <= roomRight || (width > roomLeft && roomRight >= roomLeft);
        // A parent as wide as the screen leaves no room beside it: the level then covers it.
        const int room = right ? roomRight : roomLeft;
        open(data->entries, 0, right ? alignLeft : alignRight,
             {right ? parent.box.right : parent.box.left - 1, std::max(0, row - 1)}, 0,
             room >= minimumRoom ? room : std::numeric_limits<int>::max());
    }
};

// Runs an open popup until the user chooses or closes it; the chosen command or 0.
int runPopup(std::unique_ptr<PopupControl> control) {
    TerminalSize size = state()->frame.size();
    PopupControl* popup = control.get();
    Window window = createWindowNow(
        {.kind = ControlKind::popupMenu, .rect = {0, 0, size.columns, std::max(0, size.rows - 1)}}, std::move(control));
    runModal({}, [&] { return !find(window) || popup->done; });
    int chosen = find(window) ? popup->chosen : 0;
    destroyWindow(window);
    return chosen;
}

}  // namespace

int trackChoiceList(const std::vector<std::u16string>& entries, int selected, Rect below, Window) {
    std::vector<MenuEntry> choices;
    for (std::size_t i = 0; i < entries.size(); ++i) choices.push_back({entries[i], static_cast<int>(i) + 1, 0});
    auto popup = std::make_unique<PopupControl>();
    TerminalSize size = state()->frame.size();
    int height = std::min(static_cast<int>(choices.size()), size.rows - 3) + 2;
    bool fitsBelow = below.bottom + height <= size.rows - 1;
    popup->open(std::move(choices), selected, fitsBelow ? alignLeft : alignLeft | alignBottom,
                {below.left, fitsBelow ? below.bottom : below.top - 1}, below.width());
    return runPopup(std::move(popup)) - 1;
}

}  // namespace detail

using namespace detail;

Menu loadMenu(const MenuResource& resource) {
    Menu menu = newMenu(false);
    fill(menu, resource.items);
    return menu;
}

Menu createPopupMenu() { return newMenu(false); }

bool destroyMenu(Menu menu) {
    MenuData* data = menuOf(menu);
    if (!data || data->isSubMenu) return false;
    destroyTree(menu.id);
    return true;
}

Menu getSubMenu(Menu menu, int index) {
    MenuData* data = menuOf(menu);
    if (!data || index < 0 || index >= static_cast<int>(data->entries.size())) return {};
    return Menu{data->entries[static_cast<std::size_t>(index)].subMenu};
}

int getMenuItemCount(Menu menu) {
    MenuData* data = menuOf(menu);
    return data ? static_cast<int>(data->entries.size()) : -1;
}

bool appendMenuItem(Menu menu, std::u16string_view text, int command) {
    MenuData* data = menuOf(menu);
    if (!data) return false;
    data->entries.push_back({std::u16string(text), command, 0});
    markDirty();
    return true;
}

bool appendMenuSeparator(Menu menu) {
    MenuData* data = menuOf(menu);
    if (!data) return false;
    data->entries.push_back({});
    return true;
}

bool appendSubMenu(Menu menu, std::u16string_view text, Menu subMenu) {
    MenuData* data = menuOf(menu);
    MenuData* sub = menuOf(subMenu);
    if (!data || !sub || sub->isSubMenu || menu == subMenu) return false;
    sub->isSubMenu = true;
    data->entries.push_back({std::u16string(text), 0, subMenu.id});
    return true;
}

int trackPopupMenu(Menu menu, unsigned align, Point point, Window owner) {
    MenuData* data = menuOf(menu);
    if (!data || data->entries.empty() || !onUiThread()) return 0;
    auto popup = std::make_unique<PopupControl>();
    popup->open(data->entries, 0, align, point);
    int chosen = runPopup(std::move(popup));
    if (chosen) postMessage(owner, MessageId::command, makeCommandParam(chosen));
    return chosen;
}

}  // namespace platform
