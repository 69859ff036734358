// farlink-ftp mirror: brings a local folder tree and a server folder tree into agreement,
// one way, through whichever engine the address names: what differs is copied, and with
// --delete what the source does not have is removed. Links are never followed, copied
// or removed on either side.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mirror {

// The server's side, over one logged-in connection. Results: 1 success, 0 failure with
// the reason in reason().
class Server {
public:
    virtual ~Server() = default;
    // The listing of `folder` in a form ftp::parseListingLine reads, into the file
    // `listingPath`.
    virtual int listToFile(const std::string& folder, const std::string& listingPath) = 0;
    // `local` is replaced only by a whole file.
    virtual int get(const std::string& remote, const std::string& local) = 0;
    virtual int put(const std::string& local, const std::string& remote) = 0;
    // The file's exact modification time in seconds since 1970 UTC, -1 when the server
    // gives none.
    virtual std::int64_t modificationTime(const std::string& path) = 0;
    // Sets it: 1 set, 0 failed, -1 when the server has no way to set a time.
    virtual int setModificationTime(const std::string& path, std::int64_t time) = 0;
    virtual int makeFolder(const std::string& path) = 0;
    virtual int removeFile(const std::string& path) = 0;
    virtual int removeFolder(const std::string& path) = 0;
    virtual std::string reason() const = 0;
};

// A new temporary file (under $TMPDIR, else /tmp) for a listing; empty when none could be
// made. Every command that lists uses one.
std::string temporaryListingFile();

struct Options {
    bool reverse = false;   // the local folder is the source
    bool remove = false;    // --delete
    bool dryRun = false;    // print the actions, change nothing
    bool sizeOnly = false;  // a file of the same size is the same file
};

// Up to `count` more connections like the first, each behind a server object of its own;
// fewer when some cannot be opened (each said on stderr).
using OpenServers = std::function<std::vector<Server*>(int count)>;

// Prints one line per action ("get PATH", "put PATH", "mkdir PATH", "rm PATH",
// "rmdir PATH", "skip PATH: why"; paths below the two folders, '/' between names): all
// of them first with dryRun, else each as it succeeds, with a summary line last.
// `lister` lists and acts; once the plan holds more than one action, `openMore` gives up
// to parallel - 1 more connections, and actions run at once over all of them, one path
// at a time on each: yet a folder is made before anything goes into it and removed after
// what was in it, and removals run only once every copy succeeded. Returns the exit
// status: 0 when every action succeeded, 1 otherwise (the failures on stderr).
int run(Server& lister, int parallel, const OpenServers& openMore, const std::string& remoteFolder,
        const std::string& localFolder, const Options& options);

}  // namespace mirror
