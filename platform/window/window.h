// Windows and messages: the core of the terminal window system. Windows are handles
// with a procedure that receives messages; the UI thread runs the message loop, other
// threads post to its queue or call window functions, which are carried out on the UI
// thread in the order they are made. Sizes and positions are in character cells.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window/keys.h"

namespace platform {

// A window handle. Handles are never reused while the program runs, so a message posted
// to a window that has been destroyed is dropped instead of reaching another window.
struct Window {
    std::uint32_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(Window, Window) = default;
};

struct Point {
    int x = 0;  // column
    int y = 0;  // row
    friend bool operator==(Point, Point) = default;
};

// Right and bottom are exclusive: width = right - left.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

// What a window procedure receives. The parameters of each message are given beside it.
enum class MessageId : std::uint32_t {
    create = 1,   // lParam: the createParam given to createWindow
    destroy,      // the window is going; its children are already gone
    close,        // default: destroyWindow
    size,         // wParam: client width, lParam: client height
    activate,     // wParam: 1 the top-level window became the foreground one, 0 it lost it
    enable,       // wParam: 1 enabled, 0 disabled (a modal dialog or box disables its owner)
    paint,        // draw with the functions of drawing.h; the client area is already cleared
    setFocus,     // wParam: the id of the window that lost the focus (0 none)
    killFocus,    // wParam: the id of the window that gets the focus (0 none)
    keyDown,      // wParam: Key, lParam: KeyFlag bits
    keyUp,        // wParam: Key, lParam: KeyFlag bits
    character,    // wParam: one UTF-16 unit, lParam: the Key that produced it (a digit key or 0)
    command,      // wParam: makeCommandParam(id, code), lParam: the source control's Window::id
                  // (0 for menus, soft keys and accelerators)
    notify,       // wParam: the control id, lParam: const NotifyHeader* (a record of its code)
    hotKey,       // wParam: Key, lParam: HotKeyFlag (hotKeyPress or hotKeyRelease)
    timer,        // wParam: the timer id
    help,         // the help key (F3) was pressed
    initDialog,   // to a dialog procedure: lParam the dialog's initParam
    user = 0x400  // userMessage(n): the program's own messages
};

constexpr MessageId userMessage(std::uint32_t n) {
    return static_cast<MessageId>(static_cast<std::uint32_t>(MessageId::user) + n);
}

// How a command came: the code travels in the high half of a command's wParam.
enum class CommandCode : std::uint16_t {
    none = 0,              // a menu item, a soft key, an accelerator, a check box click
    selectionChanged = 1,  // selector or drop-down: the user chose another entry
    editChanged = 2,       // edit: the user changed the text
};

constexpr WParam makeCommandParam(int id, CommandCode code = CommandCode::none) {
    return (static_cast<WParam>(static_cast<std::uint16_t>(code)) << 16) | static_cast<std::uint16_t>(id);
}
constexpr int commandId(WParam wParam) { return static_cast<int>(wParam & 0xFFFF); }
constexpr CommandCode commandCode(WParam wParam) { return static_cast<CommandCode>((wParam >> 16) & 0xFFFF); }

// Codes of notify messages; each names the record that lParam points to.
enum class NotifyCode : int {
    listGetDisplayInfo = 1,  // ListViewDisplayInfo: fill in text and image of a row
    listStateChanged,        // ListViewStateChange: the states of rows from..to changed
    listKeyDown,             // ListViewKeyDown: a key reached the list, before it acts on it
    listFindItem,            // ListViewFindItem: a character was typed; answer a row or -1
    listBeginLabelEdit,      // ListViewLabelEdit: answer nonzero to refuse the edit
    listEndLabelEdit,        // ListViewLabelEdit: text is the edited text, or null when cancelled
    listItemActivate,        // ListViewItem: Enter on a row
    contextGesture,          // ContextGesture: the context key (Shift+F10 or the Menu key)
};

// The start of every notification record.
struct NotifyHeader {
    Window from;
    int controlId = 0;
    NotifyCode code{};
};

// The record behind a notify message's lParam, as the type its code names.
template <class Record>
Record& notification(LParam lParam) {
    return static_cast<Record&>(*reinterpret_cast<NotifyHeader*>(lParam));
}

// The context gesture (tap and hold on a phone): where a context menu belongs.
struct ContextGesture : NotifyHeader {
    Point point{};  // screen cells
};

using WindowProcedure = std::function<LResult(Window, MessageId, WParam, LParam)>;

// The kinds of windows. Controls bring their own procedure; replace it with
// setWindowProcedure and pass what you do not handle to the one it returns.
enum class ControlKind {
    window,      // a plain window; a top-level one fills the screen with its title line
    listView,    // list_view.h
    selector,    // controls.h: one-line list box
    dropDown,    // controls.h: one-line list that opens a list below it
    spinner,     // controls.h: arrows that step the selector or number beside them
    edit,        // controls.h
    checkBox,    // controls.h
    staticText,  // controls.h
    dialog,      // dialog.h; created by dialogBox
    softKeyBar,  // soft_keys.h; created by createSoftKeyBar
    messageBox,  // message_box.h; created by messageBox
    popupMenu,   // menu.h; created while a menu or drop-down list is open
};

// Options of createWindow, by kind.
enum ControlOption : unsigned {
    optionHidden = 1u << 0,         // any: create hidden
    editPassword = 1u << 1,         // edit: shows '*' for each character
    editDigits = 1u << 2,           // edit: accepts only the digits 0-9
    editReadOnly = 1u << 3,         // edit: shows the text but refuses changes
    editClearOnBackHeld = 1u << 4,  // edit: holding Back clears the whole text
    staticCenter = 1u << 5,         // static text: each line centred
    spinnerWrap = 1u << 6,          // spinner: stepping past an end goes to the other end
};

struct CreateWindowArgs {
    ControlKind kind = ControlKind::window;
    std::u16string_view text{};   // title of a top-level window, label of a check box, ...
    unsigned options = 0;         // ControlOption bits
    Rect rect{};                  // in the parent's client cells; top-level windows fill the screen
    Window parent{};              // none: a top-level window
    int id = 0;                   // control id, reported in commands and notifications
    WindowProcedure procedure{};  // plain windows only; none gives defaultWindowProcedure
    LParam createParam = 0;       // passed with the create message
};

// Creates a window and sends it create, then size. A top-level window becomes the
// foreground window. Returns no window when the parent does not exist. Any thread.
Window createWindow(const CreateWindowArgs& args);
// Destroys the window, its children and its soft-key bar; the children get destroy
// first. Focus inside it moves to its parent (or to the next foreground window). Any thread.
bool destroyWindow(Window window);
bool isWindow(Window window);  // Any thread.

Window getParent(Window window);                 // Any thread.
std::vector<Window> getChildren(Window window);  // in creation order. Any thread.
ControlKind getWindowKind(Window window);        // Any thread.
int getWindowId(Window window);                  // Any thread.
// The child with this control id, searched in the whole tree below the window. Any thread.
Window getDialogItem(Window parent, int id);

bool setWindowText(Window window, std::u16string_view text);  // Any thread.
std::u16string getWindowText(Window window);                  // Any thread.

// The client area, from (0, 0). A top-level window's client area is the screen less the
// title line and the soft-key line. Any thread.
Rect getClientRect(Window window);
// The window's client area in screen cells. Any thread.
Rect getWindowRect(Window window);
// Moves and sizes a child in its parent's client cells and sends it size. Any thread.
bool moveWindow(Window window, Rect rect);

bool showWindow(Window window, bool visible);  // Any thread.
bool isWindowVisible(Window window);           // Any thread.
// A disabled window gets no keys and does not take the focus from the user. Any thread.
bool enableWindow(Window window, bool enabled);
bool isWindowEnabled(Window window);  // Any thread.

// Gives the keyboard focus to the window; sends killFocus to the old and setFocus to the
// new one. Returns the window that had it. Any thread.
Window setFocus(Window window);
Window getFocus();  // Any thread.
// The top-level window the user sees: the topmost main window, dialog or box. Any thread.
Window getForegroundWindow();

// Replaces the window's procedure and returns the one it had. Any thread.
WindowProcedure setWindowProcedure(Window window, WindowProcedure procedure);
// What a window does with a message its procedure does not handle: close destroys the
// window, everything else is ignored (0). UI thread only (called from procedures).
LResult defaultWindowProcedure(Window window, MessageId message, WParam wParam, LParam lParam);

// A pointer the program keeps with the window; the window system never touches it. Any thread.
void setWindowData(Window window, void* data);
void* getWindowData(Window window);  // Any thread.

// Marks the window to be drawn again (with its children) before the loop next waits.
// Any thread.
void invalidateWindow(Window window);

// Queues a message for the window and wakes the UI thread. False when the window does
// not exist or the window system is not running. Any thread.
bool postMessage(Window window, MessageId message, WParam wParam = 0, LParam lParam = 0);
// Queues a message whose lParam points to `record`; the record is kept alive until the
// window's procedure has handled the message (or the message is dropped). Any thread.
bool postMessage(Window window, MessageId message, WParam wParam, std::shared_ptr<const void> record);
// The same with a record moved into the message. Any thread.
template <class Record>
bool postRecord(Window window, MessageId message, WParam wParam, Record record) {
    return postMessage(window, message, wParam, std::make_shared<const Record>(std::move(record)));
}
// Calls the window's procedure and returns its result. From another thread the call is
// queued behind everything that thread posted before and the thread waits until the UI
// thread has handled it (0 when the window system stops first). Any thread.
LResult sendMessage(Window window, MessageId message, WParam wParam = 0, LParam lParam = 0);

// Starts (or restarts) a repeating timer: every `intervalMs` of the window system's clock
// the window gets timer with the id, until killTimer. Any thread.
bool setTimer(Window window, int timerId, int intervalMs);
bool killTimer(Window window, int timerId);  // Any thread.

// An accelerator turns a key into a command for the foreground window (not while the
// focus is in an edit, where the keys edit the text).
struct Accelerator {
    Key key;
    unsigned modifiers = 0;  // KeyFlag bits keyShift, keyControl
    int command = 0;
};

// Runs the message loop until postQuitMessage; returns its code. UI thread only.
int runMessageLoop(std::span<const Accelerator> accelerators = {});
// Ends the innermost loops: modal loops end as cancelled, runMessageLoop returns the code.
// Any thread.
void postQuitMessage(int code);
// Handles every message, timer and input event that is due, paints, and returns when
// nothing is left to do now (the headless terminal's script is used up). For tests and
// for the program's start-up. UI thread only.
void runUntilIdle();
// Waits, in real time, until another thread posts or sends something; false when
// nothing came within `timeoutMs`. For tests that wait for a worker. UI thread only.
bool waitForMessage(int timeoutMs);

// Lends the terminal to `use`, which runs another program in it: the screen is put away,
// and once `use` returns it is drawn again, at the size the terminal has then. Calls and
// messages from other threads wait meanwhile, and timers fire late. UI thread only.
void lendTerminal(const std::function<void()>& use);

// Shows or hides the busy sign at the right of the title line, for long operations.
// Any thread.
void setWaitCursor(bool busy);
// Whether the calling thread is the UI thread (false while the window system is not
// running). Any thread.
bool isUiThread();

}  // namespace platform
