// The listing line parser: turns one line of a server's "LIST -aL" answer into a
// RemoteEntry (name, folder and file flags, size, modification time, permission bits). It reads fact
// lines ('+'), Unix long listings, VMS and MS-DOS listings, allocates nothing and never
// reads past the given length; the entry's name and id point into the line.
#pragma once

#include <cstdint>

namespace ftp {

enum class SizeKind : std::int32_t { None = 0, Exact = 1 };
enum class TimeKind : std::int32_t { None = 0, Second = 1, Minute = 2, Day = 3 };

struct RemoteEntry {
    const char* name = nullptr;  // inside the line, not NUL-terminated
    std::int32_t nameLength = 0;
    std::int32_t mayBeFolder = 0;  // changing into it may work (a folder or a link)
    std::int32_t mayBeFile = 0;    // retrieving it may work (a file or a link)
    SizeKind sizeKind = SizeKind::None;
    std::int64_t size = 0;
    TimeKind timeKind = TimeKind::None;
    std::int64_t time = 0;    // seconds since 1970-01-01 00:00, device local time
    std::int32_t mode = -1;   // permission bits (& 0777) where the line gives them; -1 unknown
    std::int32_t idKind = 0;  // 1: the server gave a unique identifier
    const char* id = nullptr;
    std::int32_t idLength = 0;
};

// Fills `entry` from one line of `length` bytes (its LF included, if the caller read
// one: where the name runs to the end of the line, the LF ends the name). Returns 1
// for an entry, 0 for any other line (summary, banner, blank).
int parseListingLine(RemoteEntry* entry, const char* line, int length);

// 0..11 for a three-letter month name in any case, -1 otherwise.
int monthIndex(const char* text, int length);
// Seconds from 1970-01-01 to the start of the day (proleptic Gregorian, month from 0).
std::int64_t daysToSeconds(std::int64_t year, std::int64_t month, std::int64_t day);
// Local time minus UTC in seconds; computed on first use and kept for the run.
std::int64_t localOffset();

struct ReferenceTime {
    std::int64_t time;  // now, on the scale of the parser's dates
    int currentYear;    // the civil year at the first call, kept for the run
};
// The time against which dates without a year are placed; read from the clock at
// every call.
ReferenceTime referenceTime();

}  // namespace ftp
