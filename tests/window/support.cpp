#include "support.h"

namespace windowtest {

std::string keyName(Key key) {
    static const char* const names[] = {"leftSoft",  "rightSoft", "back",   "action",   "left", "right",
                                        "up",        "down",      "pageUp", "pageDown", "home", "end",
                                        "backspace", "del",       "tab",    "context",  "help", "other"};
    auto code = static_cast<unsigned>(key);
    if (code >= 0x100 && code - 0x100 < std::size(names)) return names[code - 0x100];
    if (code > 0x20 && code < 0x7F) return std::string(1, static_cast<char>(code));
    return key == Key::none ? "none" : std::to_string(code);
}

std::string keyNames(const std::vector<Key>& keys) {
    std::string text;
    for (Key key : keys) {
        if (!text.empty()) text += ' ';
        text += keyName(key);
    }
    return text;
}

std::string describe(MessageId message, WParam wParam, LParam lParam) {
    switch (message) {
    case MessageId::command: {
        std::string line = "command ";
        line += std::to_string(commandId(wParam));
        if (commandCode(wParam) != CommandCode::none)
            line += " code " + std::to_string(static_cast<int>(commandCode(wParam)));
        return line;
    }
    case MessageId::hotKey:
        return "hotKey " + keyName(static_cast<Key>(wParam)) + (lParam == hotKeyPress ? " press" : " release");
    case MessageId::timer: return "timer " + std::to_string(wParam);
    case MessageId::help: return "help";
    case MessageId::notify: {
        const NotifyHeader& header = notification<NotifyHeader>(lParam);
        std::string from = "notify ";
        from += std::to_string(header.controlId);
        from += ' ';
        switch (header.code) {
        case NotifyCode::listKeyDown: return from + "keyDown " + keyName(notification<ListViewKeyDown>(lParam).key);
        case NotifyCode::listFindItem: {
            auto& find = notification<ListViewFindItem>(lParam);
            return from + "findItem " + toUtf8(std::u16string(1, find.character)) + " digit " + keyName(find.digitKey);
        }
        case NotifyCode::listBeginLabelEdit:
            return from + "beginLabelEdit " + std::to_string(notification<ListViewLabelEdit>(lParam).item);
        case NotifyCode::listEndLabelEdit: {
            auto& end = notification<ListViewLabelEdit>(lParam);
            std::string text = "cancelled";
            if (end.text) text = std::string(1, '"').append(toUtf8(end.text)).append(1, '"');
            return from + "endLabelEdit " + std::to_string(end.item) + " " + text;
        }
        case NotifyCode::listItemActivate:
            return from + "itemActivate " + std::to_string(notification<ListViewItem>(lParam).item);
        case NotifyCode::contextGesture: {
            Point point = notification<ContextGesture>(lParam).point;
            return from + "contextGesture " + std::to_string(point.x) + "," + std::to_string(point.y);
        }
        default: return {};  // display requests and state changes: too many to be worth a line
        }
    }
    default: return {};
    }
}

WindowTest::WindowTest() = default;

WindowTest::~WindowTest() { imageListDestroy(images); }

void WindowTest::TearDown() {
    while (Window window = getForegroundWindow()) destroyWindow(window);
}

void WindowTest::createMainWithList() {
    main = createWindow(
        {.text = u"Main",
         .procedure = [this](Window window, MessageId message, WParam wParam, LParam lParam) -> LResult {
             if (std::string line = describe(message, wParam, lParam); !line.empty()) events.push_back(line);
             if (hook)
                 if (LResult result = hook(window, message, wParam, lParam)) return result;
             if (message == MessageId::notify &&
                 notification<NotifyHeader>(lParam).code == NotifyCode::listGetDisplayInfo) {
                 auto& info = notification<ListViewDisplayInfo>(lParam);
                 const auto& row = rows.at(static_cast<std::size_t>(info.item));
                 if (info.mask & displayText)
                     copyBounded(info.text, static_cast<std::size_t>(info.textCapacity), row.first);
                 if (info.mask & displayImage) info.image = static_cast<int>(row.second);
                 return 0;
             }
             if (message == MessageId::notify && notification<NotifyHeader>(lParam).code == NotifyCode::listFindItem)
                 return -1;
             return defaultWindowProcedure(window, message, wParam, lParam);
         }});
    Rect client = getClientRect(main);
    list = createWindow({.kind = ControlKind::listView, .rect = client, .parent = main, .id = listId});
    images = imageListCreate(static_cast<int>(IconId::count));
    for (int i = 0; i < static_cast<int>(IconId::count); ++i) imageListReplace(images, i, static_cast<IconId>(i));
    listViewSetImageList(list, images, ImageListKind::small);
    listViewSetImageList(list, images, ImageListKind::normal);
    listViewSetItemCount(list, static_cast<int>(rows.size()));
    setFocus(list);
}

}  // namespace windowtest
