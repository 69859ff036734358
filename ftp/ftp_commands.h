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
// The size of a file in binary mode (TYPE I unless the session is in it, then SIZE), or
// -1 when the server gives none.
std::int64_t fileSize(FtpSession& session, std::string_view path);
// The file's exact modification time by MDTM, in seconds since 1970 UTC; -1 when the
// server gives none or its answer is not exactly RFC 3659's "213 YYYYMMDDHHMMSS[.F]"
// (UTC, fraction dropped) with a date that exists.
std::int64_t modificationTime(FtpSession& session, std::string_view path);
// That reply line's time, -1 when it is not of that form.
std::int64_t parseModificationReply(std::string_view reply);
// RFC 3659's time-val, "YYYYMMDDHHMMSS[.F]" (UTC, fraction dropped), alone: its time,
// -1 for anything else or a date that does not exist.
std::int64_t parseTimeValue(std::string_view text);
// Sets the file's modification time (seconds since 1970 UTC): MFMT when FEAT lists it
// (FEAT is asked once per connection), else the "MDTM YYYYMMDDHHMMSS PATH" form that
// vsftpd takes. 1 set; 0 refused, with the reply; -1 when the server knows neither
// command (500, 502, 504).
int setModificationTime(FtpSession& session, std::string_view path, std::int64_t time);
// Whether the server offers MLSD (FEAT lists MLST; FEAT is asked once per connection):
// 1 it does, 0 it does not, -1 when asking failed.
int offersMachineListing(FtpSession& session);
// Sends `command` (cut to 255 characters) expecting a 2xx reply; "NOOP" probes the line.
int sendSimple(FtpSession& session, std::string_view command);
// Orderly (abrupt 0): QUIT, its reply, close; 1 on a 2xx reply. Abrupt: QUIT without
// waiting for a reply, close, 1. Either way the control socket is closed.
int quit(FtpSession& session, int abrupt);

}  // namespace ftp
