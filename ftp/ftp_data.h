// Data connections: one per listing or file transfer, opened in the session's mode
// (passive: the client connects to the PASV or EPSV address; active: the client listens
// and announces itself with PORT or EPRT), and closed by closeData, which reads the transfer's
// final reply on the control connection.
#pragma once

#include "ftp/ftp_session.h"

#include <cstdint>
#include <string_view>

namespace ftp {

// How long acceptData waits for the server to connect back in active mode.
inline constexpr int activeAcceptSeconds = 30;

// Reads the six numbers h1,h2,h3,h4,p1,p2 after the first '(' of a PASV reply into
// a passive address: bytes 0-1 the port (p1, p2), bytes 2-5 the IPv4 address.
// False when there is no '(', fewer than six numbers or a number above 255.
bool parsePassiveAddress(const char* reply, std::uint8_t passiveAddress[6]);

// Reads the port of an EPSV reply, "229 Entering Extended Passive Mode (|||port|)":
// the character after the first '(' is the delimiter (printable, not a digit), then
// two more of it, the port (1-65535), the delimiter and ')'. False for anything else.
bool parseExtendedPassivePort(const char* reply, std::uint16_t& port);

// Passive opening: PASV (EPSV on an IPv6 session, or once the server refused PASV with
// 500 or 502), REST when `restartOffset` is set, connect, then the transfer
// command (a line without its end), whose 1xx reply it reads. On success the new data
// connection is stored in *place; on failure nothing is stored.
int openPassiveData(FtpConnection* control, FtpConnection** place, char type, ConnectionDirection direction,
                    std::string_view command);
// Active opening: listen beside the control connection's local address, PORT (EPRT on
// an IPv6 session), REST, the transfer command. The stored connection still has to be accepted.
int openActiveData(FtpConnection* control, FtpConnection** place, char type, ConnectionDirection direction,
                   std::string_view command);
// Waits for the server's data connection, taking one only from the control
// connection's peer address. On failure the listening socket is closed.
int acceptData(FtpConnection* data, FtpConnection* control, int waitSeconds = activeAcceptSeconds);
// Closes and frees a data connection. Returns the transfer's outcome: 1 when the
// owner's final reply is 2xx or there is no owner; 0 otherwise (and for a control
// connection, which it leaves alone).
int closeData(FtpConnection* data);

}  // namespace ftp
