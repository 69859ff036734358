// What the Remote view's tests share: a place made as the place dialog makes it, the
// text of a place's last failure, the pieces of the conversations they script, and the
// scope in which the view's operations run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/scoped_variable.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace test_support {

struct PlaceLogin {
    std::string user = "anonymous";
    std::string password;
    std::uint8_t passive = 1;
    std::uint8_t autoReconnect = 1;
    std::uint32_t timeout = 3000;
    std::u16string name = {};  // empty: the dialog's default
};

// Adds a place for "HOST:PORT" at the end of the list, through the dialog's data; returns
// its index (a failure is reported to the test).
int addPlace(const std::string& address, const PlaceLogin& login = {});
// "TAG TEXT" of the place's last failure.
std::string placeError(int index);

// The Remote view's listing and file operations bound, with a registry, a listing cache
// folder and the time zone (UTC) of the test's own; every place dropped at the end.
struct RemoteViewScope {
    RemoteViewScope();
    ~RemoteViewScope();

    ScopedVariable timeZone{"TZ", "UTC"};
    TemporaryFolder cacheHome;
    ScopedVariable cacheVariable{"XDG_CACHE_HOME", cacheHome.path()};
    TemporaryRegistry registry;
};

// Pieces of scripted conversations (a namespace of their own, so that the operator does
// not meet other tests' own).
namespace conversation {

using Script = std::vector<ScriptStep>;
Script operator+(Script first, const Script& second);
Script operator+(Script first, ScriptStep step);
// A command line the client must send and the server's reply to it ("\r\n" added).
Script ask(const std::string& command, const std::string& reply);
// The greeting and an anonymous login.
Script login();
// The keep-alive probe before each use of a connected place.
Script probe();
// The QUIT of a place dropped at the end of a test.
Script bye();
// The listing of `folder` ("CWD", then "LIST -aL" over a passive data connection that
// ends with `ending`, answered with `finalReply`) and the change back to "/".
Script listing(const std::string& folder, const std::string& lines, ScriptStep ending = closeData(),
               const std::string& finalReply = "226 done\r\n");
// The same on a connection in type A already (no file moved since its last listing),
// which sends no TYPE.
Script relisting(const std::string& folder, const std::string& lines);
// A long-listing line dated 2000-01-01.
std::string unixLine(char type, const std::string& name, const std::string& size = "5");

}  // namespace conversation

}  // namespace test_support
