// Server-to-server copy: one server is put into passive mode, the other is told that
// address with PORT, and RETR on the source with STOR on the target make the two
// servers exchange the file directly. No data passes through this program. Two IPv6
// servers use EPSV and EPRT; an IPv4 and an IPv6 server cannot reach each other so.
#pragma once

#include "ftp/ftp_session.h"

#include <string_view>

namespace ftp {

// Copies `sourcePath` on `source` to `targetPath` on `target` (which may be the same
// session). With sourcePassive 0 the target takes the passive side. Returns 1 when both
// servers end the transfer with a 2xx reply; 0 with the reason in the `reply` of the
// side whose step failed (both sides' between an IPv4 and an IPv6 server, refused
// before anything is sent).
// The refusals serverToServer makes before anything is sent. Unlike a server's reply
// they say why to the user.
inline constexpr std::string_view mixedFamiliesRefusal =
    "Server-to-server copy between an IPv4 and an IPv6 server is not possible\n";
inline constexpr std::string_view encryptedRefusal =
    "Server-to-server copy is not available on encrypted connections\n";

int serverToServer(FtpSession& source, FtpSession& target, std::string_view sourcePath, std::string_view targetPath,
                   char typeCharacter, int sourcePassive);

}  // namespace ftp
