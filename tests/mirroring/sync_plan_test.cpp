// The plan of a synchronisation, as tables of two trees and the actions they call for.
#include "mirroring/sync_plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mirroring/sync_trees.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace mirroring;
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

// A device link is skipped under its own name, however far up it points, and holds that
// name: a file of that name on the server is never copied through it.
TEST(SyncTrees, ADeviceLinkHoldsItsOwnName) {
    TemporaryFolder top;
    std::filesystem::create_directories(top / "docs");
    std::ofstream(top / "outside.txt") << "mine";
    std::filesystem::create_symlink("../outside.txt", top / "docs/linked.txt");
    const SyncTree device = readDeviceTree(top / "docs");
    ASSERT_EQ(device.skipped.size(), 1u);
    EXPECT_EQ(device.skipped[0].path, "linked.txt");
    SyncTree server;
    server.entries = {file("linked.txt", 5, 1)};
    EXPECT_TRUE(planTrees(server, device, {.mirror = true}).empty());
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
