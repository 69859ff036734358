// Control commands: each checks its arguments, formats one command line and states
// which reply class is success.
#include "ftp/ftp_commands.h"

#include "ftp/engine_internal.h"
#include "ftp/listing_parser.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

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

constexpr std::uint8_t featuresAsked = 1;
constexpr std::uint8_t featureModifyTime = 2;      // MFMT
constexpr std::uint8_t featureMachineListing = 4;  // MLST, and with it MLSD

// One line of FEAT's reply: a feature is " NAME" or " NAME PARAMETERS".
void noteFeature(const char* line, void* context) {
    if (line[0] != ' ') return;
    std::size_t length = 0;
    while (line[1 + length] && !std::isspace(static_cast<unsigned char>(line[1 + length]))) ++length;
    if (length != 4) return;
    std::uint8_t& found = *static_cast<std::uint8_t*>(context);
    if (strncasecmp(line + 1, "MFMT", 4) == 0) found |= featureModifyTime;
    if (strncasecmp(line + 1, "MLST", 4) == 0) found |= featureMachineListing;
}

// Asks FEAT unless this connection did; false when the connection failed on it.
bool knowFeatures(FtpConnection* control) {
    if (control->features & featuresAsked) return true;
    std::uint8_t found = featuresAsked;
    // A server without FEAT has none of its features: its refusal (5xx) is no failure.
    if (!sendCommand("FEAT", '2', control, noteFeature, &found) && control->reply[0] != '5') return false;
    control->features = found;
    return true;
}

// The digits text[at..at+count) as a number, -1 when one is no digit.
int digits(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

}  // namespace

bool detail::useType(FtpConnection* control, char typeCharacter) {
    if (control->currentType == typeCharacter) return true;
    const char typeCommand[] = {'T', 'Y', 'P', 'E', ' ', typeCharacter};
    const bool accepted = sendCommand(std::string_view(typeCommand, sizeof typeCommand), '2', control);
    control->currentType = accepted ? typeCharacter : 0;
    return accepted;
}

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
    if (!session.control || !useType(session.control, 'I') ||
        !sendWithArgument(session, "SIZE", path, maxFilePathLength, '2')) {
        return -1;
    }
    const char* reply = session.control->reply;
    if (std::strncmp(reply, "213 ", 4) != 0) return -1;
    char* end = nullptr;
    const long long size = std::strtoll(reply + 4, &end, 10);
    return end != reply + 4 && size >= 0 ? size : -1;
}

std::int64_t parseTimeValue(std::string_view text) {
    // 14 digits, then an optional fraction.
    if (text.size() < 14) return -1;
    if (text.size() > 14) {
        const std::string_view fraction = text.substr(15);
        if (text[14] != '.' || fraction.empty() || !std::all_of(fraction.begin(), fraction.end(), [](char c) {
                return std::isdigit(static_cast<unsigned char>(c));
            })) {
            return -1;
        }
    }
    const int year = digits(text, 0, 4), month = digits(text, 4, 2), day = digits(text, 6, 2);
    const int hour = digits(text, 8, 2), minute = digits(text, 10, 2), second = digits(text, 12, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        return -1;
    }
    const std::int64_t time = daysToSeconds(year, month - 1, day) + hour * 3600 + minute * 60 + second;
    // A day beyond the month's end would pass for one of the next month.
    const std::time_t asTime = std::time_t(time);
    std::tm civil{};
    if (!gmtime_r(&asTime, &civil) || civil.tm_mon != month - 1) return -1;
    return time;
}

std::int64_t parseModificationReply(std::string_view reply) {
    // "213 ", the time, then the line's end.
    if (reply.substr(0, 4) != "213 ") return -1;
    std::string_view value = reply.substr(4);
    if (value.ends_with("\r\n")) {
        value.remove_suffix(2);
    } else if (value.ends_with('\n')) {
        value.remove_suffix(1);
    }
    return parseTimeValue(value);
}

std::int64_t modificationTime(FtpSession& session, std::string_view path) {
    if (!sendWithArgument(session, "MDTM", path, maxFilePathLength, '2')) return -1;
    return parseModificationReply(session.control->reply);
}

int setModificationTime(FtpSession& session, std::string_view path, std::int64_t time) {
    FtpConnection* const control = session.control;
    if (!control || time < 0 || path.size() > maxFilePathLength || !acceptCommandText(control, path)) return 0;
    if (!knowFeatures(control)) return 0;
    const std::time_t asTime = std::time_t(time);
    std::tm civil{};
    char argument[maxFilePathLength + 1];
    const int length = gmtime_r(&asTime, &civil)
                           ? std::snprintf(argument, sizeof argument, "%04d%02d%02d%02d%02d%02d %.*s",
                                           civil.tm_year + 1900, civil.tm_mon + 1, civil.tm_mday, civil.tm_hour,
                                           civil.tm_min, civil.tm_sec, int(path.size()), path.data())
                           : -1;
    if (length < 0 || std::size_t(length) >= sizeof argument) {
        setReply(control, "The path is too long to set its time\n");
        return 0;
    }
    const bool modifyTime = control->features & featureModifyTime;
    if (sendWithArgument(session, modifyTime ? "MFMT" : "MDTM", argument, maxFilePathLength, '2')) return 1;
    const bool unknown = std::strncmp(control->reply, "500", 3) == 0 || std::strncmp(control->reply, "502", 3) == 0 ||
                         std::strncmp(control->reply, "504", 3) == 0;
    return unknown ? -1 : 0;
}

int offersMachineListing(FtpSession& session) {
    if (!session.control || !knowFeatures(session.control)) return -1;
    return (session.control->features & featureMachineListing) != 0;
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
