#include "local/properties.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>

#include "explorer/population.h"
#include "explorer/url.h"
#include "platform/files.h"
#include "platform/shell.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/dialog.h"
#include "platform/window/drawing.h"
#include "resources/dialogs.h"
#include "resources/strings.h"
#include "ui/dialog_runner.h"

namespace local {
namespace {

using platform::Window;

constexpr platform::MessageId walkDoneMessage = platform::userMessage(1);

std::u16string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return platform::toUtf16(text);
}

std::u16string number(std::uint32_t value) { return platform::toUtf16(std::to_string(value)); }

// The count of one folder, shared by the screen and its listing thread: the thread holds
// it until it ends, so the screen can close without waiting for a listing.
struct FolderCount {
    std::u16string path;
    explorer::ViewProvider view;
    std::atomic<bool> stop{false};
};

struct PropertiesState {
    std::u16string path;
    explorer::ViewProvider view;
    // Asked once: a view may take a listing to answer, and a paint never waits for the
    // folder count's listings.
    platform::FileAttributeData data{};
    std::unique_ptr<explorer::FolderCounters> walked;
    std::shared_ptr<FolderCount> count;  // while a folder is counted
};

void startWalk(Window dialog, PropertiesState& state) {
    state.count = std::make_shared<FolderCount>();
    state.count->path = state.path;
    state.count->view = state.view;
    const bool started = explorer::startListingThread([dialog, count = state.count] {
        // The view's operations read this copy's settings, and their waits hear the stop.
        explorer::setThreadView(&count->view);
        platform::setThreadStopFlag(&count->stop);
        explorer::FolderCounters counters{count->path};
        explorer::walkFolder(count->view, counters, count->stop);
        if (!count->stop) platform::postRecord(dialog, walkDoneMessage, 0, std::move(counters));
    });
    // Without a thread the screen still answers: with zero counts.
    if (!started) state.walked = std::make_unique<explorer::FolderCounters>(explorer::FolderCounters{state.path});
}

void paintProperties(Window dialog, const PropertiesState& state) {
    platform::ShellFileInfo info{};
    state.view.GetFileInfo(state.path, state.data.attributes, info,
                           platform::shellSystemIconIndex | platform::shellTypeName | platform::shellDisplayName |
                               platform::shellAttributes);
    const platform::Rect client = platform::getClientRect(dialog);
    const int iconCells = platform::drawIcon(dialog, {1, 1}, static_cast<platform::IconId>(info.iconIndex));
    const int textLeft = 3 + iconCells;  // a blank column after the icon
    platform::drawText(dialog, {textLeft, 1, client.right - 1, client.bottom},
                       propertiesText(state.view, state.path, state.data, state.walked.get()),
                       platform::drawCenter | platform::drawWordBreak);
}

}  // namespace

std::u16string formatSize(std::uint32_t low, std::uint32_t high) {
    if (high == 0 && low < 1024) return number(low) + u" B";
    double value = static_cast<double>((static_cast<std::uint64_t>(high) << 32) | low) * (1.0 / 1024);
    if (value < 1024) return printed("%.1f KB", value);
    value *= 0.0009765625;
    if (value < 1024) return printed("%.2f MB", value);
    value *= 0.0009765625;
    if (value < 1024) return printed("%.3f GB", value);
    return printed("%.4f TB", value * 0.0009765625);
}

std::u16string formatDate(platform::FileTime time) {
    platform::SystemTime fields{};
    platform::FileTime local{};
    if (platform::fileTimeToLocalFileTime(time, local)) platform::fileTimeToSystemTime(local, fields);
    return platform::formatShortDate(fields);
}

std::u16string attributeWords(std::uint32_t attributes) {
    // The encrypted and in-ROM attributes share a bit, so a file in ROM shows both words.
    static constexpr std::array<std::pair<std::uint32_t, std::u16string_view>, 14> words = {{
        {0x20, u" ARC"},
        {0x800, u" CMP"},
        {0x10, u" DIR"},
        {0x40, u" ENC"},
        {0x2, u" HIDDEN"},
        {0x40, u" INROM"},
        {0x80, u" NORMAL"},
        {0x1, u" R/O"},
        {0x400, u" REP"},
        {0x2000, u" ROMMOD"},
        {0x1000, u" ROMST"},
        {0x200, u" SPARSE"},
        {0x4, u" SYS"},
        {0x100, u" TMP"},
    }};
    std::u16string text;
    for (const auto& [bit, word] : words) {
        if (attributes & bit) text += word;
    }
    return text;
}

std::u16string propertiesText(const explorer::ViewProvider& view, std::u16string_view path,
                              const explorer::FolderCounters* walked) {
    platform::FileAttributeData data{};
    if (!view.GetAttributes(path, 0, data)) data = {};
    return propertiesText(view, path, data, walked);
}

std::u16string propertiesText(const explorer::ViewProvider& view, std::u16string_view path,
                              const platform::FileAttributeData& data, const explorer::FolderCounters* walked) {
    if (std::u16string described = view.DescribeEntry ? view.DescribeEntry(path) : u""; !described.empty())
        return described;
    // Asked with the attributes just read, so that a folder is described as a folder.
    platform::ShellFileInfo info{};
    view.GetFileInfo(path, data.attributes, info,
                     platform::shellSystemIconIndex | platform::shellTypeName | platform::shellDisplayName |
                         platform::shellAttributes);
    const std::u16string_view displayName = platform::boundedView(info.displayName, std::size(info.displayName));
    const std::u16string_view typeName = platform::boundedView(info.typeName, std::size(info.typeName));
    std::u16string canonical;
    explorer::canonicalize(path, canonical);
    const explorer::PathParts parts = explorer::split(canonical);

    std::u16string text;
    const bool folder = (data.attributes & platform::attributeFolder) != 0;
    if (folder && walked) {
        text = u"Folder: " + std::u16string(displayName) + u"\rType: " + std::u16string(typeName) + u"\rFolders: " +
               number(walked->folders) + u", Files: " + number(walked->files) + u" Size: " +
               formatSize(walked->size, 0) + u"\rAll Folders: " + number(walked->allFolders) + u", Files: " +
               number(walked->allFiles) + u" Size: " + formatSize(walked->allSize, 0) + u"\r";
    } else {
        text = u"Filename: " + std::u16string(displayName) + u"." + parts.extension + u"\rFile Type: " +
               std::u16string(typeName) + u"\rFile Size: " + formatSize(data.sizeLow, data.sizeHigh) + u"\r";
        if (folder) text += u"\rDetermining Folder Size";
    }
    if (folder && !walked) return text;
    text += u"Created: " + formatDate(data.creationTime) + u"\rAccessed: " + formatDate(data.lastAccessTime) +
            u"\rModified: " + formatDate(data.lastWriteTime) + u"\r";
    return text + attributeWords(data.attributes);
}

bool showProperties(const explorer::OwnerRecord& owner, const platform::FileAttributeData* known) {
    PropertiesState state;
    state.path = owner.path ? std::u16string(platform::boundedView(owner.path, platform::maxPath)) : u"";
    state.view = *explorer::currentProvider;
    // Without its bar the screen ends at once and says nothing.
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::propertiesDialog,
                                      .helpTopic = resources::stringPropertiesHelpTopic};
    if (known) state.data = *known;
    else if (!state.view.GetAttributes(state.path, 0, state.data)) state.data = {};
    const int result = ui::runDialog(dialog, owner.ownerWindow,
                                     [&state](Window window, platform::MessageId message, platform::WParam,
                                              platform::LParam lParam) -> platform::LResult {
                                         using platform::MessageId;
                                         if (message == walkDoneMessage) {
                                             state.walked = std::make_unique<explorer::FolderCounters>(
                                                 *reinterpret_cast<const explorer::FolderCounters*>(lParam));
                                             platform::invalidateWindow(window);
                                             return 1;
                                         }
                                         switch (message) {
                                         case MessageId::initDialog: {
                                             if (state.data.attributes & platform::attributeFolder)
                                                 startWalk(window, state);
                                             return 1;
                                         }
                                         case MessageId::paint: paintProperties(window, state); return 1;
                                         default: return 0;
                                         }
                                     });
    if (state.count) state.count->stop = true;
    return result == 1;
}

}  // namespace local
