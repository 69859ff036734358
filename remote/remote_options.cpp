#include "remote/remote_options.h"

#include <array>
#include <cstdint>

#include "platform/registry.h"

namespace remote {
namespace {

using explorer::ViewProvider;

// One stored option: its registry value name and the provider field it holds, 4 bytes
// wide or a 1-byte flag (both REG_DWORD).
struct StoredOption {
    std::u16string_view name;
    std::uint32_t ViewProvider::*wide = nullptr;
    std::uint8_t ViewProvider::*narrow = nullptr;
    std::uint32_t size() const { return wide ? 4 : 1; }
};

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

void loadRemoteOptions() {
    ViewProvider& view = explorer::remoteProvider;
    view.filterIndex = 0;
    view.sortKey = explorer::sortNone;
    view.ascending = 1;
    view.saveFolder = 1;
    view.largeIcons = 0;
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, remoteOptionsKeyPath, key)) return;
    for (const StoredOption& option : loadOrder) {
        // A buffer of the field's size, cleared: a shorter value leaves no stale bytes.
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

void saveRemoteOptions(const ViewProvider& view) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, remoteOptionsKeyPath, key)) return;
    for (const StoredOption& option : saveOrder) {
        const void* data = option.wide ? static_cast<const void*>(&(view.*option.wide))
                                       : static_cast<const void*>(&(view.*option.narrow));
        platform::setValue(key, option.name, platform::registryDword, data, option.size());
    }
    platform::closeKey(key);
}

std::span<const std::u16string_view> networkPromptChoices() { return networkPrompts; }

}  // namespace remote
