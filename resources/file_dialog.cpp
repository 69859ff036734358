#include "resources/file_dialog.h"

#include <utility>
#include <vector>

#include "resources/commands.h"

namespace resources {
namespace {

using platform::ControlKind;
using platform::DialogItem;
using platform::MenuItem;

MenuItem item(std::u16string_view text, int command) { return {text, command, {}}; }
MenuItem subMenu(std::u16string_view text, std::vector<MenuItem> items) { return {text, 0, std::move(items)}; }
MenuItem separator() { return {u"", 0, {}}; }

DialogItem control(int id, ControlKind kind, int row, int column, unsigned options) {
    DialogItem result;
    result.id = id;
    result.kind = kind;
    result.row = row;
    result.column = column;
    result.options = options;
    return result;
}

const platform::MenuResource selectDialogMenu{
    133,
    u"Select",
    {item(u"Cancel", commandCancel),
     subMenu(u"File",
             {item(u"Properties", commandProperties), item(u"Beam", commandBeam), item(u"Send via", commandSendVia)}),
     subMenu(u"Type", {item(u"All Files (*)", commandTypeAllFiles), item(u"Any e-Book", commandTypeEBook),
                       item(u"PDF (*.PDF)", commandTypePdf), item(u"Text (*.TXT)", commandTypeText)}),
     subMenu(u"Sort By", {item(u"Name", commandSortName), item(u"Date", commandSortDate),
                          item(u"Size", commandSortSize), item(u"Type", commandSortType)}),
     separator(), item(u"Up Folder", commandUpFolder), item(u"My Device", commandRootFolder),
     item(u"Storage Card", commandStorageCard), item(u"My Documents", commandDocumentsFolder)}};

}  // namespace

// The list's height is stretched to the screen when the dialog starts.
const platform::DialogTemplate selectDialog{133,
                                            u"Select",
                                            {control(selectNameEdit, ControlKind::edit, 0, 1, platform::editReadOnly),
                                             control(selectHeaderText, ControlKind::staticText, 1, 1, 0),
                                             control(selectList, ControlKind::listView, selectListRow, 0, 0)}};

const platform::SoftKeyBarResource selectDialogBar{
    133, {commandDone, u"Select", nullptr}, {0, u"Menu", &selectDialogMenu}};

}  // namespace resources
