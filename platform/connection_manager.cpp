#include "platform/connection_manager.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <atomic>

#include "platform/text.h"

namespace platform {
namespace {

// The stand-in's destinations, and its connections named after them.
constexpr DestinationNetwork loopbackNetwork{1};
constexpr DestinationNetwork internetNetwork{2};
constexpr NetworkConnection loopbackConnection = 1;
constexpr NetworkConnection internetConnection = 2;

bool otherInterfaceIsUp() {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return false;
    bool up = false;
    for (const ifaddrs* entry = interfaces; entry && !up; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        up = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
    }
    freeifaddrs(interfaces);
    return up;
}

// The host of "scheme://host:port/path", or of "scheme://host/path".
std::u16string_view hostOfUrl(std::u16string_view url) {
    const std::size_t schemeEnd = url.find(u"://");
    if (schemeEnd == std::u16string_view::npos) return {};
    std::u16string_view rest = url.substr(schemeEnd + 3);
    rest = rest.substr(0, rest.find(u'/'));
    return rest.substr(0, rest.rfind(u':'));
}

bool isLoopbackHost(std::u16string_view host) {
    if (lowerAscii(host) == u"localhost") return true;
    in_addr address{};
    return inet_aton(toUtf8(host).c_str(), &address) != 0 && (ntohl(address.s_addr) >> 24) == 127;
}

class HostConnectionManager final : public ConnectionManager {
public:
    // The host's network stack is always there.
    WaitResult waitReady(std::uint32_t) override { return WaitResult::signaled; }

    std::uint32_t connectionStatus(NetworkConnection connection) override {
        if (connection == loopbackConnection || (connection == internetConnection && otherInterfaceIsUp())) {
            return connectionStatusConnected;
        }
        return connectionStatusDisconnected;
    }

    DestinationNetwork mapUrl(std::u16string_view url) override {
        const std::u16string_view host = hostOfUrl(url);
        if (host.empty()) return {};
        return isLoopbackHost(host) ? loopbackNetwork : internetNetwork;
    }

    int establish(const ConnectionRequest& request, NetworkConnection& connection, std::uint32_t,
                  std::uint32_t& status) override {
        connection = request.destination == loopbackNetwork ? loopbackConnection : internetConnection;
        status = connectionStatus(connection);
        if (status == connectionStatusConnected) return 1;
        connection = noNetworkConnection;
        return 0;
    }

    void release(NetworkConnection, bool) override {}
};

HostConnectionManager hostManager;
std::atomic<ConnectionManager*> installed{nullptr};

}  // namespace

ConnectionManager& connectionManager() {
    ConnectionManager* manager = installed.load();
    return manager ? *manager : hostManager;
}

void setConnectionManager(ConnectionManager* manager) { installed.store(manager); }

}  // namespace platform
