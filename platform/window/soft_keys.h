// Soft-key bars: the two keys on the bottom line, F1 (left label) and F2 (right label).
// Each key carries a command for the bar's owner or a popup menu that opens upwards
// from the key. The foreground window's bar is the one drawn and the one the keys reach.
#pragma once

#include <string_view>

#include "platform/window/menu.h"
#include "platform/window/window.h"

namespace platform {

// One key of a bar resource: a command and its label, or a label and a popup menu
// (whose items are the resource's items).
struct SoftKeyResource {
    int command = 0;
    std::u16string_view label{};
    const MenuResource* menu = nullptr;
};

struct SoftKeyBarResource {
    int id = 0;
    SoftKeyResource left{};
    SoftKeyResource right{};
};

enum class SoftKey { left, right };

// Creates the bar of a top-level window (replacing the one it had). No window when it
// fails, which it does while setSoftKeyBarCreationFails(true). Any thread.
Window createSoftKeyBar(Window owner, const SoftKeyBarResource& resource);
Window findSoftKeyBar(Window owner);  // Any thread.
// Destroy a bar with destroyWindow.

// Sets a key's label and command (0 keeps the key's popup menu, if any). Any thread.
bool softKeyBarSetKey(Window bar, SoftKey key, std::u16string_view label, int command);
// The key's popup menu, to add items to; no menu when the key carries a command. Any thread.
Menu softKeyBarGetMenu(Window bar, SoftKey key);

// Flags of softKeyBarOverrideKey.
enum KeyOverride : unsigned {
    overrideNoDefault = 1u << 0,  // the key no longer does what it would (command, menu, key message)
    overrideNotify = 1u << 1,     // the owner gets hotKey with hotKeyPress and hotKeyRelease
};

// Overrides a key (the soft keys, Back, or any other) while the bar's owner is in the
// foreground: with overrideNotify its press and release reach the owner as hotKey
// messages; with overrideNoDefault they do nothing else. Flags 0 remove the override.
// A soft key with overrideNotify carries out its command on release (so that a long
// press can be told apart); otherwise soft keys act on press. Any thread.
bool softKeyBarOverrideKey(Window bar, Key key, unsigned flags);

// A short text drawn between the two labels of every bar (for example the progress of
// a background copy); empty draws nothing. Any thread.
void setSoftKeyStatus(std::u16string_view text);

// A test switch: while on, createSoftKeyBar fails, so that the paths for a missing bar
// can be tested. Any thread.
void setSoftKeyBarCreationFails(bool fails);

}  // namespace platform
