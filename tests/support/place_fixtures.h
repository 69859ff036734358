// What the Remote view's tests share: a place made as the place dialog makes it, the
// text of a place's last failure, and the scope in which the view's operations run (the
// pieces of the conversations they script are the scripted server's).
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
    std::string password = {};
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

}  // namespace test_support
