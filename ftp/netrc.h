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
    ~Login();  // wipes the password
};

// A netrc file as read. Its passwords are used only while no one but its owner can read
// it, as ftp(1) and Python's netrc have it: its logins still are.
struct NetrcFile {
    std::string path;
    std::string text;
    bool othersCanRead = false;  // its group or others may read it
    ~NetrcFile();                // wipes the text
};
// Reads `path` into `file`; false when it cannot be read.
bool readNetrcFile(const std::string& path, NetrcFile& file);
// The warning a tool prints for `file`: that its passwords are not used, since others can
// read it; empty when that leaves none out.
std::string netrcWarning(const NetrcFile& file);

// The entry of netrc `text` for `host`: the first "machine HOST" entry (with login `user`
// or none, when `user` is given), else the "default" entry; nullopt when none applies.
// An entry's "login" and "password" may be missing (empty here). Tokens are separated by
// blanks and line breaks; a token in double quotes may hold blanks, and \" and \\ in
// it stand for " and \. "account" is skipped, "macdef NAME" with its lines up to an
// empty one, and a line beginning with '#'.
std::optional<Login> netrcEntry(std::string_view text, std::string_view host, std::optional<std::string_view> user);

// The login for `host`. The user: `user` (from the address), else the netrc entry's
// login, else "anonymous". The password: `password` (from the address); else, for a user
// so named other than "anonymous", `environmentPassword` (FARLINK_PASSWORD, null when
// unset), which names no account of its own; else the netrc entry's, unless others can
// read the file; else `anonymousPassword` for the user "anonymous" and an empty one for
// any other.
Login chooseLogin(std::string_view host, const std::optional<std::string>& user,
                  const std::optional<std::string>& password, const char* environmentPassword, const NetrcFile& netrc,
                  std::string_view anonymousPassword);

}  // namespace ftp
