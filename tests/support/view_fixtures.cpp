#include "tests/support/view_fixtures.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "explorer/population.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace test_support {

DeviceRoot::DeviceRoot() : previous_(platform::deviceRoot()) { platform::setDeviceRoot(path()); }

DeviceRoot::~DeviceRoot() { platform::setDeviceRoot(previous_); }

void DeviceRoot::folder(const std::string& relative) const { std::filesystem::create_directories(at(relative)); }

void DeviceRoot::file(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(at(relative)).parent_path());
    writeFile(at(relative), content);
}

TemporaryRegistry::TemporaryRegistry() { platform::useRegistryFile(folder_ / "registry.reg"); }

StoredValue storedValue(std::u16string_view keyPath, std::u16string_view name) {
    StoredValue value;
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, keyPath, key)) return value;
    std::uint32_t size = 0;
    if (platform::queryValue(key, name, &value.type, nullptr, &size)) {
        value.data.resize(size);
        value.exists = platform::queryValue(key, name, nullptr, value.data.data(), &size);
    }
    platform::closeKey(key);
    return value;
}

bool storeValue(std::u16string_view keyPath, std::u16string_view name, std::uint32_t type, const void* data,
                std::uint32_t size) {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, keyPath, key)) return false;
    const bool stored = platform::setValue(key, name, type, data, size);
    platform::closeKey(key);
    return stored;
}

bool loopUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        platform::runUntilIdle();
        if (condition()) return true;
        platform::waitForMessage(20);
    }
    return false;
}

bool settle() {
    if (!loopUntil([] { return explorer::waitForPopulations(std::chrono::milliseconds(0)); })) return false;
    platform::runUntilIdle();
    return true;
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string boxCaption(const std::string& screen) {
    // The box's top line: "+- Caption ---...---+", with whatever the box covers not after it.
    const std::size_t top = screen.find("+- ");
    if (top == std::string::npos) return "";
    const std::string line = screen.substr(top + 3, screen.find('\n', top) - top - 3);
    return line.substr(0, std::min(line.find(" --"), line.find(" -+")));
}

std::string boxWords(std::string screen) {
    std::erase_if(screen, [](char c) { return c == ' ' || c == '|' || c == '\n'; });
    return screen;
}

HeadlessScreen::HeadlessScreen(int columns, int rows, platform::WindowProcedure procedure)
    : terminal(columns, rows),
      scope(terminal, terminal.clock()),
      main(platform::createWindow({.text = u"Farlink", .procedure = std::move(procedure)})) {}

}  // namespace test_support
