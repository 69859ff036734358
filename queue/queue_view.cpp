#include "queue/queue_view.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "explorer/provider.h"
#include "explorer/url.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "queue/operation_queue.h"

namespace queue {
namespace {

constexpr std::u16string_view listNames[] = {u"Pending Operations", u"Active Operations", u"Successful Operations",
                                             u"Failed Operations"};

// An enumeration over the rows copied out of one list when it began: the worker may
// relink the records meanwhile, and Clear may free them.
struct Cursor {
    std::vector<FileOperation> records;
    std::size_t next = 0;
};

void fill(const FileOperation& record, platform::FindData& data) {
    data = {};
    data.creationTime = platform::toFileTime(record.queued);
    data.lastAccessTime = platform::toFileTime(record.started);
    data.lastWriteTime = platform::toFileTime(record.started);
    const std::u16string name = rowNameOf(record.destination);
    std::copy_n(name.begin(), std::min(name.size(), platform::maxPath - 1), data.name);
}

platform::FindHandle findFirst(std::u16string_view, platform::FindData& data) {
    const std::uint32_t selection = explorer::threadView(explorer::queueProvider).filterIndex;
    if (selection > 3) return platform::invalidFindHandle;
    auto cursor = std::make_unique<Cursor>();
    cursor->records = listRecords(int(selection) + 1);
    if (cursor->records.empty()) {
        platform::setLastError(platform::errorNoMoreFiles);
        return platform::invalidFindHandle;
    }
    fill(cursor->records[0], data);
    cursor->next = 1;
    return reinterpret_cast<platform::FindHandle>(cursor.release());
}

int findNext(platform::FindHandle handle, platform::FindData& data) {
    auto* cursor = reinterpret_cast<Cursor*>(handle);
    if (cursor->next >= cursor->records.size()) {
        platform::setLastError(platform::errorNoMoreFiles);
        return 0;
    }
    fill(cursor->records[cursor->next++], data);
    return 1;
}

int findClose(platform::FindHandle handle) {
    delete reinterpret_cast<Cursor*>(handle);
    return 1;
}

// A record's Properties: where it copies from and to, and why it failed, which the screen
// wraps whole (a refused host key's reason ends with the known_hosts line to remove). Of
// several records of the row's name, the latest. UI thread only.
std::u16string describeRecord(std::u16string_view path) {
    const std::u16string_view name = path.substr(path.find_last_of(u"\\/") + 1);
    const std::vector<FileOperation> records = listRecords(int(explorer::queueProvider.filterIndex) + 1);
    const auto record = std::find_if(records.rbegin(), records.rend(),
                                     [name](const FileOperation& each) { return rowNameOf(each.destination) == name; });
    if (record == records.rend()) return {};
    const auto shown = [](const char16_t* path) {
        std::u16string_view text = platform::boundedView(path, pathCapacity);
        if (text.starts_with(explorer::phoneScheme)) text.remove_prefix(explorer::phoneScheme.size());
        return std::u16string(text);
    };
    std::u16string text = u"From: " + shown(record->source) + u"\rTo: " + shown(record->destination);
    if (!record->why.empty()) text += u"\r\r" + record->why;
    return text;
}

}  // namespace

std::u16string rowNameOf(std::u16string_view destination) {
    std::u16string name(destination.substr(0, std::min(destination.size(), pathCapacity - 1)));
    name.resize(std::find(name.begin(), name.end(), u'\0') - name.begin());
    if (name.starts_with(explorer::phoneScheme)) name.erase(0, explorer::phoneScheme.size());
    std::replace(name.begin(), name.end(), u'\\', u'\u29F5');
    std::replace(name.begin(), name.end(), u'/', u'\u2215');
    return name;
}

int retryRow(std::u16string_view rowName, std::uint64_t started) {
    for (const FileOperation& record : listRecords(listFailed)) {
        if (record.started == started && rowNameOf(record.destination) == rowName) {
            return retryFailed(record.destination, started);
        }
    }
    return 0;
}

void initQueueView() {
    explorer::ViewProvider& view = explorer::queueProvider;
    view.Move = [](std::u16string_view source, std::u16string_view destination) {
        return queueMove(source, destination, false);
    };
    // Delete removes the row's log record; a row of what waits or runs stays.
    view.DeleteFile = [](std::u16string_view path) {
        const std::u16string_view name = path.substr(path.find_last_of(u"\\/") + 1);
        const int list = int(explorer::queueProvider.filterIndex) + 1;
        return removeLogRecord(list,
                               [name](const FileOperation& record) { return rowNameOf(record.destination) == name; });
    };
    view.RemoveFolder = [](std::u16string_view) { return 0; };
    view.CopyFile = [](std::u16string_view source, std::u16string_view destination, int) {
        return queueCopyFile(source, destination);
    };
    view.CopyFolder = [](std::u16string_view source, std::u16string_view destination, int) {
        return queueCopyFolder(source, destination);
    };
    view.GetAttributes = [](std::u16string_view, int, platform::FileAttributeData&) { return 0; };
    view.CreateFolder = [](std::u16string_view) { return 0; };
    view.FindFirst = findFirst;
    view.FindNext = findNext;
    view.FindClose = findClose;
    view.GetFileInfo = explorer::deviceProvider.GetFileInfo;
    view.GetCurrentFolder = [] { return std::u16string(u"Queue"); };
    view.SetCurrentFolder = [](std::u16string_view) { return 0; };
    view.LoadList = [] { return 1; };
    view.SaveList = [] { return 1; };
    view.EditItem = [](int, const explorer::OwnerRecord&) { return 1; };
    view.DeleteItem = [](int) { return 0; };
    view.GetItem = [](int index) -> std::optional<std::u16string> {
        if (index < 0 || index > 3) return std::nullopt;
        return std::u16string(listNames[index]);
    };
    view.GetItemPattern = [](int) -> std::optional<std::u16string> { return u"*"; };
    view.OptionsDialog = [](const explorer::OwnerRecord&) { return 1; };
    view.LoadOptions = [] {};
    view.ShowError = [](std::u16string_view) { return 0; };
    view.GetLastErrorText = [] { return std::u16string(); };
    view.DescribeEntry = describeRecord;
}

}  // namespace queue
