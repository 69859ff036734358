// Clock: tick count, system time and the file-time conversions of the platform. A file
// time counts 100-ns intervals since 1601-01-01 00:00 UTC; a local file time is the
// same count shifted by the host's time-zone offset at that instant.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct FileTime {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
};

struct SystemTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;      // 1-12
    std::uint16_t dayOfWeek = 0;  // 0 Sunday
    std::uint16_t day = 0;        // 1-31
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
};

// 100-ns intervals between 1601-01-01 and 1970-01-01.
inline constexpr std::uint64_t unixEpochAsFileTime = 116444736000000000ULL;

inline std::uint64_t toUint64(FileTime time) { return (std::uint64_t(time.high) << 32) | time.low; }
inline FileTime toFileTime(std::uint64_t value) {
    return {static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32)};
}
// -1, 0 or 1 as the first time is earlier, equal or later.
int compareFileTime(FileTime first, FileTime second);

// Milliseconds since an arbitrary start, wrapping at 2^32. Any thread.
std::uint32_t tickCount();

SystemTime systemTimeNow();                                           // UTC
FileTime fileTimeNow();                                               // UTC
bool systemTimeToFileTime(const SystemTime& time, FileTime& result);  // false for invalid fields
bool fileTimeToSystemTime(FileTime time, SystemTime& result);         // false beyond year 30827
bool fileTimeToLocalFileTime(FileTime utc, FileTime& local);
// A local time that occurs twice (clocks going back) means the later instant; one that
// never occurs (clocks going forward) is read with the offset after the change.
bool localFileTimeToFileTime(FileTime local, FileTime& utc);

// Local time minus UTC, in seconds, at the given UTC instant (time zone rules of the
// host, daylight saving included).
long localOffsetSeconds(std::int64_t unixSeconds);

// The user's short date format for a calendar date, without the time (for example
// "12/06/2026" or "06.12.2026"): the date format of the LC_TIME locale of the
// environment, with four-digit years. Empty for invalid fields.
std::u16string formatShortDate(const SystemTime& time);

}  // namespace platform
