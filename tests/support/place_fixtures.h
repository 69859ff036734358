// What the Remote view's tests share: a place made as the place dialog makes it, and the
// text of a place's last failure.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace test_support
