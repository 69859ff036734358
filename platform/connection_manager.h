// Connection Manager: the service that brings up an Internet connection for a
// destination. The host has no such service; its stand-in asks the host whether an
// interface other than loopback is up, and counts a loopback destination as connected.
// Tests install their own to check the calls and their order. Any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/sync.h"

namespace platform {

using NetworkConnection = std::uintptr_t;  // 0: none
inline constexpr NetworkConnection noNetworkConnection = 0;

// Bits of a connection's status word.
inline constexpr std::uint32_t connectionStatusConnected = 0x10;
inline constexpr std::uint32_t connectionStatusDisconnected = 0x20;

// The destination network a URL maps to; all zero when the mapping failed.
using DestinationNetwork = std::array<std::uint8_t, 16>;

// What a connection request asks for: the platform's record, with the values callers fill.
struct ConnectionRequest {
    std::uint32_t size = 64;
    std::uint32_t parameters = 1;     // the destination network is given
    std::uint32_t flags = 0xF;        // HTTP, WAP, SOCKS4 and SOCKS5 proxies allowed
    std::uint32_t priority = 0x8000;  // user-interactive
    bool exclusive = false;
    bool disabled = false;
    DestinationNetwork destination{};
};

class ConnectionManager {
public:
    virtual ~ConnectionManager() = default;
    // Waits up to `milliseconds` for the service to be ready.
    virtual WaitResult waitReady(std::uint32_t milliseconds) = 0;
    // The status word of a connection obtained by establish.
    virtual std::uint32_t connectionStatus(NetworkConnection connection) = 0;
    virtual DestinationNetwork mapUrl(std::u16string_view url) = 0;
    // Brings up a connection within `timeoutMs`; non-zero with `connection` set when it
    // is up, 0 otherwise. `status` gets the connection's status word.
    virtual int establish(const ConnectionRequest& request, NetworkConnection& connection, std::uint32_t timeoutMs,
                          std::uint32_t& status) = 0;
    virtual void release(NetworkConnection connection, bool cache) = 0;
};

// The service in use: the host's stand-in unless a test installed another.
ConnectionManager& connectionManager();
// Installs `manager` (null: the host's again). Pre: no call on the old one is running.
void setConnectionManager(ConnectionManager* manager);

}  // namespace platform
