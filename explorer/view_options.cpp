#include "explorer/view_options.h"

#include <algorithm>
#include <array>

#include "platform/registry.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"

namespace explorer {
namespace {

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

}  // namespace

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

std::span<const std::u16string_view> fileTypeChoices() { return fileTypes; }
std::span<const std::u16string_view> confirmChoices() { return confirmations; }
std::span<const std::u16string_view> titleChoices() { return titles; }

void showOptionControls(Window dialog, std::span<const OptionList> lists, std::span<const OptionCheck> checks,
                        const ViewProvider& view) {
    for (const OptionList& list : lists) {
        const Window control = platform::getDialogItem(dialog, list.controlId);
        for (std::u16string_view choice : list.choices) platform::selectorAddString(control, choice);
        platform::selectorSetSelection(control, static_cast<int>(view.*list.field));
    }
    for (const OptionCheck& check : checks) {
        platform::checkBoxSetChecked(platform::getDialogItem(dialog, check.controlId), view.*check.field != 0);
    }
}

void readOptionControls(Window dialog, std::span<const OptionList> lists, std::span<const OptionCheck> checks,
                        ViewProvider& view) {
    for (const OptionList& list : lists) {
        const int selection = platform::selectorGetSelection(platform::getDialogItem(dialog, list.controlId));
        if (selection >= 0) view.*list.field = static_cast<std::uint32_t>(selection);
    }
    for (const OptionCheck& check : checks) {
        view.*check.field = platform::checkBoxIsChecked(platform::getDialogItem(dialog, check.controlId)) ? 1 : 0;
    }
}

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

}  // namespace explorer
