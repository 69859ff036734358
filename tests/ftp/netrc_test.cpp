// The login a command-line tool chooses: from the address, FARLINK_PASSWORD and a netrc
// file, in that order.
#include "ftp/netrc.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* netrc = R"(# a comment line
machine files.example.com login alice password "two words"
machine files.example.com login bob password b0b
macdef init
  machine hidden.example.com login mallory password m

machine quoted.example.com login "c\"d" password "e\\f"
  # an indented comment
machine nameless.example.com password p account a
default login guest password guest-pw
)";

TEST(ChooseLogin, TakesTheAddressThenTheEnvironmentThenNetrcThenAnonymous) {
    struct Case {
        const char* host;
        const char* user;      // null: the address names none
        const char* password;  // null: the address gives none
        const char* environment;
        const char* netrcText;
        const char* expectedUser;
        const char* expectedPassword;
    };
    const Case cases[] = {
        {"files.example.com", nullptr, nullptr, nullptr, netrc, "alice", "two words"},
        {"FILES.example.COM", nullptr, nullptr, nullptr, netrc, "alice", "two words"},
        {"files.example.com", "bob", nullptr, nullptr, netrc, "bob", "b0b"},
        {"files.example.com", "carol", nullptr, nullptr, netrc, "carol", ""},
        {"files.example.com", nullptr, nullptr, "from-env", netrc, "alice", "from-env"},
        {"files.example.com", "bob", "typed", "from-env", netrc, "bob", "typed"},
        {"hidden.example.com", nullptr, nullptr, nullptr, netrc, "guest", "guest-pw"},
        {"quoted.example.com", nullptr, nullptr, nullptr, netrc, "c\"d", "e\\f"},
        {"nameless.example.com", nullptr, nullptr, nullptr, netrc, "anonymous", "p"},
        {"elsewhere.example.com", nullptr, nullptr, nullptr, netrc, "guest", "guest-pw"},
        {"elsewhere.example.com", nullptr, nullptr, nullptr, "", "anonymous", "farlink@"},
        {"elsewhere.example.com", "dave", nullptr, nullptr, "", "dave", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " " + (c.user ? c.user : "-") + " " + (c.environment ? c.environment : "-"));
        const auto given = [](const char* text) { return text ? std::optional<std::string>(text) : std::nullopt; };
        const ftp::Login login = ftp::chooseLogin(c.host, given(c.user), given(c.password), c.environment, c.netrcText,
                                                  "farlink@");
        EXPECT_EQ(c.expectedUser, login.user);
        EXPECT_EQ(c.expectedPassword, login.password);
    }
}

}  // namespace
