#include "resources/dialogs.h"

#include "resources/commands.h"

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

DialogItem numberSpinner(int id, std::u16string_view text, int row, int column, bool touch) {
    DialogItem item = control(id, ControlKind::spinner, text, row, column);
    // The phone's up-down control counts down with Up unless its ends are given swapped on
    // keypad phones; here Right counts up either way, and the data keeps the phone's form.
    item.rangeLow = touch ? placeSpinnerLow : placeSpinnerHigh;
    item.rangeHigh = touch ? placeSpinnerHigh : placeSpinnerLow;
    return item;
}

// One field with its label: on keypad phones the label on its line and the field on the
// next; on touch screens side by side. Returns the row after it.
int addField(std::vector<DialogItem>& items, std::u16string_view text, DialogItem field, int row, bool touch) {
    constexpr int touchFieldColumn = 18;
    if (touch) {
        items.push_back(label(text, row, 1, touchFieldColumn - 2));
        field.row = row;
        field.column = touchFieldColumn;
        items.push_back(field);
        return row + 1;
    }
    items.push_back(label(text, row, 1));
    field.row = row + 1;
    items.push_back(field);
    return row + 2;
}

DialogItem limitedEdit(int id, int limit, unsigned options = 0) {
    DialogItem item = edit(id, 0, limit);
    item.options = options;
    return item;
}

std::vector<DialogItem> placeItems(bool touch) {
    std::vector<DialogItem> items;
    int row = addField(items, u"Connection Name:", limitedEdit(placeNameEdit, placeNameLimit), 0, touch);
    row = addField(items, u"Host Name:", limitedEdit(placeHostEdit, placeHostLimit), row, touch);
    items.push_back(control(placeAnonymousCheck, ControlKind::checkBox, u"Anonymous", row++, 1));
    row = addField(items, u"User Name:", limitedEdit(placeUserEdit, placeUserLimit), row, touch);
    addField(items, u"Password:", limitedEdit(placePasswordEdit, placePasswordLimit, platform::editPassword), row,
             touch);
    return items;
}

std::vector<DialogItem> advancedPlaceItems(bool touch) {
    std::vector<DialogItem> items;
    int row = addField(items, u"Startup Folder:", limitedEdit(placeStartupFolderEdit, placeStartupFolderLimit), 0,
                       touch);
    const int portRow = touch ? row : row + 1;
    row = addField(items, u"Port:", limitedEdit(placePortEdit, placeNumberLimit, platform::editDigits), row, touch);
    items.push_back(numberSpinner(placePortSpinner, u"Ftp Server Port", portRow, items.back().column, touch));
    const int timeoutRow = touch ? row : row + 1;
    row = addField(items, u"Timeout:", limitedEdit(placeTimeoutEdit, placeNumberLimit, platform::editDigits), row,
                   touch);
    items.push_back(
        numberSpinner(placeTimeoutSpinner, u"Ftp Connection Timeout", timeoutRow, items.back().column, touch));
    items.push_back(control(placePassiveCheck, ControlKind::checkBox, u"Enable Passive Mode", row++, 1));
    items.push_back(control(placeRememberFolderCheck, ControlKind::checkBox, u"Remember Current Folder", row++, 1));
    items.push_back(control(placeAutoReconnectCheck, ControlKind::checkBox, u"Automatically Reconnect", row++, 1));
    items.push_back(
        control(placeTemporaryUploadCheck, ControlKind::checkBox, u"Upload through a temporary name", row, 1));
    return items;
}

// The five choice lists: on keypad phones each label on its line and the spinner list on
// the next; on touch screens label and drop-down list side by side.
std::vector<DialogItem> optionLists(bool touch) {
    const struct {
        std::u16string_view label;
        int id;
    } lists[] = {{u"File Types:", optionsFileTypesList},
                 {u"In Title:", optionsTitleList},
                 {touch ? u"Confirm:" : u"Confirmation:", optionsConfirmList},
                 {u"Network:", optionsNetworkList},
                 {touch ? u"Copies:" : u"Simultaneous copies:", optionsCopiesList}};
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
const DialogTemplate optionsDialogKeypad{106, u"Ftp Options", withCheckBoxes(optionLists(false), 10)};
const DialogTemplate optionsDialogTouch{142, u"Ftp Options", withCheckBoxes(optionLists(true), 6)};
const DialogTemplate placeDialogKeypad{136, u"Ftp Connection", placeItems(false)};
const DialogTemplate placeDialogTouch{138, u"Ftp Connection", placeItems(true)};
const DialogTemplate advancedPlaceDialogKeypad{141, u"Ftp Connection", advancedPlaceItems(false)};
const DialogTemplate advancedPlaceDialogTouch{140, u"Ftp Connection", advancedPlaceItems(true)};
const DialogTemplate propertiesDialog{132, u"File Properties", {}};

const DialogTemplate waitingDialog{6010, u"Farlink", {[] {
                                       DialogItem text = control(waitingText, ControlKind::staticText, u"", 1, 1);
                                       text.height = 4;
                                       return text;
                                   }()}};
const platform::SoftKeyBarResource waitingBar{6010, {}, {commandCancel, u"Cancel", nullptr}};

}  // namespace resources
