// The listing parser: tables of lines, the year guess, lines cut off and random lines
// (real servers' listings: ftp_real_server_test).
#include "ftp/listing_parser.h"

#include <gtest/gtest.h>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <sstream>

namespace {

using namespace ftp;

constexpr std::int64_t day = 86400;

std::int64_t at(int year, int month, int dayOfMonth, int hour = 0, int minute = 0) {
    return daysToSeconds(year, month - 1, dayOfMonth) + hour * 3600 + minute * 60 + localOffset();
}

struct Expected {
    std::string name;
    int mayBeFolder;
    int mayBeFile;
    SizeKind sizeKind;
    std::int64_t size;
    TimeKind timeKind;
    std::int64_t time;
    std::string id = "";
};

std::string describe(const Expected& entry) {
    std::ostringstream text;
    text << "name='" << entry.name << "' folder " << entry.mayBeFolder << " file " << entry.mayBeFile << " size "
         << int(entry.sizeKind) << "/" << entry.size << " time " << int(entry.timeKind) << "/" << entry.time << " id '"
         << entry.id << "'";
    return text.str();
}

std::string describe(const RemoteEntry& entry) {
    return describe({std::string(entry.name ? entry.name : "", std::size_t(entry.nameLength)), entry.mayBeFolder,
                     entry.mayBeFile, entry.sizeKind, entry.size, entry.timeKind, entry.time,
                     std::string(entry.id ? entry.id : "", std::size_t(entry.idLength))});
}

TEST(ListingParser, ReadsEachStyle) {
    const std::pair<std::string, Expected> cases[] = {
        {"-rw-r--r--   1 owner    group        1234 Mar 15  2005 notes.txt\n",
         {"notes.txt\n", 0, 1, SizeKind::Exact, 1234, TimeKind::Day, at(2005, 3, 15)}},
        {"drwxr-xr-x 2 u g 4096 Jan 3 2005 sub\n",
         {"sub\n", 1, 0, SizeKind::Exact, 4096, TimeKind::Day, at(2005, 1, 3)}},
        {"lrwxrwxrwx 1 u g 7 Jan 3 2005 link -> target\n",
         {"link", 1, 1, SizeKind::Exact, 7, TimeKind::Day, at(2005, 1, 3)}},
        {"-rw-r--r-- 1 owner 1234 Jan 3 2005 only owner\n",
         {"only owner\n", 0, 1, SizeKind::Exact, 1234, TimeKind::Day, at(2005, 1, 3)}},
        {"-rw-r--r-- 1 u g 5000000000 Feb 29 2040 huge  name \n",
         {"huge  name \n", 0, 1, SizeKind::Exact, 5000000000, TimeKind::Day, at(2040, 2, 29)}},
        {"drwxr-xr-x folder 0 Jan 3 2005 no links\n",
         {"no links\n", 1, 0, SizeKind::Exact, 0, TimeKind::Day, at(2005, 1, 3)}},
        {"- [RWCEAFMS] owner      1234 Jan  3  2005    netware\n",
         {"netware\n", 0, 1, SizeKind::Exact, 1234, TimeKind::Day, at(2005, 1, 3)}},
        {"prw-r--r-- 1 u g 0 Jan 3 2005 pipe\n", {"pipe\n", 0, 0, SizeKind::Exact, 0, TimeKind::Day, at(2005, 1, 3)}},
        {"04-27-00  09:09PM       <DIR>          Program Files\n",
         {"Program Files\n", 1, 0, SizeKind::None, 0, TimeKind::Minute, at(2000, 4, 27, 21, 9)}},
        {"12-31-99  12:15AM                 2048 file.txt\n",
         {"file.txt\n", 0, 1, SizeKind::Exact, 2048, TimeKind::Minute, at(1999, 12, 31, 0, 15)}},
        {"01-02-2024  11:00AM  6000000000 big.iso\n",
         {"big.iso\n", 0, 1, SizeKind::Exact, 6000000000, TimeKind::Minute, at(2024, 1, 2, 11, 0)}},
        {"CORE.DIR;1          1/3          5-JUL-2002 13:28:44  [SYSTEM]  (RWE,RWE,RE,RE)\n",
         {"CORE", 1, 0, SizeKind::None, 0, TimeKind::Minute, at(2002, 7, 5, 13, 28)}},
        {"README.TXT;4   2/4  14-SEP-1999 09:01:02  [SYSTEM] (RWED)\n",
         {"README.TXT", 0, 1, SizeKind::None, 0, TimeKind::Minute, at(1999, 9, 14, 9, 1)}},
        {".DIR;1 1 1-jan-2000 00:00\n", {".DIR", 0, 1, SizeKind::None, 0, TimeKind::Minute, at(2000, 1, 1)}},
        {"+i8388621.29609,m824255902,/,\tdev\n",
         {"dev\n", 1, 0, SizeKind::None, 0, TimeKind::Second, 824255902 + localOffset(), "8388621.29609"}},
        {"+r,s5000000000,m4102444800,\tbig file\n",
         {"big file\n", 0, 1, SizeKind::Exact, 5000000000, TimeKind::Second, 4102444800 + localOffset()}},
    };
    for (const auto& [line, expected] : cases) {
        RemoteEntry entry;
        ASSERT_EQ(1, parseListingLine(&entry, line.data(), int(line.size()))) << line;
        EXPECT_EQ(describe(expected), describe(entry)) << line;
    }
}

TEST(ListingParser, RejectsWhatIsNoEntry) {
    const std::string lines[] = {
        "",
        "x",
        "\n",
        "total 12\n",
        "220 banner line\n",
        "-rw-r--r-- 1 u g 12 Jan 3\n",            // ends before its time field
        "-rw-r--r-- 1 u g 12 Jan 3 2005",         // ends without a name
        "-rw-r--r-- 1 u g 12 Jan 3 123 name\n",   // a year field of three characters
        "-rw-r--r-- 1 u g 12 Jab 3 2005 name\n",  // no month at all
        "A.TXT;1 1 5-XYZ-2002 13:28\n",
        "A.TXT;1 1 5-JUL-2002\n",
        "04-27-00  09:09PM       <DIR>\n",
        "04-27-00  09:09\n",
        "12-31-99\n",
        "+/,m1,s4\n",  // facts without a TAB
    };
    for (const std::string& line : lines) {
        RemoteEntry entry;
        EXPECT_EQ(0, parseListingLine(&entry, line.data(), int(line.size()))) << line;
    }
}

TEST(ListingParser, MonthNamesAndDays) {
    const std::pair<std::string, int> months[] = {{"Jan", 0}, {"mAY", 4},   {"DEC", 11},
                                                  {"Ja", -1}, {"June", -1}, {"J@N", -1}};
    for (const auto& [text, index] : months) EXPECT_EQ(index, monthIndex(text.data(), int(text.size()))) << text;

    struct Day {
        int year, month, dayOfMonth;
        std::int64_t seconds;
    };
    const Day days[] = {
        {1970, 0, 1, 0},           {2000, 1, 29, 951782400},             // a leap day of a 400-year
        {2100, 2, 1, 4107542400},  {2100, 1, 30, 4107456000 + 2 * day},  // 2100 is no leap year
        {2038, 0, 19, 2147472000}, {2038, 0, 20, 2147558400},            // past 32 bits the next day
        {1969, 11, 31, -day},
    };
    for (const auto& [year, month, dayOfMonth, seconds] : days) {
        EXPECT_EQ(seconds, daysToSeconds(year, month, dayOfMonth)) << year << " " << month << " " << dayOfMonth;
    }
}

// A time of day comes without a year: the year is the one that puts the date less than
// 350 days before today, or after it.
TEST(ListingParser, GuessesTheYearOfATimeOfDay) {
    const ReferenceTime reference = referenceTime();
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Days from today, and how many years the guess puts the line's date back.
    const std::pair<int, int> cases[] = {{-10, 0}, {-200, 0}, {2, 0}, {20, 1}, {100, 1}};
    for (const auto& [offsetDays, yearsBack] : cases) {
        const std::time_t when = std::time_t(reference.time + offsetDays * day);
        std::tm date{};
        gmtime_r(&when, &date);
        char line[128];
        std::snprintf(line, sizeof line, "-rw-r--r-- 1 u g 1 %s %2d %02d:%02d name\n", months[date.tm_mon],
                      date.tm_mday, 7, 5);
        RemoteEntry entry;
        ASSERT_EQ(1, parseListingLine(&entry, line, int(std::strlen(line)))) << line;
        EXPECT_EQ(TimeKind::Minute, entry.timeKind);
        EXPECT_EQ(at(date.tm_year + 1900 - yearsBack, date.tm_mon + 1, date.tm_mday, 7, 5), entry.time) << line;
    }
}

// Lines of every style cut at every length, and random lines, each in a buffer of
// exactly its length so that a read past its end shows under AddressSanitizer.
TEST(ListingParser, NeverReadsPastTheLine) {
    const std::string samples[] = {
        "-rw-r--r--   1 owner    group        1234 Mar 15 14:30 notes.txt\n",
        "lrwxrwxrwx 1 u g 7 Jan 3 2005 link -> target\n",
        "- [RWCEAFMS] owner      1234 Jan  3  2005    netware\n",
        "04-27-00  09:09PM       <DIR>          Program Files\n",
        "CORE.DIR;1          1/3          5-JUL-2002 13:28:44  [SYSTEM]  (RWE,RWE,RE,RE)\n",
        "+i8388621.29609,m824255902,/,s12,\tdev\n",
    };
    std::vector<std::string> lines;
    for (const std::string& sample : samples) {
        for (std::size_t length = 0; length <= sample.size(); ++length) lines.push_back(sample.substr(0, length));
    }
    std::mt19937 random(20240605);
    const std::string alphabet = "-+ldbcps;:<>,/\t\n\r 0123456789AMPDIR.JanFebSepjul[]rsmi\x80\xff";
    for (int i = 0; i < 100000; ++i) {
        std::string line(random() % 80, ' ');
        for (char& character : line) character = alphabet[random() % alphabet.size()];
        lines.push_back(line);
    }
    for (const std::string& line : lines) {
        const auto copy = std::make_unique<char[]>(line.size() + (line.empty() ? 1 : 0));
        std::memcpy(copy.get(), line.data(), line.size());
        RemoteEntry entry;
        const int result = parseListingLine(&entry, copy.get(), int(line.size()));
        ASSERT_TRUE(result == 0 || result == 1);
        if (!result) continue;
        const char* end = copy.get() + line.size();
        ASSERT_TRUE(entry.name >= copy.get() && entry.nameLength >= 0 && entry.name + entry.nameLength <= end) << line;
        if (entry.idKind) {
            ASSERT_TRUE(entry.id >= copy.get() && entry.id + entry.idLength <= end) << line;
        }
    }
}

}  // namespace
