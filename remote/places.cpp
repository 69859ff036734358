#include "remote/places.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "explorer/provider.h"
#include "platform/registry.h"
#include "platform/secret.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/message_box.h"

namespace remote {
namespace {

// Offsets of the stored form.
constexpr std::size_t nameOffset = 0;
constexpr std::size_t filterPatternOffset = 520;
constexpr std::size_t hostOffset = 648;
constexpr std::size_t userNameOffset = 1168;
constexpr std::size_t passwordOffset = 1296;
constexpr std::size_t currentFolderOffset = 1424;
constexpr std::size_t startupFolderOffset = 1944;
constexpr std::size_t passiveOffset = 2464;
constexpr std::size_t rememberFolderOffset = 2465;
constexpr std::size_t portOffset = 2468;
constexpr std::size_t timeoutOffset = 2472;
constexpr std::size_t autoReconnectOffset = 2476;
constexpr std::size_t directUploadOffset = 2477;

// The list in selector order; the first empty slot ends it. Guarded by listLock.
std::array<std::shared_ptr<FtpPlace>, maxPlaces + 1> slots;
platform::CountedMutex listLock;

int countLocked() {
    int count = 0;
    while (slots[count]) ++count;
    return count;
}

template <std::size_t N>
void putText(PlaceBytes& bytes, std::size_t offset, const char16_t (&field)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        bytes[offset + 2 * i] = std::uint8_t(field[i]);
        bytes[offset + 2 * i + 1] = std::uint8_t(field[i] >> 8);
    }
}

void putWord(PlaceBytes& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes[offset + i] = std::uint8_t(value >> (8 * i));
}

template <std::size_t N>
void getText(const PlaceBytes& bytes, std::size_t offset, char16_t (&field)[N]) {
    for (std::size_t i = 0; i < N; ++i) {
        field[i] = char16_t(bytes[offset + 2 * i] | (bytes[offset + 2 * i + 1] << 8));
    }
    field[N - 1] = u'\0';
}

std::uint32_t getWord(const PlaceBytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::uint32_t(bytes[offset + i]) << (8 * i);
    return value;
}

template <std::size_t N>
void setText(char16_t (&field)[N], std::u16string_view text) {
    std::fill(field, field + N, u'\0');
    platform::copyBounded(field, N, text);
}

template <std::size_t N>
std::u16string_view textOf(const char16_t (&field)[N]) {
    return platform::boundedView(field, N);
}

void fillFromDialog(FtpPlace& place, const PlaceDialogData& data) {
    setText(place.name, textOf(data.name));
    setText(place.host, textOf(data.host));
    setText(place.userName, textOf(data.userName));
    setText(place.password, textOf(data.password));
    setText(place.currentFolder, textOf(data.currentFolder));
    setText(place.startupFolder, textOf(data.startupFolder));
    setText(place.filterPattern, u"*");
    place.rememberFolder = data.rememberFolder;
    place.port = data.port;
    place.passive = data.passive;
    place.timeout = data.timeout;
    place.autoReconnect = data.autoReconnect;
    place.uploadThroughTemporary = data.uploadThroughTemporary;
}

// What says which server and account a place reaches.
std::u16string accountOf(const FtpPlace& place) {
    return std::u16string(textOf(place.host)) + u'\n' + std::u16string(textOf(place.userName)) + u'\n' +
           std::u16string(textOf(place.password)) + u'\n' + platform::toUtf16(std::to_string(place.port));
}

std::u16string valueName(int index) { return platform::toUtf16(std::to_string(index)); }

std::u16string loadNotice;  // UI thread only

// Keeps a copy of the settings, whose left-out places the next save drops, and says so.
std::u16string keepUnloadedPlaces(int damaged, int beyond) {
    std::string text = "The stored list of Ftp Places could not be read whole:";
    if (damaged > 0) text += " " + std::to_string(damaged) + " damaged place" + (damaged > 1 ? "s" : "");
    if (damaged > 0 && beyond > 0) text += " and";
    if (beyond > 0) {
        text += " " + std::to_string(beyond) + " place" + (beyond > 1 ? "s" : "") + " beyond the " +
                std::to_string(maxPlaces) + " Farlink keeps";
    }
    text += damaged + beyond > 1 ? " are" : " is";
    text += " left out, and the next change of the list removes them.";
    std::string keptAs;
    if (platform::keepRegistryCopy(keptAs)) {
        text += " The settings as they were are kept in " + keptAs + ".";
    } else {
        text += std::string(" Farlink could not keep a copy of the settings (") + std::strerror(errno) + ").";
    }
    return platform::toUtf16(text);
}

// Writes the records and deletes the values after the last in one write, so that an
// interrupted save leaves the old list or the new one, never a mix.
bool writePlaceValues(platform::RegistryKey key, const std::vector<PlaceBytes>& records) {
    platform::RegistryBatch batch;
    for (std::size_t index = 0; index < records.size(); ++index) {
        platform::batchSetValue(batch, valueName(int(index)), platform::registryBinary, records[index].data(),
                                placeRecordSize);
    }
    for (int index = int(records.size()); platform::queryValue(key, valueName(index), nullptr, nullptr, nullptr);
         ++index) {
        platform::batchDeleteValue(batch, valueName(index));
    }
    return platform::applyBatch(key, batch);
}

}  // namespace

PlaceBytes encodePlace(const FtpPlace& place) {
    PlaceBytes bytes{};
    putText(bytes, nameOffset, place.name);
    putText(bytes, filterPatternOffset, place.filterPattern);
    putText(bytes, hostOffset, place.host);
    putText(bytes, userNameOffset, place.userName);
    putText(bytes, passwordOffset, place.password);
    putText(bytes, currentFolderOffset, place.currentFolder);
    putText(bytes, startupFolderOffset, place.startupFolder);
    bytes[passiveOffset] = place.passive;
    bytes[rememberFolderOffset] = place.rememberFolder;
    putWord(bytes, portOffset, place.port);
    putWord(bytes, timeoutOffset, place.timeout);
    bytes[autoReconnectOffset] = place.autoReconnect;
    bytes[directUploadOffset] = place.uploadThroughTemporary ? 0 : 1;
    return bytes;
}

void decodePlace(const PlaceBytes& bytes, FtpPlace& place) {
    getText(bytes, nameOffset, place.name);
    getText(bytes, filterPatternOffset, place.filterPattern);
    getText(bytes, hostOffset, place.host);
    getText(bytes, userNameOffset, place.userName);
    getText(bytes, passwordOffset, place.password);
    getText(bytes, currentFolderOffset, place.currentFolder);
    getText(bytes, startupFolderOffset, place.startupFolder);
    place.passive = bytes[passiveOffset];
    place.rememberFolder = bytes[rememberFolderOffset];
    place.port = getWord(bytes, portOffset);
    place.timeout = getWord(bytes, timeoutOffset);
    place.autoReconnect = bytes[autoReconnectOffset];
    place.uploadThroughTemporary = bytes[directUploadOffset] == 0 ? 1 : 0;
}

std::optional<PlaceDialogData> placeDialogData(int index, platform::Window owner) {
    const int count = placeCount();
    if (index < 0 || index > count) return std::nullopt;
    if (index == maxPlaces) {
        platform::messageBox(owner,
                             u"The list of Ftp Places is full: Farlink keeps at most 31 places. Delete one before "
                             u"adding another.",
                             u"Edit Ftp Place", platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
        return std::nullopt;
    }
    PlaceDialogData data;
    if (const std::shared_ptr<FtpPlace> place = placeAt(index)) {
        setText(data.name, textOf(place->name));
        setText(data.host, textOf(place->host));
        setText(data.userName, textOf(place->userName));
        setText(data.password, textOf(place->password));
        setText(data.startupFolder, textOf(place->startupFolder));
        setText(data.currentFolder, textOf(place->currentFolder));
        data.rememberFolder = place->rememberFolder;
        data.port = place->port;
        data.passive = place->passive;
        data.timeout = place->timeout;
        data.autoReconnect = place->autoReconnect;
        data.uploadThroughTemporary = place->uploadThroughTemporary;
        return data;
    }
    setText(data.host, placeholderHost);
    setText(data.name, u"My " + std::u16string(placeholderHost) + u" Connection");
    setText(data.startupFolder, u"/");
    setText(data.currentFolder, u"/");
    data.timeout = defaultTimeoutMs;
    data.rememberFolder = 1;
    data.port = session::ftpDefaultPort;
    data.passive = 1;
    data.autoReconnect = 1;
    return data;
}

int applyPlaceDialogData(int index, const PlaceDialogData& data) {
    std::shared_ptr<FtpPlace> place;
    {
        std::lock_guard guard(listLock);
        if (index < 0 || index >= maxPlaces || index > countLocked()) return 0;
        if (!slots[index]) {
            auto created = std::make_shared<FtpPlace>();
            fillFromDialog(*created, data);
            slots[index] = std::move(created);
            return 1;
        }
        place = slots[index];
    }
    std::lock_guard held(place->fieldsLock);
    std::u16string before = accountOf(*place);
    fillFromDialog(*place, data);
    std::u16string after = accountOf(*place);
    if (after != before) ++place->revision;
    ++place->edits;
    platform::wipe(before);
    platform::wipe(after);
    return 1;
}

int loadPlaces() {
    while (removePlace(0)) {}
    loadNotice.clear();
    platform::RegistryKey key = platform::noKey;
    if (!platform::openKey(platform::currentUserKey, placesKeyPath, key)) return 1;
    // A damaged value, or one beyond the places the list holds, is left out, and the
    // places after it still load.
    int damaged = 0;
    int beyond = 0;
    {
        std::lock_guard guard(listLock);
        int count = 0;
        for (int index = 0;; ++index) {
            const std::u16string name = valueName(index);
            PlaceBytes bytes;
            std::uint32_t size = 0;
            if (!platform::queryValue(key, name, nullptr, nullptr, &size)) break;
            if (size != placeRecordSize || !platform::queryValue(key, name, nullptr, bytes.data(), &size)) {
                ++damaged;
                continue;
            }
            if (count < maxPlaces) {
                auto place = std::make_shared<FtpPlace>();
                decodePlace(bytes, *place);
                if (!place->rememberFolder) setText(place->currentFolder, textOf(place->startupFolder));
                setText(place->filterPattern, u"*");
                slots[count++] = std::move(place);
            } else {
                ++beyond;
            }
            platform::wipe(bytes.data(), bytes.size());  // it holds the password
        }
    }
    platform::closeKey(key);
    if (damaged > 0 || beyond > 0) loadNotice = keepUnloadedPlaces(damaged, beyond);
    return 1;
}

const std::u16string& placesLoadNotice() { return loadNotice; }

int savePlaces() {
    platform::RegistryKey key = platform::noKey;
    if (!platform::createKey(platform::currentUserKey, placesKeyPath, key)) return 0;
    std::vector<PlaceBytes> records;
    {
        std::lock_guard guard(listLock);
        for (int index = 0; slots[index]; ++index) {
            std::lock_guard fields(slots[index]->fieldsLock);
            records.push_back(encodePlace(*slots[index]));
        }
    }
    const bool written = writePlaceValues(key, records);
    for (PlaceBytes& record : records) platform::wipe(record.data(), record.size());
    platform::closeKey(key);
    return written ? 1 : 0;
}

int removePlace(int index) {
    std::shared_ptr<FtpPlace> place;
    {
        std::lock_guard guard(listLock);
        if (index < 0 || index >= maxPlaces || !slots[index]) return 0;
        place = std::move(slots[index]);
        std::move(slots.begin() + index + 1, slots.end(), slots.begin() + index);
    }
    return 1;
}

int placeCount() {
    std::lock_guard guard(listLock);
    return countLocked();
}

std::shared_ptr<FtpPlace> placeAt(int index) {
    std::lock_guard guard(listLock);
    if (index < 0 || index > maxPlaces) return nullptr;
    return slots[index];
}

namespace {

// A session of this thread's own for a pinned place: it outlives the pin, so that the
// next copy to the same place needs no new login, and goes when the thread ends.
struct ThreadSession {
    std::shared_ptr<FtpPlace> place;
    std::uint32_t edits = 0;
    PlaceSession session;
};

struct ThreadPin {
    std::shared_ptr<FtpPlace> place;
    std::uint32_t revision = 0;
    std::shared_ptr<FtpPlace> sourcePlace;
    ThreadSession own;
};
thread_local ThreadPin pin;

// The last failure this thread gave a place (see threadPlaceError).
struct ThreadError {
    std::weak_ptr<const FtpPlace> place;  // weak: a place made later at its address is another
    PlaceError error;
};
thread_local ThreadError threadError;

bool isThreadErrorOf(const FtpPlace& place) { return threadError.place.lock().get() == &place; }

int indexOfLocked(const FtpPlace* place) {
    for (int index = 0; index < maxPlaces && slots[index]; ++index) {
        if (slots[index].get() == place) return index;
    }
    return -1;
}

int indexOf(const FtpPlace* place) {
    std::lock_guard guard(listLock);
    return indexOfLocked(place);
}

std::uint32_t editsOf(const FtpPlace& place) {
    std::lock_guard guard(place.fieldsLock);
    return place.edits;
}

// Waits for the place's session lock: briefly on the UI thread, longer elsewhere, in
// short slices that hear the thread's stop.
bool lockSession(FtpPlace& place, SessionLock& lock) {
    lock = SessionLock(place.sessionLock, std::defer_lock);
    if (platform::isUiThread()) return lock.try_lock_for(std::chrono::milliseconds(uiSessionWaitMs));
    for (std::uint32_t waited = 0; waited < sessionWaitMs; waited += platform::stopCheckMs) {
        if (lock.try_lock_for(std::chrono::milliseconds(platform::stopCheckMs))) return true;
        if (platform::threadStopped()) return false;
    }
    return false;
}

void sayBusy(FtpPlace& place) {
    setPlaceError(place, u"(KVT-FC-3)",
                  "The connection to this place is busy: a listing or a copy is using it. Nothing was changed; try "
                  "again in a moment.\n");
}

// Gives the use its session: the thread's own for a pinned place, else the place's.
bool takeSession(SessionUse& use) {
    FtpPlace& place = *use.place;
    const std::uint32_t edits = editsOf(place);
    if (pin.place == use.place) {
        if (pin.own.place != use.place || pin.own.edits != edits) pin.own = {use.place, edits, nullptr};
        use.session = &pin.own.session;
        use.threadOwn = true;
        return true;
    }
    if (!lockSession(place, use.lock)) {
        sayBusy(place);
        return false;
    }
    if (place.sessionEdits != edits) {
        place.session.reset();
        place.sessionEdits = edits;
    }
    use.session = &place.session;
    return true;
}

}  // namespace

FtpPlace::~FtpPlace() { platform::wipe(password, sizeof password); }

PlaceSettings::~PlaceSettings() { platform::wipe(password); }

PlaceDialogData::~PlaceDialogData() { platform::wipe(password, sizeof password); }

PlaceSettings settingsOf(const FtpPlace& place) {
    std::lock_guard guard(place.fieldsLock);
    return {std::u16string(textOf(place.name)),
            std::u16string(textOf(place.host)),
            std::u16string(textOf(place.userName)),
            std::u16string(textOf(place.password)),
            place.port,
            place.timeout,
            place.passive,
            place.autoReconnect,
            place.revision,
            place.uploadThroughTemporary};
}

void setPlaceError(FtpPlace& place, std::u16string_view tag, std::string_view text) {
    threadError = {place.weak_from_this(), {std::u16string(tag), std::string(text)}};
    std::lock_guard guard(place.fieldsLock);
    place.errorTag = tag;
    place.errorText = text;
}

void setPlaceErrorTag(FtpPlace& place, std::u16string_view tag) {
    std::lock_guard guard(place.fieldsLock);
    place.errorTag = tag;
    // The text stays this thread's own (its connection's), else the place's.
    if (!isThreadErrorOf(place)) threadError = {place.weak_from_this(), {{}, place.errorText}};
    threadError.error.tag = tag;
}

PlaceError threadPlaceError(const FtpPlace& place) { return isThreadErrorOf(place) ? threadError.error : PlaceError{}; }

std::u16string placeErrorTag(const FtpPlace& place) {
    std::lock_guard guard(place.fieldsLock);
    return place.errorTag;
}

std::string placeErrorText(const FtpPlace& place) {
    std::lock_guard guard(place.fieldsLock);
    return place.errorText;
}

int viewPlaceIndex() {
    if (pin.place) return -1;
    return int(explorer::threadView(explorer::remoteProvider).filterIndex);
}

std::shared_ptr<FtpPlace> threadPlace(int index, bool orFirst) {
    if (pin.place) return pin.place;
    std::shared_ptr<FtpPlace> place = placeAt(index);
    return place || !orFirst ? place : placeAt(0);
}

SessionUse useSession(int index) {
    SessionUse use;
    if (pin.place) {
        use.place = pin.place;
        use.index = indexOf(use.place.get());
    } else {
        use.index = index;
        use.place = placeAt(index);
    }
    if (use.place) takeSession(use);
    return use;
}

void releaseSession(SessionUse& use) {
    use.session = nullptr;
    if (use.lock.owns_lock()) use.lock.unlock();
}

bool retakeSession(SessionUse& use) { return use.place && takeSession(use); }

void pinPlaceForThread(std::shared_ptr<FtpPlace> place, std::uint32_t revision) {
    pin.place = std::move(place);
    pin.revision = revision;
}
void dropThreadSessions() { pin.own = {}; }
void pinSourcePlaceForThread(std::shared_ptr<FtpPlace> place) { pin.sourcePlace = std::move(place); }
std::shared_ptr<FtpPlace> sourcePlaceOfThread() { return pin.sourcePlace; }
bool threadHasPinnedPlace() { return pin.place != nullptr; }

std::u16string pinnedPlaceChanged(const FtpPlace& place) {
    if (pin.place.get() != &place || settingsOf(place).revision == pin.revision) return {};
    return u"The Ftp Place this was queued for now names another server or user.";
}

PlaceTicket placeTicket(int index) {
    const std::shared_ptr<FtpPlace> place = placeAt(index);
    if (!place) return {};
    return {place, settingsOf(*place).revision};
}

std::shared_ptr<FtpPlace> redeemPlaceTicket(const PlaceTicket& ticket, std::u16string& reason) {
    std::shared_ptr<FtpPlace> place = ticket.place.lock();
    if (!place || indexOf(place.get()) < 0) {
        reason = u"The Ftp Place this was queued for has been deleted.";
        return nullptr;
    }
    if (settingsOf(*place).revision != ticket.revision) {
        reason = u"The Ftp Place this was queued for now names another server or user.";
        return nullptr;
    }
    return place;
}

}  // namespace remote
