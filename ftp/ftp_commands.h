// The commands that run on the control connection alone: login, folder and file
// commands, a caller-given command (the keep-alive probe) and leaving the server.
// An argument over its limit, or one holding CR, LF or NUL, fails before anything is
// sent. Results: 1 success, 0 failure with the reason in `lastReply`.
#pragma once

#include "ftp/ftp_session.h"

#include <cstdint>
#include <string_view>

namespace ftp {

inline constexpr std::size_t maxLoginLength = 57;
inline constexpr std::size_t maxFolderPathLength = 250;
inline constexpr std::size_t maxFilePathLength = 249;
inline constexpr std::size_t maxSimpleCommandLength = 255;

// USER, then PASS when the server asks for it (class 3); a 2xx to USER logs in at once.
int logIn(FtpSession& session, std::string_view user, std::string_view password);
int makeFolder(FtpSession& session, std::string_view path);
int changeFolder(FtpSession& session, std::string_view path);
int removeFolder(FtpSession& session, std::string_view path);
int deleteFile(FtpSession& session, std::string_view path);
// RNFR, then RNTO only when RNFR was accepted.
int renamePath(FtpSession& session, std::string_view oldPath, std::string_view newPath);
// The size of a file in binary mode (TYPE I, then SIZE), or -1 when the server gives none.
std::int64_t fileSize(FtpSession& session, std::string_view path);
// Sends `command` (cut to 255 characters) expecting a 2xx reply; "NOOP" probes the line.
int sendSimple(FtpSession& session, std::string_view command);
// Orderly (abrupt 0): QUIT, its reply, close; 1 on a 2xx reply. Abrupt: QUIT without
// waiting for a reply, close, 1. Either way the control socket is closed.
int quit(FtpSession& session, int abrupt);

}  // namespace ftp
