// The FTP engine's transfers take the caller's open file; its tests name paths. Writing
// in place is the test's choice here: the product's downloads go through
// session/local_files.h.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "ftp/ftp_transfer.h"

namespace test_support {

// RETR into the file at `path`, emptied, or continued after its first `offset` bytes; a
// file made for a download that failed goes again.
inline int download(ftp::FtpSession& session, const std::string& path, std::string_view remote, char type,
                    std::int64_t offset, std::int64_t expectedSize = -1) {
    const bool existed = access(path.c_str(), F_OK) == 0;
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (offset ? 0 : O_TRUNC), 0644);
    if (file >= 0 && offset) lseek(file, offset, SEEK_SET);
    const int result = ftp::download(session, file, remote, type, offset, expectedSize);
    if (file >= 0) close(file);
    if (!result && !existed) unlink(path.c_str());
    return result;
}

inline int upload(ftp::FtpSession& session, const std::string& path, std::string_view remote, char type) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int result = ftp::upload(session, file, remote, type);
    if (file >= 0) close(file);
    return result;
}

}  // namespace test_support
