// The plan of a synchronisation: what to do so that a target folder tree holds what a
// source tree holds, from the two trees' entries alone (either side may be the device or
// a server). A pure function, so that the program's preview and the command line's
// mirror make the same decisions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mirroring {

// One entry of a tree: its path below the tree's top, '/' between names.
struct SyncEntry {
    std::string path;
    bool folder = false;
    std::int64_t size = -1;          // files; -1 unknown
    std::int64_t time = -1;          // seconds since 1970 UTC; below 0 unknown (none, or before 1970)
    std::int64_t timePrecision = 0;  // seconds either way the time may be off (a listing's minute: 60)
    int mode = -1;                   // permission bits (& 0777); -1 unknown
};

enum class SyncActionKind { copy, makeFolder, removeFile, removeFolder, skip };

struct SyncAction {
    SyncActionKind kind;
    std::string path;
    std::string reason;  // "new", "newer", "size differs", "not on the other side", ...
};

struct SyncOptions {
    bool mirror = false;    // also remove what the source does not have
    bool sizeOnly = false;  // a file of the same size is the same file
    // Paths that one side has but could not read as a file or folder (a link, a name the
    // other side cannot use), or folders it could not read whole ("": the top): nothing
    // is done on them or below them, on either side, so that no copy goes through a link
    // and nothing is removed for want of it.
    std::vector<std::string> held = {};
};

// Whether the plan path `path` lies inside the folder `folder` ('/' between names).
bool isBelow(std::string_view path, std::string_view folder);

// The actions, in an order that can be carried out one after the other: folders before
// what goes into them, every copy before any removal, and a folder's contents removed
// before the folder. A name that is a folder on one side and a file on the other is
// skipped, saying so: neither side's entry is replaced by the other's kind. A file of the
// same size on both sides whose time is unknown on one (none listed, or before 1970) is
// compared by its size alone: a skip says so.
std::vector<SyncAction> planSync(const std::vector<SyncEntry>& source, const std::vector<SyncEntry>& target,
                                 const SyncOptions& options);

// The exact time of a server file (a path as the server's entries name it), in seconds
// since 1970 UTC; -1 when the server gives none.
using ExactTime = std::function<std::int64_t(const std::string& path)>;

// Call before planSync, with the same options. A listing's time may be rounded to the
// minute or the day, or be in the server's own zone: a file may then look newer on one
// side by the time alone with nothing changed. This asks `exactTime` for just those
// server files whose listed time alone would make planSync copy them (both sides hold
// the file, of one size, and the source is later by more than the precision), and
// gives each the exact time with a precision of 0; one the server gives no time for
// stays as listed. When the zones agree and nothing changed, nothing is asked; an
// exact listing (MLSD, SFTP) is never asked about. Returns how many were asked.
int confirmListedTimes(std::vector<SyncEntry>& server, const std::vector<SyncEntry>& device, bool serverIsSource,
                       const SyncOptions& options, const ExactTime& exactTime);

}  // namespace mirroring
