#include "platform/clipboard.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "tests/platform/helpers.h"

namespace {

using namespace platform;
using platform_test::onOtherThread;

TEST(ClipboardThreads, OneThreadHasItOpenAtATime) {
    std::u16string text;
    EXPECT_FALSE(setClipboardText(u"not open"));
    EXPECT_EQ(lastError(), errorAccessDenied);

    ASSERT_TRUE(openClipboard());
    EXPECT_TRUE(emptyClipboard());
    EXPECT_TRUE(setClipboardText(u"\\My Documents\\a.txt"));
    EXPECT_EQ(onOtherThread([] { return openClipboard(); }), false);
    EXPECT_EQ(onOtherThread([] { return emptyClipboard() ? errorSuccess : lastError(); }), errorAccessDenied);
    EXPECT_TRUE(closeClipboard());

    const auto pasted = onOtherThread([] {
        std::u16string seen;
        const bool ok = openClipboard() && getClipboardText(seen) && emptyClipboard() && closeClipboard();
        return ok ? seen : u"failed";
    });
    EXPECT_EQ(pasted, u"\\My Documents\\a.txt");

    ASSERT_TRUE(openClipboard());
    EXPECT_FALSE(getClipboardText(text)) << "emptied by the other thread";
    EXPECT_TRUE(setClipboardText(u"\U0001F600"));
    EXPECT_TRUE(getClipboardText(text));
    EXPECT_EQ(text, u"\U0001F600");
    EXPECT_TRUE(closeClipboard());
    EXPECT_FALSE(closeClipboard());
}

}  // namespace
