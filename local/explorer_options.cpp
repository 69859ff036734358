#include "local/explorer_options.h"

#include <array>

#include "resources/commands.h"
#include "resources/dialogs.h"
#include "resources/strings.h"
#include "ui/dialog_runner.h"

namespace local {
namespace {

using explorer::StoredOption;
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

const std::array<explorer::OptionList, 3> choiceLists = {{
    {resources::optionsFileTypesList, explorer::fileTypeChoices(), &ViewProvider::showFiles},
    {resources::optionsTitleList, explorer::titleChoices(), &ViewProvider::titleInfo},
    {resources::optionsConfirmList, explorer::confirmChoices(), &ViewProvider::confirm},
}};
constexpr std::array<explorer::OptionCheck, 3> checkBoxes = {{
    {resources::optionsSaveFolderCheck, &ViewProvider::saveFolder},
    {resources::optionsShowParentCheck, &ViewProvider::showParent},
    {resources::optionsShowExtensionsCheck, &ViewProvider::showExtensions},
}};

}  // namespace

std::span<const StoredOption> deviceOptions() { return options; }

void loadDeviceOptions(ViewProvider& view) { explorer::loadStoredOptions(optionsKeyPath, options, view); }

void saveDeviceOptions(const ViewProvider& view) { explorer::saveStoredOptions(optionsKeyPath, options, view); }

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
                explorer::layoutOptionControls(window, platform::getDialogItem(window, resources::optionsNetworkList));
                explorer::showOptionControls(window, choiceLists, checkBoxes, view);
                // The Device view has no network to ask about.
                platform::enableWindow(platform::getDialogItem(window, resources::optionsNetworkList), false);
                platform::setFocus(fileTypesList);
                return 1;
            case MessageId::activate:
                if (wParam != 0) platform::setFocus(fileTypesList);
                return 1;
            case MessageId::command:
                if (platform::commandId(wParam) != resources::commandDone) return 0;
                explorer::readOptionControls(window, choiceLists, checkBoxes, view);
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
