// A long link on loopback, for bench/wan/run: accepts connections on a loopback address
// and forwards each to the same port of another loopback address, holding every byte
// back by a one-way delay in each direction and, when asked, pacing each direction to a
// rate. Each PORT (or range FIRST-LAST) is listened on, so an FTP server whose passive
// replies name the listening address, with its passive ports among them, has its data
// connections delayed too. Prints "ready" once it listens; runs until its standard input
// closes.
//   delay_proxy [--delay MS] [--rate BYTES_PER_SECOND] [--listen ADDRESS] [--target ADDRESS] PORT[-LAST]...
// Addresses default to 127.0.0.2 (listen) and 127.0.0.1 (target); both must be loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What one direction may hold at once: the link's buffer. A sender meets back-pressure
// beyond it, as from a full router queue.
constexpr std::size_t directionLimit = 32 << 20;
constexpr std::size_t readSize = 64 << 10;

struct Options {
    std::chrono::microseconds delay{20000};
    double rate = 0;  // bytes per second; 0: no limit
    in_addr listen{};
    in_addr target{};
    std::vector<int> ports;
};

// Bytes that may leave once `due` has come; an empty chunk stands for the end of the stream.
struct Chunk {
    Clock::time_point due;
    std::string bytes;
    std::size_t sent = 0;
};

// One direction of a connection: read from `from`, written to `to` once due.
struct Direction {
    int from = -1;
    int to = -1;
    std::deque<Chunk> chunks;
    std::size_t held = 0;
    Clock::time_point linkFree;  // when the rate limit lets the next byte go
    bool readEnded = false;      // the end is queued
    bool writeEnded = false;     // the end was passed on
};

struct Connection {
    int client = -1;
    int server = -1;
    bool connected = false;
    Direction up;    // client to server
    Direction down;  // server to client
    bool failed = false;
};

bool isLoopback(const in_addr& address) { return (ntohl(address.s_addr) >> 24) == 127; }

void usage() {
    std::fprintf(stderr,
                 "usage: delay_proxy [--delay MS] [--rate BYTES_PER_SECOND] [--listen ADDRESS] [--target ADDRESS] "
                 "PORT[-LAST]...\n");
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options options;
    inet_pton(AF_INET, "127.0.0.2", &options.listen);
    inet_pton(AF_INET, "127.0.0.1", &options.target);
    for (int index = 1; index < argc; ++index) {
        const std::string argument = argv[index];
        const bool hasValue = index + 1 < argc;
        if (argument == "--delay" && hasValue) {
            options.delay = std::chrono::microseconds(long(std::atof(argv[++index]) * 1000));
        } else if (argument == "--rate" && hasValue) {
            options.rate = std::atof(argv[++index]);
        } else if ((argument == "--listen" || argument == "--target") && hasValue) {
            in_addr& address = argument == "--listen" ? options.listen : options.target;
            if (inet_pton(AF_INET, argv[++index], &address) != 1) usage();
        } else if (!argument.empty() && argument[0] != '-') {
            const std::size_t dash = argument.find('-');
            const int first = std::atoi(argument.c_str());
            const int last = dash == std::string::npos ? first : std::atoi(argument.c_str() + dash + 1);
            if (first <= 0 || last < first || last > 65535) usage();
            for (int port = first; port <= last; ++port) options.ports.push_back(port);
        } else {
            usage();
        }
    }
    if (options.ports.empty()) usage();
    if (!isLoopback(options.listen) || !isLoopback(options.target)) {
        std::fprintf(stderr, "delay_proxy: both addresses must be loopback (127.x.x.x)\n");
        std::exit(2);
    }
    return options;
}

sockaddr_in socketAddress(const in_addr& address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr = address;
    result.sin_port = htons(std::uint16_t(port));
    return result;
}

void setNoDelay(int socket) {
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int listenOn(const in_addr& address, int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in bound = socketAddress(address, port);
    if (bind(socket, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0 || listen(socket, 64) != 0) {
        std::fprintf(stderr, "delay_proxy: cannot listen on port %d: %s\n", port, std::strerror(errno));
        std::exit(1);
    }
    return socket;
}

// Queues what `direction.from` has, within the link's buffer; false when it failed.
bool readInto(Direction& direction, const Options& options, Clock::time_point now) {
    while (!direction.readEnded && direction.held < directionLimit) {
        std::string bytes(readSize, '\0');
        const ssize_t got = ::recv(direction.from, bytes.data(), bytes.size(), 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        bytes.resize(std::size_t(got));
        // The last byte leaves the sender's end once the link has carried the ones before.
        Clock::time_point leaves = now;
        if (options.rate > 0) {
            direction.linkFree = std::max(direction.linkFree, now) +
                                 std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(double(got) / options.rate));
            leaves = direction.linkFree;
        }
        direction.held += bytes.size();
        direction.readEnded = got == 0;
        direction.chunks.push_back({leaves + options.delay, std::move(bytes), 0});
    }
    return true;
}

// Passes on what is due; false when it failed.
bool writeDue(Direction& direction, Clock::time_point now) {
    while (!direction.chunks.empty() && direction.chunks.front().due <= now) {
        Chunk& chunk = direction.chunks.front();
        if (chunk.bytes.empty()) {
            shutdown(direction.to, SHUT_WR);
            direction.writeEnded = true;
            direction.chunks.pop_front();
            continue;
        }
        const ssize_t sent = ::send(direction.to, chunk.bytes.data() + chunk.sent, chunk.bytes.size() - chunk.sent,
                                    MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        chunk.sent += std::size_t(sent);
        direction.held -= std::size_t(sent);
        if (chunk.sent < chunk.bytes.size()) return true;
        direction.chunks.pop_front();
    }
    return true;
}

// Whether the direction waits to write a chunk that is due.
bool waitsToWrite(const Direction& direction, Clock::time_point now) {
    return !direction.chunks.empty() && direction.chunks.front().due <= now;
}

void closeConnection(Connection& connection) {
    if (connection.client >= 0) close(connection.client);
    if (connection.server >= 0) close(connection.server);
    connection.client = connection.server = -1;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::pair<int, int>> listeners;  // socket, port
    for (const int port : options.ports) listeners.emplace_back(listenOn(options.listen, port), port);
    fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
    std::printf("ready\n");
    std::fflush(stdout);

    std::list<Connection> connections;
    for (;;) {
        const Clock::time_point now = Clock::now();
        std::vector<pollfd> watched{{0, POLLIN, 0}};
        for (const auto& [socket, port] : listeners) watched.push_back({socket, POLLIN, 0});
        Clock::time_point wake = now + std::chrono::seconds(1);
        for (Connection& connection : connections) {
            for (Direction* direction : {&connection.up, &connection.down}) {
                // A socket with nothing to wait for is left out (-1), so that a hung-up one
                // cannot wake the loop over and over.
                const bool reads = !direction->readEnded && direction->held < directionLimit;
                watched.push_back({reads ? direction->from : -1, POLLIN, 0});
                const bool connecting = direction == &connection.up && !connection.connected;
                const bool writes = connecting || waitsToWrite(*direction, now);
                watched.push_back({writes ? direction->to : -1, POLLOUT, 0});
                if (!direction->chunks.empty() && direction->chunks.front().due > now)
                    wake = std::min(wake, direction->chunks.front().due);
            }
        }
        const auto waitFor = std::max<Clock::duration>(wake - now, Clock::duration::zero());
        const timespec timeout{time_t(waitFor / std::chrono::seconds(1)),
                               long((waitFor % std::chrono::seconds(1)) / std::chrono::nanoseconds(1))};
        if (ppoll(watched.data(), watched.size(), &timeout, nullptr) < 0 && errno != EINTR) return 1;

        char ignored[64];
        if (watched[0].revents && read(0, ignored, sizeof ignored) == 0) return 0;
        for (std::size_t index = 0; index < listeners.size(); ++index) {
            if (!(watched[1 + index].revents & POLLIN)) continue;
            const int client = accept4(listeners[index].first, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client < 0) continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            const sockaddr_in target = socketAddress(options.target, listeners[index].second);
            if (connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
                errno != EINPROGRESS) {
                close(client);
                close(server);
                continue;
            }
            setNoDelay(client);
            setNoDelay(server);
            Connection& connection = connections.emplace_back();
            connection.client = client;
            connection.server = server;
            connection.up.from = connection.down.to = client;
            connection.up.to = connection.down.from = server;
        }

        const Clock::time_point later = Clock::now();
        for (Connection& connection : connections) {
            if (!connection.connected) {
                pollfd probe{connection.server, POLLOUT, 0};
                if (poll(&probe, 1, 0) > 0) {
                    int error = 0;
                    socklen_t size = sizeof error;
                    getsockopt(connection.server, SOL_SOCKET, SO_ERROR, &error, &size);
                    connection.connected = error == 0;
                    connection.failed = error != 0;
                }
            }
            for (Direction* direction : {&connection.up, &connection.down}) {
                if (connection.failed) break;
                const bool canWrite = direction == &connection.down || connection.connected;
                connection.failed = !readInto(*direction, options, later) || (canWrite && !writeDue(*direction, later));
            }
        }
        for (auto connection = connections.begin(); connection != connections.end();) {
            const bool finished = connection->up.writeEnded && connection->down.writeEnded;
            if (!connection->failed && !finished) {
                ++connection;
                continue;
            }
            closeConnection(*connection);
            connection = connections.erase(connection);
        }
    }
}
