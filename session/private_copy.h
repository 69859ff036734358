// A server file viewed or edited on this machine: downloaded into a private copy (in a
// folder of its own, mode 0700) with what the server said of the file then, and after an
// edit sent back only when its bytes changed and the server's file is still as it was.
// For the program and farlink-ftp alike; the program that shows the copy and the
// questions to the user are the caller's.
#pragma once

#include <cstdint>
#include <string>

#include "session/server_session.h"

namespace session {

// What the server says of a file: its size and its time to the second; -1 where it says
// nothing.
struct ServerFileFacts {
    std::int64_t size = -1;
    std::int64_t time = -1;
    friend bool operator==(const ServerFileFacts&, const ServerFileFacts&) = default;
};
ServerFileFacts serverFileFacts(ServerSession& session, const std::string& path);

struct PrivateCopy {
    std::string remotePath;
    std::string folder;     // made for the copy; empty when there is none
    std::string path;       // the copy, named as the server's file
    std::string original;   // for an edit: the bytes as downloaded, which tell whether it changed
    ServerFileFacts facts;  // the server's file when it was downloaded
};

// Downloads the server's file `remotePath` into a new private folder in `parent`; for an
// edit (`keepOriginal`) its bytes are also kept aside. 1, or 0 with the reason (nothing
// is left behind then).
int fetchPrivateCopy(ServerSession& session, const std::string& remotePath, const std::string& parent,
                     bool keepOriginal, PrivateCopy& copy, std::string& reason);

// Whether the copy's bytes differ from those downloaded, whatever its time. A copy that
// cannot be read counts as changed, so that it is never dropped unseen.
bool copyChanged(const PrivateCopy& copy);

enum class SendBack { sent, changedOnServer, failed };
// Uploads the copy onto the server's file (the session's upload: through a temporary
// name, renamed onto the file once whole). Unless `evenIfChanged`, only while the server's
// file is as it was when downloaded: same size, same time.
SendBack sendBack(ServerSession& session, const PrivateCopy& copy, bool evenIfChanged, std::string& reason);

// Moves the copy into `folder` as "NAME (edited YYYY-MM-DD HH-MM)" in local time (with
// " (2)", " (3)" ... after it when that is taken), never replacing a file. Its path, or empty
// with the reason.
std::string keepUserVersion(const PrivateCopy& copy, const std::string& folder, std::string& reason);

// Removes the private folder with what it holds (an editor's backup files too).
void removePrivateCopy(PrivateCopy& copy);

}  // namespace session
