// Menus: menu resources as plain C++ data, menus loaded from them, and popup menus
// tracked at a point. In an open menu Up/Down move (over separators, wrapping), Enter
// and F1 choose the item or open its sub-menu, Right opens a sub-menu, Left and Back
// close one level, F2 closes them all. UI thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/window/window.h"

namespace platform {

// One item of a menu resource: a command, a separator (empty text, command 0, no
// sub-items) or a sub-menu (sub-items).
struct MenuItem {
    std::u16string_view text{};
    int command = 0;
    std::vector<MenuItem> subItems{};
};

struct MenuResource {
    int id = 0;
    std::u16string_view name{};
    std::vector<MenuItem> items{};
};

struct Menu {
    std::uint32_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(Menu, Menu) = default;
};

// A menu holding the resource's items; its sub-menus belong to it.
Menu loadMenu(const MenuResource& resource);  // UI thread only.
Menu createPopupMenu();                       // UI thread only.
// Destroys the menu and its sub-menus; a sub-menu of another menu is not destroyed alone.
bool destroyMenu(Menu menu);            // UI thread only.
Menu getSubMenu(Menu menu, int index);  // no menu when the item has no sub-menu. UI thread only.
int getMenuItemCount(Menu menu);        // -1 for no menu. UI thread only.
bool appendMenuItem(Menu menu, std::u16string_view text, int command);  // UI thread only.
bool appendMenuSeparator(Menu menu);                                    // UI thread only.
bool appendSubMenu(Menu menu, std::u16string_view text, Menu subMenu);  // subMenu then belongs to menu. UI thread only.

// Where the point is on the menu's box.
enum MenuAlign : unsigned {
    alignLeft = 0,
    alignCenter = 1u << 0,
    alignRight = 1u << 1,
    alignTop = 0,
    alignBottom = 1u << 2,
};

// Shows the menu modally with the point (screen cells) at its aligned corner, kept on
// the screen. A chosen command is posted to the owner as command(id) and returned; 0
// when the menu was closed without a choice.
int trackPopupMenu(Menu menu, unsigned align, Point point, Window owner);  // UI thread only.

}  // namespace platform
