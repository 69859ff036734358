// The certificates the user chose to trust although they could not be verified (trust on
// first use): one SHA-256 fingerprint per server ("host:port"), kept in the settings file.
// They are the trust decisions of the program's sessions; host keys go by known_hosts.
#pragma once

#include <string>
#include <string_view>

#include "session/server_session.h"

namespace remote {

inline constexpr std::u16string_view certificatesKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Certificates";

// The fingerprint remembered for `server`, or "" when none is. Any thread.
std::string rememberedCertificate(std::string_view server);
// Remembers `fingerprint` for `server`, replacing the one before. false when the settings
// file could not be written. Any thread.
bool rememberCertificate(std::string_view server, std::string_view fingerprint);

// What the program's sessions are given to trust: the certificates above. Any thread.
session::TrustDecisions& settingsTrust();

}  // namespace remote
