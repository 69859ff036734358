#include "tests/support/place_fixtures.h"

#include <gtest/gtest.h>

#include "explorer/provider.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"

namespace test_support {

int addPlace(const std::string& address, const PlaceLogin& login) {
    const int index = remote::placeCount();
    remote::PlaceDialogData data = *remote::placeDialogData(index, {});
    const std::size_t colon = address.rfind(':');
    if (!login.name.empty()) platform::copyBounded(data.name, 128, login.name);
    platform::copyBounded(data.host, 128, platform::toUtf16(address.substr(0, colon)));
    data.port = std::uint32_t(std::stoul(address.substr(colon + 1)));
    platform::copyBounded(data.userName, 64, platform::toUtf16(login.user));
    platform::copyBounded(data.password, 64, platform::toUtf16(login.password));
    data.passive = login.passive;
    data.autoReconnect = login.autoReconnect;
    data.timeout = login.timeout;
    EXPECT_EQ(remote::applyPlaceDialogData(index, data), 1);
    return index;
}

std::string placeError(int index) {
    const std::shared_ptr<remote::FtpPlace> place = remote::placeAt(index);
    return platform::toUtf8(remote::placeErrorTag(*place)) + " " + remote::placeErrorText(*place);
}

RemoteViewScope::RemoteViewScope() {
    remote::startNetworkClock();
    remote::bindRemoteListing(explorer::remoteProvider);
    remote::bindRemoteFiles(explorer::remoteProvider);
    explorer::remoteProvider.filterIndex = 0;
}

RemoteViewScope::~RemoteViewScope() {
    remote::shutdownRemote();
    remote::removeListingCache();
}

}  // namespace test_support
