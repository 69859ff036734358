#include "remote/remote_options.h"

#include <array>

#include "ui/options_dialog.h"

namespace remote {
namespace {

using explorer::StoredOption;
using explorer::ViewProvider;

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
    if (!ui::runOptionsDialog(u"Ftp Options", networkPrompts, view, owner)) return 0;
    saveRemoteOptions(view);
    return 1;
}

std::span<const std::u16string_view> networkPromptChoices() { return networkPrompts; }

}  // namespace remote
