#include "resources/synchronize_dialogs.h"

#include "resources/commands.h"

namespace resources {
namespace {

using platform::ControlKind;
using platform::DialogItem;

DialogItem item(int id, ControlKind kind, int row, int height = 1) {
    DialogItem result;
    result.id = id;
    result.kind = kind;
    result.row = row;
    result.column = 1;
    result.height = height;
    return result;
}

DialogItem label(std::u16string_view text, int row) {
    DialogItem result = item(platform::labelId, ControlKind::staticText, row);
    result.text = text;
    return result;
}

DialogItem spinner(int buddy, int row) {
    DialogItem result = item(buddy + 100, ControlKind::spinner, row);
    result.options = platform::spinnerWrap;
    return result;
}

std::vector<DialogItem> choiceItems() {
    return {
        label(u"Device folder:", 0),
        item(syncDeviceFolderText, ControlKind::staticText, 1),
        label(u"Server folder:", 2),
        item(syncServerFolderText, ControlKind::staticText, 3),
        label(u"Direction:", 4),
        item(syncDirectionList, ControlKind::selector, 5),
        spinner(syncDirectionList, 5),
        label(u"Do:", 6),
        item(syncKindList, ControlKind::selector, 7),
        spinner(syncKindList, 7),
        label(u"Compare:", 8),
        item(syncCompareList, ControlKind::selector, 9),
        spinner(syncCompareList, 9),
    };
}

DialogItem listItem() {
    DialogItem result = item(syncPreviewList, ControlKind::listView, syncPreviewListRow);
    result.column = 0;
    return result;
}

}  // namespace

const platform::DialogTemplate synchronizeDialog{6000, u"Synchronize", choiceItems()};

// The list's height is stretched to the screen when the preview starts.
const platform::DialogTemplate synchronizePreviewDialog{
    6020, u"Synchronize", {item(syncPreviewHeader, ControlKind::staticText, 0), listItem()}};
const platform::SoftKeyBarResource synchronizePreviewBar{
    6020, {commandDone, u"Start", nullptr}, {commandCancel, u"Cancel", nullptr}};

}  // namespace resources
