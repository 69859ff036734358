// Farlink's own temporary and partial files, on the device and on servers: one naming
// pattern, ".farlink-" then 16 lower-case hex digits then ".part", so that every walk can
// tell them and none plans them. A new name is random (the kernel's getrandom), so that
// nobody can make its file first. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string newOwnTemporaryName();
bool isOwnTemporaryName(std::string_view name);

}  // namespace platform
