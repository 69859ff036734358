// MLSD lines turned into fact lines: a table of lines, hostile ones among them, with
// what the listing parser then reads from each.
#include "ftp/machine_listing.h"
#include "ftp/listing_parser.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace ftp;

// "left out", or what the parser reads from the fact line: "file NAME size S time T",
// "folder NAME ...", "link NAME" (S and T "-" when there is none; T in UTC), then
// "mode M" where it gives permission bits; or "skipped NAME" for a skipped line.
std::string readBack(std::string_view machineLine) {
    const std::string line = factLineFromMachineLine(machineLine);
    if (line.empty()) return "left out";
    if (line.back() != '\n') return "no line end: " + line;
    if (const auto skipped = nameOfSkippedLine(std::string_view(line).substr(0, line.size() - 1)))
        return "skipped " + *skipped;
    RemoteEntry entry;
    if (!parseListingLine(&entry, line.data(), int(line.size()) - 1)) return "unreadable: " + line;
    const std::string name(entry.name, std::size_t(entry.nameLength));
    if (entry.mayBeFile && entry.mayBeFolder) return "link " + name;
    std::string text = (entry.mayBeFolder ? "folder " : entry.mayBeFile ? "file " : "neither ") + name;
    text += " size " + (entry.sizeKind == SizeKind::Exact ? std::to_string(entry.size) : std::string("-"));
    text += " time " + (entry.timeKind == TimeKind::Second ? std::to_string(entry.time - localOffset()) : "-");
    if (entry.mode >= 0)
        text += " mode " + std::to_string(entry.mode >> 6) + std::to_string(entry.mode >> 3 & 7) +
                std::to_string(entry.mode & 7);
    return text;
}

TEST(MachineListing, GivesExactEntriesAndMarksWhatItCannotReadAsLinksOrSkipped) {
    const std::pair<const char*, const char*> cases[] = {
        {"type=file;size=4096;modify=20240102030405.123;perm=r;unique=801g; notes.txt\r\n",
         "file notes.txt size 4096 time 1704164645"},
        {"Type=DIR;Modify=20240102030405;Size=4096;perm=el; photos\n", "folder photos size - time 1704164645"},
        {"unix.mode=0640;type=file;size=5000000000; big  name \n", "file big  name  size 5000000000 time - mode 640"},
        {"type=file; no size", "file no size size - time -"},
        {"type=file;size=1; x;y=z; \t", "file x;y=z; \t size 1 time -"},
        {"type=file;size=1; ../../etc/passwd", "file ../../etc/passwd size 1 time -"},
        // "." and "..", and lines without a name.
        {"type=cdir;modify=20240102030405; /home/user", "left out"},
        {"type=PDIR; ..", "left out"},
        {"type=file;size=5;", "left out"},
        {"type=file;size=5; ", "left out"},
        {"type=file;size=5; \r\n", "left out"},
        // A line end in a name: the name whole, never cut.
        {"type=file;size=5; a\n+/,\tforged", "skipped a\n+/,\tforged"},
        {"type=file;size=2; cr\r", "skipped cr\r"},
        {"type=file;size=2; 100%\rx\r\n", "skipped 100%\rx"},
        {"", "left out"},
        // Kinds that are neither file nor folder.
        {"type=OS.unix=symlink;modify=20240102030405; latest", "link latest"},
        {"type=OS.unix=slink:/etc; etc", "link etc"},
        {"type=OS.unix=chr-13/29; tty", "link tty"},
        // Facts that cannot be read exactly; a time that cannot is unknown.
        {"size=1; untyped", "link untyped"},
        {" bare", "link bare"},
        {"type=file;size=1 no semicolon", "link no semicolon"},
        {"type=file;size; no value", "link no value"},
        {"type=file;=1; no fact name", "link no fact name"},
        {"type=file;type=dir; twice", "link twice"},
        {"type=file;size=1;size=2; two sizes", "link two sizes"},
        {"type=file;size=12a; letters", "link letters"},
        {"type=file;size=-1; negative", "link negative"},
        {"type=file;size=; empty size", "link empty size"},
        {"type=file;size=9999999999999999999; beyond", "link beyond"},
        {"type=file;modify=20240230000000; day 30 of february", "file day 30 of february size - time -"},
        {"type=file;modify=2024010203040; short time", "file short time size - time -"},
        {"type=file;modify=20240102030405.; no fraction", "file no fraction size - time -"},
        {"type=file;modify=20240102030405Z; zone", "file zone size - time -"},
        {"type=dir;modify=19691231235959; before 1970", "folder before 1970 size - time -"},
        {"type=file;modify=20240102030405.123456789012345678901234567890; long fraction",
         "file long fraction size - time 1704164645"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(expected, readBack(line)) << '"' << line << '"';
}

}  // namespace
