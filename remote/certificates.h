// The certificates the user chose to trust although they could not be verified (trust on
// first use): one SHA-256 fingerprint per server ("host:port"), kept in the settings file.
#pragma once

#include <string>
#include <string_view>

namespace remote {

inline constexpr std::u16string_view certificatesKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Certificates";

// The server's name in the settings: the host text as the engine is given it, without
// the "ftpes://" prefix, in lower case ("files.example.org:21", "[::1]:2121").
std::string certificateServer(std::string_view hostWithPort);

// The fingerprint remembered for `server`, or "" when none is. Any thread.
std::string rememberedCertificate(std::string_view server);
// Remembers `fingerprint` for `server`, replacing the one before. false when the settings
// file could not be written. Any thread.
bool rememberCertificate(std::string_view server, std::string_view fingerprint);

}  // namespace remote
