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
constexpr std::uint32_t replyWaitFloorMs = 60000;
constexpr std::uint32_t maxTimeoutMs = 32767;

// The process-wide network state; one thread at a time asks the Connection Manager.
struct NetworkState {
    std::mutex lock;
    platform::NetworkConnection connection = platform::noNetworkConnection;
    std::uint32_t lastCheck = 0;
    TickSource ticks = platform::tickCount;
};
NetworkState network;

std::atomic<EditPlaceHook> editPlaceHook{nullptr};

// Set by the idle callback when a wait of this thread gave up.
thread_local bool waitGaveUp = false;

int giveUp(void*) {
    waitGaveUp = true;
    return 0;
}

// The engine calls giveUp after `milliseconds` without progress on a socket.
void limitWaits(ftp::FtpSession& session, std::uint32_t milliseconds) {
    if (!session.control) return;
    session.control->idleSeconds = std::int32_t(milliseconds / 1000);
    session.control->idleMicroseconds = std::int32_t(milliseconds % 1000 * 1000);
    session.control->idleCallback = giveUp;
}

// The place's time-out: 1 to 32767 ms; an unset one (0) is the default.
std::uint32_t connectWaitMs(const FtpPlace& place) {
    if (place.timeout == 0) return defaultTimeoutMs;
    return std::min(place.timeout, maxTimeoutMs);
}

std::uint32_t replyWaitMs(const FtpPlace& place) { return std::max(replyWaitFloorMs, connectWaitMs(place)); }

void setError(FtpPlace& place, std::u16string_view tag, std::string_view text) {
    place.errorTag = tag;
    place.errorText = text;
}

template <std::size_t N>
std::u16string_view textOf(const char16_t (&field)[N]) {
    return platform::boundedView(field, N);
}

// What the engine is given to connect the place.
std::string hostOf(const FtpPlace& place) {
    return ftp::hostWithPort(platform::toUtf8(textOf(place.host)), place.port);
}

// Creates the place's session when it has none and probes it.
bool answers(FtpPlace& place) {
    if (!place.session) place.session.reset(new ftp::FtpSession(ftp::createSession()));
    return ftp::sendSimple(*place.session, "NOOP");
}

// Asks whether to re-connect, with the place unlocked so that the UI thread, which shows
// the box, is never held up by it.
bool userWantsReconnect(PlaceUse& use) {
    const FtpPlace& place = *use.place;
    const std::u16string text = u"The connection to " + std::u16string(textOf(place.name)) +
                                u" has been disconnected would you like to re-connect?\r\r" +
                                std::u16string(textOf(place.host));
    platform::setWaitCursor(false);
    use.lock.unlock();
    const platform::MessageBoxResult answer = platform::messageBox(
        platform::getForegroundWindow(), text, u"Connect - Farlink", platform::MessageBoxButtons::yesNo,
        platform::MessageBoxIcon::question);
    use.lock.lock();
    return answer == platform::MessageBoxResult::yes;
}

// Asks whether to trust the certificate `presented`, which could not be verified, with
// the place unlocked as for the re-connect question. `remembered` is the one trusted
// before, if any: then the certificate has changed, which the question says. The
// fingerprint comes in two lines of 16 bytes, so that it wraps nowhere else on a
// small screen.
bool userTrustsCertificate(PlaceUse& use, std::string_view server, std::string_view presented,
                           std::string_view remembered) {
    std::string text = ftp::lastReply(*use.place->session);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    text += remembered.empty() ? "." : ", and it has changed since you trusted it.";
    text += "\r\rSHA-256 fingerprint:\r" + std::string(presented.substr(0, 48)) + "\r" +
            std::string(presented.substr(std::min<std::size_t>(48, presented.size()))) +
            "\r\rTrust this certificate for " + std::string(server) + "?";
    platform::setWaitCursor(false);
    use.lock.unlock();
    const platform::MessageBoxResult answer = platform::messageBox(
        platform::getForegroundWindow(), platform::toUtf16(text), u"Connect - Farlink",
        platform::MessageBoxButtons::yesNo, platform::MessageBoxIcon::exclamation);
    use.lock.lock();
    return answer == platform::MessageBoxResult::yes;
}

void offerNewPlace() {
    const platform::Window owner = platform::getForegroundWindow();
    const platform::MessageBoxResult answer = platform::messageBox(
        owner, u"No Ftp Places exist, would you like to add a new Ftp Place?", u"Farlink",
        platform::MessageBoxButtons::yesNo, platform::MessageBoxIcon::question);
    const EditPlaceHook edit = editPlaceHook.load();
    if (answer == platform::MessageBoxResult::yes && edit && edit(0, {owner})) savePlaces();
}

std::string formatPeriod(std::int32_t seconds, std::int32_t microseconds) {
    if (microseconds == 0) return std::to_string(seconds) + " s";
    return std::to_string(seconds * 1000 + microseconds / 1000) + " ms";
}

}  // namespace

void startNetworkClock(TickSource ticks) {
    std::lock_guard guard(network.lock);
    network.ticks = ticks;
    network.lastCheck = ticks();
}

int bringUpNetwork(FtpPlace& place) {
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
        setError(place, u"(KVT-CTN-1)", "Connection Manager Not Ready.");
        return 0;
    }
    std::u16string url = u"ftp://" + std::u16string(textOf(place.host)) + u":" +
                         platform::toUtf16(std::to_string(place.port)) + u"/";
    url.resize(std::min<std::size_t>(url.size(), 1023));
    platform::ConnectionRequest request;
    request.destination = manager.mapUrl(url);
    std::uint32_t status = 0;
    const int established = manager.establish(request, network.connection, establishWaitMs, status);
    network.lastCheck = network.ticks();
    if (!established) {
        setError(place, u"(KVT-CTN-2)", "Unable to establish an Internet connection.");
        return 0;
    }
    return 1;
}

int connectPlace(FtpPlace& place, ftp::FtpSession& session) {
    const std::string host = hostOf(place);
    const std::string user = platform::toUtf8(textOf(place.userName));
    const std::string password = platform::toUtf8(textOf(place.password));
    bringUpNetwork(place);  // the attempt goes on either way: the server may be reachable

    limitWaits(session, connectWaitMs(place));
    waitGaveUp = false;
    ftp::trustCertificate(session, rememberedCertificate(certificateServer(host)));
    if (!ftp::openControl(session, host)) {
        std::string text = failureText(session);
        // The queue's worker asks no question: the user learns where to answer it.
        if (explorer::threadTransferWatch() && !ftp::unverifiedCertificate(session).empty()) {
            text += "Browse the place in the Remote view to decide whether to trust its certificate.\n";
        }
        setError(place, u"(KVT-FC-1)", text);
        return 0;
    }
    limitWaits(session, replyWaitMs(place));
    waitGaveUp = false;
    if (!ftp::logIn(session, user, password)) {
        const bool silent = waitGaveUp;
        const std::string text = failureText(session);
        ftp::quit(session, silent ? 1 : 0);  // a server that stopped answering is not waited for again
        setError(place, u"(KVT-FC-2)", text);
        return 0;
    }
    if (place.passive) {
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
int connectTrusting(PlaceUse& use) {
    FtpPlace& place = *use.place;
    const std::string presented = ftp::unverifiedCertificate(*place.session);
    if (presented.empty() || explorer::threadTransferWatch()) return 0;
    const std::string server = certificateServer(hostOf(place));
    if (!userTrustsCertificate(use, server, presented, rememberedCertificate(server))) return 0;
    if (!rememberCertificate(server, presented)) {
        setError(place, u"(KVT-FC-1)",
                 "The certificate could not be remembered: the settings file could not be written.\n");
        return 0;
    }
    return connectPlace(place, *place.session);
}

}  // namespace

int ensureConnected(PlaceUse& use) {
    waitGaveUp = false;
    if (!use.place) {
        if (use.index == 0) offerNewPlace();
        return 0;
    }
    FtpPlace& place = *use.place;
    if (answers(place)) return 1;
    // A connection still open that does not answer was lost; a session without one has
    // never connected, or its last attempt failed: it connects without a question.
    if (sessionIsOpen(*place.session)) {
        if (!place.autoReconnect) {
            if (!userWantsReconnect(use)) return 0;
            // While the question was open another thread may have re-connected the
            // place, or an edit may have dropped its session.
            if (answers(place)) return 1;
        }
        if (sessionIsOpen(*place.session)) ftp::quit(*place.session, 1);
    }
    if (connectPlace(place, *place.session)) return 1;
    return connectTrusting(use);
}

namespace {

constexpr std::uint32_t watchPeriodMs = 250;
constexpr std::int32_t watchProgressBytes = 64 * 1024;

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
    // The failure text tells the whole silence, not one short period.
    waitGaveUp = true;
    limitWaits(*state.session, state.silenceLimitMs);
    return 0;
}

}  // namespace

void watchTransfer(const FtpPlace& place, ftp::FtpSession& session, explorer::TransferWatch& watch,
                   WatchedTransfer& state) {
    if (!session.control) return;
    state = {&watch, &session, replyWaitMs(place), 0};
    ftp::FtpConnection& control = *session.control;
    control.idleSeconds = 0;
    control.idleMicroseconds = std::int32_t(watchPeriodMs * 1000);
    control.idleCallback = onWatchedIdle;
    control.progressCallback = onWatchedProgress;
    control.progressInterval = watchProgressBytes;
    control.callbackContext = &state;
}

std::string failureText(const ftp::FtpSession& session) {
    if (std::exchange(waitGaveUp, false) && session.control) {
        return "The server did not answer within " +
               formatPeriod(session.control->idleSeconds, session.control->idleMicroseconds) + "; gave up waiting.\n";
    }
    const char* reply = ftp::lastReply(session);
    return reply ? reply : "";
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
