#include "platform/own_files.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>

namespace platform {
namespace {

constexpr std::string_view prefix = ".farlink-";
constexpr std::string_view suffix = ".part";
constexpr std::size_t digits = 16;

}  // namespace

std::string newOwnTemporaryName() {
    std::uint64_t value = 0;
    // getrandom never returns short for 8 bytes once the pool is ready; it waits until then.
    while (getrandom(&value, sizeof value, 0) != ssize_t(sizeof value)) {
        if (errno != EINTR) {
            value = (std::uint64_t(std::random_device()()) << 32) ^ std::random_device()();
            break;
        }
    }
    char hex[digits + 1];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(value));
    return std::string(prefix) + hex + std::string(suffix);
}

bool isOwnTemporaryName(std::string_view name) {
    if (name.size() != prefix.size() + digits + suffix.size() || !name.starts_with(prefix) || !name.ends_with(suffix))
        return false;
    const std::string_view hex = name.substr(prefix.size(), digits);
    return std::all_of(hex.begin(), hex.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace platform
