#include "platform/clock.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "tests/support/scoped_variable.h"

namespace {

using namespace platform;
using test_support::ScopedVariable;

constexpr std::uint64_t second = 10'000'000;

std::string describe(const SystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.milliseconds);
    return text;
}

// The file time of a UTC calendar time, computed by the C library.
std::uint64_t fileTimeOfUtc(int year, int month, int day, int hour, int minute, int seconds) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = seconds;
    return unixEpochAsFileTime + std::uint64_t(timegm(&fields) * std::int64_t(second));
}

TEST(Clock, CalendarAndFileTimesAgreeAcrossTheEpochs) {
    struct Case {
        SystemTime time;
        std::uint64_t fileTime;
    };
    const Case cases[] = {
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
        {{1970, 1, 4, 1, 0, 0, 0, 0}, unixEpochAsFileTime},
        {{1969, 12, 3, 31, 23, 59, 59, 999}, unixEpochAsFileTime - 10'000},
        {{2000, 2, 2, 29, 12, 34, 56, 789}, fileTimeOfUtc(2000, 2, 29, 12, 34, 56) + 7'890'000},
        {{30827, 12, 5, 31, 23, 59, 59, 999}, fileTimeOfUtc(30827, 12, 31, 23, 59, 59) + 9'990'000},
    };
    for (const auto& c : cases) {
        FileTime fileTime;
        ASSERT_TRUE(systemTimeToFileTime(c.time, fileTime)) << describe(c.time);
        EXPECT_EQ(toUint64(fileTime), c.fileTime) << describe(c.time);
        SystemTime back;
        ASSERT_TRUE(fileTimeToSystemTime(toFileTime(c.fileTime), back)) << describe(c.time);
        EXPECT_EQ(describe(back), describe(c.time));
        EXPECT_EQ(back.dayOfWeek, c.time.dayOfWeek) << describe(c.time);
    }
    SystemTime ignored;
    EXPECT_FALSE(fileTimeToSystemTime(toFileTime(0x8000000000000000ULL), ignored));
}

TEST(Clock, EveryFourHundredYearCycleDayRoundTrips) {
    // Day by day over 1999-2401: leap years, centuries and the 400-year rule.
    const std::uint64_t day = 86'400 * second;
    for (std::uint64_t time = fileTimeOfUtc(1999, 1, 1, 6, 0, 0); time < fileTimeOfUtc(2401, 1, 1, 0, 0, 0);
         time += day) {
        SystemTime calendar;
        ASSERT_TRUE(fileTimeToSystemTime(toFileTime(time), calendar));
        FileTime back;
        ASSERT_TRUE(systemTimeToFileTime(calendar, back)) << describe(calendar);
        ASSERT_EQ(toUint64(back), time) << describe(calendar);
    }
}

TEST(Clock, InvalidCalendarFieldsAreRefused) {
    const SystemTime cases[] = {
        {1600, 12, 0, 31, 0, 0, 0, 0},  {2024, 13, 0, 1, 0, 0, 0, 0}, {2024, 1, 0, 0, 0, 0, 0, 0},
        {1900, 2, 0, 29, 0, 0, 0, 0},   {2024, 4, 0, 31, 0, 0, 0, 0}, {2024, 1, 0, 1, 24, 0, 0, 0},
        {2024, 1, 0, 1, 0, 0, 0, 1000},
    };
    for (const auto& time : cases) {
        FileTime result;
        EXPECT_FALSE(systemTimeToFileTime(time, result)) << describe(time);
    }
}

// time() reads a coarse clock that can still give the last second just after the next
// began: the bounds come from the precise clock.
TEST(Clock, NowIsTheSystemsUtcTime) {
    timespec before{}, after{};
    clock_gettime(CLOCK_REALTIME, &before);
    const std::uint64_t now = toUint64(fileTimeNow());
    clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_GE(now, unixEpochAsFileTime + std::uint64_t(before.tv_sec) * second);
    EXPECT_LT(now, unixEpochAsFileTime + std::uint64_t(after.tv_sec + 1) * second);
}

TEST(Clock, LocalTimeFollowsDaylightSavingAtEachInstant) {
    const ScopedVariable zone("TZ", "Europe/Berlin");
    // The local times of the last hour of summer time occur again in winter time; the
    // way back gives the winter one (below).
    struct Case {
        const char* what;
        std::uint64_t utc;
        std::uint64_t local;
        bool localTimeIsUnique;
    };
    const Case cases[] = {
        {"winter", fileTimeOfUtc(2026, 1, 15, 12, 0, 0), fileTimeOfUtc(2026, 1, 15, 13, 0, 0), true},
        {"last second of winter time", fileTimeOfUtc(2026, 3, 29, 0, 59, 59), fileTimeOfUtc(2026, 3, 29, 1, 59, 59),
         true},
        {"first second of summer time", fileTimeOfUtc(2026, 3, 29, 1, 0, 0), fileTimeOfUtc(2026, 3, 29, 3, 0, 0), true},
        {"summer", fileTimeOfUtc(2026, 7, 1, 12, 0, 0), fileTimeOfUtc(2026, 7, 1, 14, 0, 0), true},
        {"last second of summer time", fileTimeOfUtc(2026, 10, 25, 0, 59, 59), fileTimeOfUtc(2026, 10, 25, 2, 59, 59),
         false},
        {"first second of winter time", fileTimeOfUtc(2026, 10, 25, 1, 0, 0), fileTimeOfUtc(2026, 10, 25, 2, 0, 0),
         false},
        {"first hour of winter time over", fileTimeOfUtc(2026, 10, 25, 2, 0, 0), fileTimeOfUtc(2026, 10, 25, 3, 0, 0),
         true},
        {"1970 had no summer time", fileTimeOfUtc(1969, 12, 31, 23, 0, 0), fileTimeOfUtc(1970, 1, 1, 0, 0, 0), true},
    };
    for (const auto& c : cases) {
        FileTime local;
        ASSERT_TRUE(fileTimeToLocalFileTime(toFileTime(c.utc), local)) << c.what;
        EXPECT_EQ(toUint64(local), c.local) << c.what;
        if (!c.localTimeIsUnique) continue;
        FileTime utc;
        ASSERT_TRUE(localFileTimeToFileTime(toFileTime(c.local), utc)) << c.what;
        EXPECT_EQ(toUint64(utc), c.utc) << c.what;
    }
    EXPECT_EQ(localOffsetSeconds(-86400L * 365 * 10), 3600);  // 1960

    // 02:30 happens twice on 2026-10-25: the later (winter) one is meant. On 2026-03-29
    // it does not happen at all: it is read as 03:30 summer time.
    FileTime utc;
    ASSERT_TRUE(localFileTimeToFileTime(toFileTime(fileTimeOfUtc(2026, 10, 25, 2, 30, 0)), utc));
    EXPECT_EQ(toUint64(utc), fileTimeOfUtc(2026, 10, 25, 1, 30, 0));
    ASSERT_TRUE(localFileTimeToFileTime(toFileTime(fileTimeOfUtc(2026, 3, 29, 2, 30, 0)), utc));
    EXPECT_EQ(toUint64(utc), fileTimeOfUtc(2026, 3, 29, 1, 30, 0));

    EXPECT_FALSE(localFileTimeToFileTime(toFileTime(0), utc)) << "before 1601 in UTC";
}

}  // namespace
