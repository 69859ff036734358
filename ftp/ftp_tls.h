// Explicit FTPS (AUTH TLS): which hosts want it, and the certificate a caller accepts
// beyond the system's trust store. The TLS itself lives behind the connection record:
// every engine call works on a TLS session as on a clear-text one.
#pragma once

#include "ftp/ftp_session.h"

#include <string>
#include <string_view>

namespace ftp {

// A host text beginning with this (in any case) connects with explicit TLS.
inline constexpr std::string_view explicitTlsPrefix = "ftpes://";
bool wantsExplicitTls(std::string_view host);

// Before openControl: a certificate that the system trust store cannot verify (or whose
// name does not match) is still accepted when its SHA-256 fingerprint is this one, in the
// form `openssl x509 -fingerprint -sha256` prints after '=' ("AB:CD:...", 95 chars);
// compared case-insensitively; empty: none. Kept across openControl calls on the session.
void trustCertificate(FtpSession& session, std::string_view sha256Fingerprint);

// After openControl failed: the fingerprint (same form) of the server's certificate when
// it failed because that certificate could not be verified and was not the trusted one;
// empty otherwise (any other failure, or success).
std::string unverifiedCertificate(const FtpSession& session);

}  // namespace ftp
