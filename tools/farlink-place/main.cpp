// farlink-place: the Ftp Places of Farlink's settings file from the command line, for
// scripts that prepare a Farlink (make demo). A place is added as the place dialog adds
// it, so the stored form is Farlink's own. It keeps to Farlink's one-instance rule: it
// changes nothing while a Farlink uses the same settings.
#include <sys/prctl.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/instance_lock.h"
#include "ftp/ftp_tls.h"
#include "ftp/netrc.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/places.h"
#include "session/server_session.h"

namespace {

void printUsage(std::FILE* out) {
    std::fputs(
        "Usage: farlink-place [--netrc-file FILE] add NAME HOST[:PORT] [USER [PASSWORD]]\n"
        "       farlink-place list\n"
        "\n"
        "Adds an Ftp Place (passive mode; starting in \"/\") to Farlink's settings file, or\n"
        "lists the places: index, name, host, port and user.\n"
        "HOST may be ftpes://NAME (explicit TLS), sftp://NAME (SFTP, port 22 unless given) or\n"
        "an IPv6 address in brackets ([::1]:2121).\n"
        "The password: PASSWORD (seen by anyone who lists processes), else FARLINK_PASSWORD,\n"
        "else the entry for HOST in ~/.netrc or FILE (machine, login, password; default),\n"
        "which also gives the user when USER is missing; else the login is anonymous (for SFTP:\n"
        "the user ~/.ssh/config or the system names, with keys and the agent), and\n"
        "FARLINK_PASSWORD is not taken. A netrc file that others can read gives no password.\n"
        "The settings file is Farlink's: $FARLINK_HOME/registry.reg, else under $XDG_CONFIG_HOME\n"
        "or ~/.config/farlink. Exits with 1 when the place cannot be added.\n",
        out);
}

template <std::size_t N>
void setField(char16_t (&field)[N], const std::string& text) {
    platform::copyBounded(field, N, platform::toUtf16(text));
}

template <std::size_t N>
std::string fieldText(const char16_t (&field)[N]) {
    return platform::toUtf8(platform::boundedView(field, N));
}

// Where the port of "HOST:PORT" begins, or npos when HOST names none: a scheme's colon
// ("ftpes://") and those of an IPv6 address ("[::1]", or bare "::1") are no port's.
std::size_t portColon(const std::string& host) {
    const std::size_t scheme = host.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t colon = host.rfind(':');
    if (colon == std::string::npos || colon < start) return std::string::npos;
    if (const std::size_t bracket = host.rfind(']'); bracket != std::string::npos) {
        return colon > bracket ? colon : std::string::npos;
    }
    return host.find(':', start) == colon ? colon : std::string::npos;
}

// The host as a netrc file names it: without a scheme or an IPv6 address's brackets.
std::string netrcHost(std::string host) {
    if (ftp::wantsExplicitTls(host)) host.erase(0, ftp::explicitTlsPrefix.size());
    if (session::isSftpHost(platform::toUtf16(host))) host.erase(0, session::sftpPrefix.size());
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host;
}

// arguments: NAME HOST[:PORT] [USER [PASSWORD]]
// Loads the stored places, saying what could not be loaded and where the copy is.
void loadPlaces() {
    remote::loadPlaces();
    if (const std::u16string& notice = remote::placesLoadNotice(); !notice.empty())
        std::fprintf(stderr, "farlink-place: %s\n", platform::toUtf8(notice).c_str());
}

int addPlace(const std::vector<std::string>& arguments, const ftp::NetrcFile& netrc) {
    const std::string& name = arguments[0];
    std::string host = arguments[1];
    const bool sftp = session::isSftpHost(platform::toUtf16(host));
    std::uint32_t port = sftp ? session::sftpDefaultPort : session::ftpDefaultPort;
    if (const std::size_t colon = portColon(host); colon != std::string::npos) {
        const std::string digits = host.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(digits) == 0 || std::stoul(digits) > 65535) {
            std::fprintf(stderr, "farlink-place: '%s' is no port\n", digits.c_str());
            return 1;
        }
        port = std::uint32_t(std::stoul(digits));
        host.resize(colon);
    }
    loadPlaces();
    const int index = remote::placeCount();
    std::optional<remote::PlaceDialogData> data = remote::placeDialogData(index, {});
    if (!data) {
        std::fprintf(stderr, "farlink-place: the list holds %d places already\n", remote::maxPlaces);
        return 1;
    }
    const auto given = [&](std::size_t index) {
        return index < arguments.size() ? std::optional<std::string>(arguments[index]) : std::nullopt;
    };
    ftp::Login login = ftp::chooseLogin(netrcHost(host), given(2), given(3), std::getenv("FARLINK_PASSWORD"), netrc,
                                        platform::toUtf8(remote::anonymousPassword));
    // SFTP has no anonymous login: the server gets the user ~/.ssh/config or the system names.
    if (sftp && login.user == platform::toUtf8(remote::anonymousUser)) login = {};
    setField(data->name, name);
    setField(data->host, host);
    data->port = port;
    setField(data->userName, login.user);
    setField(data->password, login.password);
    if (!remote::applyPlaceDialogData(index, *data) || !remote::savePlaces()) {
        std::fputs("farlink-place: the settings file could not be written\n", stderr);
        return 1;
    }
    return 0;
}

int listPlaces() {
    loadPlaces();
    for (int index = 0; index < remote::placeCount(); ++index) {
        const std::shared_ptr<remote::FtpPlace> place = remote::placeAt(index);
        std::printf("%d\t%s\t%s\t%u\t%s\n", index, fieldText(place->name).c_str(), fieldText(place->host).c_str(),
                    place->port, fieldText(place->userName).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    prctl(PR_SET_DUMPABLE, 0);  // a core dump would hold the password
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::optional<std::string> netrcFile;
    if (arguments.size() >= 2 && arguments[0] == "--netrc-file") {
        netrcFile = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    const std::string command = arguments.empty() ? "" : arguments[0];
    const bool adding = command == "add" && arguments.size() >= 3 && arguments.size() <= 5;
    if (!adding && !(command == "list" && arguments.size() == 1)) {
        printUsage(command == "--help" ? stdout : stderr);
        return command == "--help" ? 0 : 2;
    }
    ftp::NetrcFile netrc;
    if (netrcFile && !ftp::readNetrcFile(*netrcFile, netrc)) {
        std::fprintf(stderr, "farlink-place: cannot read %s\n", netrcFile->c_str());
        return 1;
    }
    if (const char* home = std::getenv("HOME"); !netrcFile && home) {
        ftp::readNetrcFile(std::string(home) + "/.netrc", netrc);
    }
    if (const std::string warning = ftp::netrcWarning(netrc); !warning.empty()) {
        std::fprintf(stderr, "farlink-place: %s\n", warning.c_str());
    }
    const std::string registryFile = platform::defaultRegistryFile();
    int lock = -1;
    if (app::acquireInstanceLock(app::instanceLockFile(registryFile), lock) == app::InstanceLockResult::heldByAnother) {
        std::fputs("farlink-place: Farlink is running with these settings; quit it first\n", stderr);
        return 1;
    }
    platform::useRegistryFile(registryFile);
    return adding ? addPlace({arguments.begin() + 1, arguments.end()}, netrc) : listPlaces();
}
