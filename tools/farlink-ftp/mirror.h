// farlink-ftp mirror: brings a local folder tree and a server folder tree into agreement,
// one way, through the program's sessions: what differs is copied, and with --delete
// what the source does not have is removed. Links are never followed, copied or removed
// on either side.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "session/server_session.h"

namespace mirror {

// A new temporary file (under $TMPDIR, else /tmp) for a listing; empty when none could be
// made. Every command that lists uses one.
std::string temporaryListingFile();

struct Options {
    bool reverse = false;     // the local folder is the source
    bool remove = false;      // --delete
    bool dryRun = false;      // print the actions, change nothing
    bool sizeOnly = false;    // a file of the same size is the same file
    int timeoutSeconds = 60;  // --timeout, which a failure's reason names
};

// Up to `count` more sessions like the first; fewer when some cannot be opened (each
// said on stderr).
using OpenServers = std::function<std::vector<session::ServerSession*>(int count)>;

// Prints one line per action ("get PATH", "put PATH", "mkdir PATH", "rm PATH",
// "rmdir PATH", "skip PATH: why"; paths below the two folders, '/' between names): all
// of them first with dryRun, else each as it succeeds, with a summary line last.
// `lister` lists and acts; once the plan holds more than one action, `openMore` gives up
// to parallel - 1 more sessions, and actions run at once over all of them, one path
// at a time on each: yet a folder is made before anything goes into it and removed after
// what was in it, and removals run only once every copy succeeded. A download checks the
// size the listing gave. Returns the exit status: 0 when every action succeeded, 1
// otherwise (the failures on stderr, their reasons as farlink-ftp prints a server's).
int run(session::ServerSession& lister, int parallel, const OpenServers& openMore, const std::string& remoteFolder,
        const std::string& localFolder, const Options& options);

}  // namespace mirror
