// Ftp Places: the saved server profiles of the Remote view, their fixed 2492-byte
// registry form under "\Software\Tarvik\Ftp\2.0\Places", the in-memory list of at most
// 31, and the data the place dialogs edit. Each place carries its own browsing session,
// and the threads that copy have sessions of their own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/counted_lock.h"
#include "platform/window/window.h"
#include "session/server_session.h"

namespace remote {

inline constexpr std::u16string_view placesKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Places";
inline constexpr std::uint32_t placeRecordSize = 2492;
inline constexpr int maxPlaces = 31;

inline constexpr std::u16string_view placeholderHost = u"ftp.example.com";
inline constexpr std::u16string_view anonymousUser = u"anonymous";
inline constexpr std::u16string_view anonymousPassword = u"anonymous@example.com";
inline constexpr std::uint32_t defaultTimeoutMs = 3000;

// Owns a place's session: when it goes, a connection still open is closed at once
// (without waiting for the server).
using PlaceSession = std::unique_ptr<session::ServerSession>;

// One place. Two locks, so that the UI thread never waits on a network wait: the stored
// fields, the error and the counters sit under `fieldsLock`, held only to copy or write a
// few fields (the stored fields are written on the UI thread only, which may read them
// without it); the browsing session sits under `sessionLock`, held for each use of it,
// network waits included, and never waited for long by the UI thread. A thread's last
// failure (threadPlaceError) names its place weakly.
struct FtpPlace : std::enable_shared_from_this<FtpPlace> {
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
    // Uploads go to a temporary name and are renamed onto their target once whole (stored
    // inverted, in a byte that was padding, so that places stored before keep it on).
    std::uint8_t uploadThroughTemporary = 1;

    // In memory only: a loaded place starts without them.
    mutable platform::CountedMutex fieldsLock;
    std::u16string errorTag;  // for example "(KVT-FC-1)"
    std::string errorText;    // the server's reply or a sentence of our own
    // Counts the edits that point the place at another server or account (host, port,
    // user, password), so that a copy queued before such an edit is not sent there.
    std::uint32_t revision = 0;
    // Counts every edit: a session made before one is dropped at its next use.
    std::uint32_t edits = 0;

    platform::CountedMutex sessionLock;
    PlaceSession session;            // under sessionLock
    std::uint32_t sessionEdits = 0;  // `edits` when the session was made; under sessionLock

    ~FtpPlace();  // wipes the password
};

// What a connection to a place needs of it, copied under its fields lock. Any thread.
struct PlaceSettings {
    std::u16string name;
    std::u16string host;
    std::u16string userName;
    std::u16string password;
    std::uint32_t port = 0;
    std::uint32_t timeout = 0;
    std::uint8_t passive = 0;
    std::uint8_t autoReconnect = 0;
    std::uint32_t revision = 0;
    std::uint8_t uploadThroughTemporary = 1;

    ~PlaceSettings();  // wipes the password
};
PlaceSettings settingsOf(const FtpPlace& place);

// The place's last failure: written and read under its fields lock. Any thread.
void setPlaceError(FtpPlace& place, std::u16string_view tag, std::string_view text);
void setPlaceErrorTag(FtpPlace& place, std::u16string_view tag);
std::u16string placeErrorTag(const FtpPlace& place);
std::string placeErrorText(const FtpPlace& place);
// The last failure that the calling thread gave the place, tag and text, as the record of
// a worker reads it: two workers failing on one place each keep their own reason. Empty
// when this thread gave the place none.
struct PlaceError {
    std::u16string tag;
    std::string text;
};
PlaceError threadPlaceError(const FtpPlace& place);

using PlaceBytes = std::array<std::uint8_t, placeRecordSize>;

// The stored form, field by field in little-endian order; padding and the three
// in-memory words (offsets 2480-2491) are zero, save the byte at 2477, which is 1 when
// uploads go straight into their target.
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
    std::uint8_t uploadThroughTemporary = 1;

    ~PlaceDialogData();  // wipes the password
};

// The data of the place at `index`, or the defaults of a new place when `index` is the
// place count. None when the index is beyond that, or when the list is full: then a box
// owned by `owner` says so. UI thread only.
std::optional<PlaceDialogData> placeDialogData(int index, platform::Window owner);
// Writes confirmed dialog data into the place at `index`, or into a new place when
// `index` is the place count. An existing place's session is dropped at its next use,
// so that the next operation connects with the new settings.
// 0 when there is no such place and none can be added. UI thread only.
int applyPlaceDialogData(int index, const PlaceDialogData& data);

// Replaces the list with the stored places from value "0" on, up to the first missing
// value, and at most 31. A place that does not remember its folder starts in its
// startup folder. A value that is not 2492 bytes, and any beyond the 31st place, is
// left out: the next save drops it, so the settings as they stand are first copied
// aside, and placesLoadNotice says so. Returns 1. UI thread only.
int loadPlaces();
// What the last loadPlaces left out and where the copy is, in a sentence for the user;
// empty when the list was loaded whole. UI thread only.
const std::u16string& placesLoadNotice();
// Writes every place as value "0", "1", ... and deletes the values after the last. 0
// when the key cannot be created. UI thread only.
int savePlaces();
// Drops the place at `index` and closes the gap; its session goes with the last use of
// it. 0 when there is none. Memory only. UI thread only.
int removePlace(int index);

int placeCount();  // Any thread.
// The place at `index`, kept alive while held; null past the last. Any thread.
std::shared_ptr<FtpPlace> placeAt(int index);

using SessionLock = std::unique_lock<platform::CountedMutex>;

// What the UI thread waits, at most, for a place's session that another thread uses;
// then the command says the connection is busy.
inline constexpr std::uint32_t uiSessionWaitMs = 2000;
// What other threads wait at most (a stop of the thread ends the wait sooner).
inline constexpr std::uint32_t sessionWaitMs = 60000;

// One use of a place's session by a remote operation of this thread.
struct SessionUse {
    int index = 0;                    // the place's index in the list; -1 when it has left it
    std::shared_ptr<FtpPlace> place;  // null: the list has no place there
    PlaceSession* session = nullptr;  // null while not held (busy, or released for a question)
    SessionLock lock;                 // on the place's session lock, unless the session is the thread's own
    bool threadOwn = false;           // the session is this thread's own (see pinPlaceForThread)
};
// The session the Remote view's operations of this thread use for the place at `index`:
// the place of the thread's pin instead, when it has one, with the session of the
// thread's own (see pinPlaceForThread); else the place's browsing session, waited for
// (on the UI thread at most uiSessionWaitMs). A session made before the place's last
// edit is dropped. When it cannot be had, `session` stays null and the place's error
// says why. Any thread.
SessionUse useSession(int index);
// Lets go of the session (for a question to the user) and takes it back; false, with
// the place's error saying why, when it could not be had again. Any thread.
void releaseSession(SessionUse& use);
bool retakeSession(SessionUse& use);

// The index of the place the Remote view's operations of this thread work on: the
// view's selection, or that of the copy of the view the thread works on; -1 on a thread
// with a pinned place, which never reads the selection (the UI thread changes it).
// Any thread.
int viewPlaceIndex();
// The place those operations work on: the pinned one, else the one at `index`, else,
// when `orFirst`, place 0. Null when there is none. Any thread.
std::shared_ptr<FtpPlace> threadPlace(int index, bool orFirst = false);

// A queued copy runs against the place it was queued for, whichever place is current
// when it runs: its worker pins that place, with the revision it was queued at, for the
// thread; the Remote view's operations on that thread then use it, on a session of the
// thread's own that lasts from pin to pin of the same place until the thread ends, so
// that browsing never waits for a copy. A pinned place that is edited to another server
// or account meanwhile fails every later operation of the thread, saying so. Null ends
// the pin. Any thread.
void pinPlaceForThread(std::shared_ptr<FtpPlace> place, std::uint32_t revision);
// Closes the sessions of this thread's own (see pinPlaceForThread) now rather than when
// the thread ends. Any thread.
void dropThreadSessions();
// A copy from one place to another names the place its source is on as well. Null ends
// it. Any thread.
void pinSourcePlaceForThread(std::shared_ptr<FtpPlace> place);
std::shared_ptr<FtpPlace> sourcePlaceOfThread();
// True while this thread has a pinned place (its operations never read the view's
// selection). Any thread.
bool threadHasPinnedPlace();
// The reason when the place pinned for this thread was edited to another server or
// account since; empty when it was not. Any thread.
std::u16string pinnedPlaceChanged(const FtpPlace& place);

// A place as it stood when a copy was queued for it.
struct PlaceTicket {
    std::weak_ptr<FtpPlace> place;
    std::uint32_t revision = 0;
};
PlaceTicket placeTicket(int index);  // Any thread.
// The ticket's place while it is still in the list and still points at the same server
// and account; else null with the reason in `reason`. Any thread.
std::shared_ptr<FtpPlace> redeemPlaceTicket(const PlaceTicket& ticket, std::u16string& reason);

}  // namespace remote
