#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace test_support {

namespace {

// The loopback address of either family.
struct LoopbackAddress {
    sockaddr_storage storage{};
    socklen_t size;

    LoopbackAddress(int port, bool ipv6) {
        if (ipv6) {
            auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
            address->sin6_family = AF_INET6;
            address->sin6_addr = in6addr_loopback;
            address->sin6_port = htons(std::uint16_t(port));
            size = sizeof *address;
        } else {
            auto* address = reinterpret_cast<sockaddr_in*>(&storage);
            address->sin_family = AF_INET;
            address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address->sin_port = htons(std::uint16_t(port));
            size = sizeof *address;
        }
    }
    sockaddr* get() { return reinterpret_cast<sockaddr*>(&storage); }
    int port() const {
        if (storage.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    }
};

}  // namespace

int listenOnLoopback(int& port) {
    LoopbackAddress address(0, false);
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (bind(socket, address.get(), address.size) != 0 || listen(socket, 4) != 0 ||
        getsockname(socket, address.get(), &address.size) != 0) {
        close(socket);
        return -1;
    }
    port = address.port();
    return socket;
}

bool readableWithin(int socket, int timeoutMs) {
    pollfd entry{socket, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) == 1;
}

int acceptWithin(int listener, int timeoutMs) {
    if (!readableWithin(listener, timeoutMs)) return -1;
    const int socket = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    const int on = 1;
    if (socket >= 0) setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

void closeIfOpen(int& socket) {
    if (socket >= 0) close(socket);
    socket = -1;
}

int freePort(bool ipv6) {
    LoopbackAddress address(0, ipv6);
    const int socket = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool bound = bind(socket, address.get(), address.size) == 0 &&
                       getsockname(socket, address.get(), &address.size) == 0;
    close(socket);
    return bound ? address.port() : 0;
}

bool loopbackIpv6Available() { return freePort(true) != 0; }

bool loopbackAccepts(int port, bool ipv6) {
    LoopbackAddress address(port, ipv6);
    const int socket = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = connect(socket, address.get(), address.size) == 0;
    close(socket);
    return connected;
}

}  // namespace test_support
