// Fixtures of the Device view's settings tests: a registry file of the test's own, reads
// of the values stored in it (type and exact data length), and a loop pump that waits
// for populations and workers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "explorer/population.h"
#include "platform/registry.h"
#include "platform/window/window.h"
#include "tests/support/temporary_folder.h"

namespace local_test {

// Points the registry at an empty file in a scratch folder for the test's life.
class TempRegistry {
public:
    TempRegistry() { platform::useRegistryFile(file()); }
    std::string file() const { return folder_ / "registry.reg"; }

private:
    test_support::TemporaryFolder folder_;
};

struct StoredValue {
    bool exists = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

inline StoredValue storedValue(std::u16string_view keyPath, std::u16string_view name) {
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

// Runs the window system's loop until no population runs and nothing is left to do.
inline bool settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        platform::runUntilIdle();
        if (explorer::waitForPopulations(std::chrono::milliseconds(0))) {
            platform::runUntilIdle();
            return true;
        }
        platform::waitForMessage(20);
    }
    return false;
}

}  // namespace local_test
