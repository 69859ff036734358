// Control commands: each checks its arguments, formats one command line and states
// which reply class is success.
#include "ftp/ftp_commands.h"

#include "ftp/engine_internal.h"

#include <cstdlib>
#include <cstring>

namespace ftp {

using namespace detail;

namespace {

// Sends "VERB argument" expecting `expectedClass`, after checking the argument.
int sendWithArgument(FtpSession& session, const char* verb, std::string_view argument, std::size_t limit,
                     char expectedClass) {
    if (!session.control || argument.size() > limit) return 0;
    if (!acceptCommandText(session.control, argument)) return 0;
    CommandLine command;
    return command.set(verb, argument) && sendCommand(command.view(), expectedClass, session.control);
}

}  // namespace

int logIn(FtpSession& session, std::string_view user, std::string_view password) {
    if (!session.control || user.size() > maxLoginLength || password.size() > maxLoginLength) return 0;
    if (!acceptCommandText(session.control, user) || !acceptCommandText(session.control, password)) return 0;
    // A USER that never got a reply must not pass for a 2xx: forget the greeting first.
    session.control->reply[0] = '\0';
    const bool loggedIn = sendWithArgument(session, "USER", user, maxLoginLength, '3')
                              ? sendWithArgument(session, "PASS", password, maxLoginLength, '2')
                              : session.control->reply[0] == '2';
    if (!loggedIn) return 0;
    // On a TLS session the data connections are to be protected as well.
    return !session.control->tls ||
           (sendCommand("PBSZ 0", '2', session.control) && sendCommand("PROT P", '2', session.control));
}

int makeFolder(FtpSession& session, std::string_view path) {
    return sendWithArgument(session, "MKD", path, maxFolderPathLength, '2');
}

int changeFolder(FtpSession& session, std::string_view path) {
    return sendWithArgument(session, "CWD", path, maxFolderPathLength, '2');
}

int removeFolder(FtpSession& session, std::string_view path) {
    return sendWithArgument(session, "RMD", path, maxFolderPathLength, '2');
}

int deleteFile(FtpSession& session, std::string_view path) {
    return sendWithArgument(session, "DELE", path, maxFilePathLength, '2');
}

int renamePath(FtpSession& session, std::string_view oldPath, std::string_view newPath) {
    if (!session.control || oldPath.size() > maxFilePathLength || newPath.size() > maxFilePathLength) return 0;
    if (!acceptCommandText(session.control, oldPath) || !acceptCommandText(session.control, newPath)) return 0;
    return sendWithArgument(session, "RNFR", oldPath, maxFilePathLength, '3') &&
           sendWithArgument(session, "RNTO", newPath, maxFilePathLength, '2');
}

std::int64_t fileSize(FtpSession& session, std::string_view path) {
    if (!session.control || !sendCommand("TYPE I", '2', session.control) ||
        !sendWithArgument(session, "SIZE", path, maxFilePathLength, '2')) {
        return -1;
    }
    const char* reply = session.control->reply;
    if (std::strncmp(reply, "213 ", 4) != 0) return -1;
    char* end = nullptr;
    const long long size = std::strtoll(reply + 4, &end, 10);
    return end != reply + 4 && size >= 0 ? size : -1;
}

int sendSimple(FtpSession& session, std::string_view command) {
    if (!session.control || !acceptCommandText(session.control, command)) return 0;
    return sendCommand(command.substr(0, maxSimpleCommandLength), '2', session.control);
}

int quit(FtpSession& session, int abrupt) {
    FtpConnection* control = session.control;
    if (!control || control->direction != ConnectionDirection::Control) return 0;
    if (control->socket == 0) {
        setReply(control, "error: no anwser from server\n");
        return 0;
    }
    int result = 1;
    if (abrupt) {
        sendLine(control, "QUIT");
    } else {
        result = sendCommand("QUIT", '2', control);
    }
    endTls(control);
    closeSocket(control->socket);
    return result;
}

}  // namespace ftp
