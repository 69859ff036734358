#include "platform/window/message_box.h"

#include "support.h"

namespace windowtest {
namespace {

class MessageBoxTest : public WindowTest {
protected:
    void SetUp() override { createMainWithList(); }
};

// The box as drawn is on the program's screens; here, what each key answers and that
// the window below gets its keys back.
TEST_F(MessageBoxTest, KeysAnswerTheBox) {
    struct Case {
        MessageBoxButtons buttons;
        std::vector<Key> keys;
        MessageBoxResult expected;
    };
    const Case cases[] = {
        {MessageBoxButtons::yesNo, {Key::leftSoft}, MessageBoxResult::yes},
        {MessageBoxButtons::yesNo, {Key::rightSoft}, MessageBoxResult::no},
        {MessageBoxButtons::yesNo, {Key::action}, MessageBoxResult::yes},
        {MessageBoxButtons::yesNo, {Key::back}, MessageBoxResult::no},
        {MessageBoxButtons::yesNo, {keyFor('n')}, MessageBoxResult::no},
        {MessageBoxButtons::yesNo, {Key::down, keyFor('y')}, MessageBoxResult::yes},
        {MessageBoxButtons::ok, {Key::leftSoft}, MessageBoxResult::ok},
        {MessageBoxButtons::ok, {Key::rightSoft, Key::back}, MessageBoxResult::ok},  // F2 is no button
        {MessageBoxButtons::ok, {}, MessageBoxResult::none},                         // the script ended: cancelled
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(keyNames(c.keys) + (c.buttons == MessageBoxButtons::ok ? " on OK" : " on Yes/No"));
        script(c.keys);
        EXPECT_EQ(messageBox(main, u"Text", u"Caption", c.buttons, MessageBoxIcon::none), c.expected);
        EXPECT_TRUE(terminal.scriptDone());
        EXPECT_EQ(getFocus(), list);
        EXPECT_TRUE(isWindowEnabled(main));
    }
}

}  // namespace
}  // namespace windowtest
