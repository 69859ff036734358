#include "local/filters.h"

#include <array>
#include <cstring>
#include <memory>

#include "explorer/url.h"
#include "local/device.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "platform/window/message_box.h"
#include "resources/commands.h"
#include "resources/dialogs.h"
#include "resources/strings.h"
#include "ui/dialog_runner.h"

namespace local {
namespace {

using platform::Window;

constexpr std::array<BuiltInFilter, 13> builtIns = {{
    {u"All Files", u"*"},
    {u"Common Files Types", u"*.txt;*.htm;*.xml;*.lnk;*.bmp;*.jpg;*.gif;*.png;*.wma;*.wav;*.mp3;*.cab;*.exe"},
    {u"Media Files", u"*.mp3;*.wma;*.wav;*.bmp;*.jpg;*.gif;*.png"},
    {u"Audio Files", u"*.wma;*.wav;*.mp3"},
    {u"Image Documents", u"*.bmp;*.jpg;*.gif;*.png"},
    {u"Text Documents (*.txt)", u"*.txt"},
    {u"HTML Documents (*.htm)", u"*.htm"},
    {u"XML Documents (*.xml)", u"*.xml"},
    {u"Jpeg Images", u"*.jpg"},
    {u"MP3 Files", u"*.mp3"},
    {u"Windows Media Files", u"*.wma"},
    {u"CAB Files", u"*.cab"},
    {u"Executable Files", u"*.exe"},
}};

// The slots in selector order; the first empty one ends the list.
std::array<std::unique_ptr<FilterRecord>, maxFilters + 1> slots;

int countFilters() {
    int count = 0;
    while (slots[count]) ++count;
    return count;
}

void setText(char16_t* field, std::size_t capacity, std::u16string_view text) {
    std::fill(field, field + capacity, u'\0');
    platform::copyBounded(field, capacity, text);
}

// A stored record's texts end at their field's end at the latest.
void terminateFields(FilterRecord& record) {
    record.name[std::size(record.name) - 1] = u'\0';
    record.pattern[std::size(record.pattern) - 1] = u'\0';
    record.folder[std::size(record.folder) - 1] = u'\0';
}

// A filter that does not track its folder starts at the default folder. A tracked one
// missing its final separator (a damaged file) gets one, or the default folder when the
// field has no room for it.
void loadFolder(FilterRecord& record) {
    std::u16string folder = defaultFolder();
    if (record.trackLastFolder != 0) {
        const std::u16string stored = explorer::withSeparator(
            platform::boundedView(record.folder, std::size(record.folder)));
        if (stored.size() < std::size(record.folder)) folder = stored;
    }
    setText(record.folder, std::size(record.folder), folder);
}

// A pattern list longer than its field ("Common Files Types" is) keeps the patterns that
// fit whole: a pattern cut short would match other names.
std::u16string_view wholePatternsThatFit(std::u16string_view patterns, std::size_t capacity) {
    if (patterns.size() < capacity) return patterns;
    const std::size_t lastSeparator = patterns.substr(0, capacity).find_last_of(u';');
    return patterns.substr(0, lastSeparator == std::u16string_view::npos ? 0 : lastSeparator);
}

FilterRecord makeFilter(std::u16string_view name, std::u16string_view pattern, bool trackLastFolder) {
    FilterRecord record{};
    setText(record.name, std::size(record.name), name);
    setText(record.pattern, std::size(record.pattern), wholePatternsThatFit(pattern, std::size(record.pattern)));
    setText(record.folder, std::size(record.folder), defaultFolder());
    record.trackLastFolder = trackLastFolder ? 1 : 0;
    record.isolatedFileSystem = 0;
    return record;
}

std::u16string valueName(int index) { return platform::toUtf16(std::to_string(index)); }

// The "File Filter" dialog on a working copy; the dialog result.
int runFilterDialog(Window owner, FilterRecord& working) {
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::filterDialog,
                                      .keybarCaption = u"Edit Filter",
                                      .helpTopic = resources::stringFilterHelpTopic};
    return ui::runDialog(
        dialog, owner,
        [&working](Window window, platform::MessageId message, platform::WParam wParam,
                   platform::LParam) -> platform::LResult {
            using platform::MessageId;
            const auto item = [window](int id) { return platform::getDialogItem(window, id); };
            switch (message) {
            case MessageId::initDialog:
                platform::layoutDialogControls(window, platform::Font::label);
                platform::setWindowText(item(resources::filterNameEdit),
                                        platform::boundedView(working.name, std::size(working.name)));
                platform::setWindowText(item(resources::filterPatternEdit),
                                        platform::boundedView(working.pattern, std::size(working.pattern)));
                platform::checkBoxSetChecked(item(resources::filterIsolatedCheck), working.isolatedFileSystem != 0);
                platform::checkBoxSetChecked(item(resources::filterTrackFolderCheck), working.trackLastFolder != 0);
                platform::setFocus(item(resources::filterNameEdit));
                return 1;
            case MessageId::command:
                if (platform::commandId(wParam) != resources::commandDone) return 0;
                setText(working.name, std::size(working.name),
                        platform::getWindowText(item(resources::filterNameEdit)));
                setText(working.pattern, std::size(working.pattern),
                        platform::getWindowText(item(resources::filterPatternEdit)));
                working.isolatedFileSystem = platform::checkBoxIsChecked(item(resources::filterIsolatedCheck));
                working.trackLastFolder = platform::checkBoxIsChecked(item(resources::filterTrackFolderCheck));
                platform::endDialog(window, resources::commandDone);
                return 1;
            default: return 0;
            }
        });
}

}  // namespace

std::span<const BuiltInFilter> builtInFilters() { return builtIns; }

int loadFilters() {
    freeFilters();
    int count = 0;
    platform::RegistryKey key = platform::noKey;
    if (platform::openKey(platform::currentUserKey, filtersKeyPath, key)) {
        for (; count < maxFilters; ++count) {
            const std::u16string name = valueName(count);
            std::uint32_t size = 0;
            if (!platform::queryValue(key, name, nullptr, nullptr, &size) || size != sizeof(FilterRecord)) break;
            auto record = std::make_unique<FilterRecord>();
            if (!platform::queryValue(key, name, nullptr, record.get(), &size) || size != sizeof(FilterRecord)) break;
            terminateFields(*record);
            loadFolder(*record);
            slots[count] = std::move(record);
        }
        platform::closeKey(key);
    }
    // Stored filters take the places of the first built-in ones.
    for (int position = count; position < static_cast<int>(builtIns.size()); ++position) {
        slots[position] = std::make_unique<FilterRecord>(
            makeFilter(builtIns[position].name, builtIns[position].pattern, false));
    }
    return 1;
}

int saveFilters() {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, filtersKeyPath, key)) return 0;
    // One write for the list and its stale values: an interrupted save keeps the old list whole.
    platform::RegistryBatch batch;
    const int count = countFilters();
    for (int index = 0; index < count; ++index) {
        platform::batchSetValue(batch, valueName(index), platform::registryBinary, slots[index].get(),
                                sizeof(FilterRecord));
    }
    for (int index = count; platform::queryValue(key, valueName(index), nullptr, nullptr, nullptr); ++index) {
        platform::batchDeleteValue(batch, valueName(index));
    }
    platform::applyBatch(key, batch);
    platform::closeKey(key);
    return 1;
}

int editFilter(int index, const explorer::OwnerRecord& owner) {
    const Window ownerWindow = owner.ownerWindow;
    if (index < 0 || index > countFilters()) return 0;
    if (index == maxFilters) {
        platform::messageBox(ownerWindow,
                             u"The filter list is full: Farlink keeps at most 31 filters. Delete one before "
                             u"adding another.",
                             u"Edit Filter", platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
        return 0;
    }
    FilterRecord working = makeFilter(u"My Filter", u"*;", true);
    if (const FilterRecord* existing = filterAt(index)) {
        working = *existing;
        // The name field holds 127 units; the rest of a longer stored name is not offered.
        working.name[resources::filterNameLimit] = u'\0';
    }
    const int result = runFilterDialog(ownerWindow, working);
    // Commands handled while the dialog ran may have changed the list: write only into a
    // slot that is still there, or the one right after the last filter.
    if (result != resources::commandDone || index > countFilters()) return 0;
    if (FilterRecord* existing = filterAt(index)) {
        *existing = working;
    } else {
        slots[index] = std::make_unique<FilterRecord>(working);
    }
    return 1;
}

int deleteFilter(int index) {
    if (!filterAt(index)) return 0;
    for (int slot = index; slot < maxFilters; ++slot) slots[slot] = std::move(slots[slot + 1]);
    return 1;
}

void freeFilters() {
    for (auto& slot : slots) slot.reset();
}

int filterCount() { return countFilters(); }

FilterRecord* filterAt(int index) {
    if (index < 0 || index > maxFilters) return nullptr;
    return slots[index].get();
}

}  // namespace local
