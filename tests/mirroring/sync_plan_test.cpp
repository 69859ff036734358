// The plan of a synchronisation, as tables of two trees and the actions they call for.
#include "mirroring/sync_plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "ftp/machine_listing.h"
#include "mirroring/sync_trees.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace mirroring;
using test_support::ScopedVariable;
using test_support::TemporaryFolder;

SyncEntry folder(const std::string& path) { return {path, true}; }
SyncEntry file(const std::string& path, std::int64_t size, std::int64_t time, std::int64_t precision = 0) {
    return {path, false, size, time, precision};
}

// "copy a (new)" per action, in order.
std::string planned(const std::vector<SyncEntry>& source, const std::vector<SyncEntry>& target,
                    SyncOptions options = {}) {
    static const char* const verbs[] = {"copy", "mkdir", "rm", "rmdir", "skip"};
    std::string text;
    for (const SyncAction& action : planSync(source, target, options))
        text += std::string(verbs[int(action.kind)]) + " " + action.path + " (" + action.reason + ")\n";
    return text;
}

TEST(SyncPlan, CopiesWhatIsNewOfAnotherSizeOrNewerBeyondTheTimesPrecision) {
    const std::vector<SyncEntry> target = {file("same", 1, 100), file("other", 1, 100), file("minute", 1, 100, 60),
                                           file("later", 1, 100)};
    const std::vector<SyncEntry> source = {file("same", 1, 100),  file("other", 2, 100), file("minute", 1, 150),
                                           file("later", 1, 101), folder("new"),         file("new/f", 1, 1)};
    EXPECT_EQ(planned(source, target),
              "copy later (newer)\nmkdir new (new)\ncopy new/f (new)\ncopy other (size differs)\n");
    EXPECT_EQ(planned(source, target, {.sizeOnly = true}),
              "mkdir new (new)\ncopy new/f (new)\ncopy other (size differs)\n");
}

// What the source lacks goes last, deepest first; a name that is a folder on one side and
// a file on the other is left alone on both, with all that lies below it.
TEST(SyncPlan, RemovesLastDeepestFirstAndLeavesAConflictAndWhatIsBelowIt) {
    const std::vector<SyncEntry> source = {folder("clash"), file("clash/in", 1, 1), file("kept", 1, 1)};
    const std::vector<SyncEntry> target = {file("clash", 1, 1), folder("gone"), file("gone/f", 1, 1),
                                           folder("gone/deeper"), file("kept", 1, 1)};
    EXPECT_EQ(planned(source, target, {.mirror = true}),
              "skip clash (a folder on one side and a file on the other)\nrm gone/f (not on the other side)\n"
              "rmdir gone/deeper (not on the other side)\nrmdir gone (not on the other side)\n");
    EXPECT_EQ(planned(target, source, {.mirror = true}),
              "skip clash (a folder on one side and a file on the other)\nmkdir gone (new)\n"
              "mkdir gone/deeper (new)\ncopy gone/f (new)\n");
}

// A link on one side holds its name on both: no copy goes through it, nothing is removed
// for want of it, and what a held folder's name covers stays as it is.
TEST(SyncPlan, DoesNothingOnOrBelowAHeldName) {
    const std::vector<SyncEntry> source = {file("link", 1, 1), folder("dir"), file("dir/f", 1, 1), file("ok", 1, 1)};
    const std::vector<SyncEntry> target = {file("linked", 1, 1), file("dir/old", 1, 1)};
    EXPECT_EQ(planned(source, target, {.mirror = true, .held = {"link", "linked", "dir"}}), "copy ok (new)\n");
}

// What a tree leaves alone, a line each, sorted: "skip PATH: why", "hold PATH: why".
std::string leftAlone(const SyncTree& tree) {
    std::vector<std::string> lines;
    for (const SkippedEntry& skipped : tree.skipped)
        lines.push_back("skip " + skipped.path + ": " + skipped.why + "\n");
    for (const SkippedEntry& held : tree.held) lines.push_back("hold " + held.path + ": " + held.why + "\n");
    std::sort(lines.begin(), lines.end());
    return std::accumulate(lines.begin(), lines.end(), std::string());
}

// A table of listing lines and a device folder with the same names: what cannot stand
// for one entry, a link, a name listed as two kinds and a folder not read whole are left
// alone on both sides, with what holds them; Farlink's own files never count; a time
// before 1970 is unknown; a walk ends 64 levels down.
TEST(SyncTrees, LeaveAloneOnBothSidesWhatEitherCannotReadWhole) {
    TemporaryFolder top;
    const std::string listed = ftp::skippedFactLine("caf\xe9.txt") + ftp::skippedFactLine("cr\r") +
                               "+r,s3,m1700000000,\tok\n+r,/,\tlinked\n+/,\tlocked\n"
                               "-rw-r--r-- 1 u g 5 Jan 01  1960 old\n+r,s1,\t.farlink-0123456789abcdef.part\n"
                               "drwxr-xr-x 1 u g 0 Jan 01  2020 twice\n-rw-r--r-- 1 u g 1 Jan 01  2020 twice\n"
                               "-rw-r--r-- 1 u g 1 Jan 01  2020 lf\r\n";
    const ListFolderBy list = [&](int, const std::string& folder, const std::string& file, std::string& reason) {
        reason = "226 Transfer done (but failed to open directory).\r\n";
        std::ofstream(file) << (folder == "/s/" ? listed : "+/,\td\n");  // elsewhere folders without end
        return folder != "/s/locked";
    };
    const SyncTree server = readServerTree(list, "/s/", top / "listing");
    EXPECT_EQ(leftAlone(server),
              "hold locked: cannot be listed: 226 Transfer done (but failed to open directory).\n"
              "skip caf\xe9.txt: not UTF-8\nskip cr\r: a line end in its name\nskip lf\r: a line end in its name\n"
              "skip linked: a link\nskip twice: listed twice as different kinds\n");
    for (const char* name :
         {"caf\xe9.txt", "old", "gone", "twice", "locked/f", "cache/farlink/x", ".farlink-0123456789abcdef.part"}) {
        std::filesystem::create_directories(std::filesystem::path(top / "d").append(name).parent_path());
        test_support::writeFile(top / ("d/" + std::string(name)), "12345");
    }
    std::filesystem::create_symlink("old", top / "d/linked");
    const ScopedVariable cache("XDG_CACHE_HOME", top / "d/cache");
    const SyncTree device = readDeviceTree(top / "d");
    EXPECT_EQ(leftAlone(device),
              "skip cache/farlink: Farlink's own folder\nskip caf\xe9.txt: not UTF-8\nskip linked: a link\n");
    EXPECT_EQ(device.temporaries, std::vector<std::string>{".farlink-0123456789abcdef.part"});
    std::string text;
    for (const SyncAction& action : planTrees(server, device, {.mirror = true}))
        text += action.path + " (" + action.reason + ")\n";
    EXPECT_EQ(text, "ok (new)\nold (time unknown, compared by size only)\ngone (not on the other side)\n");

    const SyncTree endless = readServerTree(list, "/e/", top / "listing");
    EXPECT_EQ(endless.entries.size(), std::size_t(deepestLevel));
    EXPECT_EQ(leftAlone(endless), "hold " + endless.entries.back().path + ": more than 64 levels deep\n");
}

// A server listing its files in its own zone, 2 hours ahead: only the files whose listed
// time alone would copy them are asked about, either way, and their exact times decide.
TEST(ConfirmListedTimes, AsksOnlyWhatTheListedTimeAloneWouldCopy) {
    const std::int64_t ahead = 7200;
    const std::vector<SyncEntry> device = {file("same", 1, 100000),   file("changed", 1, 100000),
                                           file("silent", 1, 100000), file("sized", 1, 100000),
                                           file("exact", 1, 100000),  file("close", 1, 100000)};
    const std::vector<SyncEntry> listed = {
        file("same", 1, 100000 + ahead, 60),   file("changed", 1, 500000 + ahead, 60),
        file("silent", 1, 100000 + ahead, 60), file("sized", 2, 100000 + ahead, 60),
        file("exact", 1, 100000, 0),           file("close", 1, 100030, 60)};
    std::vector<std::string> asked;
    const ExactTime exactTime = [&](const std::string& path) -> std::int64_t {
        asked.push_back(path);
        return path == "silent" ? -1 : path == "changed" ? 500000 : 100000;
    };
    std::vector<SyncEntry> server = listed;
    EXPECT_EQ(confirmListedTimes(server, device, true, {}, exactTime), 3);
    EXPECT_EQ(asked, (std::vector<std::string>{"same", "changed", "silent"}));
    EXPECT_EQ(planned(server, device), "copy changed (newer)\ncopy silent (newer)\ncopy sized (size differs)\n");
    // Uploading, the device's files are the newer side: a server behind by the zone is asked.
    for (SyncEntry& entry : server = listed) entry.time -= 2 * ahead;
    asked.clear();
    EXPECT_EQ(confirmListedTimes(server, device, false, {}, exactTime), 3);
    EXPECT_EQ(asked, (std::vector<std::string>{"same", "silent", "close"}));
}

}  // namespace
