#include "resources/dialogs.h"

namespace resources {

using platform::ControlKind;
using platform::DialogItem;
using platform::DialogTemplate;

const DialogTemplate filterDialog{
    137,
    u"File Filter",
    {
        {.text = u"Filter Name:", .row = 0, .column = 1},
        {.id = filterNameEdit, .kind = ControlKind::edit, .row = 1, .column = 1, .limit = filterNameLimit},
        {.text = u"Show the following files:", .row = 2, .column = 1},
        {.id = filterPatternEdit, .kind = ControlKind::edit, .row = 3, .column = 1, .limit = filterPatternLimit},
        {.id = filterIsolatedCheck, .kind = ControlKind::checkBox, .text = u"Isolated File System", .row = 5, .column = 1},
        {.id = filterTrackFolderCheck, .kind = ControlKind::checkBox, .text = u"Track Last Folder", .row = 6, .column = 1},
        {.id = filterHelpText,
         .text = u"Filter's can have any name and multiple file match types. To add more than one type, use a "
                 u"semi-colon.",
         .row = 8,
         .column = 1,
         .height = 3},
    },
};

namespace {

// Keypad phones: each label on its line, the spinner list on the next.
std::vector<DialogItem> keypadOptionItems() {
    std::vector<DialogItem> items;
    const struct {
        std::u16string_view label;
        int id;
    } lists[] = {{u"File Types:", optionsFileTypesList},
                 {u"In Title:", optionsTitleList},
                 {u"Confirmation:", optionsConfirmList},
                 {u"Network:", optionsNetworkList}};
    int row = 0;
    for (const auto& list : lists) {
        items.push_back({.text = list.label, .row = row, .column = 1});
        items.push_back({.id = list.id, .kind = ControlKind::selector, .row = row + 1, .column = 1});
        items.push_back({.id = list.id + 100, .kind = ControlKind::spinner, .row = row + 1, .column = 1,
                         .options = platform::spinnerWrap});
        row += 2;
    }
    return items;
}

// Touch screens: label and drop-down list side by side.
std::vector<DialogItem> touchOptionItems() {
    std::vector<DialogItem> items;
    const struct {
        std::u16string_view label;
        int id;
    } lists[] = {{u"File Types:", optionsFileTypesList},
                 {u"In Title:", optionsTitleList},
                 {u"Confirm:", optionsConfirmList},
                 {u"Network:", optionsNetworkList}};
    int row = 0;
    for (const auto& list : lists) {
        items.push_back({.text = list.label, .row = row, .column = 1, .width = 12});
        items.push_back({.id = list.id, .kind = ControlKind::dropDown, .row = row, .column = 14});
        ++row;
    }
    return items;
}

std::vector<DialogItem> withCheckBoxes(std::vector<DialogItem> items, int row, int column) {
    items.push_back({.id = optionsSaveFolderCheck, .kind = ControlKind::checkBox, .text = u"Start from Last Folder",
                     .row = row, .column = column});
    items.push_back({.id = optionsShowParentCheck, .kind = ControlKind::checkBox, .text = u"Show Parent Folder",
                     .row = row + 1, .column = column});
    items.push_back({.id = optionsShowExtensionsCheck, .kind = ControlKind::checkBox, .text = u"Show File Extentions",
                     .row = row + 2, .column = column});
    return items;
}

}  // namespace

const DialogTemplate optionsDialogKeypad{106, u"Ftp Options", withCheckBoxes(keypadOptionItems(), 9, 1)};
const DialogTemplate optionsDialogTouch{142, u"Ftp Options", withCheckBoxes(touchOptionItems(), 5, 1)};

const DialogTemplate propertiesDialog{132, u"File Properties", {}};

}  // namespace resources
