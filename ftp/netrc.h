// The login a command-line tool uses for a server, without a password on its command
// line: the FARLINK_PASSWORD environment variable, or a netrc file (~/.netrc) as ftp,
// curl and lftp read it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ftp {

struct Login {
    std::string user;
    std::string password;
};

// The entry of netrc `text` for `host`: the first "machine HOST" entry (with login `user`
// or none, when `user` is given), else the "default" entry; nullopt when none applies.
// An entry's "login" and "password" may be missing (empty here). Tokens are separated by
// blanks and line breaks; a token in double quotes may hold blanks, and \" and \\ in
// it stand for " and \. "account" is skipped, "macdef NAME" with its lines up to an
// empty one, and a line beginning with '#'.
std::optional<Login> netrcEntry(std::string_view text, std::string_view host, std::optional<std::string_view> user);

// The login for `host`. The user: `user` (from the address), else the netrc entry's
// login, else "anonymous". The password: `password` (from the address), else
// `environmentPassword` (FARLINK_PASSWORD, null when unset), else the netrc entry's,
// else `anonymousPassword` for the user "anonymous" and an empty one for any other.
Login chooseLogin(std::string_view host, const std::optional<std::string>& user,
                  const std::optional<std::string>& password, const char* environmentPassword,
                  std::string_view netrcText, std::string_view anonymousPassword);

}  // namespace ftp
