// Ftp Places: the stored form byte for byte, and the list as the registry keeps it.
#include "remote/places.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "remote/connect.h"
#include "remote/remote_files.h"
#include "session/server_session.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::toUtf16;
using platform::toUtf8;
using remote::FtpPlace;
using remote::PlaceBytes;
using remote::placesKeyPath;
using test_support::storedValue;

// `text` in UTF-16 little-endian, padded with zeros to `size` bytes.
std::vector<std::uint8_t> utf16Field(std::u16string_view text, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0);
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = std::uint8_t(text[i]);
        bytes[2 * i + 1] = std::uint8_t(text[i] >> 8);
    }
    return bytes;
}

void storeRaw(int index, const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(test_support::storeValue(placesKeyPath, platform::toUtf16(std::to_string(index)),
                                         platform::registryBinary, bytes.data(), std::uint32_t(bytes.size())));
}

// A place named `name` with its remembered folder `current`, stored as value `index`.
void storePlace(int index, std::u16string_view name, std::u16string_view current = u"/",
                std::uint8_t rememberFolder = 1) {
    FtpPlace place;
    platform::copyBounded(place.name, 260, name);
    platform::copyBounded(place.startupFolder, 260, u"/start");
    platform::copyBounded(place.currentFolder, 260, current);
    place.rememberFolder = rememberFolder;
    const PlaceBytes bytes = remote::encodePlace(place);
    storeRaw(index, {bytes.begin(), bytes.end()});
}

std::string nameAt(int index) { return toUtf8(platform::boundedView(remote::placeAt(index)->name, 260)); }

class Places : public ::testing::Test {
protected:
    void TearDown() override { remote::shutdownRemote(); }

    test_support::TemporaryRegistry registry;
};

TEST_F(Places, TheStoredFormFollowsTheTable) {
    FtpPlace place;
    platform::copyBounded(place.name, 260, u"Office");
    platform::copyBounded(place.filterPattern, 64, u"*");
    platform::copyBounded(place.host, 260, u"ftp.example.org");
    platform::copyBounded(place.userName, 64, u"me");
    platform::copyBounded(place.password, 64, u"pw");
    platform::copyBounded(place.currentFolder, 260, u"/pub/\u00e9t\u00e9");
    platform::copyBounded(place.startupFolder, 260, u"/pub");
    place.passive = 1;
    place.rememberFolder = 1;
    place.port = 2121;
    place.timeout = 0x01020304;
    place.autoReconnect = 1;
    place.uploadThroughTemporary = 0;
    place.errorTag = u"(KVT-FC-1)";  // in memory only
    place.session = session::newFtpSession();

    struct Field {
        const char* name;
        std::size_t offset;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Field> table = {
        {"name", 0, utf16Field(u"Office", 520)},
        {"filterPattern", 520, utf16Field(u"*", 128)},
        {"host", 648, utf16Field(u"ftp.example.org", 520)},
        {"userName", 1168, utf16Field(u"me", 128)},
        {"password", 1296, utf16Field(u"pw", 128)},
        {"currentFolder", 1424, utf16Field(u"/pub/\u00e9t\u00e9", 520)},
        {"startupFolder", 1944, utf16Field(u"/pub", 520)},
        {"passive", 2464, {1}},
        {"rememberFolder", 2465, {1}},
        {"padding", 2466, {0, 0}},
        {"port", 2468, {0x49, 0x08, 0, 0}},
        {"timeout", 2472, {4, 3, 2, 1}},
        {"autoReconnect", 2476, {1}},
        {"uploadThroughTemporary, inverted (0 in a place stored before: on)", 2477, {1}},
        {"padding", 2478, {0, 0}},
        {"session, errorTag, errorText", 2480, std::vector<std::uint8_t>(12, 0)},
    };
    const PlaceBytes bytes = remote::encodePlace(place);
    std::size_t covered = 0;
    for (const Field& field : table) {
        ASSERT_EQ(field.offset, covered) << field.name;
        EXPECT_EQ(
            std::vector<std::uint8_t>(bytes.begin() + field.offset, bytes.begin() + field.offset + field.bytes.size()),
            field.bytes)
            << field.name;
        covered += field.bytes.size();
    }
    EXPECT_EQ(covered, remote::placeRecordSize);

    FtpPlace read;
    remote::decodePlace(bytes, read);
    EXPECT_EQ(remote::encodePlace(read), bytes);
}

TEST_F(Places, SavingThreeOverFiveLeavesThree) {
    for (int i = 0; i < 5; ++i) storePlace(i, platform::toUtf16("place " + std::to_string(i)));
    remote::loadPlaces();
    ASSERT_EQ(remote::placeCount(), 5);
    ASSERT_EQ(remote::removePlace(1), 1);
    ASSERT_EQ(remote::removePlace(3), 1);  // the former place 4
    EXPECT_EQ(remote::removePlace(3), 0);
    ASSERT_EQ(remote::savePlaces(), 1);
    EXPECT_EQ(storedValue(placesKeyPath, u"2").type, platform::registryBinary);
    remote::loadPlaces();  // values 3 and 4 left behind would load as places
    ASSERT_EQ(remote::placeCount(), 3);
    EXPECT_EQ(nameAt(0), "place 0");
    EXPECT_EQ(nameAt(1), "place 2");
    EXPECT_EQ(nameAt(2), "place 3");
}

// A value of another size, or one beyond 31 places, is left out while the places after it
// load, and the notice says so; a place that does not remember its folder starts in its
// startup folder. The full list refuses a 32nd.
TEST_F(Places, AValueOfAnotherSizeOrBeyond31IsLeftOutAndThePlacesAfterItLoad) {
    for (const auto& [size, notice] : {std::pair<std::size_t, const char*>{2491, "1 damaged place is left out"},
                                       {4, "1 damaged place is left out"},
                                       {remote::placeRecordSize, "1 place beyond the 31 Farlink keeps is left"}}) {
        for (int i = 0; i < 32; ++i) storePlace(i, toUtf16("p" + std::to_string(i)), u"/deep/down", i % 2);
        storeRaw(1, std::vector<std::uint8_t>(size, 0));
        remote::loadPlaces();
        EXPECT_EQ(remote::placeCount(), 31) << size;
        EXPECT_EQ(nameAt(2), size == remote::placeRecordSize ? "p2" : "p3") << size;
        EXPECT_NE(toUtf8(remote::placesLoadNotice()).find(notice), std::string::npos) << size;
    }
    EXPECT_EQ(toUtf8(platform::boundedView(remote::placeAt(0)->currentFolder, 260)), "/start");
    EXPECT_EQ(toUtf8(platform::boundedView(remote::placeAt(3)->currentFolder, 260)), "/deep/down");
    test_support::HeadlessScreen screen{70, 12};
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(platform::Key::leftSoft);
    EXPECT_FALSE(remote::placeDialogData(31, screen.main));
    EXPECT_NE(shown.find("The list of Ftp Places is full"), std::string::npos) << shown;
    EXPECT_EQ(remote::applyPlaceDialogData(31, *remote::placeDialogData(0, screen.main)), 0);
    EXPECT_EQ(remote::placeCount(), 31);
}

// A damaged value: texts that fill their fields without a terminator, and pointer words.
TEST_F(Places, AStoredPlaceIsReadOnlyInsideItsFields) {
    std::vector<std::uint8_t> bytes(remote::placeRecordSize, 0);
    for (std::size_t i = 0; i < 520; i += 2) bytes[i] = 'A';      // name
    for (std::size_t i = 520; i < 648; i += 2) bytes[i] = 'P';    // filterPattern
    for (std::size_t i = 648; i < 1168; i += 2) bytes[i] = 'H';   // host
    for (std::size_t i = 1944; i < 2464; i += 2) bytes[i] = 'S';  // startupFolder
    for (std::size_t i = 2480; i < 2492; ++i) bytes[i] = 0xFF;    // session, errorTag, errorText
    storeRaw(0, bytes);
    remote::loadPlaces();
    ASSERT_EQ(remote::placeCount(), 1);
    const std::shared_ptr<FtpPlace> place = remote::placeAt(0);
    EXPECT_EQ(toUtf8(platform::boundedView(place->name, 260)), std::string(259, 'A'));
    EXPECT_EQ(toUtf8(platform::boundedView(place->host, 260)), std::string(259, 'H'));
    EXPECT_EQ(toUtf8(platform::boundedView(place->currentFolder, 260)), std::string(259, 'S'));
    EXPECT_EQ(toUtf8(platform::boundedView(place->filterPattern, 64)), "*");
    EXPECT_FALSE(place->session);
    EXPECT_TRUE(place->errorTag.empty());
    EXPECT_TRUE(place->errorText.empty());
}

// Dialog data goes to a place or right after the last one.
TEST_F(Places, ANewPlaceGoesRightAfterTheLastOne) {
    const std::optional<remote::PlaceDialogData> data = remote::placeDialogData(0, {});
    ASSERT_TRUE(data);
    EXPECT_EQ(remote::applyPlaceDialogData(1, *data), 0);  // no gap in the list
    ASSERT_EQ(remote::applyPlaceDialogData(0, *data), 1);
    EXPECT_EQ(remote::placeAt(0)->timeout, 3000u);
    EXPECT_EQ(remote::placeCount(), 1);
}

// What is queued keeps a ticket for its place: a place edited since to another server,
// user, password or port no longer redeems it (the copy would reach another account);
// a new name alone keeps it.
TEST_F(Places, ATicketIsRedeemedOnlyWhileThePlaceNamesTheSameAccount) {
    const struct Case {
        const char* edit;
        test_support::PlaceLogin login;
        std::string address;
        bool redeemed;
    } cases[] = {
        {"the name", {.password = "", .name = u"Renamed"}, "ftp.example.com:21", true},
        {"the host", {}, "other.example.com:21", false},
        {"the port", {}, "ftp.example.com:2121", false},
        {"the user", {.user = "joe", .password = ""}, "ftp.example.com:21", false},
        {"the password", {.password = "new"}, "ftp.example.com:21", false},
    };
    for (const Case& c : cases) {
        test_support::addPlace("ftp.example.com:21");
        const remote::PlaceTicket ticket = remote::placeTicket(0);
        const remote::PlaceDialogData edited = [&] {
            test_support::addPlace(c.address, c.login);  // the dialog's data for the edit, at index 1
            remote::PlaceDialogData data = *remote::placeDialogData(1, {});
            remote::removePlace(1);
            return data;
        }();
        ASSERT_EQ(remote::applyPlaceDialogData(0, edited), 1) << c.edit;
        std::u16string reason;
        EXPECT_EQ(remote::redeemPlaceTicket(ticket, reason) != nullptr, c.redeemed) << c.edit;
        EXPECT_EQ(reason.empty(), c.redeemed) << c.edit << ": " << toUtf8(reason);
        remote::removePlace(0);
    }
    // A deleted place redeems nothing, though a running copy still holds it.
    test_support::addPlace("ftp.example.com:21");
    const remote::PlaceTicket ticket = remote::placeTicket(0);
    const std::shared_ptr<remote::FtpPlace> held = remote::placeAt(0);
    remote::removePlace(0);
    std::u16string reason;
    EXPECT_EQ(remote::redeemPlaceTicket(ticket, reason), nullptr);
    EXPECT_EQ(toUtf8(reason), "The Ftp Place this was queued for has been deleted.");
}

// Two workers failing on one place: each record reads its own thread's reason, while the
// Remote view's box shows the place's latest.
TEST_F(Places, EachThreadReadsTheReasonOfItsOwnFailure) {
    test_support::addPlace("ftp.example.com:21");
    remote::setPlaceError(*remote::placeAt(0), u"(KVT-CF-2)", "550 first.\n");
    std::thread([] { remote::setPlaceError(*remote::placeAt(0), u"(KVT-CF-1)", "553 second.\n"); }).join();
    EXPECT_EQ(toUtf8(remote::remoteLastErrorText()), "(KVT-CF-2) 550 first.");
    EXPECT_EQ(remote::placeErrorText(*remote::placeAt(0)), "553 second.\n");
}

}  // namespace
