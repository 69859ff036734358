// What the tests of the views and of the program share: a temporary folder as the
// device's "\", a registry file of the test's own with reads of what is stored in it,
// the loop run until populations end, and a headless screen with a main window.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window/headless_terminal.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"
#include "tests/support/temporary_folder.h"

namespace test_support {

// A fresh host folder that stands for the device's "\" while the object lives.
class DeviceRoot {
public:
    DeviceRoot();
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;

    const std::string& path() const { return folder_.path(); }
    // The host path of a device path below "\", written with '/'.
    std::string at(const std::string& relative) const { return folder_ / relative; }
    void folder(const std::string& relative) const;
    // Writes a file, making the folders above it.
    void file(const std::string& relative, const std::string& content = "x") const;
    std::string read(const std::string& relative) const { return readFile(at(relative)); }

private:
    TemporaryFolder folder_;
    std::string previous_;
};

// Points the registry at an empty file of the test's own.
class TemporaryRegistry {
public:
    TemporaryRegistry();
    std::string file() const { return folder_ / "registry.reg"; }
    const std::string& folder() const { return folder_.path(); }

private:
    TemporaryFolder folder_;
};

struct StoredValue {
    bool exists = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // exactly as long as the stored data
};
StoredValue storedValue(std::u16string_view keyPath, std::u16string_view name);
// Stores a value as given, any type and length, as an older or damaged settings file may
// hold it, making its key; false when it could not.
bool storeValue(std::u16string_view keyPath, std::u16string_view name, std::uint32_t type, const void* data,
                std::uint32_t size);

// Runs the window system's loop, answering other threads' window calls, until
// `condition` holds; false when it did not within `limit`.
bool loopUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(30));
// Runs the window system's loop until no population runs and nothing is left to do;
// false when that takes more than a generous bound.
bool settle();

// Polls `condition` every millisecond until it holds, for at most `limit`; whether it did.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(5));

// The caption of the message box on `screen`, "" when none is open.
std::string boxCaption(const std::string& screen);
// The words of a screen run together: without spaces, line ends and the box's sides, so
// that a sentence reads the same however the box wraps it.
std::string boxWords(std::string screen);

// A headless terminal with the window system on it and a full-screen main window
// titled "Farlink".
struct HeadlessScreen {
    HeadlessScreen(int columns, int rows, platform::WindowProcedure procedure = nullptr);

    platform::HeadlessTerminal terminal;
    platform::WindowSystemScope scope;
    platform::Window main;
};

}  // namespace test_support
