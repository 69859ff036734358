#include "explorer/provider.h"

#include "platform/errors.h"

namespace explorer {
namespace {

constexpr std::uint32_t errorNotSupported = 50;

int unsupported() {
    platform::setLastError(errorNotSupported);
    return 0;
}

ViewProvider unboundProvider() {
    return ViewProvider{
        .Move = [](std::u16string_view, std::u16string_view) { return unsupported(); },
        .DeleteFile = [](std::u16string_view) { return unsupported(); },
        .RemoveFolder = [](std::u16string_view) { return unsupported(); },
        .CopyFile = [](std::u16string_view, std::u16string_view, int) { return unsupported(); },
        .CopyFolder = [](std::u16string_view, std::u16string_view, int) { return unsupported(); },
        .CopyFiles =
            [](const NextCopyOrder& next, const CopyOrderEnded& ended) {
                for (std::size_t copy = 0; next(); ++copy) ended(copy, false, {});
            },
        .GetAttributes = [](std::u16string_view, int, platform::FileAttributeData&) { return unsupported(); },
        .CreateFolder = [](std::u16string_view) { return unsupported(); },
        .FindFirst =
            [](std::u16string_view, platform::FindData&) {
                unsupported();
                return platform::invalidFindHandle;
            },
        .FindNext = [](platform::FindHandle, platform::FindData&) { return unsupported(); },
        .FindClose = [](platform::FindHandle) { return unsupported(); },
        .GetFileInfo = [](std::u16string_view, std::uint32_t, platform::ShellFileInfo&,
                          std::uint32_t) { return std::uintptr_t(unsupported()); },
        .GetCurrentFolder = [] { return std::u16string(u"\\"); },
        .SetCurrentFolder = [](std::u16string_view) { return unsupported(); },
        .LoadList = [] { return unsupported(); },
        .SaveList = [] { return unsupported(); },
        .EditItem = [](int, const OwnerRecord&) { return unsupported(); },
        .DeleteItem = [](int) { return unsupported(); },
        .GetItem = [](int) { return std::optional<std::u16string>(); },
        .GetItemPattern = [](int) { return std::optional<std::u16string>(); },
        .OptionsDialog = [](const OwnerRecord&) { return unsupported(); },
        .LoadOptions = [] {},
        .ShowError = [](std::u16string_view) { return 0; },
        .GetLastErrorText = [] { return std::u16string(); },
        .DescribeEntry = [](std::u16string_view) { return std::u16string(); },
    };
}

ViewProvider withSettings(std::uint32_t menuBarId, std::uint32_t popupMenuId, std::uint32_t showFiles,
                          std::uint8_t showParent) {
    ViewProvider provider = unboundProvider();
    provider.menuBarId = menuBarId;
    provider.popupMenuId = popupMenuId;
    provider.showFiles = showFiles;
    provider.showParent = showParent;
    return provider;
}

}  // namespace

ViewProvider deviceProvider = withSettings(501, 129, 0, 1);
ViewProvider remoteProvider = withSettings(502, 0, 1, 0);
ViewProvider queueProvider = withSettings(503, 0, 0, 0);

ViewProvider* currentProvider = &deviceProvider;

namespace {
thread_local const ViewProvider* viewOfThread = nullptr;
}  // namespace

void setThreadView(const ViewProvider* copy) { viewOfThread = copy; }

const ViewProvider& threadView(const ViewProvider& view) {
    // A view's operations are bound once at start-up: the same FindFirst is the same view.
    return viewOfThread != nullptr && viewOfThread->FindFirst == view.FindFirst ? *viewOfThread : view;
}

}  // namespace explorer
