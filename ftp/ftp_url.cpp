// FTP addresses: scheme, user information, host and port, path.
#include "ftp/ftp_url.h"

#include "ftp/ftp_tls.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <optional>

namespace ftp {

namespace {

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexValue(text[i + 1]) < 0 || hexValue(text[i + 2]) < 0) return std::nullopt;
        decoded += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
        i += 2;
    }
    return decoded;
}

bool startsWithScheme(std::string_view text, std::string_view scheme) {
    if (text.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != scheme[i]) return false;
    }
    return true;
}

int refuse(std::string& error, const char* reason) {
    error = reason;
    return 0;
}

}  // namespace

int parseFtpUrl(std::string_view text, FtpUrl& url, std::string& error) {
    const bool explicitTls = wantsExplicitTls(text);
    const bool secureShell = startsWithScheme(text, "sftp://");
    if (!explicitTls && !secureShell && !startsWithScheme(text, "ftp://")) {
        return refuse(error, "not an ftp://, ftpes:// or sftp:// address");
    }
    text.remove_prefix(explicitTls ? 8 : secureShell ? 7 : 6);
    const auto slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    FtpUrl parsed;
    parsed.explicitTls = explicitTls;
    parsed.secureShell = secureShell;
    if (secureShell) parsed.port = 0;
    // The last '@' ends the user information: a password may hold '@' unescaped.
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const auto colon = userInfo.find(':');
        const auto user = percentDecode(userInfo.substr(0, colon));
        const auto password = percentDecode(colon == std::string_view::npos ? "" : userInfo.substr(colon + 1));
        if (!user || !password) return refuse(error, "bad %-escape in the user or password");
        if (user->empty()) return refuse(error, "empty user name before '@'");
        parsed.user = *user;
        if (colon != std::string_view::npos) parsed.password = *password;
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority;
    std::string_view digits;  // empty ("host", "host:") for the default port
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) return refuse(error, "no ']' after the IPv6 address");
        host = authority.substr(1, close - 1);
        in6_addr ignored;
        if (!inet_pton(AF_INET6, std::string(host).c_str(), &ignored)) {
            return refuse(error, "not an IPv6 address in brackets");
        }
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && rest[0] != ':') return refuse(error, "text after the IPv6 address");
        if (!rest.empty()) digits = rest.substr(1);
    } else if (const auto colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        digits = authority.substr(colon + 1);
    }
    if (!digits.empty()) {
        int port = 0;
        for (const char digit : digits) {
            if (digit < '0' || digit > '9') return refuse(error, "the port is not a number");
            port = port * 10 + (digit - '0');
            if (port > 65535) break;
        }
        if (port < 1 || port > 65535) return refuse(error, "the port is outside 1-65535");
        parsed.port = port;
    }
    if (host.empty()) return refuse(error, "no host in the address");
    parsed.host = host;
    if (slash != std::string_view::npos) {
        const auto path = percentDecode(text.substr(slash));
        if (!path) return refuse(error, "bad %-escape in the path");
        parsed.path = *path;
    }
    url = std::move(parsed);
    return 1;
}

bool wantsExplicitTls(std::string_view host) { return startsWithScheme(host, explicitTlsPrefix); }

std::string hostWithPort(std::string_view host, int port) {
    const auto schemeEnd = host.find("://");
    const std::string_view scheme = schemeEnd == std::string_view::npos ? "" : host.substr(0, schemeEnd + 3);
    host.remove_prefix(scheme.size());
    const auto colons = std::count(host.begin(), host.end(), ':');
    std::string joined(scheme);
    if (host.starts_with('[')) {
        joined += host;
        if (host.ends_with(']')) joined += ":" + std::to_string(port);
    } else if (colons >= 2) {
        joined += "[" + std::string(host) + "]:" + std::to_string(port);
    } else {
        joined += host;
        if (colons == 0) joined += ":" + std::to_string(port);
    }
    return joined;
}

}  // namespace ftp
