#include "ui/options_dialog.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "resources/commands.h"
#include "resources/dialogs.h"
#include "resources/strings.h"
#include "ui/dialog_runner.h"

namespace ui {
namespace {

using explorer::ViewProvider;
using platform::Window;

constexpr std::array<std::u16string_view, 15> fileTypes = {
    u"Any File",     u"Standard Files",        u"Hidden Files",        u"Standard, Hidden",
    u"System Files", u"Standard, System",      u"Hidden, System",      u"Standard, Hidden, System",
    u"ROM Files",    u"Standard, ROM",         u"Hidden, ROM",         u"Standard, Hidden, ROM",
    u"System, ROM",  u"Standard, System, ROM", u"Hidden, System, ROM",
};
constexpr std::array<std::u16string_view, 6> confirmations = {
    u"Never (Automatic)", u"Any Overwrite & Delete", u"Delete Files & Folder", u"Overwrite",
    u"Delete File",       u"Delete Folder",
};
constexpr std::array<std::u16string_view, 4> titles = {u"Path", u"Path and Filter", u"Path and Count",
                                                       u"Path, Filter, and Count"};

// A choice list of the dialog and the field whose value is its selection; a check box
// and its flag.
struct OptionList {
    int controlId;
    std::span<const std::u16string_view> choices;
    std::uint32_t ViewProvider::*field;
};
struct OptionCheck {
    int controlId;
    std::uint8_t ViewProvider::*field;
};

constexpr std::array<OptionCheck, 3> checkBoxes = {{
    {resources::optionsSaveFolderCheck, &ViewProvider::saveFolder},
    {resources::optionsShowParentCheck, &ViewProvider::showParent},
    {resources::optionsShowExtensionsCheck, &ViewProvider::showExtensions},
}};

// Fills the lists with their choices and sets lists and check boxes to their fields.
void showOptionControls(Window dialog, std::span<const OptionList> lists, const ViewProvider& view) {
    for (const OptionList& list : lists) {
        const Window control = platform::getDialogItem(dialog, list.controlId);
        for (std::u16string_view choice : list.choices) platform::selectorAddString(control, choice);
        platform::selectorSetSelection(control, static_cast<int>(view.*list.field));
    }
    for (const OptionCheck& check : checkBoxes) {
        platform::checkBoxSetChecked(platform::getDialogItem(dialog, check.controlId), view.*check.field != 0);
    }
}

// Reads the selections and check marks (checked is 1) into the fields; a list with no
// selection (a stored value outside its choices) leaves its field as it was.
void readOptionControls(Window dialog, std::span<const OptionList> lists, ViewProvider& view) {
    for (const OptionList& list : lists) {
        const int selection = platform::selectorGetSelection(platform::getDialogItem(dialog, list.controlId));
        if (selection >= 0) view.*list.field = static_cast<std::uint32_t>(selection);
    }
    for (const OptionCheck& check : checkBoxes) {
        view.*check.field = platform::checkBoxIsChecked(platform::getDialogItem(dialog, check.controlId)) ? 1 : 0;
    }
}

// Makes every choice list and check box as wide as the dialog less twice the left margin
// of `reference` (the "Network:" list) and as high as it; labels get the label font,
// spinners re-attach to their lists.
void layoutOptionControls(Window dialog, Window reference) {
    const int width = platform::getClientRect(dialog).width();
    const platform::Rect dialogRect = platform::getWindowRect(dialog);
    const platform::Rect referenceRect = platform::getWindowRect(reference);
    const int margin = referenceRect.left - dialogRect.left;
    for (const Window child : platform::getChildren(dialog)) {
        if (platform::getWindowId(child) == platform::labelId) {
            platform::setWindowFont(child, platform::Font::label);
            continue;
        }
        const platform::ControlKind kind = platform::getWindowKind(child);
        if (kind != platform::ControlKind::selector && kind != platform::ControlKind::dropDown &&
            kind != platform::ControlKind::checkBox) {
            continue;
        }
        const platform::Rect screen = platform::getWindowRect(child);
        const int left = screen.left - dialogRect.left;
        const int top = screen.top - dialogRect.top;
        platform::moveWindow(child, {left, top, left + std::max(1, width - 2 * margin), top + referenceRect.height()});
    }
    for (const Window child : platform::getChildren(dialog)) {
        if (platform::getWindowKind(child) == platform::ControlKind::spinner) {
            platform::spinnerSetBuddy(child, platform::spinnerGetBuddy(child));
        }
    }
}

}  // namespace

bool runOptionsDialog(std::u16string_view caption, std::span<const std::u16string_view> networkChoices,
                      ViewProvider& view, const explorer::OwnerRecord& owner, int* copies, int mostCopies) {
    const std::array<OptionList, 4> allLists = {{
        {resources::optionsFileTypesList, fileTypes, &ViewProvider::showFiles},
        {resources::optionsTitleList, titles, &ViewProvider::titleInfo},
        {resources::optionsConfirmList, confirmations, &ViewProvider::confirm},
        {resources::optionsNetworkList, networkChoices, &ViewProvider::networkPrompt},
    }};
    // Without network choices the "Network:" list stays empty and disabled.
    const std::span<const OptionList> lists(allLists.data(), networkChoices.empty() ? 3 : 4);
    const FullScreenDialog dialog{.keypadTemplate = &resources::optionsDialogKeypad,
                                  .touchTemplate = &resources::optionsDialogTouch,
                                  .keybarCaption = caption,
                                  .helpTopic = resources::stringOptionsHelpTopic};
    const int result = runDialog(
        dialog, owner.ownerWindow,
        [&](Window window, platform::MessageId message, platform::WParam wParam,
            platform::LParam) -> platform::LResult {
            using platform::MessageId;
            const Window fileTypesList = platform::getDialogItem(window, resources::optionsFileTypesList);
            const Window networkList = platform::getDialogItem(window, resources::optionsNetworkList);
            const Window copiesList = platform::getDialogItem(window, resources::optionsCopiesList);
            switch (message) {
            case MessageId::initDialog:
                platform::setWindowText(window, caption);
                layoutOptionControls(window, networkList);
                showOptionControls(window, lists, view);
                if (networkChoices.empty()) platform::enableWindow(networkList, false);
                // The choice at index i is i + 1 copies.
                for (int count = 1; copies && count <= mostCopies; ++count) {
                    platform::selectorAddString(copiesList, platform::toUtf16(std::to_string(count)));
                }
                if (copies) platform::selectorSetSelection(copiesList, *copies - 1);
                else platform::enableWindow(copiesList, false);
                platform::setFocus(fileTypesList);
                return 1;
            case MessageId::activate:
                if (wParam != 0) platform::setFocus(fileTypesList);
                return 1;
            case MessageId::command:
                if (platform::commandId(wParam) != resources::commandDone) return 0;
                readOptionControls(window, lists, view);
                if (const int selection = platform::selectorGetSelection(copiesList); copies && selection >= 0) {
                    *copies = selection + 1;
                }
                platform::endDialog(window, resources::commandDone);
                return 1;
            default: return 0;
            }
        });
    return result == resources::commandDone;
}

}  // namespace ui
