// Sockets on loopback for the servers tests start in-process (the scripted FTP server,
// the reply fuzzer's server) and for the real-server fixtures: listening, bounded waits,
// free ports. Nothing here reaches beyond 127.0.0.1 and ::1.
#pragma once

namespace test_support {

// A listening socket on 127.0.0.1 at a port of the system's choice, given in `port`; -1
// when none could be made.
int listenOnLoopback(int& port);
// Whether the socket has something to read (or a connection to accept) within the wait.
bool readableWithin(int socket, int timeoutMs);
// The connection that `listener` accepts within the wait (close on exec, no Nagle
// delay); -1 when none came.
int acceptWithin(int listener, int timeoutMs);
// Closes the socket unless it is -1, and makes it -1.
void closeIfOpen(int& socket);

// A loopback port that was free a moment ago (nothing listens there), for a server that
// cannot pick its own or a connection that must be refused; 0 when nothing could be bound.
int freePort(bool ipv6 = false);
// Whether something listens on the loopback port.
bool loopbackAccepts(int port, bool ipv6 = false);
// Whether this host has ::1 on its loopback interface; tests of IPv6 skip without it.
bool loopbackIpv6Available();

}  // namespace test_support
