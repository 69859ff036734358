// farlink-ftp edit: a server file changed with the user's editor on this terminal, as
// Edit File does in the program (session/private_copy.h): downloaded into a private
// folder, sent back when its bytes changed and the server's file is still as it was (a
// question on the terminal otherwise), and kept in the current folder when it does not go.
#pragma once

#include "ftp/ftp_url.h"
#include "tools/farlink-ftp/sessions.h"

namespace tool {

// Exit status 0 once the server has the user's version, or nothing changed; 1 otherwise,
// with what happened on stderr.
int edit(const ftp::FtpUrl& url, const Options& options);

}  // namespace tool
