// What the window system tests share: a headless 40x12 screen, a main window that
// records the messages it gets as readable lines, and an owner-data list that shows
// `rows`.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/headless_terminal.h"
#include "platform/window/list_view.h"
#include "platform/window/window.h"

namespace windowtest {

using namespace platform;

std::string keyName(Key key);
std::string keyNames(const std::vector<Key>& keys);
// A message as a line: "command 5", "notify 11 itemActivate 2", "hotKey leftSoft press", ...
// Empty for messages not worth recording (create, paint, display requests, ...).
std::string describe(MessageId message, WParam wParam, LParam lParam);

constexpr int listId = 11;

class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;
    // Destroys the windows while what their procedures use (here and in derived tests) lives.
    void TearDown() override;

    // Creates the main window with the list (rows 0.. of its client area) and no bar.
    void createMainWithList();
    // Queues the keys for the next loop to read (a modal loop, for instance).
    void script(const std::vector<Key>& keys) {
        for (Key key : keys) terminal.pressKey(key);
    }
    // Presses the keys now: every message they cause is handled when this returns.
    void play(const std::vector<Key>& keys) {
        script(keys);
        runUntilIdle();
    }
    // The recorded lines since the last call.
    std::vector<std::string> takeEvents() { return std::exchange(events, {}); }

    HeadlessTerminal terminal{40, 12};
    std::vector<std::pair<std::u16string, IconId>> rows;
    std::vector<std::string> events;
    // Runs for every message of the main window once it is recorded; a nonzero result is
    // returned as is.
    std::function<LResult(Window, MessageId, WParam, LParam)> hook;
    Window main;
    Window list;
    ImageList images;
    // Last, so that the windows go before what their procedures use.
    WindowSystemScope scope{terminal, terminal.clock()};
};

}  // namespace windowtest
