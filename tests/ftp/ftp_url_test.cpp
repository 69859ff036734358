// FTP addresses: what each part becomes, and the addresses refused with their reason;
// the login the tools choose when the address gives no password.
#include "ftp/ftp_url.h"
#include "ftp/netrc.h"

#include <gtest/gtest.h>
#include <utility>

namespace {

std::optional<std::string> given(const char* text) { return text ? std::optional<std::string>(text) : std::nullopt; }

struct Case {
    const char* text;
    const char* error;           // null: accepted as below
    const char* user = nullptr;  // null: the address names none
    const char* password = nullptr;
    const char* host = "h";
    int port = 21;
    const char* path = "/";
    bool explicitTls = false;
    bool secureShell = false;
};

TEST(FtpUrl, ReadsEachPartOrSaysWhatIsWrong) {
    const Case cases[] = {
        {"ftp://h", nullptr},
        {"FTP://u:p@h:2121/a%20b/f%C3%BCr", nullptr, "u", "p", "h", 2121, "/a b/f\xC3\xBCr"},
        {"ftp://u%40x:p%3Aw@h/", nullptr, "u@x", "p:w"},
        {"ftp://u:p@ss@h/", nullptr, "u", "p@ss"},  // the last '@' ends the password
        {"ftp://bob@h/f", nullptr, "bob", nullptr, "h", 21, "/f"},
        {"ftp://bob:@h/f", nullptr, "bob", "", "h", 21, "/f"},
        {"ftp://10.0.0.1:/f", nullptr, nullptr, nullptr, "10.0.0.1", 21, "/f"},
        {"ftp://h:65535", nullptr, nullptr, nullptr, "h", 65535},
        {"ftp://h:65536/", "the port is outside 1-65535"},
        {"ftp://h:0/", "the port is outside 1-65535"},
        {"ftp://h:99999999999999999999/", "the port is outside 1-65535"},
        {"ftp://h:21x/", "the port is not a number"},
        {"ftp://u:p@[::1]:2121/f", nullptr, "u", "p", "::1", 2121, "/f"},
        {"ftp://[2001:db8::1]", nullptr, nullptr, nullptr, "2001:db8::1"},
        {"ftp://[::ffff:10.0.0.1]:/", nullptr, nullptr, nullptr, "::ffff:10.0.0.1"},
        {"ftp://[::1]:65536/", "the port is outside 1-65535"},
        {"ftp://[::1/", "no ']' after the IPv6 address"},
        {"ftp://[]/", "not an IPv6 address in brackets"},
        {"ftp://[10.0.0.1]/", "not an IPv6 address in brackets"},
        {"ftp://[host]/", "not an IPv6 address in brackets"},
        {"ftp://[::1]2121/", "text after the IPv6 address"},
        {"ftp://::1/", "the port is not a number"},
        {"ftp://u:p@/f", "no host in the address"},
        {"ftp:///f", "no host in the address"},
        {"ftp://@h/", "empty user name before '@'"},
        {"ftp://u:%4@h/", "bad %-escape in the user or password"},
        {"ftp://h/a%zz", "bad %-escape in the path"},
        {"ftp://h/a%4", "bad %-escape in the path"},
        {"FTPES://h:990/f", nullptr, nullptr, nullptr, "h", 990, "/f", true},
        {"sftp://bob@h/f", nullptr, "bob", nullptr, "h", 0, "/f", false, true},
        {"SFTP://h:2222", nullptr, nullptr, nullptr, "h", 2222, "/", false, true},
        {"http://h/", "not an ftp://, ftpes:// or sftp:// address"},
        {"ftp:/h/", "not an ftp://, ftpes:// or sftp:// address"},
        {"ftpes:/h/", "not an ftp://, ftpes:// or sftp:// address"},
        {"sftp:/h/", "not an ftp://, ftpes:// or sftp:// address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ftp::FtpUrl url;
        url.host = "unchanged";
        std::string error;
        const int result = ftp::parseFtpUrl(c.text, url, error);
        if (c.error) {
            EXPECT_EQ(0, result);
            EXPECT_EQ(c.error, error);
            EXPECT_EQ("unchanged", url.host);
            continue;
        }
        ASSERT_EQ(1, result) << error;
        EXPECT_EQ(given(c.user), url.user);
        EXPECT_EQ(given(c.password), url.password);
        EXPECT_EQ(c.host, url.host);
        EXPECT_EQ(c.port, url.port);
        EXPECT_EQ(c.path, url.path);
        EXPECT_EQ(c.explicitTls, url.explicitTls);
        EXPECT_EQ(c.secureShell, url.secureShell);
    }
}

// What openControl is given for a host field and a port.
TEST(FtpUrl, JoinsAHostAndAPortForOpenControl) {
    const std::pair<const char*, const char*> cases[] = {
        {"files.example.org", "files.example.org:21"},
        {"10.0.0.1", "10.0.0.1:21"},
        {"name:2121", "name:2121"},  // its own port wins
        {"::1", "[::1]:21"},
        {"2001:db8::1", "[2001:db8::1]:21"},
        {"[2001:db8::1]", "[2001:db8::1]:21"},
        {"[::1]:2121", "[::1]:2121"},
        {"ftpes://files.example.org", "ftpes://files.example.org:21"},
        {"ftpes://[::1]", "ftpes://[::1]:21"},
        {"ftpes://name:990", "ftpes://name:990"},
    };
    for (const auto& [host, joined] : cases) EXPECT_EQ(joined, ftp::hostWithPort(host, 21)) << host;
}

// The address first, then FARLINK_PASSWORD for a user someone named, then netrc while
// only its owner can read it, then anonymous.
TEST(ChooseLogin, TakesTheAddressThenTheEnvironmentThenNetrc) {
    const std::string netrc =
        "# a comment\nmachine h login alice password \"two words\"\nmachine h login bob password b0b\n"
        "macdef init\n  machine hidden login mallory password m\n\n"
        "machine q login \"c\\\"d\" password p\nmachine a login anonymous password me@\n"
        "default login guest password g\n";
    const char* const cases[][6] = {
        // host, user, password (null: the address gives none), FARLINK_PASSWORD, netrc ("open":
        // others can read it; null: none), "user/password"
        {"H", nullptr, nullptr, nullptr, "", "alice/two words"},
        {"h", "bob", nullptr, nullptr, "", "bob/b0b"},
        {"h", "carol", nullptr, nullptr, "", "carol/"},
        {"h", nullptr, nullptr, "env", "", "alice/env"},
        {"h", "bob", "typed", "env", "", "bob/typed"},
        {"hidden", nullptr, nullptr, nullptr, "", "guest/g"},
        {"q", nullptr, nullptr, nullptr, "", "c\"d/p"},
        {"a", nullptr, nullptr, "env", "", "anonymous/me@"},
        {"h", nullptr, nullptr, "env", nullptr, "anonymous/farlink@"},
        {"h", nullptr, nullptr, nullptr, "open", "alice/"},
        {"h", nullptr, nullptr, "env", "open", "alice/env"},
    };
    for (const auto& c : cases) {
        const ftp::NetrcFile file{.path = "", .text = c[4] ? netrc : "", .othersCanRead = c[4] && *c[4]};
        const ftp::Login login = ftp::chooseLogin(c[0], given(c[1]), given(c[2]), c[3], file, "farlink@");
        EXPECT_EQ(c[5], login.user + "/" + login.password)
            << c[0] << " " << (c[1] ? c[1] : "-") << " " << (c[3] ? c[3] : "-") << " " << (c[4] ? c[4] : "-");
    }
}

}  // namespace
