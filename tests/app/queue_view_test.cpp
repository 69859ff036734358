// The Queue view as a user meets it: a file copied from the Remote view of a real server
// in the Successful list, and a download under way in the Pending and Active lists.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "queue/operation_queue.h"
#include "remote/connect.h"
#include "remote/places.h"
#include "resources/commands.h"
#include "tests/support/farlink_screen.h"
#include "tests/support/place_fixtures.h"
#include "tests/support/real_ftp_server.h"
#include "tests/support/scripted_ftp_server.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

using platform::Key;
using namespace resources;

class QueueView : public test_support::FarlinkScreen {
protected:
    QueueView() : FarlinkScreen(60, 8) {
        std::filesystem::create_directories(served.path() + "/box");
        std::ofstream(served.path() + "/box/a.txt") << "text";
    }

    test_support::TemporaryFolder served;
    test_support::RealFtpServer server{test_support::FtpServerKind::Pyftpdlib, served.path()};
};

// The journeys show the Failed list of a copy that could not be made.
TEST_F(QueueView, ShowsWhatWasCopied) {
    ASSERT_EQ(server.error(), "");
    test_support::addPlace(server.address(), {.user = server.user(), .password = server.password(), .name = u"Box"});
    ASSERT_EQ(remote::savePlaces(), 1);
    main = app::createMainWindow();
    ASSERT_TRUE(main);
    command(commandRemoteView);
    terminal.pressKeys({Key::down, Key::action});  // into "box", on "a"
    play();
    command(commandCopyTo);
    drainQueue();
    EXPECT_EQ(root.read("a.txt"), "text");

    command(commandQueueView);
    terminal.pressKeys({Key::up, Key::right, Key::right});  // the selector above the list
    play();
    EXPECT_EQ(terminal.screenText(),
              " Queue - Farlink\n"
              " < Successful Operations                                  >\n"
              " [T]  \xE2\xA7\xB5"
              "a\n"
              "\n\n\n\n"
              " Refresh                                               Menu");
}

// While a download runs (the scripted server sends a tenth of it and waits), the Pending
// and Active lists show the two records, and every view's bottom line the progress.
TEST_F(QueueView, ShowsWhatWaitsWhatRunsAndHowFar) {
    using namespace test_support;
    using namespace test_support::conversation;
    ScriptedFtpServer scripted(login() + ask("TYPE I", "200 ok") + ask("SIZE /pub/big.bin", "213 1000000") +
                               ask("TYPE I", "200 ok") + expect("PASV") + replyPassive() + acceptData() +
                               expect("RETR /pub/big.bin") + send("150 here\r\n") + sendData(std::string(100000, 'n')) +
                               expect("QUIT"));
    test_support::addPlace(scripted.address());
    ASSERT_EQ(remote::savePlaces(), 1);
    main = app::createMainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(test_support::settle());
    queue::queueCopyFile(u"/pub/big.bin", u"file://\\big.bin");
    queue::queueCopyFile(u"/pub/next.txt", u"file://\\next.txt");
    for (int i = 0; i < 1000 && queue::queueProgress().done < 65536; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    terminal.advanceTime(500);  // the progress line's refresh
    command(commandQueueView);
    const std::string pending = terminal.screenText();
    terminal.pressKeys({Key::up, Key::right});
    play();
    EXPECT_EQ(pending,
              " Queue - Farlink\n"
              " < Pending Operations                                     >\n"
              " [T]  \xE2\xA7\xB5"
              "next\n"
              "\n\n\n\n"
              " Refresh    " +
                  terminal.rowText(7).substr(12));
    const std::string active = terminal.screenText();
    EXPECT_EQ(active.substr(0, active.rfind('\n')),
              " Queue - Farlink\n"
              " < Active Operations                                      >\n"
              " [F]  \xE2\xA7\xB5"
              "big\n"
              "\n\n\n");
    // The rate and the time left come once a second has passed.
    EXPECT_TRUE(terminal.rowText(7).starts_with(" Refresh     97.7 KB of 976.6 KB 10%")) << terminal.rowText(7);
    EXPECT_NE(terminal.rowText(7).find(", 1 waiting "), std::string::npos) << terminal.rowText(7);

    queue::stopQueue();
    remote::shutdownRemote();
    EXPECT_EQ(scripted.finish(), "");
}

}  // namespace
