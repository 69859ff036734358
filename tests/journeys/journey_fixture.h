// Farlink as a user meets it against a real FTP server on loopback, on pyftpdlib and
// vsftpd; both data connection modes only where the journey chooses the mode (the engine's
// and the queue's tests cover both on both servers).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace journeys {

using test_support::boxCaption;
using test_support::everySetup;
using test_support::FtpServerKind;
using test_support::ServerSetup;
using test_support::setupParamName;
using test_support::treeText;

// Both servers, and both kinds of data connection, in two setups.
inline constexpr ServerSetup bothServers[] = {{FtpServerKind::Pyftpdlib, true}, {FtpServerKind::Vsftpd, false}};

// Farlink with settings, a device root and a server of the journey's own; the server's
// writable folder holds what the journey puts there before start(). With TLS the place
// is "ftpes://localhost:PORT".
class Journey : public test_support::FarlinkScreen, public ::testing::WithParamInterface<ServerSetup> {
protected:
    Journey();

    // The place "Box" for the server, as the place dialog makes it.
    void savePlace(const test_support::PlaceLogin& changes = {});
    test_support::PlaceLogin serverLogin() const;
    // Starts Farlink and waits for its first listing.
    void start();
    // Both, with the server's login changed as given.
    void startWithPlace(const test_support::PlaceLogin& login);
    void startWithPlace() { startWithPlace(serverLogin()); }
    // Farlink ends (its main window destroyed), and starts again on the settings file as
    // stored then.
    void quit();
    void startAgain();
    // The Remote view, in the server's writable folder.
    void openRemote();

    std::string settingsFile() const { return registry.file(); }
    std::string served(const std::string& relative) const { return server.hostPath(relative); }
    // Puts a file or folder in the server's writable folder, open to every user: vsftpd's
    // anonymous sessions run as a user of their own.
    void serve(const std::string& relative, const std::string& bytes) const;
    void serveFolder(const std::string& relative) const;

    test_support::TemporaryFolder serverRoot;
    test_support::RealFtpServer server{GetParam().kind, serverRoot.path(), {.tls = GetParam().tls}};
    test_support::ScopedVariable timeZone{"TZ", "UTC"};
};

// "" when `actual` holds `expected`, else how it differs (sizes, first different byte);
// for files, and for two trees as test_support::treeText gives them.
std::string bytesDiffer(const std::string& expected, const std::string& actual);

}  // namespace journeys
