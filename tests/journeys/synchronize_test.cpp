// A device folder kept in step with a server (the copies' times: tests/remote).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "platform/window/keys.h"
#include "queue/operation_queue.h"
#include "resources/commands.h"
#include "tests/journeys/journey_fixture.h"

namespace journeys {
namespace {

namespace fs = std::filesystem;
using platform::Key;
using namespace resources;

using Synchronize = Journey;

TEST_P(Synchronize, UpToTheServerThenOnlyTheTwoChangedFiles) {
    for (const std::string name : {"index.html", "style.css", "img/logo.svg"}) root.file("site/" + name, name);
    serveFolder("img");  // one folder is there already: the tree is walked into it
    startWithPlace();
    open("site");
    openRemote();
    // Device to Server, new and changed files, size and time: the dialog's first choices.
    terminal.pressKey(Key::leftSoft);  // Done
    waitForText(" Synchronize: ");
    terminal.pressKey(Key::leftSoft);  // Start
    command(commandSynchronize);
    drainQueue();
    EXPECT_EQ(bytesDiffer(treeText(root.at("site")), treeText(served(""))), "");
    EXPECT_EQ(boxes.closedBoxes().size(), 0u) << boxes.lastBoxScreen();

    // One file grows; the other keeps its size and is an hour newer.
    queue::clearQueue();
    root.file("site/index.html", "index.html, again");
    root.file("site/style.css", "STYLE.CSS");
    fs::last_write_time(root.at("site/style.css"), fs::file_time_type::clock::now() + std::chrono::hours(1));
    command(commandRemoteView);
    terminal.pressKey(Key::leftSoft);  // Done
    waitForText(" Synchronize: ");
    const std::string preview = shownByCommand(commandSynchronize, Key::leftSoft);  // Start
    drainQueue();
    EXPECT_EQ(preview,
              " Synchronize: 2 of 2 chosen\n"
              " \\site\\ -> " +
                  server.remotePath("") +
                  "\n"
                  "      [x] Copy index.html (size differs)\n"
                  "      [x] Copy style.css (newer)\n"
                  "\n\n\n\n\n\n\n\n\n"
                  " Start                                               Cancel");
    EXPECT_EQ(queuedDestinations(),
              (std::set<std::string>{server.remotePath("index.html"), server.remotePath("style.css")}));
}

// Not pyftpdlib with active data connections: after a few active transfers it can stop
// polling a live control connection (a stale descriptor of a closed data connection that
// the new connection's socket reuses), and the worker's next command then goes unread.
INSTANTIATE_TEST_SUITE_P(Servers, Synchronize, ::testing::ValuesIn(bothServers), setupParamName);

}  // namespace
}  // namespace journeys
