#include "platform/clock.h"

#include <langinfo.h>
#include <locale.h>
#include <chrono>
#include <ctime>

#include "platform/errors.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::int64_t ticksPerSecond = 10'000'000;  // file-time units
constexpr std::int64_t ticksPerMillisecond = 10'000;
constexpr std::int64_t secondsPerDay = 86'400;
constexpr std::uint64_t largestFileTime = 0x7FFFFFFFFFFFFFFFULL;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar (any year).
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const unsigned month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

bool isLeapYear(unsigned year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

unsigned daysInMonth(unsigned year, unsigned month) {
    static constexpr unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

std::int64_t floorDivide(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// Whole Unix seconds of a file time (rounded down, so times before 1970 stay right).
std::int64_t unixSecondsOf(std::uint64_t fileTime) {
    return floorDivide(static_cast<std::int64_t>(fileTime - unixEpochAsFileTime), ticksPerSecond);
}

// `time` shifted by `seconds`, false when the result leaves the range of file times.
bool shifted(std::uint64_t time, long seconds, FileTime& result) {
    const std::int64_t delta = std::int64_t(seconds) * ticksPerSecond;
    if (delta < 0 && time < std::uint64_t(-delta)) return false;
    if (delta > 0 && time > largestFileTime - std::uint64_t(delta)) return false;
    result = toFileTime(time + static_cast<std::uint64_t>(delta));
    return true;
}

}  // namespace

int compareFileTime(FileTime first, FileTime second) {
    const std::uint64_t a = toUint64(first);
    const std::uint64_t b = toUint64(second);
    return a < b ? -1 : (a > b ? 1 : 0);
}

std::uint32_t tickCount() {
    const auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

FileTime fileTimeNow() {
    using FileTimeUnits = std::chrono::duration<std::int64_t, std::ratio<1, ticksPerSecond>>;
    const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    const auto units = std::chrono::duration_cast<FileTimeUnits>(sinceUnixEpoch).count();
    return toFileTime(unixEpochAsFileTime + static_cast<std::uint64_t>(units));
}

SystemTime systemTimeNow() {
    SystemTime result;
    fileTimeToSystemTime(fileTimeNow(), result);
    return result;
}

bool systemTimeToFileTime(const SystemTime& time, FileTime& result) {
    const bool valid = time.year >= 1601 && time.year <= 30827 && time.month >= 1 && time.month <= 12 &&
                       time.day >= 1 && time.day <= daysInMonth(time.year, time.month) && time.hour < 24 &&
                       time.minute < 60 && time.second < 60 && time.milliseconds < 1000;
    if (!valid) {
        setLastError(errorInvalidParameter);
        return false;
    }
    const std::int64_t days = daysFromCivil(time.year, time.month, time.day);
    const std::int64_t seconds = days * secondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
    const std::int64_t sinceUnixEpoch = seconds * ticksPerSecond + time.milliseconds * ticksPerMillisecond;
    result = toFileTime(unixEpochAsFileTime + static_cast<std::uint64_t>(sinceUnixEpoch));
    return true;
}

bool fileTimeToSystemTime(FileTime time, SystemTime& result) {
    const std::uint64_t value = toUint64(time);
    const std::uint64_t secondsSince1601 = value / ticksPerSecond;
    const auto daysSince1601 = static_cast<std::int64_t>(secondsSince1601 / secondsPerDay);
    const std::int64_t daysSince1970 = daysSince1601 + daysFromCivil(1601, 1, 1);
    const CivilDate date = civilFromDays(daysSince1970);
    if (value > largestFileTime || date.year > 30827) {
        setLastError(errorInvalidParameter);
        return false;
    }
    const auto secondOfDay = static_cast<unsigned>(secondsSince1601 % secondsPerDay);
    result.year = static_cast<std::uint16_t>(date.year);
    result.month = static_cast<std::uint16_t>(date.month);
    result.day = static_cast<std::uint16_t>(date.day);
    result.dayOfWeek = static_cast<std::uint16_t>((daysSince1601 + 1) % 7);  // 1601-01-01 was a Monday
    result.hour = static_cast<std::uint16_t>(secondOfDay / 3600);
    result.minute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
    result.second = static_cast<std::uint16_t>(secondOfDay % 60);
    result.milliseconds = static_cast<std::uint16_t>(value % ticksPerSecond / ticksPerMillisecond);
    return true;
}

long localOffsetSeconds(std::int64_t unixSeconds) {
    const auto instant = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (localtime_r(&instant, &local) == nullptr) return 0;
    return local.tm_gmtoff;
}

bool fileTimeToLocalFileTime(FileTime utc, FileTime& local) {
    const std::uint64_t value = toUint64(utc);
    if (!shifted(value, localOffsetSeconds(unixSecondsOf(value)), local)) {
        setLastError(errorInvalidParameter);
        return false;
    }
    return true;
}

// The offset is the one in force at the UTC instant that the local time names: a first
// guess reads the local time as UTC, the second corrects it by the offset found there.
// A local time that occurs twice (when clocks go back) gives the later instant; one
// that never occurs (when clocks go forward) lands one step after the gap.
bool localFileTimeToFileTime(FileTime local, FileTime& utc) {
    const std::uint64_t value = toUint64(local);
    const std::int64_t localSeconds = unixSecondsOf(value);
    const long firstGuess = localOffsetSeconds(localSeconds);
    const long offset = localOffsetSeconds(localSeconds - firstGuess);
    if (!shifted(value, -offset, utc)) {
        setLastError(errorInvalidParameter);
        return false;
    }
    return true;
}

// The date format of the user's LC_TIME locale (from the environment, whatever the
// program's global locale is), with a four-digit year where the locale writes two:
// "%x" of the C locale would show 06/12/26.
std::u16string formatShortDate(const SystemTime& time) {
    FileTime ignored;
    if (!systemTimeToFileTime(time, ignored)) return {};
    locale_t userLocale = newlocale(LC_TIME_MASK, "", locale_t(nullptr));
    if (userLocale == locale_t(nullptr)) userLocale = newlocale(LC_TIME_MASK, "C", locale_t(nullptr));
    if (userLocale == locale_t(nullptr)) return {};
    std::string format = nl_langinfo_l(D_FMT, userLocale);
    for (std::size_t at = format.find("%y"); at != std::string::npos; at = format.find("%y", at + 2)) {
        format[at + 1] = 'Y';
    }
    std::tm fields{};
    fields.tm_year = time.year - 1900;
    fields.tm_mon = time.month - 1;
    fields.tm_mday = time.day;
    fields.tm_wday = static_cast<int>(daysFromCivil(time.year, time.month, time.day) % 7 + 11) % 7;
    char text[128];
    const std::size_t length = strftime_l(text, sizeof text, format.c_str(), &fields, userLocale);
    freelocale(userLocale);
    return toUtf16(std::string_view(text, length));
}

}  // namespace platform
