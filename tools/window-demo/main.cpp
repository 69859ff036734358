// window-demo: the terminal window system by hand. A list of made-up files with a
// filter selector and a soft-key bar; F2 opens the menu (message box, dialog, icon
// modes, exit), F1 shows the dialog, Enter on a row asks about it, holding F1 (or
// Shift+F1) opens the row's context menu.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "platform/window/list_view.h"
#include "platform/window/message_box.h"
#include "platform/window/ncurses_terminal.h"
#include "platform/window/soft_keys.h"

using namespace platform;

namespace {

enum Command {
    commandDone = 1,
    commandCancel = 2,
    commandDialog = 100,
    commandMessage,
    commandLarge,
    commandSmall,
    commandExit,
    commandOpen,
    commandContextMenu,
};
constexpr int filterId = 10;
constexpr int listId = 11;
constexpr int nameId = 20;
constexpr int kindId = 21;
constexpr int hiddenId = 23;
constexpr int longPressTimer = 112;

struct Row {
    std::u16string name;
    IconId icon;
};

const std::vector<Row> rows = {
    {u"..", IconId::parentFolder},    {u"Projects", IconId::folder},     {u"Music", IconId::folder},
    {u"notes.txt", IconId::text},     {u"holiday.jpg", IconId::image},   {u"song.mp3", IconId::audio},
    {u"backup.zip", IconId::archive}, {u"setup.exe", IconId::program},   {u"readme.htm", IconId::web},
    {u"東京.txt", IconId::text},      {u"report.doc", IconId::document}, {u"link.lnk", IconId::link},
};

const MenuResource sortMenu{200, u"Sort", {{u"Name", commandOpen}, {u"Size", commandOpen}}};
const MenuResource mainMenu{201,
                            u"Menu",
                            {
                                {u"Message Box", commandMessage},
                                {u"Dialog", commandDialog},
                                {u"View", 0, {{u"Large Icons", commandLarge}, {u"Small Icons", commandSmall}}},
                                {},
                                {u"Exit", commandExit},
                            }};
const MenuResource contextMenu{202, u"Context", {{u"Open", commandOpen}, {u"Properties", commandDialog}}};
const SoftKeyBarResource mainBar{501, {commandDialog, u"Dialog"}, {0, u"Menu", &mainMenu}};
const SoftKeyBarResource dialogBar{502, {commandDone, u"Done"}, {commandCancel, u"Cancel"}};

const DialogTemplate settingsDialog{
    300,
    u"Demo Settings",
    {
        {.text = u"Name:", .row = 0, .column = 1},
        {.id = nameId, .kind = ControlKind::edit, .text = u"My Connection", .row = 1, .column = 1, .limit = 40},
        {.text = u"Kind:", .row = 2, .column = 1},
        {.id = kindId, .kind = ControlKind::selector, .row = 3, .column = 1},
        {.id = kindId + 1, .kind = ControlKind::spinner, .options = spinnerWrap},
        {.id = hiddenId, .kind = ControlKind::checkBox, .text = u"Show hidden files", .row = 5, .column = 1},
        {.text = u"Up and Down move between the fields; Left and Right change the kind.",
         .row = 7,
         .column = 1,
         .height = 2},
    }};

Window filter;
Window list;
ImageList images;
bool longPress = false;  // the left soft key's release after a long press does nothing

LResult settingsProcedure(Window dialog, MessageId message, WParam wParam, LParam) {
    if (message == MessageId::initDialog) {
        if (!createSoftKeyBar(dialog, dialogBar)) {
            endDialog(dialog, -10);
            return 1;
        }
        Window kind = getDialogItem(dialog, kindId);
        for (const char16_t* text : {u"Anonymous", u"Account", u"Server to server"}) selectorAddString(kind, text);
        selectorSetSelection(kind, 0);
        layoutDialogControls(dialog);
        return 1;
    }
    if (message == MessageId::command && commandId(wParam) == commandDone) {
        std::u16string summary = u"Name: " + getWindowText(getDialogItem(dialog, nameId)) + u"\rKind: " +
                                 selectorGetText(getDialogItem(dialog, kindId),
                                                 selectorGetSelection(getDialogItem(dialog, kindId)));
        messageBox(dialog, summary, u"Saved", MessageBoxButtons::ok, MessageBoxIcon::information);
        endDialog(dialog, 1);
        return 1;
    }
    return 0;
}

int focusedRow() { return listViewGetNextItem(list, -1, nextFocused); }

LResult mainProcedure(Window window, MessageId message, WParam wParam, LParam lParam) {
    switch (message) {
    case MessageId::create: {
        Rect client = getClientRect(window);
        filter = createWindow(
            {.kind = ControlKind::selector, .rect = {0, 0, client.right, 1}, .parent = window, .id = filterId});
        Window spinner = createWindow({.kind = ControlKind::spinner, .options = spinnerWrap, .parent = window});
        spinnerSetBuddy(spinner, filter);
        for (const char16_t* name : {u"All Files", u"Text Files", u"Images"}) selectorAddString(filter, name);
        selectorSetSelection(filter, 0);
        list = createWindow({.kind = ControlKind::listView,
                             .rect = {0, 1, client.right, client.bottom},
                             .parent = window,
                             .id = listId});
        images = imageListCreate(static_cast<int>(IconId::count));
        for (int i = 0; i < static_cast<int>(IconId::count); ++i) imageListReplace(images, i, static_cast<IconId>(i));
        listViewSetImageList(list, images, ImageListKind::small);
        listViewSetImageList(list, images, ImageListKind::normal);
        listViewSetItemCount(list, static_cast<int>(rows.size()));
        listViewSetItemState(list, 0, itemSelected | itemFocused, itemSelected | itemFocused);
        setFocus(list);
        if (Window bar = createSoftKeyBar(window, mainBar)) softKeyBarOverrideKey(bar, Key::leftSoft, overrideNotify);
        return 0;
    }
    case MessageId::size:
        moveWindow(filter, {0, 0, static_cast<int>(wParam), 1});
        moveWindow(list, {0, 1, static_cast<int>(wParam), static_cast<int>(lParam)});
        return 0;
    case MessageId::notify: {
        auto& header = notification<NotifyHeader>(lParam);
        if (header.code == NotifyCode::listGetDisplayInfo) {
            auto& info = notification<ListViewDisplayInfo>(lParam);
            const Row& row = rows[static_cast<std::size_t>(info.item)];
            if (info.mask & displayText) copyBounded(info.text, static_cast<std::size_t>(info.textCapacity), row.name);
            if (info.mask & displayImage) info.image = static_cast<int>(row.icon);
        } else if (header.code == NotifyCode::listItemActivate) {
            postMessage(window, MessageId::command, makeCommandParam(commandOpen));
        } else if (header.code == NotifyCode::contextGesture) {
            auto& gesture = notification<ContextGesture>(lParam);
            Menu menu = loadMenu(contextMenu);
            trackPopupMenu(menu, alignLeft, gesture.point, window);
            destroyMenu(menu);
        }
        return 0;
    }
    case MessageId::hotKey:
        if (static_cast<Key>(wParam) == Key::leftSoft && lParam == hotKeyPress) setTimer(window, longPressTimer, 600);
        return 0;
    case MessageId::timer:
        killTimer(window, longPressTimer);
        if (isKeyDown(Key::leftSoft)) {
            longPress = true;
            releaseKey(Key::leftSoft);
            postMessage(window, MessageId::command, makeCommandParam(commandContextMenu));
        }
        return 0;
    case MessageId::command:
        switch (commandId(wParam)) {
        case commandDialog:
            if (longPress) {
                longPress = false;
                return 0;
            }
            if (dialogBox(settingsDialog, window, settingsProcedure) == -10)
                messageBox(window, u"Unable to create Keybar.", u"Demo Settings", MessageBoxButtons::ok,
                           MessageBoxIcon::hand);
            return 0;
        case commandContextMenu: {
            Rect client = getWindowRect(window);
            Menu menu = loadMenu(contextMenu);
            trackPopupMenu(menu, alignCenter | alignBottom, {client.width() / 2, client.bottom - 1}, window);
            destroyMenu(menu);
            return 0;
        }
        case commandMessage:
            messageBeep(MessageBoxIcon::question);
            messageBox(window,
                       u"This is a message box.\r\rIts lines are separated by a lone carriage return "
                       u"and long ones are wrapped to the box.",
                       u"Farlink", MessageBoxButtons::ok, MessageBoxIcon::information);
            return 0;
        case commandOpen: {
            int row = focusedRow();
            if (row < 0) return 0;
            std::u16string text = u"Open '" + rows[static_cast<std::size_t>(row)].name + u"'?";
            messageBox(window, text, u"Open", MessageBoxButtons::yesNo, MessageBoxIcon::question);
            return 0;
        }
        case commandLarge: listViewSetMode(list, ListViewMode::icon); return 0;
        case commandSmall: listViewSetMode(list, ListViewMode::report); return 0;
        case commandExit: destroyWindow(window); return 0;
        default: return 0;
        }
    case MessageId::destroy: postQuitMessage(0); return 0;
    default: return defaultWindowProcedure(window, message, wParam, lParam);
    }
}

}  // namespace

int main() {
    std::unique_ptr<TerminalBackend> terminal = openNcursesTerminal();
    if (!terminal) {
        std::fputs("window-demo: needs a terminal\n", stderr);
        return 1;
    }
    SteadyClock clock;
    WindowSystemScope scope(*terminal, clock);
    createWindow({.text = u"\\home\\me\\Documents\\ - Farlink", .procedure = mainProcedure});
    const Accelerator accelerators[] = {{keyFor('A'), keyControl, commandMessage},
                                        {keyFor('Q'), keyControl, commandExit}};
    int code = runMessageLoop(accelerators);
    imageListDestroy(images);
    return code;
}
