// Platform detection: whether Farlink runs as on a touch-screen device ("PocketPC":
// compact dialog templates and drop-down lists) or as on a keypad phone (spinner
// lists), the default. The host has no such setting of its own: the platform type is
// chosen at start-up (--platform) or by FARLINK_PLATFORM. High resolution and the
// system version, which the phone also detects, choose nothing on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace ui {

inline constexpr std::u16string_view pocketPCPlatform = u"PocketPC";
inline constexpr std::u16string_view keypadPlatform = u"SmartPhone";

// Fixes the platform type for the rest of the run. Start-up only, before windows exist.
void setPlatformType(std::u16string_view name);
// The platform type: the one set, else $FARLINK_PLATFORM, else "SmartPhone". Any thread.
std::u16string platformType();

// Refreshes the PocketPC flag from the platform type. UI thread only.
void detectPlatform();
// The PocketPC flag as the last detection left it. UI thread only.
bool isPocketPC();
// Asks the platform type again without touching the flag. Any thread.
bool isPocketPCLive();

}  // namespace ui
