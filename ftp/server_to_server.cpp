// Server-to-server copy over two control connections.
#include "ftp/server_to_server.h"

#include "ftp/engine_internal.h"
#include "ftp/ftp_data.h"

#include <sys/socket.h>

namespace ftp {

using namespace detail;

namespace {

// One server's transfer command: RETR on the source or STOR on the target.
struct TransferStart {
    FtpConnection* control;
    const char* verb;
    std::string_view path;
};

}  // namespace

int serverToServer(FtpSession& source, FtpSession& target, std::string_view sourcePath, std::string_view targetPath,
                   char typeCharacter, int sourcePassive) {
    FtpConnection* sourceControl = source.control;
    FtpConnection* targetControl = target.control;
    if (!sourceControl || !targetControl) return 0;
    if (sourceControl->tls || targetControl->tls) {
        // The servers would have to speak TLS to each other, which few of them offer.
        for (FtpConnection* control : {sourceControl, targetControl}) setReply(control, "%s", encryptedRefusal.data());
        return 0;
    }
    if (!acceptCommandText(sourceControl, sourcePath) || !acceptCommandText(targetControl, targetPath)) return 0;
    // Neither PORT nor EPRT can send a server to an address of the other family.
    SocketAddress sourcePeer;
    SocketAddress targetPeer;
    const bool peersKnown = peerAddress(sourceControl->socket, sourcePeer) &&
                            peerAddress(targetControl->socket, targetPeer);
    if (peersKnown && sourcePeer.family() != targetPeer.family()) {
        for (FtpConnection* control : {sourceControl, targetControl}) {
            setReply(control, "%s", mixedFamiliesRefusal.data());
        }
        return 0;
    }
    const bool ipv6 = peersKnown && sourcePeer.family() == AF_INET6;

    if (!useType(targetControl, typeCharacter) || !useType(sourceControl, typeCharacter)) return 0;

    FtpConnection* passive = sourcePassive ? sourceControl : targetControl;
    FtpConnection* active = sourcePassive ? targetControl : sourceControl;
    SocketAddress address;
    if (!(ipv6 ? askExtendedPassive(passive, address) : askPassive(passive, address))) return 0;
    char portCommand[96];
    if (!formatPortCommand(address, portCommand, sizeof portCommand) || !sendCommand(portCommand, '2', active)) {
        return 0;
    }

    const TransferStart retrieve{sourceControl, "RETR", sourcePath};
    const TransferStart store{targetControl, "STOR", targetPath};
    const TransferStart& first = sourcePassive ? store : retrieve;
    const TransferStart& second = sourcePassive ? retrieve : store;
    // Each line is built just before it goes out; one of 256 characters or more ends
    // the copy there.
    CommandLine line;
    if (!line.set(first.verb, first.path) || !sendCommand(line.view(), '1', first.control)) return 0;
    // The second line never went out, so there is no refusal to clean up after, and no
    // report from the active side to wait for.
    if (!line.set(second.verb, second.path)) return 0;
    if (!sendCommand(line.view(), '1', second.control)) {
        // Stop the passive side listening, and collect the active side's report
        // that its transfer did not start.
        sendCommand(ipv6 ? "EPSV" : "PASV", '2', passive);
        readReply('4', active);
        return 0;
    }
    const int sourceDone = readReply('2', sourceControl);
    const int targetDone = readReply('2', targetControl);
    return sourceDone && targetDone;
}

}  // namespace ftp
