// farlink-place: the Ftp Places of Farlink's settings file from the command line, for
// scripts that prepare a Farlink (make demo). A place is added as the place dialog adds
// it, so the stored form is Farlink's own. It keeps to Farlink's one-instance rule: it
// changes nothing while a Farlink uses the same settings.
#include <cstdio>
#include <string>

#include "app/instance_lock.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "remote/places.h"

namespace {

void printUsage(std::FILE* out) {
    std::fputs(
        "Usage: farlink-place add NAME HOST[:PORT] [USER PASSWORD]\n"
        "       farlink-place list\n"
        "\n"
        "Adds an Ftp Place (anonymous without USER and PASSWORD; passive mode; starting in \"/\")\n"
        "to Farlink's settings file, or lists the places: index, name, host, port and user.\n"
        "HOST may be ftpes://NAME (explicit TLS) or an IPv6 address in brackets ([::1]:2121).\n"
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

int addPlace(int argc, char** argv) {
    const std::string name = argv[2];
    std::string host = argv[3];
    std::uint32_t port = 21;
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
    remote::loadPlaces();
    const int index = remote::placeCount();
    std::optional<remote::PlaceDialogData> data = remote::placeDialogData(index, {});
    if (!data) {
        std::fprintf(stderr, "farlink-place: the list holds %d places already\n", remote::maxPlaces);
        return 1;
    }
    setField(data->name, name);
    setField(data->host, host);
    data->port = port;
    setField(data->userName, argc == 6 ? argv[4] : "anonymous");
    setField(data->password, argc == 6 ? argv[5] : "anonymous@example.com");
    if (!remote::applyPlaceDialogData(index, *data) || !remote::savePlaces()) {
        std::fputs("farlink-place: the settings file could not be written\n", stderr);
        return 1;
    }
    return 0;
}

int listPlaces() {
    remote::loadPlaces();
    for (int index = 0; index < remote::placeCount(); ++index) {
        const std::shared_ptr<remote::FtpPlace> place = remote::placeAt(index);
        std::printf("%d\t%s\t%s\t%u\t%s\n", index, fieldText(place->name).c_str(), fieldText(place->host).c_str(),
                    place->port, fieldText(place->userName).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const bool adding = command == "add" && (argc == 4 || argc == 6);
    if (!adding && !(command == "list" && argc == 2)) {
        printUsage(command == "--help" ? stdout : stderr);
        return command == "--help" ? 0 : 2;
    }
    const std::string registryFile = platform::defaultRegistryFile();
    int lock = -1;
    if (app::acquireInstanceLock(app::instanceLockFile(registryFile), lock) == app::InstanceLockResult::heldByAnother) {
        std::fputs("farlink-place: Farlink is running with these settings; quit it first\n", stderr);
        return 1;
    }
    platform::useRegistryFile(registryFile);
    return adding ? addPlace(argc, argv) : listPlaces();
}
