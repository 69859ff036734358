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

namespace conversation {

Script operator+(Script first, const Script& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Script operator+(Script first, ScriptStep step) {
    first.push_back(std::move(step));
    return first;
}

Script ask(const std::string& command, const std::string& reply) { return {expect(command), send(reply + "\r\n")}; }

Script login() { return Script{send("220 hello\r\n")} + ask("USER anonymous", "230 in"); }
Script probe() { return ask("NOOP", "200 ok"); }
Script bye() { return {expect("QUIT")}; }

Script listing(const std::string& folder, const std::string& lines, ScriptStep ending, const std::string& finalReply) {
    return {expect("CWD " + folder), send("250 ok\r\n"), expect("TYPE A"), send("200 ok\r\n"),
            expect("PASV"),          replyPassive(),     acceptData(),     expect("LIST -aL"),
            send("150 here\r\n"),    sendData(lines),    ending,           send(finalReply),
            expect("CWD /"),         send("250 ok\r\n")};
}

Script relisting(const std::string& folder, const std::string& lines) {
    Script script = listing(folder, lines);
    script.erase(script.begin() + 2, script.begin() + 4);  // TYPE A and its reply
    return script;
}

std::string unixLine(char type, const std::string& name, const std::string& size) {
    return std::string(1, type) + "rw-r----- 1 me us " + size + " Jan  1  2000 " + name + "\r\n";
}

}  // namespace conversation

}  // namespace test_support
