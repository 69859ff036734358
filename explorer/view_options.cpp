#include "explorer/view_options.h"

#include "platform/registry.h"

namespace explorer {

void loadStoredOptions(std::u16string_view keyPath, std::span<const StoredOption> options, ViewProvider& view) {
    view.filterIndex = 0;
    view.sortKey = sortNone;
    view.ascending = 1;
    view.saveFolder = 1;
    view.largeIcons = 0;
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, keyPath, key)) return;
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

void saveStoredOptions(std::u16string_view keyPath, std::span<const StoredOption> options, const ViewProvider& view) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, keyPath, key)) return;
    for (const StoredOption& option : options) {
        const void* data = option.wide ? static_cast<const void*>(&(view.*option.wide))
                                       : static_cast<const void*>(&(view.*option.narrow));
        platform::setValue(key, option.name, platform::registryDword, data, option.size());
    }
    platform::closeKey(key);
}

}  // namespace explorer
