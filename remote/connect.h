// Connecting a place: the network through the Connection Manager, the control
// connection and login of the place's session, the keep-alive probe with re-connection,
// and the end of the Remote view. Every wait on a server is bounded: connecting gives
// up after the place's time-out, a reply or a transfer after 60 s without progress.
#pragma once

#include <cstdint>
#include <string>

#include "explorer/provider.h"
#include "platform/clock.h"
#include "remote/places.h"
#include "session/server_session.h"

namespace remote {

// How long a server may stay silent in a reply or a transfer before the wait gives up
// (at least the place's time-out). Tests shorten it. Any thread.
inline constexpr std::uint32_t defaultSilenceLimitMs = 60000;
void setSilenceLimit(std::uint32_t milliseconds);

// Milliseconds, wrapping at 2^32.
using TickSource = std::uint32_t (*)();

// The start of the Remote view: the network is taken as checked now, so the first
// check comes 10 s later. Tests give their own clock. Any thread.
void startNetworkClock(TickSource ticks = platform::tickCount);

// Makes sure an Internet connection is believed to exist, asking the Connection
// Manager at most every 10 s. 0 with the place's error set ("(KVT-CTN-1)" when the
// service is not ready within 5 s, "(KVT-CTN-2)" when no connection came within 30 s).
// Any thread.
int bringUpNetwork(FtpPlace& place);

// The passphrase the user gave for a key file, for one open.
struct KeyPassphrase {
    std::string keyFile;
    std::string passphrase;

    ~KeyPassphrase();  // wipes the passphrase
};

// Opens `session` (the place's own or a separate one) to the place and logs in, with the
// place's waits (and `passphrase` for its key file, when given). 0 with the place's
// error set, under the session's tag for the step that failed (openFailureTag); a place
// pinned for the thread that now names another server fails as a connection. Pre: this
// thread uses `session` alone. Any thread.
int connectPlace(FtpPlace& place, session::ServerSession& session, const KeyPassphrase* passphrase = nullptr);

// Runs the editor of a new place at `index`; non-zero when the user confirmed it and
// the place was added. Set at start-up (null: there is no editor).
using EditPlaceHook = int (*)(int index, const explorer::OwnerRecord& owner);
void setEditPlaceHook(EditPlaceHook hook);

// Makes sure the session of `use` answers (NOOP), connecting it when new and
// re-connecting it when lost: unless the place re-connects automatically, the user is
// asked first ("Connect - Farlink"). With no place at index 0 the user is offered to
// add one, and the result is 0 either way; a use without its session (busy) fails with
// the place's error saying so. Questions are asked with the session let go; on return
// `use` holds it again, unless the result is 0. Any thread.
int ensureConnected(SessionUse& use);

// After ensureConnected failed on a server identity refused outright (a host key that
// changed, or one known_hosts revokes): says why in a box, where the reason wraps whole
// (it ends with the known_hosts line to remove, longer than a row), with the session let
// go. Nothing on the queue's worker, whose record keeps the reason. Any thread.
void showIdentityRefusal(SessionUse& use);

// Drops every place (quitting their sessions) and the network connection. Pre: no
// remote operation runs any more. UI thread only.
int shutdownRemote();

}  // namespace remote
