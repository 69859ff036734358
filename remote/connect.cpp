#include "remote/connect.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <utility>

#include "explorer/provider.h"
#include "platform/connection_manager.h"
#include "platform/secret.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "platform/window/window.h"
#include "remote/certificates.h"

namespace remote {
namespace {

constexpr std::uint32_t recheckIntervalMs = 10000;
constexpr std::uint32_t readyWaitMs = 5000;
constexpr std::uint32_t establishWaitMs = 30000;
constexpr std::uint32_t maxTimeoutMs = 32767;

// The process-wide network state; one thread at a time asks the Connection Manager.
struct NetworkState {
    platform::CountedMutex lock;
    platform::NetworkConnection connection = platform::noNetworkConnection;
    std::uint32_t lastCheck = 0;
    TickSource ticks = platform::tickCount;
};
NetworkState network;

std::atomic<EditPlaceHook> editPlaceHook{nullptr};
std::atomic<std::uint32_t> replyWaitFloorMs{defaultSilenceLimitMs};

// The place's time-out: 1 to 32767 ms; an unset one (0) is the default.
std::uint32_t connectWaitMs(const PlaceSettings& place) {
    if (place.timeout == 0) return defaultTimeoutMs;
    return std::min(place.timeout, maxTimeoutMs);
}

std::uint32_t replyWaitMs(const PlaceSettings& place) {
    return std::max(replyWaitFloorMs.load(), connectWaitMs(place));
}

// A session of the thread's own (the queue's worker) that the server answered this
// recently is taken as answering: a copy of many files then sends no probe between them.
constexpr std::uint32_t recentAnswerMs = 3000;

// Creates the session of `use` when it has none and probes it.
bool answers(SessionUse& use, bool& lost) {
    PlaceSession& session = *use.session;
    if (!session) session = session::newServerSession(settingsOf(*use.place).host);
    lost = false;
    if (use.threadOwn && session->quietMs() < recentAnswerMs) return true;
    return session->probe(lost);
}

// Asks a question with the session let go: the UI thread, which shows the box, may be
// waiting for it, and the wait cursor is a call to the UI thread as well. False when
// the answer is not Yes, or the session could not be had again (the place's error then
// says why). A thread asked to stop asks nothing.
bool askWithSessionReleased(SessionUse& use, std::u16string_view text, platform::MessageBoxIcon icon) {
    if (platform::threadStopped()) {
        setPlaceError(*use.place, u"(KVT-FC-1)", "Stopped.\n");
        return false;
    }
    releaseSession(use);
    platform::setWaitCursor(false);
    const platform::MessageBoxResult answer = platform::messageBox(
        platform::getForegroundWindow(), text, u"Connect - Farlink", platform::MessageBoxButtons::yesNo, icon);
    return retakeSession(use) && answer == platform::MessageBoxResult::yes;
}

bool userWantsReconnect(SessionUse& use) {
    const PlaceSettings place = settingsOf(*use.place);
    const std::u16string text = u"The connection to " + place.name +
                                u" has been disconnected would you like to re-connect?\r\r" + place.host;
    return askWithSessionReleased(use, text, platform::MessageBoxIcon::question);
}

void offerNewPlace() {
    const platform::Window owner = platform::getForegroundWindow();
    const platform::MessageBoxResult answer = platform::messageBox(
        owner, u"No Ftp Places exist, would you like to add a new Ftp Place?", u"Farlink",
        platform::MessageBoxButtons::yesNo, platform::MessageBoxIcon::question);
    const EditPlaceHook edit = editPlaceHook.load();
    if (answer == platform::MessageBoxResult::yes && edit && edit(0, {owner})) savePlaces();
}

}  // namespace

void setSilenceLimit(std::uint32_t milliseconds) { replyWaitFloorMs.store(milliseconds); }

void startNetworkClock(TickSource ticks) {
    std::lock_guard guard(network.lock);
    network.ticks = ticks;
    network.lastCheck = ticks();
}

int bringUpNetwork(FtpPlace& place) {
    const PlaceSettings settings = settingsOf(place);
    std::lock_guard guard(network.lock);
    platform::ConnectionManager& manager = platform::connectionManager();
    const std::uint32_t now = network.ticks();
    if (now - network.lastCheck <= recheckIntervalMs) return 1;
    network.lastCheck = now;
    if (network.connection != platform::noNetworkConnection) {
        if (manager.connectionStatus(network.connection) & platform::connectionStatusConnected) return 1;
        manager.release(network.connection, true);
        network.connection = platform::noNetworkConnection;
    }
    if (manager.waitReady(readyWaitMs) == platform::WaitResult::timeout) {
        setPlaceError(place, u"(KVT-CTN-1)", "Connection Manager Not Ready.");
        return 0;
    }
    std::u16string url = u"ftp://" + settings.host + u":" + platform::toUtf16(std::to_string(settings.port)) + u"/";
    url.resize(std::min<std::size_t>(url.size(), 1023));
    platform::ConnectionRequest request;
    request.destination = manager.mapUrl(url);
    std::uint32_t status = 0;
    const int established = manager.establish(request, network.connection, establishWaitMs, status);
    network.lastCheck = network.ticks();
    if (!established) {
        setPlaceError(place, u"(KVT-CTN-2)", "Unable to establish an Internet connection.");
        return 0;
    }
    return 1;
}

int connectPlace(FtpPlace& place, session::ServerSession& session, const KeyPassphrase* passphrase) {
    // A stopped thread (a worker on its way out, a cancelled command) opens no connection.
    if (platform::threadStopped()) {
        setPlaceError(place, session.openFailureTag(session::OpenFailure::connection), "Stopped.\n");
        return 0;
    }
    // A copy queued for this place never goes to the server an edit put in its stead.
    if (const std::u16string changed = pinnedPlaceChanged(place); !changed.empty()) {
        setPlaceError(place, session.openFailureTag(session::OpenFailure::connection),
                      platform::toUtf8(changed) + "\n");
        return 0;
    }
    const PlaceSettings settings = settingsOf(place);
    bringUpNetwork(place);  // the attempt goes on either way: the server may be reachable
    session::ServerLogin login;
    login.host = platform::toUtf8(settings.host);
    login.port = settings.port;
    login.user = platform::toUtf8(settings.userName);
    login.password = platform::toUtf8(settings.password);
    login.passive = settings.passive != 0;
    login.uploadThroughTemporary = settings.uploadThroughTemporary != 0;
    login.connectWaitMs = connectWaitMs(settings);
    login.silenceLimitMs = replyWaitMs(settings);
    login.trust = &settingsTrust();
    if (passphrase) {
        login.keyFile = passphrase->keyFile;
        login.passphrase = passphrase->passphrase;
    }
    session::OpenFailure failure = session::OpenFailure::none;
    std::string reason;
    if (session.open(login, failure, reason)) return 1;
    // The queue's worker asks no question: the user learns where to answer it.
    if (session::threadTransferWatch() && !session.trustQuestion(settings.name).empty()) {
        reason += "Browse the place in the Remote view to decide whether to trust its " + session.untrustedIdentity() +
                  ".\n";
    }
    if (session::threadTransferWatch() && !session.lockedKey().empty()) {
        reason += "Browse the place in the Remote view to give the passphrase of " + session.lockedKey() + ".\n";
    }
    setPlaceError(place, session.openFailureTag(failure), reason);
    return 0;
}

KeyPassphrase::~KeyPassphrase() { platform::wipe(passphrase); }

void setEditPlaceHook(EditPlaceHook hook) { editPlaceHook.store(hook); }

namespace {

// After a login that left out a key file for want of its passphrase: asks for it (with
// the session let go, as the questions are asked) and connects again with it. The
// passphrase is kept for that one open.
int connectWithPassphrase(SessionUse& use, const std::string& keyFile) {
    FtpPlace& place = *use.place;
    releaseSession(use);
    platform::setWaitCursor(false);
    std::optional<std::u16string> answer = platform::secretBox(platform::getForegroundWindow(),
                                                               u"The key " + platform::toUtf16(keyFile) +
                                                                   u" is locked.\r\rPassphrase to log in to " +
                                                                   settingsOf(place).name + u":",
                                                               u"Connect - Farlink");
    if (!retakeSession(use) || !answer) return 0;
    if (!*use.session) *use.session = session::newServerSession(settingsOf(place).host);
    const KeyPassphrase given{keyFile, platform::toUtf8(*answer)};
    platform::wipe(*answer);
    return connectPlace(place, **use.session, &given);
}

// After a connection failed on an identity the user has not trusted (a certificate, a
// host key), or on a locked key: asks the user whether to trust it, or for the key's
// passphrase, and connects again when they answer. The queue's worker never answers for
// the user: its copy fails, saying what to do.
int connectAsking(SessionUse& use) {
    FtpPlace& place = *use.place;
    if (session::threadTransferWatch() || platform::threadStopped()) return 0;
    if (const std::string key = (*use.session)->lockedKey(); !key.empty()) return connectWithPassphrase(use, key);
    const std::u16string question = (*use.session)->trustQuestion(settingsOf(place).name);
    if (question.empty()) return 0;
    if (!askWithSessionReleased(use, question, platform::MessageBoxIcon::exclamation)) return 0;
    if (!*use.session) {  // an edit dropped it meanwhile: what was presented went with it
        setPlaceError(place, u"(KVT-FC-1)", "The place was changed while the question was open; try again.\n");
        return 0;
    }
    std::string reason;
    if (!(*use.session)->trustPresented(reason)) {
        setPlaceError(place, (*use.session)->openFailureTag(session::OpenFailure::connection), reason);
        return 0;
    }
    return connectPlace(place, **use.session);
}

}  // namespace

int ensureConnected(SessionUse& use) {
    if (!use.place) {
        if (use.index == 0) offerNewPlace();
        return 0;
    }
    if (!use.session) return 0;  // busy: the place's error says so
    // A connection that was open and does not answer was lost; a session without one has
    // never connected, or its last attempt failed: it connects without a question.
    bool lost = false;
    if (answers(use, lost)) return 1;
    if (lost && !settingsOf(*use.place).autoReconnect) {
        if (!userWantsReconnect(use)) return 0;
        // While the question was open another thread may have re-connected the place,
        // or an edit may have dropped its session.
        if (answers(use, lost)) return 1;
    }
    (*use.session)->quit(true);
    if (connectPlace(*use.place, **use.session)) return 1;
    return connectAsking(use);
}

void showIdentityRefusal(SessionUse& use) {
    if (session::threadTransferWatch() || !use.session || !*use.session || !(*use.session)->identityRefused()) return;
    const std::string reason = placeErrorText(*use.place);
    releaseSession(use);
    platform::setWaitCursor(false);
    platform::messageBox(platform::getForegroundWindow(), platform::toUtf16(platform::printableText(reason)),
                         u"Connect - Farlink", platform::MessageBoxButtons::ok, platform::MessageBoxIcon::hand);
}

int shutdownRemote() {
    while (removePlace(0)) {}
    std::lock_guard guard(network.lock);
    if (network.connection != platform::noNetworkConnection) {
        platform::connectionManager().release(network.connection, true);
        network.connection = platform::noNetworkConnection;
    }
    return 1;
}

}  // namespace remote
