// Explicit FTPS against pyftpdlib and vsftpd (which wants data connections to resume the
// control connection's TLS session).
#include "ftp/ftp_tls.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_session.h"
#include "ftp/ftp_transfer.h"
#include "ftp/server_to_server.h"
#include "tests/support/engine_files.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scoped_variable.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"

#include <gtest/gtest.h>
#include <filesystem>

namespace {

using namespace ftp;
using namespace test_support;

// A session that closes itself; `open` connects to an ftpes:// host and logs in.
struct Client {
    FtpSession session = createSession();
    ~Client() {
        if (session.control->socket) quit(session, 0);
        release(session);
    }
    bool open(const RealFtpServer& server, const std::string& host) {
        return openControl(session, "ftpes://" + host) && logIn(session, server.user(), server.password());
    }
    std::string reply() const { return lastReply(session); }
};

class TlsServer : public ::testing::TestWithParam<ServerSetup> {
protected:
    void SetUp() override { ASSERT_EQ("", server.error()); }

    TemporaryFolder root, local;
    RealFtpServer server{GetParam().kind, root.path(), {.tls = true}};
};

TEST_P(TlsServer, RefusesClearTextAndAnUnverifiedCertificateUntilItsFingerprintIsTrusted) {
    Client clear;
    ASSERT_EQ(1, openControl(clear.session, server.address())) << clear.reply();
    EXPECT_EQ(0, logIn(clear.session, server.user(), server.password()));
    EXPECT_EQ('5', clear.reply()[0]) << clear.reply();

    Client client;
    EXPECT_FALSE(client.open(server, server.address()));
    EXPECT_EQ("The server's certificate could not be verified (self-signed certificate)\n", client.reply());
    EXPECT_EQ(server.certificateFingerprint(), unverifiedCertificate(client.session));

    std::string lowerCase = server.certificateFingerprint();
    for (char& c : lowerCase) c = char(std::tolower(c));
    trustCertificate(client.session, lowerCase);
    ASSERT_TRUE(client.open(server, server.address())) << client.reply();
    EXPECT_EQ("", unverifiedCertificate(client.session));

    // Another session of its own is no help: the servers would have to speak TLS to
    // each other.
    EXPECT_EQ(0,
              serverToServer(client.session, client.session, server.remotePath("a"), server.remotePath("b"), 'I', 1));
    EXPECT_EQ("Server-to-server copy is not available on encrypted connections\n", client.reply());
}

// Without an idle callback TLS blocks in its calls; with one every step is tried without
// blocking, so TLS asks to wait in the middle of records, in both directions.
TEST_P(TlsServer, FilesAndListingsTravelByteExactBothWays) {
    for (const bool idleWaits : {false, true}) {
        SCOPED_TRACE(idleWaits);
        Client client;
        int periods = 0;
        if (idleWaits) {
            client.session.control->idleCallback = [](void* context) {
                return int(++*static_cast<int*>(context) < 20000);
            };
            client.session.control->callbackContext = &periods;
            client.session.control->idleMicroseconds = 1000;
        }
        trustCertificate(client.session, server.certificateFingerprint());
        ASSERT_TRUE(client.open(server, server.address())) << client.reply();
        setConnectionMode(client.session, GetParam().passive ? ConnectionMode::Passive : ConnectionMode::Active);
        client.session.control->usePeerAddress = GetParam().passive;

        const std::string name = idleWaits ? "idle.bin" : "blocking.bin";
        const std::string bytes = patternBytes((3 << 20) + 7);
        writeFile(local / name, bytes);
        ASSERT_EQ(1, upload(client.session, local / name, server.remotePath(name), 'I')) << client.reply();
        EXPECT_TRUE(bytes == readFile(server.hostPath(name)));
        ASSERT_EQ(1, download(client.session, local / "back", server.remotePath(name), 'I', 0)) << client.reply();
        EXPECT_TRUE(bytes == readFile(local / "back"));
        ASSERT_EQ(1, changeFolder(client.session, server.remotePath(""))) << client.reply();
        ASSERT_EQ(1, listToFile(client.session, local / "listing", std::nullopt)) << client.reply();
        EXPECT_NE(std::string::npos, readFile(local / "listing").find(" " + name + "\n"))
            << readFile(local / "listing");
    }
}

// The certificate is its own trust anchor here; the name is checked against the host
// the session was given, as a name or as an address.
TEST_P(TlsServer, ACertificateTheTrustStoreVerifiesNeedsTheRightName) {
    ScopedVariable trustStore("SSL_CERT_FILE", server.certificatePath());
    const std::string port = server.address().substr(server.address().find(':'));
    Client named;
    EXPECT_TRUE(named.open(server, "localhost" + port)) << named.reply();
    EXPECT_EQ("", unverifiedCertificate(named.session));
    Client byAddress;
    EXPECT_FALSE(byAddress.open(server, server.address()));
    EXPECT_EQ("The server's certificate could not be verified (IP address mismatch)\n", byAddress.reply());
    EXPECT_EQ(server.certificateFingerprint(), unverifiedCertificate(byAddress.session));
}

INSTANTIATE_TEST_SUITE_P(Servers, TlsServer, ::testing::ValuesIn(everySetup), setupParamName);

// EPSV and EPRT under TLS; the certificate names no address, so ::1 needs the trust.
TEST(ExplicitTls, FilesTravelOverIpv6InBothModes) {
    if (!loopbackIpv6Available()) GTEST_SKIP() << "this host has no IPv6 loopback address (::1 on lo)";
    for (const FtpServerKind kind : {FtpServerKind::Pyftpdlib, FtpServerKind::Vsftpd}) {
        TemporaryFolder root, local;
        RealFtpServer server(kind, root.path(), {.ipv6 = true, .tls = true});
        ASSERT_EQ("", server.error());
        const std::string bytes = patternBytes((1 << 20) + 7);
        writeFile(local / "up", bytes);
        for (const ConnectionMode mode : {ConnectionMode::Passive, ConnectionMode::Active}) {
            SCOPED_TRACE(server.address() + (mode == ConnectionMode::Passive ? " passive" : " active"));
            Client client;
            trustCertificate(client.session, server.certificateFingerprint());
            ASSERT_TRUE(client.open(server, server.address())) << client.reply();
            setConnectionMode(client.session, mode);
            ASSERT_EQ(1, upload(client.session, local / "up", server.remotePath("f"), 'I')) << client.reply();
            ASSERT_EQ(1, download(client.session, local / "back", server.remotePath("f"), 'I', 0)) << client.reply();
            EXPECT_TRUE(bytes == readFile(local / "back"));
        }
    }
}

// Nothing goes out in clear text after a refusal; and what came in clear text after the
// 234 would be read later as if it had come through TLS.
TEST(ExplicitTls, AuthTlsRefusedOrFollowedByClearTextEndsTheOpenBeforeAnythingElseIsSent) {
    const std::pair<const char*, const char*> cases[] = {
        {"500 AUTH not understood\r\n", "500 AUTH not understood\n"},
        {"234 go ahead\r\n230 logged in\r\n", "The server sent more after its reply to AUTH TLS\n"}};
    for (const auto& [replies, reason] : cases) {
        ScriptedFtpServer server({send("220 ready\r\n"), expect("AUTH TLS"), send(replies), closeControl()});
        FtpSession session = createSession();
        EXPECT_EQ(0, openControl(session, "FTPES://" + server.address()));
        EXPECT_EQ(reason, std::string(lastReply(session)));
        EXPECT_EQ("", unverifiedCertificate(session));
        release(session);
        EXPECT_EQ("", server.finish());
    }
}

// Whoever sits between could cut a data connection, or answer on its port, in the
// server's place.
TEST(ExplicitTls, ADataConnectionMustEndWithCloseNotifyAndShowTheServersCertificate) {
    const std::pair<const char*, const char*> cases[] = {
        {"no-close-notify", "Transfer incomplete\n"},
        {"another-certificate", "The data connection showed another certificate than the server\n"}};
    for (const auto& [fault, reason] : cases) {
        TemporaryFolder root, local;
        RealFtpServer server(FtpServerKind::Pyftpdlib, root.path(), {.tls = true, .dataFault = fault});
        ASSERT_EQ("", server.error());
        const std::string bytes = patternBytes(100000);
        writeFile(server.hostPath("f"), bytes);
        Client client;
        trustCertificate(client.session, server.certificateFingerprint());
        ASSERT_TRUE(client.open(server, server.address())) << client.reply();
        EXPECT_EQ(0, download(client.session, local / "f", server.remotePath("f"), 'I', 0, 100000));
        EXPECT_EQ(reason, client.reply());
    }
}

}  // namespace
