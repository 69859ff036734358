// The FTP engine's transfers take the caller's open file; its tests name paths, and write
// in place (the program's downloads go through session/local_files.h).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include "ftp/ftp_transfer.h"

namespace test_support {

// RETR into `path`, emptied, or continued after its first `offset` bytes; a file made
// for a download that failed goes again.
inline int download(ftp::FtpSession& session, const std::string& path, std::string_view remote, char type,
                    std::int64_t offset, std::int64_t expectedSize = -1) {
    const bool existed = access(path.c_str(), F_OK) == 0;
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (offset ? O_APPEND : O_TRUNC), 0644);
    const int result = ftp::download(session, file, remote, type, offset, expectedSize);
    close(file);
    if (!result && !existed) unlink(path.c_str());
    return result;
}

inline int upload(ftp::FtpSession& session, const std::string& path, std::string_view remote, char type) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int result = ftp::upload(session, file, remote, type);
    close(file);
    return result;
}

}  // namespace test_support
