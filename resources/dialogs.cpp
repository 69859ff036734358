#include "resources/dialogs.h"

namespace resources {

using platform::ControlKind;
using platform::DialogItem;
using platform::DialogTemplate;

namespace {

DialogItem label(std::u16string_view text, int row, int column, int width = 0, int height = 1) {
    DialogItem item;
    item.text = text;
    item.row = row;
    item.column = column;
    item.width = width;
    item.height = height;
    return item;
}

DialogItem control(int id, ControlKind kind, std::u16string_view text, int row, int column) {
    DialogItem item;
    item.id = id;
    item.kind = kind;
    item.text = text;
    item.row = row;
    item.column = column;
    return item;
}

DialogItem edit(int id, int row, int limit) {
    DialogItem item = control(id, ControlKind::edit, u"", row, 1);
    item.limit = limit;
    return item;
}

DialogItem spinner(int id, int row) {
    DialogItem item = control(id, ControlKind::spinner, u"", row, 1);
    item.options = platform::spinnerWrap;
    return item;
}

// The four choice lists: on keypad phones each label on its line and the spinner list on
// the next; on touch screens label and drop-down list side by side.
std::vector<DialogItem> optionLists(bool touch) {
    const struct {
        std::u16string_view label;
        int id;
    } lists[] = {{u"File Types:", optionsFileTypesList},
                 {u"In Title:", optionsTitleList},
                 {touch ? u"Confirm:" : u"Confirmation:", optionsConfirmList},
                 {u"Network:", optionsNetworkList}};
    std::vector<DialogItem> items;
    int row = 0;
    for (const auto& list : lists) {
        if (touch) {
            items.push_back(label(list.label, row, 1, 12));
            items.push_back(control(list.id, ControlKind::dropDown, u"", row, 14));
            row += 1;
        } else {
            items.push_back(label(list.label, row, 1));
            items.push_back(control(list.id, ControlKind::selector, u"", row + 1, 1));
            items.push_back(spinner(list.id + 100, row + 1));
            row += 2;
        }
    }
    return items;
}

std::vector<DialogItem> withCheckBoxes(std::vector<DialogItem> items, int row) {
    items.push_back(control(optionsSaveFolderCheck, ControlKind::checkBox, u"Start from Last Folder", row, 1));
    items.push_back(control(optionsShowParentCheck, ControlKind::checkBox, u"Show Parent Folder", row + 1, 1));
    items.push_back(control(optionsShowExtensionsCheck, ControlKind::checkBox, u"Show File Extentions", row + 2, 1));
    return items;
}

std::vector<DialogItem> filterItems() {
    DialogItem help = label(
        u"Filter's can have any name and multiple file match types. To add more than one type, "
        u"use a semi-colon.",
        8, 1, 0, 3);
    help.id = filterHelpText;  // an id of its own keeps it out of the bold label font
    return {
        label(u"Filter Name:", 0, 1),
        edit(filterNameEdit, 1, filterNameLimit),
        label(u"Show the following files:", 2, 1),
        edit(filterPatternEdit, 3, filterPatternLimit),
        control(filterIsolatedCheck, ControlKind::checkBox, u"Isolated File System", 5, 1),
        control(filterTrackFolderCheck, ControlKind::checkBox, u"Track Last Folder", 6, 1),
        help,
    };
}

}  // namespace

const DialogTemplate filterDialog{137, u"File Filter", filterItems()};
const DialogTemplate optionsDialogKeypad{106, u"Ftp Options", withCheckBoxes(optionLists(false), 8)};
const DialogTemplate optionsDialogTouch{142, u"Ftp Options", withCheckBoxes(optionLists(true), 5)};
const DialogTemplate propertiesDialog{132, u"File Properties", {}};

}  // namespace resources
