#include "remote/connect.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

#include "explorer/provider.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_tls.h"
#include "ftp/ftp_url.h"
#include "platform/connection_manager.h"
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

// Set by the idle callback when a wait of this thread gave up.
thread_local bool waitGaveUp = false;
// The silence a watched transfer of this thread gave up after, in ms; 0: none did.
thread_local std::uint32_t watchedSilenceMs = 0;

int giveUp(void*) {
    waitGaveUp = true;
    return 0;
}

// The engine calls giveUp after `milliseconds` without progress on a socket, and its
// waits hear this thread's stop.
void limitWaits(ftp::FtpSession& session, std::uint32_t milliseconds) {
    if (!session.control) return;
    session.control->idleSeconds = std::int32_t(milliseconds / 1000);
    session.control->idleMicroseconds = std::int32_t(milliseconds % 1000 * 1000);
    session.control->idleCallback = giveUp;
    session.control->stop = explorer::threadStopFlag();
}

// The place's time-out: 1 to 32767 ms; an unset one (0) is the default.
std::uint32_t connectWaitMs(const PlaceSettings& place) {
    if (place.timeout == 0) return defaultTimeoutMs;
    return std::min(place.timeout, maxTimeoutMs);
}

std::uint32_t replyWaitMs(const PlaceSettings& place) {
    return std::max(replyWaitFloorMs.load(), connectWaitMs(place));
}

// What the engine is given to connect the place.
std::string hostOf(const PlaceSettings& place) { return ftp::hostWithPort(platform::toUtf8(place.host), place.port); }

// Creates the session of `use` when it has none and probes it.
bool answers(SessionUse& use) {
    PlaceSession& session = *use.session;
    if (!session) session.reset(new ftp::FtpSession(ftp::createSession()));
    if (session->control) session->control->stop = explorer::threadStopFlag();
    return ftp::sendSimple(*session, "NOOP");
}

// Asks a question with the session let go: the UI thread, which shows the box, may be
// waiting for it, and the wait cursor is a call to the UI thread as well. False when
// the answer is not Yes, or the session could not be had again (the place's error then
// says why).
bool askWithSessionReleased(SessionUse& use, std::u16string_view text, platform::MessageBoxIcon icon) {
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

// Asks whether to trust the certificate `presented`, which could not be verified, as
// the re-connect question is asked. `remembered` is the one trusted before, if any: then
// the certificate has changed, which the question says. The fingerprint comes in two
// lines of 16 bytes, so that it wraps nowhere else on a small screen.
bool userTrustsCertificate(SessionUse& use, std::string_view server, std::string_view presented,
                           std::string_view remembered) {
    std::string text = ftp::lastReply(**use.session);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    text += remembered.empty() ? "." : ", and it has changed since you trusted it.";
    text += "\r\rSHA-256 fingerprint:\r" + std::string(presented.substr(0, 48)) + "\r" +
            std::string(presented.substr(std::min<std::size_t>(48, presented.size()))) +
            "\r\rTrust this certificate for " + std::string(server) + "?";
    return askWithSessionReleased(use, platform::toUtf16(text), platform::MessageBoxIcon::exclamation);
}

void offerNewPlace() {
    const platform::Window owner = platform::getForegroundWindow();
    const platform::MessageBoxResult answer = platform::messageBox(
        owner, u"No Ftp Places exist, would you like to add a new Ftp Place?", u"Farlink",
        platform::MessageBoxButtons::yesNo, platform::MessageBoxIcon::question);
    const EditPlaceHook edit = editPlaceHook.load();
    if (answer == platform::MessageBoxResult::yes && edit && edit(0, {owner})) savePlaces();
}

std::string formatPeriod(std::uint32_t milliseconds) {
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
    return std::to_string(milliseconds) + " ms";
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

int connectPlace(FtpPlace& place, ftp::FtpSession& session) {
    // A copy queued for this place never goes to the server an edit put in its stead.
    if (const std::u16string changed = pinnedPlaceChanged(place); !changed.empty()) {
        setPlaceError(place, u"(KVT-FC-1)", platform::toUtf8(changed) + "\n");
        return 0;
    }
    const PlaceSettings settings = settingsOf(place);
    const std::string host = hostOf(settings);
    const std::string user = platform::toUtf8(settings.userName);
    const std::string password = platform::toUtf8(settings.password);
    bringUpNetwork(place);  // the attempt goes on either way: the server may be reachable

    limitWaits(session, connectWaitMs(settings));
    waitGaveUp = false;
    ftp::trustCertificate(session, rememberedCertificate(certificateServer(host)));
    if (!ftp::openControl(session, host)) {
        std::string text = failureText(session);
        // The queue's worker asks no question: the user learns where to answer it.
        if (explorer::threadTransferWatch() && !ftp::unverifiedCertificate(session).empty()) {
            text += "Browse the place in the Remote view to decide whether to trust its certificate.\n";
        }
        setPlaceError(place, u"(KVT-FC-1)", text);
        return 0;
    }
    limitWaits(session, replyWaitMs(settings));
    waitGaveUp = false;
    if (!ftp::logIn(session, user, password)) {
        const bool silent = waitGaveUp;
        const std::string text = failureText(session);
        ftp::quit(session, silent ? 1 : 0);  // a server that stopped answering is not waited for again
        setPlaceError(place, u"(KVT-FC-2)", text);
        return 0;
    }
    if (settings.passive) {
        ftp::setConnectionMode(session, ftp::ConnectionMode::Passive);
        session.control->usePeerAddress = 1;  // data goes where the control connection went
    } else {
        ftp::setConnectionMode(session, ftp::ConnectionMode::Active);
        session.control->usePeerAddress = 0;
    }
    return 1;
}

void setEditPlaceHook(EditPlaceHook hook) { editPlaceHook.store(hook); }

namespace {

// After a connection failed on a certificate that could not be verified: asks the user
// whether to trust it and connects again when they do. The queue's worker never answers
// for the user: its copy fails, saying what to do.
int connectTrusting(SessionUse& use) {
    FtpPlace& place = *use.place;
    const std::string presented = ftp::unverifiedCertificate(**use.session);
    if (presented.empty() || explorer::threadTransferWatch()) return 0;
    const std::string server = certificateServer(hostOf(settingsOf(place)));
    if (!userTrustsCertificate(use, server, presented, rememberedCertificate(server))) return 0;
    if (!rememberCertificate(server, presented)) {
        setPlaceError(place, u"(KVT-FC-1)",
                      "The certificate could not be remembered: the settings file could not be written.\n");
        return 0;
    }
    return connectPlace(place, **use.session);
}

}  // namespace

int ensureConnected(SessionUse& use) {
    waitGaveUp = false;
    if (!use.place) {
        if (use.index == 0) offerNewPlace();
        return 0;
    }
    if (!use.session) return 0;  // busy: the place's error says so
    if (answers(use)) return 1;
    // A connection still open that does not answer was lost; a session without one has
    // never connected, or its last attempt failed: it connects without a question. A
    // probe that met silence leaves a reply that may still come: that connection goes at
    // once, so that the reply never answers a later command (nor a second long wait).
    const bool silent = std::exchange(waitGaveUp, false);
    const bool lost = silent || sessionIsOpen(**use.session);
    if (silent && sessionIsOpen(**use.session)) ftp::quit(**use.session, 1);
    if (lost) {
        if (!settingsOf(*use.place).autoReconnect) {
            if (!userWantsReconnect(use)) return 0;
            // While the question was open another thread may have re-connected the
            // place, or an edit may have dropped its session.
            if (answers(use)) return 1;
        }
        if (sessionIsOpen(**use.session)) ftp::quit(**use.session, 1);
    }
    if (connectPlace(*use.place, **use.session)) return 1;
    return connectTrusting(use);
}

namespace {

constexpr std::uint32_t watchPeriodMs = 250;
// Any data that moves is progress: a slow transfer is not silent.
constexpr std::int32_t watchProgressBytes = 1;

int onWatchedProgress(std::int64_t transferred, void* context, std::int32_t, std::int32_t) {
    auto& state = *static_cast<WatchedTransfer*>(context);
    state.watch->done.store(transferred);
    state.silentMs = 0;
    return state.watch->stop.load() ? 0 : 1;
}

int onWatchedIdle(void* context) {
    auto& state = *static_cast<WatchedTransfer*>(context);
    if (state.watch->stop.load()) return 0;
    state.silentMs += watchPeriodMs;
    if (state.silentMs < state.silenceLimitMs) return 1;
    // The data connection and the control connection share the count: the final reply
    // read after the data gave up is given up at its first period, not after a silence
    // of its own. The failure text tells the whole silence, not one short period.
    waitGaveUp = true;
    watchedSilenceMs = state.silenceLimitMs;
    return 0;
}

}  // namespace

void watchTransfer(const FtpPlace& place, ftp::FtpSession& session, explorer::TransferWatch& watch,
                   WatchedTransfer& state) {
    if (!session.control) return;
    state = {&watch, replyWaitMs(settingsOf(place)), 0};
    watchedSilenceMs = 0;
    ftp::FtpConnection& control = *session.control;
    control.idleSeconds = 0;
    control.idleMicroseconds = std::int32_t(watchPeriodMs * 1000);
    control.idleCallback = onWatchedIdle;
    control.progressCallback = onWatchedProgress;
    control.progressInterval = watchProgressBytes;
    control.callbackContext = &state;
}

void restoreWaits(const FtpPlace& place, ftp::FtpSession& session) {
    if (!session.control) return;
    limitWaits(session, replyWaitMs(settingsOf(place)));
    session.control->progressCallback = nullptr;
    session.control->progressInterval = 0;
    session.control->callbackContext = nullptr;
}

std::string failureText(ftp::FtpSession& session) {
    const std::atomic<bool>* stop = explorer::threadStopFlag();
    const bool stopped = stop && stop->load();
    const bool gaveUp = std::exchange(waitGaveUp, false);
    const std::uint32_t watchedSilence = std::exchange(watchedSilenceMs, 0);
    std::string text;
    if (stopped) {
        text = "Stopped.\n";
    } else if (gaveUp && session.control) {
        text = "The server did not answer within " +
               formatPeriod(watchedSilence ? watchedSilence
                                           : std::uint32_t(session.control->idleSeconds * 1000 +
                                                           session.control->idleMicroseconds / 1000)) +
               "; gave up waiting.\n";
    } else {
        const char* reply = ftp::lastReply(session);
        text = reply ? reply : "";
    }
    // A reply still on its way must never be read as the answer to the next command.
    if ((stopped || gaveUp) && sessionIsOpen(session)) ftp::quit(session, 1);
    return text;
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
