#include "local/explorer_options.h"

#include <array>

#include "platform/registry.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "resources/commands.h"
#include "resources/dialogs.h"
#include "resources/strings.h"
#include "ui/dialog_runner.h"

namespace local {
namespace {

using explorer::ViewProvider;
using platform::Window;

constexpr std::array<StoredOption, 10> options = {{
    {u"Filter", &ViewProvider::filterIndex, nullptr},
    {u"Sort", &ViewProvider::sortKey, nullptr},
    {u"Ascending", nullptr, &ViewProvider::ascending},
    {u"Large Icon", nullptr, &ViewProvider::largeIcons},
    {u"Save Folder", nullptr, &ViewProvider::saveFolder},
    {u"Show Extentions", nullptr, &ViewProvider::showExtensions},
    {u"Show Parent", nullptr, &ViewProvider::showParent},
    {u"Show Files", &ViewProvider::showFiles, nullptr},
    {u"Confirm", &ViewProvider::confirm, nullptr},
    {u"Title Info", &ViewProvider::titleInfo, nullptr},
}};

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

struct ChoiceList {
    int id;
    std::span<const std::u16string_view> choices;
    std::uint32_t ViewProvider::*field;
};
const std::array<ChoiceList, 3> choiceLists = {{
    {resources::optionsFileTypesList, fileTypes, &ViewProvider::showFiles},
    {resources::optionsTitleList, titles, &ViewProvider::titleInfo},
    {resources::optionsConfirmList, confirmations, &ViewProvider::confirm},
}};

struct CheckBox {
    int id;
    std::uint8_t ViewProvider::*field;
};
constexpr std::array<CheckBox, 3> checkBoxes = {{
    {resources::optionsSaveFolderCheck, &ViewProvider::saveFolder},
    {resources::optionsShowParentCheck, &ViewProvider::showParent},
    {resources::optionsShowExtensionsCheck, &ViewProvider::showExtensions},
}};

// Lists and check boxes as wide as the dialog less twice the left margin of the
// "Network:" list; labels in the label font.
void layoutOptions(Window dialog) {
    const int width = platform::getClientRect(dialog).width();
    const Window network = platform::getDialogItem(dialog, resources::optionsNetworkList);
    const platform::Rect networkRect = platform::getWindowRect(network);
    const int margin = networkRect.left - platform::getWindowRect(dialog).left;
    for (const Window child : platform::getChildren(dialog)) {
        const int id = platform::getWindowId(child);
        if (id == platform::labelId) {
            platform::setWindowFont(child, platform::Font::label);
            continue;
        }
        const platform::ControlKind kind = platform::getWindowKind(child);
        if (kind != platform::ControlKind::selector && kind != platform::ControlKind::dropDown &&
            kind != platform::ControlKind::checkBox) {
            continue;
        }
        const platform::Rect screen = platform::getWindowRect(child);
        const platform::Rect dialogRect = platform::getWindowRect(dialog);
        const int left = screen.left - dialogRect.left;
        const int top = screen.top - dialogRect.top;
        platform::moveWindow(child, {left, top, left + std::max(1, width - 2 * margin), top + networkRect.height()});
    }
    for (const Window child : platform::getChildren(dialog)) {
        if (platform::getWindowKind(child) == platform::ControlKind::spinner) {
            platform::spinnerSetBuddy(child, platform::spinnerGetBuddy(child));
        }
    }
}

}  // namespace

std::span<const StoredOption> deviceOptions() { return options; }
std::span<const std::u16string_view> fileTypeChoices() { return fileTypes; }
std::span<const std::u16string_view> confirmChoices() { return confirmations; }
std::span<const std::u16string_view> titleChoices() { return titles; }

void loadDeviceOptions(ViewProvider& view) {
    view.filterIndex = 0;
    view.sortKey = explorer::sortNone;
    view.ascending = 1;
    view.saveFolder = 1;
    view.largeIcons = 0;
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, optionsKeyPath, key)) return;
    for (const StoredOption& option : options) {
        // Read into a cleared buffer of the field's size, so that a shorter value never
        // leaves stale bytes of the old field behind.
        std::uint32_t wide = 0;
        std::uint8_t narrow = 0;
        std::uint32_t size = option.size();
        void* buffer = option.wide ? static_cast<void*>(&wide) : static_cast<void*>(&narrow);
        if (!platform::queryValue(key, option.name, nullptr, buffer, &size)) continue;
        if (option.wide) view.*option.wide = wide;
        else view.*option.narrow = narrow;
    }
    platform::closeKey(key);
}

void saveDeviceOptions(const ViewProvider& view) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, optionsKeyPath, key)) return;
    for (const StoredOption& option : options) {
        const void* data = option.wide ? static_cast<const void*>(&(view.*option.wide))
                                       : static_cast<const void*>(&(view.*option.narrow));
        platform::setValue(key, option.name, platform::registryDword, data, option.size());
    }
    platform::closeKey(key);
}

int editDeviceOptions(ViewProvider& view, const explorer::OwnerRecord& owner) {
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::optionsDialogKeypad,
                                      .touchTemplate = &resources::optionsDialogTouch,
                                      .keybarCaption = u"Explorer Options",
                                      .helpTopic = resources::stringOptionsHelpTopic};
    const int result = ui::runDialog(
        dialog, owner.ownerWindow,
        [&view](Window window, platform::MessageId message, platform::WParam wParam,
                platform::LParam) -> platform::LResult {
            using platform::MessageId;
            const Window fileTypesList = platform::getDialogItem(window, resources::optionsFileTypesList);
            switch (message) {
            case MessageId::initDialog:
                platform::setWindowText(window, u"Explorer Options");
                layoutOptions(window);
                for (const ChoiceList& list : choiceLists) {
                    const Window control = platform::getDialogItem(window, list.id);
                    for (std::u16string_view choice : list.choices) platform::selectorAddString(control, choice);
                    platform::selectorSetSelection(control, static_cast<int>(view.*list.field));
                }
                // The Device view has no network to ask about.
                platform::enableWindow(platform::getDialogItem(window, resources::optionsNetworkList), false);
                for (const CheckBox& box : checkBoxes) {
                    platform::checkBoxSetChecked(platform::getDialogItem(window, box.id), view.*box.field != 0);
                }
                platform::setFocus(fileTypesList);
                return 1;
            case MessageId::activate:
                if (wParam != 0) platform::setFocus(fileTypesList);
                return 1;
            case MessageId::command:
                if (platform::commandId(wParam) != resources::commandDone) return 0;
                for (const ChoiceList& list : choiceLists) {
                    // A stored value outside the list selects nothing; it then stays as it was.
                    const int selection = platform::selectorGetSelection(platform::getDialogItem(window, list.id));
                    if (selection >= 0) view.*list.field = static_cast<std::uint32_t>(selection);
                }
                for (const CheckBox& box : checkBoxes) {
                    view.*box.field = platform::checkBoxIsChecked(platform::getDialogItem(window, box.id)) ? 1 : 0;
                }
                platform::endDialog(window, resources::commandDone);
                return 1;
            default: return 0;
            }
        });
    if (result != resources::commandDone) return 0;
    saveDeviceOptions(view);
    return 1;
}

}  // namespace local
