#include "ui/platform_type.h"

#include <cstdlib>
#include <mutex>

#include "platform/text.h"

namespace ui {
namespace {

std::mutex typeMutex;
std::u16string chosenType;  // empty: not chosen
bool pocketPCFlag = false;

// The platform names compare over their first 64 characters.
bool namesPocketPC(std::u16string_view name) { return name.substr(0, 64) == pocketPCPlatform.substr(0, 64); }

}  // namespace

void setPlatformType(std::u16string_view name) {
    std::lock_guard lock(typeMutex);
    chosenType = name;
}

std::u16string platformType() {
    {
        std::lock_guard lock(typeMutex);
        if (!chosenType.empty()) return chosenType;
    }
    if (const char* fromEnvironment = std::getenv("FARLINK_PLATFORM"); fromEnvironment && *fromEnvironment) {
        return platform::toUtf16(fromEnvironment);
    }
    return std::u16string(keypadPlatform);
}

void detectPlatform() { pocketPCFlag = namesPocketPC(platformType()); }

bool isPocketPC() { return pocketPCFlag; }

bool isPocketPCLive() { return namesPocketPC(platformType()); }

}  // namespace ui
