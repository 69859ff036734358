// Listing line parser. The styles it reads, one sample line each:
//
//   facts (EPLF):  +i8388621.29609,m824255902,/,up755,\tdev
//   Unix:          -rw-r--r--   1 owner    group        1234 Mar 15 14:30 notes.txt
//   VMS:           CORE.DIR;1          1/3          5-JUL-2002 13:28:44  [SYSTEM]  (RWE,RWE,RE,RE)
//   MS-DOS:        04-27-00  09:09PM       <DIR>          Program Files
//
// Every step stops at the given length: a line may end inside any field. Numbers are
// read digit by digit without checking that they are digits, in wrapping unsigned
// arithmetic, so that nonsense yields nonsense values and never undefined behaviour.
#include "ftp/listing_parser.h"

#include <cstring>
#include <ctime>
#include <string_view>

namespace ftp {

namespace {

using Number = std::uint64_t;

constexpr std::int64_t yearGuessWindow = 30240000;  // 350 days before the reference time

Number readNumber(const char* text, int length) {
    Number value = 0;
    for (int i = 0; i < length; ++i) value = value * 10 + Number(text[i] - '0');
    return value;
}

// Octal permission bits, any digit outside 0-7 read as nonsense of the same kind.
std::int32_t readOctalMode(const char* text, int length) {
    Number value = 0;
    for (int i = 0; i < length; ++i) value = value * 8 + Number(text[i] - '0');
    return std::int32_t(value & 0777);
}

// The permission bits of a Unix listing's "rwxr-x---" after its kind: a bit is set by
// any letter in its place ('S' and 'T' say set-id without execute).
std::int32_t unixMode(const char* permissions) {
    std::int32_t mode = 0;
    for (int bit = 0; bit < 9; ++bit) {
        const char c = permissions[bit];
        if (c != '-' && c != 'S' && c != 'T') mode |= 0400 >> bit;
    }
    return mode;
}

// A position in one line that never passes its end.
struct Cursor {
    const char* line;
    int length;
    int pos = 0;

    bool more() const { return pos < length; }
    void skipRun(char character) {
        while (pos < length && line[pos] == character) ++pos;
    }
    // Moves to the next character that is one of `stops`; false when the line ends first.
    bool advanceTo(std::string_view stops) {
        while (pos < length && stops.find(line[pos]) == std::string_view::npos) ++pos;
        return pos < length;
    }
    // Reads the number up to the next of `stops` and stays on that stop.
    bool numberUpTo(std::string_view stops, Number& value) {
        const int start = pos;
        if (!advanceTo(stops)) return false;
        value = readNumber(line + start, pos - start);
        return true;
    }
};

std::int64_t localTime(std::int64_t date, Number hour, Number minute) {
    return std::int64_t(Number(date) + (hour * 60 + minute) * 60 + Number(localOffset()));
}

int parseFacts(RemoteEntry* entry, const char* line, int length) {
    int pos = 1;
    bool skipped = false;
    while (pos < length && line[pos] != '\t') {
        const char* fact = line + pos;
        while (pos < length && line[pos] != ',' && line[pos] != '\t') ++pos;
        const int factLength = int(line + pos - fact);
        if (factLength > 0) {
            switch (fact[0]) {
            case '!': skipped = true; break;
            case '/': entry->mayBeFolder = 1; break;
            case 'r': entry->mayBeFile = 1; break;
            case 's':
                entry->sizeKind = SizeKind::Exact;
                entry->size = std::int64_t(readNumber(fact + 1, factLength - 1));
                break;
            case 'm':
                entry->timeKind = TimeKind::Second;
                entry->time = std::int64_t(readNumber(fact + 1, factLength - 1) + Number(localOffset()));
                break;
            case 'u':
                if (factLength > 2 && fact[1] == 'p') entry->mode = readOctalMode(fact + 2, factLength - 2);
                break;
            case 'i':
                entry->idKind = 1;
                entry->id = fact + 1;
                entry->idLength = factLength - 1;
                break;
            default: break;
            }
        }
        if (pos < length && line[pos] == ',') ++pos;
    }
    // A skipped line names what nothing may act on (ftp/machine_listing.h): no entry.
    if (pos >= length || skipped) return 0;
    entry->name = line + pos + 1;
    entry->nameLength = length - pos - 1;
    return 1;
}

int parseVms(RemoteEntry* entry, const char* line, int length, int semicolon) {
    entry->name = line;
    entry->nameLength = semicolon;
    if (semicolon >= 5 && std::memcmp(line + semicolon - 4, ".DIR", 4) == 0) {
        entry->nameLength -= 4;
        entry->mayBeFolder = 1;
    } else {
        entry->mayBeFile = 1;
    }
    Cursor cursor{line, length, semicolon};
    if (!cursor.advanceTo(" ")) return 0;
    cursor.skipRun(' ');
    if (!cursor.advanceTo(" ")) return 0;  // the size in blocks
    cursor.skipRun(' ');

    Number day, year, hour;
    if (!cursor.numberUpTo("-", day)) return 0;
    cursor.skipRun('-');
    const int monthStart = cursor.pos;
    if (!cursor.advanceTo("-")) return 0;
    const int month = monthIndex(line + monthStart, cursor.pos - monthStart);
    if (month < 0) return 0;
    cursor.skipRun('-');
    if (!cursor.numberUpTo(" ", year)) return 0;
    cursor.skipRun(' ');
    if (!cursor.numberUpTo(":", hour)) return 0;
    cursor.skipRun(':');
    const int minuteStart = cursor.pos;
    cursor.advanceTo(": \r\n");  // the line's end too: a line is passed with its LF
    const Number minute = readNumber(line + minuteStart, cursor.pos - minuteStart);

    entry->timeKind = TimeKind::Minute;
    entry->time = localTime(daysToSeconds(std::int64_t(year), month, std::int64_t(day)), hour, minute);
    return 1;
}

int parseMsDos(RemoteEntry* entry, const char* line, int length) {
    Cursor cursor{line, length};
    Number month, day, year, hour, minute;
    if (!cursor.numberUpTo("-", month)) return 0;
    cursor.skipRun('-');
    if (!cursor.numberUpTo("-", day)) return 0;
    cursor.skipRun('-');
    if (!cursor.numberUpTo(" ", year)) return 0;
    if (year < 50) year += 2000;
    if (year < 1000) year += 1900;
    cursor.skipRun(' ');
    if (!cursor.numberUpTo(":", hour)) return 0;
    cursor.skipRun(':');
    if (!cursor.numberUpTo("AP", minute)) return 0;
    if (hour == 12) hour = 0;
    if (line[cursor.pos++] == 'P') hour += 12;
    if (cursor.more() && line[cursor.pos] == 'M') ++cursor.pos;
    cursor.skipRun(' ');
    if (!cursor.more()) return 0;

    if (line[cursor.pos] == '<') {
        entry->mayBeFolder = 1;
        if (!cursor.advanceTo(" ")) return 0;
    } else {
        Number size;
        if (!cursor.numberUpTo(" ", size)) return 0;
        entry->sizeKind = SizeKind::Exact;
        entry->mayBeFile = 1;
        entry->size = std::int64_t(size);
    }
    cursor.skipRun(' ');
    if (!cursor.more()) return 0;
    entry->name = line + cursor.pos;
    entry->nameLength = length - cursor.pos;
    entry->timeKind = TimeKind::Minute;
    entry->time = localTime(daysToSeconds(std::int64_t(year), std::int64_t(month) - 1, std::int64_t(day)), hour,
                            minute);
    return 1;
}

// The date of a day without a year: the first year from last year on whose date is not
// more than 350 days before the reference time.
std::int64_t guessDate(int month, Number day) {
    const ReferenceTime reference = referenceTime();
    for (int year = reference.currentYear - 1; year <= reference.currentYear + 99; ++year) {
        const std::int64_t date = daysToSeconds(year, month, std::int64_t(day));
        if (date > reference.time - yearGuessWindow) return date;
    }
    return daysToSeconds(reference.currentYear, month, std::int64_t(day));
}

int parseUnix(RemoteEntry* entry, const char* line, int length) {
    entry->mayBeFolder = line[0] == 'd' || line[0] == 'l';
    entry->mayBeFile = line[0] == '-' || line[0] == 'l';
    if (length > 10) entry->mode = unixMode(line + 1);

    // Fields: permissions, link count, owner, group, size, month, day, year or time, name.
    // Some servers leave out the group or the link count, hence the states.
    int state = 1;
    int pos = 0;
    Number lastNumber = 0, size = 0, day = 0, year = 0, hour = 0, minute = 0;
    int month = 0;
    while (state < 8) {
        while (pos < length && line[pos] == ' ') ++pos;
        if (pos >= length) return 0;
        const char* field = line + pos;
        while (pos < length && line[pos] != ' ') ++pos;
        const int fieldLength = int(line + pos - field);
        switch (state) {
        case 1: state = 2; break;
        case 2: state = fieldLength == 6 && field[0] == 'f' ? 4 : 3; break;
        case 3: state = 4; break;
        case 4:
            lastNumber = readNumber(field, fieldLength);
            state = 5;
            break;
        case 5:
            month = monthIndex(field, fieldLength);
            if (month >= 0) {
                size = lastNumber;
                state = 6;
            } else {
                lastNumber = readNumber(field, fieldLength);
            }
            break;
        case 6:
            day = readNumber(field, fieldLength);
            state = 7;
            break;
        default:
            if (fieldLength == 4 && field[1] == ':') {
                hour = readNumber(field, 1);
                minute = readNumber(field + 2, 2);
                entry->timeKind = TimeKind::Minute;
            } else if (fieldLength == 5 && field[2] == ':') {
                hour = readNumber(field, 2);
                minute = readNumber(field + 3, 2);
                entry->timeKind = TimeKind::Minute;
            } else if (fieldLength >= 4) {
                year = readNumber(field, fieldLength);
                entry->timeKind = TimeKind::Day;
            } else {
                return 0;
            }
            if (pos >= length) return 0;  // no blank, so no name
            entry->name = line + pos + 1;
            entry->nameLength = length - pos - 1;
            state = 8;
            break;
        }
    }
    entry->sizeKind = SizeKind::Exact;
    entry->size = std::int64_t(size);
    entry->time = entry->timeKind == TimeKind::Day
                      ? localTime(daysToSeconds(std::int64_t(year), month, std::int64_t(day)), 0, 0)
                      : localTime(guessDate(month, day), hour, minute);

    if (line[0] == 'l' && entry->nameLength >= 4) {
        for (int i = 0; i + 4 <= entry->nameLength; ++i) {
            if (std::memcmp(entry->name + i, " -> ", 4) == 0) {
                entry->nameLength = i;
                break;
            }
        }
    }
    if ((line[1] == ' ' || line[1] == '[') && entry->nameLength >= 4 && std::memcmp(entry->name, "   ", 3) == 0) {
        entry->name += 3;
        entry->nameLength -= 3;
    }
    return 1;
}

}  // namespace

int monthIndex(const char* text, int length) {
    static const char names[12][4] = {"jan", "feb", "mar", "apr", "may", "jun",
                                      "jul", "aug", "sep", "oct", "nov", "dec"};
    if (length != 3) return -1;
    for (int month = 0; month < 12; ++month) {
        bool matches = true;
        for (int i = 0; i < 3 && matches; ++i) {
            matches = text[i] == names[month][i] || text[i] == names[month][i] - 32;
        }
        if (matches) return month;
    }
    return -1;
}

std::int64_t daysToSeconds(std::int64_t year, std::int64_t month, std::int64_t day) {
    // The year is counted from 1 March, so that a leap day ends it. Wrapping unsigned
    // arithmetic keeps absurd inputs defined.
    const bool early = month < 2;
    const auto y = std::int64_t(Number(year) - (early ? 1 : 0));
    const auto m = std::int64_t(early ? Number(month) + 10 : Number(month) - 2);
    const std::int64_t era = y / 400 - (y % 400 < 0 ? 1 : 0);  // 400-year blocks of 146097 days
    const Number yearOfEra = Number(y) - Number(era) * 400;
    const Number dayOfYear = Number(std::int64_t(Number(306) * Number(m) + Number(10) * Number(day) - 5) / 10);
    const Number dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const Number daysSince1970 = Number(era) * 146097 + dayOfEra - 719468;
    return std::int64_t(daysSince1970 * 86400);
}

std::int64_t localOffset() {
    static const std::int64_t offset = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return std::int64_t(local.tm_gmtoff);
    }();
    return offset;
}

ReferenceTime referenceTime() {
    const std::int64_t now = std::int64_t(std::time(nullptr)) - localOffset();
    static const int currentYear = [now] {
        const std::time_t seconds = std::time_t(now);
        std::tm civil{};
        gmtime_r(&seconds, &civil);
        return civil.tm_year + 1900;
    }();
    return {now, currentYear};
}

int parseListingLine(RemoteEntry* entry, const char* line, int length) {
    *entry = RemoteEntry{};
    if (length < 2) return 0;
    switch (line[0]) {
    case '+': return parseFacts(entry, line, length);
    case '-':
    case 'b':
    case 'c':
    case 'd':
    case 'l':
    case 'p':
    case 's': return parseUnix(entry, line, length);
    default: break;
    }
    if (const auto* semicolon = static_cast<const char*>(std::memchr(line, ';', std::size_t(length)))) {
        return parseVms(entry, line, length, int(semicolon - line));
    }
    if (line[0] >= '0' && line[0] <= '9') return parseMsDos(entry, line, length);
    return 0;
}

}  // namespace ftp
