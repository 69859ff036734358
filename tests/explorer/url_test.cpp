#include "explorer/url.h"

#include <gtest/gtest.h>

#include "explorer/provider.h"
#include "platform/text.h"

namespace {

using explorer::canonicalize;
using explorer::compose;
using explorer::split;
using platform::toUtf8;

TEST(Url, ComposeWithAndWithoutExtension) {
    struct Case { std::u16string scheme, folder, name, extension, expected; };
    const Case cases[] = {
        {u"file", u"\\Temp\\", u"a", u"txt", u"file://\\Temp\\a.txt"},
        {u"file", u"\\Temp\\", u"a", u"", u"file://\\Temp\\a"},
        {u"", u"/pub/", u"a", u"tar.gz", u"/pub/a.tar.gz"},
        {u"", u"/pub/", u"readme", u"", u"/pub/readme"},
    };
    for (const auto& c : cases) {
        std::u16string output;
        EXPECT_EQ(compose(output, c.scheme, c.folder, c.name, c.extension), c.expected.size()) << toUtf8(c.expected);
        EXPECT_EQ(output, c.expected);
    }
}

TEST(Url, ComposeRefusesWhatWouldNotFitInsteadOfCutting) {
    std::u16string output = u"old";
    const std::u16string folder = u"\\" + std::u16string(240, u'd') + u"\\";
    EXPECT_EQ(compose(output, u"file", folder, std::u16string(20, u'n'), u"txt"), 0u);
    EXPECT_TRUE(output.empty());
}

TEST(Url, Canonicalize) {
    struct Case { std::u16string input, expected; };
    const Case cases[] = {
        {u"/pub//dir/./x.txt", u"\\pub\\dir\\x.txt"},
        {u"\\a\\b\\..\\c", u"\\a\\c"},
        {u"\\\\server\\share\\x", u"\\\\server\\share\\x"},
        {u"\\\\\\server", u"\\\\server"},
        {u"file://\\My Documents\\a.txt", u"file://\\My Documents\\a.txt"},
        {u"file:///a/../../b", u"file://\\b"},
        {u"ftp://host/a//b", u"ftp://host\\a\\b"},
        {u"\\..\\..\\a", u"\\a"},
        {u"\\a\\b\\..", u"\\a\\"},
        {u"\\a\\.\\", u"\\a\\"},
        {u"\\a.b\\..c\\d", u"\\a.b\\..c\\d"},
    };
    for (const auto& c : cases) {
        std::u16string output;
        EXPECT_TRUE(canonicalize(c.input, output)) << toUtf8(c.input);
        EXPECT_EQ(toUtf8(output), toUtf8(c.expected)) << toUtf8(c.input);
    }
}

TEST(Url, CanonicalizeTakesARelativePathFromTheCurrentFolder) {
    explorer::ViewProvider view = explorer::deviceProvider;
    view.GetCurrentFolder = [] { return std::u16string(u"\\home\\me\\"); };
    explorer::ViewProvider* previous = explorer::currentProvider;
    explorer::currentProvider = &view;
    std::u16string output;
    EXPECT_TRUE(canonicalize(u"docs\\..\\..\\x.txt", output));
    EXPECT_EQ(toUtf8(output), "\\home\\x.txt");
    explorer::currentProvider = previous;
}

TEST(Url, CanonicalizeRefusesAResultTooLongForAPath) {
    std::u16string output;
    EXPECT_FALSE(canonicalize(u"\\" + std::u16string(300, u'x'), output));
    EXPECT_TRUE(output.empty());
    EXPECT_TRUE(canonicalize(u"\\" + std::u16string(300, u'x') + u"\\..\\y", output));
    EXPECT_EQ(toUtf8(output), "\\y");
}

TEST(Url, Split) {
    struct Case { std::u16string path, scheme, folder, name, extension; };
    const Case cases[] = {
        {u"file://\\My Documents\\a.txt", u"file:", u"//\\My Documents\\", u"a", u"txt"},
        {u"\\Windows\\readme", u"", u"\\Windows\\", u"readme", u""},
        {u"\\x\\a.tar.gz", u"", u"\\x\\", u"a.tar", u"gz"},
        {u"\\Data.old\\readme", u"", u"\\Data.old\\", u"readme", u""},
        {u"/pub/.profile", u"", u"/pub/", u"", u"profile"},
        {u"name.txt", u"", u"", u"name", u"txt"},
        {u"\\folder\\", u"", u"\\folder\\", u"", u""},
    };
    for (const auto& c : cases) {
        const explorer::PathParts parts = split(c.path);
        EXPECT_EQ(parts.scheme, c.scheme) << toUtf8(c.path);
        EXPECT_EQ(parts.folder, c.folder) << toUtf8(c.path);
        EXPECT_EQ(parts.name, c.name) << toUtf8(c.path);
        EXPECT_EQ(parts.extension, c.extension) << toUtf8(c.path);
    }
}

}  // namespace
