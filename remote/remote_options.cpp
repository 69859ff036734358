#include "remote/remote_options.h"

#include <array>
#include <atomic>
#include <cstdint>

#include "platform/registry.h"
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

constexpr std::u16string_view simultaneousCopiesName = u"SimultaneousCopies";
std::atomic<int> copiesAtOnce{1};

// A count of copies the queue can run, or 1.
int boundedCopies(std::uint32_t count) {
    return count >= 1 && count <= std::uint32_t(mostSimultaneousCopies) ? int(count) : 1;
}

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

void loadRemoteOptions() {
    explorer::loadStoredOptions(remoteOptionsKeyPath, loadOrder, explorer::remoteProvider);
    std::uint32_t count = 1;
    platform::RegistryKey key = platform::noKey;
    if (platform::openKey(platform::currentUserKey, remoteOptionsKeyPath, key)) {
        std::uint32_t type = 0;
        std::uint32_t size = sizeof count;
        const bool read = platform::queryValue(key, simultaneousCopiesName, &type, &count, &size);
        if (!read || type != platform::registryDword || size != sizeof count) count = 1;
        platform::closeKey(key);
    }
    copiesAtOnce = boundedCopies(count);
}

void saveRemoteOptions(const ViewProvider& view) {
    explorer::saveStoredOptions(remoteOptionsKeyPath, saveOrder, view);
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, remoteOptionsKeyPath, key)) return;
    const std::uint32_t count = std::uint32_t(copiesAtOnce.load());
    platform::setValue(key, simultaneousCopiesName, platform::registryDword, &count, sizeof count);
    platform::closeKey(key);
}

int simultaneousCopies() { return copiesAtOnce.load(); }

int editRemoteOptions(ViewProvider& view, const explorer::OwnerRecord& owner) {
    int copies = copiesAtOnce.load();
    if (!ui::runOptionsDialog(u"Ftp Options", networkPrompts, view, owner, &copies, mostSimultaneousCopies)) return 0;
    copiesAtOnce = boundedCopies(std::uint32_t(copies));
    saveRemoteOptions(view);
    return 1;
}

std::span<const std::u16string_view> networkPromptChoices() { return networkPrompts; }

}  // namespace remote
