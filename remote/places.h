// Ftp Places: the saved server profiles of the Remote view, their fixed 2492-byte
// registry form under "\Software\Tarvik\Ftp\2.0\Places", the in-memory list of at most
// 31, and the data the place dialogs edit. Each place carries its own FTP session and
// the lock that serialises every use of it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ftp/ftp_session.h"
#include "platform/window/window.h"

namespace remote {

inline constexpr std::u16string_view placesKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Places";
inline constexpr std::uint32_t placeRecordSize = 2492;
inline constexpr int maxPlaces = 31;

inline constexpr std::u16string_view placeholderHost = u"ftp.example.com";
inline constexpr std::u16string_view anonymousUser = u"anonymous";
inline constexpr std::u16string_view anonymousPassword = u"anonymous@example.com";
inline constexpr std::uint32_t defaultTimeoutMs = 3000;

// Owns a place's session: when it goes, a connection still open is quit at once
// (without waiting for the server) and the session is released.
struct SessionDrop {
    void operator()(ftp::FtpSession* session) const;
};
using PlaceSession = std::unique_ptr<ftp::FtpSession, SessionDrop>;

// One place. The stored fields are written on the UI thread only, under `lock`, and
// read under `lock` or on the UI thread. `session`, `errorTag` and `errorText` are used
// under `lock` only.
struct FtpPlace {
    char16_t name[260] = {};
    char16_t filterPattern[64] = {};  // always "*"
    char16_t host[260] = {};
    char16_t userName[64] = {};
    char16_t password[64] = {};  // plain text, as stored
    char16_t currentFolder[260] = {};
    char16_t startupFolder[260] = {};
    std::uint8_t passive = 0;
    std::uint8_t rememberFolder = 0;
    std::uint32_t port = 0;
    std::uint32_t timeout = 0;  // milliseconds to connect
    std::uint8_t autoReconnect = 0;

    // In memory only: a loaded place starts without them.
    PlaceSession session;
    std::u16string errorTag;  // for example "(KVT-FC-1)"
    std::string errorText;    // the server's reply or a sentence of our own
    std::mutex lock;          // held for each whole use of `session`
    // Counts the edits that point the place at another server or account (host, port,
    // user, password), so that a copy queued before such an edit is not sent there.
    std::uint32_t revision = 0;
};

using PlaceBytes = std::array<std::uint8_t, placeRecordSize>;

// The stored form, field by field in little-endian order; padding and the three
// in-memory words (offsets 2480-2491) are zero.
PlaceBytes encodePlace(const FtpPlace& place);
// Fills the stored fields of `place` from its stored form. A text that is not
// terminated inside its field is cut at the field's end.
void decodePlace(const PlaceBytes& bytes, FtpPlace& place);

// What the place dialogs edit, limited as their fields are.
struct PlaceDialogData {
    char16_t name[128] = {};
    char16_t host[128] = {};
    char16_t userName[64] = {};
    char16_t password[64] = {};
    char16_t startupFolder[260] = {};
    char16_t currentFolder[260] = {};
    std::uint32_t port = 0;
    std::uint32_t timeout = 0;
    std::uint8_t passive = 0;
    std::uint8_t rememberFolder = 0;
    std::uint8_t autoReconnect = 0;
};

// The data of the place at `index`, or the defaults of a new place when `index` is the
// place count. None when the index is beyond that, or when the list is full: then a box
// owned by `owner` says so. UI thread only.
std::optional<PlaceDialogData> placeDialogData(int index, platform::Window owner);
// Writes confirmed dialog data into the place at `index`, or into a new place when
// `index` is the place count. An existing place loses its session (quit at once when it
// is open), so that the next operation connects with the new settings.
// 0 when there is no such place and none can be added. UI thread only.
int applyPlaceDialogData(int index, const PlaceDialogData& data);

// Replaces the list with the stored places from value "0" on, up to the first missing
// value or one that is not 2492 bytes, and at most 31. A place that does not remember
// its folder starts in its startup folder. Returns 1. UI thread only.
int loadPlaces();
// Writes every place as value "0", "1", ... and deletes the values after the last. 0
// when the key cannot be created. UI thread only.
int savePlaces();
// Drops the place at `index` (and its session) and closes the gap; 0 when there is
// none. Memory only. UI thread only.
int removePlace(int index);

int placeCount();  // Any thread.
// The place at `index`, kept alive while held; null past the last. Any thread.
std::shared_ptr<FtpPlace> placeAt(int index);

using PlaceLock = std::unique_lock<std::mutex>;

// One use of a place by a remote operation: the place (null when the list has none at
// `index`), kept alive and locked for as long as the use lives.
struct PlaceUse {
    int index = 0;
    std::shared_ptr<FtpPlace> place;
    PlaceLock lock;  // owns place->lock while the use lives, when there is a place
};
// Blocks until the place is free. Any thread.
PlaceUse usePlace(int index);

// A queued copy runs against the place it was queued for, whichever place is current
// when it runs: its worker pins that place for the thread, and the Remote view's
// operations on that thread use it. Null ends the pin. Any thread.
void pinPlaceForThread(std::shared_ptr<FtpPlace> place);
// A copy from one place to another names the place its source is on as well. Null ends
// it. Any thread.
void pinSourcePlaceForThread(std::shared_ptr<FtpPlace> place);
std::shared_ptr<FtpPlace> sourcePlaceOfThread();
// The place the Remote view's operations of this thread use, locked as by usePlace: the
// pinned one (its index in the list, -1 when it has left it), else the one at `index`.
// Any thread.
PlaceUse useViewPlace(int index);

// A place as it stood when a copy was queued for it.
struct PlaceTicket {
    std::weak_ptr<FtpPlace> place;
    std::uint32_t revision = 0;
};
PlaceTicket placeTicket(int index);  // Any thread.
// The ticket's place while it is still in the list and still points at the same server
// and account; else null with the reason in `reason`. Any thread.
std::shared_ptr<FtpPlace> redeemPlaceTicket(const PlaceTicket& ticket, std::u16string& reason);

// True while the session's control connection is open. Pre: the session is not in use
// by another thread.
bool sessionIsOpen(const ftp::FtpSession& session);

}  // namespace remote
