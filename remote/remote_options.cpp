#include "remote/remote_options.h"

#include <array>

#include "resources/commands.h"
#include "resources/dialogs.h"
#include "resources/strings.h"
#include "ui/dialog_runner.h"

namespace remote {
namespace {

using explorer::StoredOption;
using explorer::ViewProvider;
using platform::Window;

constexpr StoredOption filter{u"Filter", &ViewProvider::filterIndex};
constexpr StoredOption sort{u"Sort", &ViewProvider::sortKey};
constexpr StoredOption ascending{u"Ascending", nullptr, &ViewProvider::ascending};
constexpr StoredOption largeIcon{u"Large Icon", nullptr, &ViewProvider::largeIcons};
constexpr StoredOption saveFolder{u"Save Folder", nullptr, &ViewProvider::saveFolder};
constexpr StoredOption showExtensions{u"Show Extentions", nullptr, &ViewProvider::showExtensions};
constexpr StoredOption showParent{u"Show Parent", nullptr, &ViewProvider::showParent};
constexpr StoredOption networkPrompt{u"Network Prompt", &ViewProvider::networkPrompt};
constexpr StoredOption showFiles{u"Show Files", &ViewProvider::showFiles};
constexpr StoredOption confirm{u"Confirm", &ViewProvider::confirm};
constexpr StoredOption titleInfo{u"Title Info", &ViewProvider::titleInfo};

constexpr std::array<StoredOption, 11> loadOrder = {filter,     sort,           ascending,  largeIcon,
                                                    saveFolder, showExtensions, showParent, networkPrompt,
                                                    showFiles,  confirm,        titleInfo};
constexpr std::array<StoredOption, 11> saveOrder = {filter,     sort,       ascending, showExtensions,
                                                    showParent, saveFolder, largeIcon, networkPrompt,
                                                    showFiles,  confirm,    titleInfo};

constexpr std::array<std::u16string_view, 7> networkPrompts = {
    u"Never (Automatic)", u"Never (Don't Connect)", u"Any Connection",   u"Network Connection",
    u"Server Connection", u"Server Re-Connect",     u"Network & Server",
};

const std::array<explorer::OptionList, 4> choiceLists = {{
    {resources::optionsFileTypesList, explorer::fileTypeChoices(), &ViewProvider::showFiles},
    {resources::optionsTitleList, explorer::titleChoices(), &ViewProvider::titleInfo},
    {resources::optionsConfirmList, explorer::confirmChoices(), &ViewProvider::confirm},
    {resources::optionsNetworkList, networkPrompts, &ViewProvider::networkPrompt},
}};
constexpr std::array<explorer::OptionCheck, 3> checkBoxes = {{
    {resources::optionsSaveFolderCheck, &ViewProvider::saveFolder},
    {resources::optionsShowParentCheck, &ViewProvider::showParent},
    {resources::optionsShowExtensionsCheck, &ViewProvider::showExtensions},
}};

}  // namespace

void setRemoteDefaults(ViewProvider& view) {
    view.menuBarId = 502;
    view.popupMenuId = 0;
    view.networkPrompt = 0;
    view.showFiles = explorer::showStandardFiles;
    view.confirm = 0;
    view.titleInfo = 0;
    view.filterIndex = 0;
    view.largeIcons = 0;
    view.saveFolder = 0;
    view.showParent = 0;
    view.showExtensions = 0;
    view.ascending = 0;
    view.sortKey = explorer::sortNone;
}

void loadRemoteOptions() { explorer::loadStoredOptions(remoteOptionsKeyPath, loadOrder, explorer::remoteProvider); }

void saveRemoteOptions(const ViewProvider& view) { explorer::saveStoredOptions(remoteOptionsKeyPath, saveOrder, view); }

int editRemoteOptions(ViewProvider& view, const explorer::OwnerRecord& owner) {
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::optionsDialogKeypad,
                                      .touchTemplate = &resources::optionsDialogTouch,
                                      .keybarCaption = u"Ftp Options",
                                      .helpTopic = resources::stringOptionsHelpTopic};
    const int result = ui::runDialog(
        dialog, owner.ownerWindow,
        [&view](Window window, platform::MessageId message, platform::WParam wParam,
                platform::LParam) -> platform::LResult {
            using platform::MessageId;
            const Window fileTypesList = platform::getDialogItem(window, resources::optionsFileTypesList);
            switch (message) {
            case MessageId::initDialog:
                explorer::layoutOptionControls(window, platform::getDialogItem(window, resources::optionsNetworkList));
                explorer::showOptionControls(window, choiceLists, checkBoxes, view);
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
    saveRemoteOptions(view);
    return 1;
}

std::span<const std::u16string_view> networkPromptChoices() { return networkPrompts; }

}  // namespace remote
