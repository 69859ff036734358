#include "app/recent_documents.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace app {
namespace {

std::u16string valueName() {
    const std::string program = platform::programFile();
    return platform::toUtf16(program.substr(program.find_last_of('/') + 1));
}

std::vector<std::u16string> readList(platform::RegistryKey key) {
    std::vector<std::u16string> entries;
    std::uint32_t size = 0;
    if (!platform::queryValue(key, valueName(), nullptr, nullptr, &size) || size < 2) return entries;
    std::u16string data(size / 2, u'\0');
    if (!platform::queryValue(key, valueName(), nullptr, data.data(), &size)) return entries;
    data.resize(size / 2);
    for (std::size_t start = 0; start < data.size();) {
        const std::size_t end = std::min(data.find(u'\0', start), data.size());
        if (end == start) break;  // the empty string that ends the list
        entries.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

}  // namespace

void addRecentDocument(std::u16string_view path) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, recentKeyPath, key)) return;
    std::vector<std::u16string> entries = readList(key);
    std::erase(entries, std::u16string(path));
    entries.insert(entries.begin(), std::u16string(path));
    if (entries.size() > maxRecentDocuments) entries.resize(maxRecentDocuments);
    std::u16string data;
    for (const std::u16string& entry : entries) {
        data += entry;
        data += u'\0';
    }
    data += u'\0';
    platform::setValue(key, valueName(), platform::registryMultiString, data.data(),
                       static_cast<std::uint32_t>(data.size() * sizeof(char16_t)));
    platform::closeKey(key);
}

std::vector<std::u16string> recentDocuments() {
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, recentKeyPath, key)) return {};
    std::vector<std::u16string> entries = readList(key);
    platform::closeKey(key);
    return entries;
}

}  // namespace app
