// The journey to an encrypted server (ftpes://) whose self-signed certificate no trust
// store vouches for.
#include <gtest/gtest.h>

#include <string>

#include "platform/window/keys.h"
#include "queue/operation_queue.h"
#include "remote/certificates.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"

namespace journeys {
namespace {

using platform::Key;
using namespace resources;
using test_support::boxWords;
using test_support::patternBytes;
using test_support::readFile;

using Encrypted = Journey;

TEST_P(Encrypted, TrustedOnceFilesGoBothWaysAndAChangedCertificateAsksAgain) {
    serve("files/a.bin", patternBytes(300000));
    serve("files/b.bin", "b");
    serveFolder("files/dest");
    root.file("up.bin", patternBytes(200000));
    savePlace(serverLogin());
    const std::string address = server.address();
    const std::string serverName = "localhost" + address.substr(address.rfind(':'));
    start();

    // First contact: the question, with the fingerprint; Yes remembers it.
    const std::string question = askedByCommand(commandRemoteView, Key::leftSoft);  // Yes
    const std::string firstPrint = server.certificateFingerprint();
    EXPECT_NE(boxWords(question).find("Theserver'scertificatecouldnotbeverified"), std::string::npos) << question;
    EXPECT_NE(boxWords(question).find(firstPrint), std::string::npos) << question;
    EXPECT_EQ(boxWords(question).find("changed"), std::string::npos) << question;
    EXPECT_EQ(remote::rememberedCertificate(serverName), firstPrint);

    if (GetParam().kind == FtpServerKind::Vsftpd) open("pub");
    open("files");
    focus("a");
    command(commandCopyTo);
    command(commandDeviceView);
    focus("up");
    command(commandCopyTo);
    drainQueue();
    EXPECT_EQ(bytesDiffer(patternBytes(300000), root.read("a.bin")), "");
    EXPECT_EQ(bytesDiffer(patternBytes(200000), readFile(served("files/up.bin"))), "");
    EXPECT_EQ(boxes.ftpErrorBoxes(), 0) << boxes.lastBoxScreen();  // a failed copy shows one

    // The servers cannot exchange a file over TLS themselves, and the box says so.
    command(commandRemoteView);
    focus("a");
    command(commandCopy);
    open("dest");
    command(commandPaste);
    drainQueue();
    EXPECT_NE(boxWords(boxes.lastBoxScreen()).find("notavailableonencryptedconnections"), std::string::npos)
        << boxes.lastBoxScreen();
    command(commandUpFolder);

    // The next run, back in the folder it left, trusts the remembered certificate
    // without a word.
    quit();
    startAgain();
    const std::size_t boxesBefore = boxes.closedBoxes().size();
    command(commandRemoteView);
    EXPECT_EQ(rows(), " [D]  dest\n [F]  a\n [F]  b\n [F]  up\n");
    EXPECT_EQ(boxes.closedBoxes().size(), boxesBefore) << boxes.lastBoxScreen();

    // Another certificate: the queued copy fails saying where to decide; browsing asks,
    // says it changed, and No keeps the old fingerprint.
    server.changeCertificate();
    ASSERT_EQ(server.error(), "");
    const std::size_t failedBefore = queue::listRecords(queue::listFailed).size();
    focus("b");
    command(commandCopyTo);
    drainQueue();
    ASSERT_EQ(queue::listRecords(queue::listFailed).size(), failedBefore + 1);
    EXPECT_NE(boxWords(boxes.lastBoxScreen()).find("couldnotbeverified"), std::string::npos) << boxes.lastBoxScreen();
    EXPECT_NE(boxWords(boxes.lastBoxScreen()).find("Remoteview"), std::string::npos) << boxes.lastBoxScreen();

    const std::string changed = askedByCommand(commandRefresh, Key::rightSoft);  // No
    EXPECT_NE(boxWords(changed).find("ithaschangedsinceyoutrustedit"), std::string::npos) << changed;
    EXPECT_NE(boxWords(changed).find(server.certificateFingerprint()), std::string::npos) << changed;
    EXPECT_EQ(remote::rememberedCertificate(serverName), firstPrint);
}

INSTANTIATE_TEST_SUITE_P(Servers, Encrypted,
                         ::testing::Values(ServerSetup{FtpServerKind::Vsftpd, true, true},
                                           ServerSetup{FtpServerKind::Vsftpd, false, true},
                                           ServerSetup{FtpServerKind::Pyftpdlib, true, true}),
                         setupParamName);

}  // namespace
}  // namespace journeys
