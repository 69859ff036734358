#include "local/explorer_options.h"

#include <array>

#include "ui/options_dialog.h"

namespace local {
namespace {

using explorer::StoredOption;
using explorer::ViewProvider;

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

}  // namespace

std::span<const StoredOption> deviceOptions() { return options; }

void loadDeviceOptions(ViewProvider& view) { explorer::loadStoredOptions(optionsKeyPath, options, view); }

void saveDeviceOptions(const ViewProvider& view) { explorer::saveStoredOptions(optionsKeyPath, options, view); }

int editDeviceOptions(ViewProvider& view, const explorer::OwnerRecord& owner) {
    // The Device view has no network to ask about.
    if (!ui::runOptionsDialog(u"Explorer Options", {}, view, owner)) return 0;
    saveDeviceOptions(view);
    return 1;
}

}  // namespace local
