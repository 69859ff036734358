// Location forms: compose, canonicalize and split.
#include "explorer/url.h"

#include <gtest/gtest.h>

#include "explorer/provider.h"
#include "platform/text.h"

namespace {

using explorer::canonicalize;
using explorer::compose;
using platform::toUtf8;

TEST(Url, ComposeWithAndWithoutExtension) {
    struct Case {
        std::u16string scheme, folder, name, extension, expected;
    };
    const Case cases[] = {
        {u"file", u"\\Temp\\", u"a", u"txt", u"file://\\Temp\\a.txt"},
        {u"file", u"\\Temp\\", u"a", u"", u"file://\\Temp\\a"},
        {u"", u"/pub/", u"a", u"tar.gz", u"/pub/a.tar.gz"},
    };
    for (const auto& c : cases) {
        std::u16string output;
        EXPECT_EQ(compose(output, c.scheme, c.folder, c.name, c.extension), c.expected.size()) << toUtf8(c.expected);
        EXPECT_EQ(output, c.expected);
    }
}

TEST(Url, Canonicalize) {
    explorer::ViewProvider view = explorer::deviceProvider;
    view.GetCurrentFolder = [] { return std::u16string(u"\\home\\me\\"); };
    explorer::ViewProvider* previous = explorer::currentProvider;
    explorer::currentProvider = &view;
    struct Case {
        std::u16string input, expected;
    };
    const Case cases[] = {
        {u"docs\\..\\..\\x.txt", u"\\home\\x.txt"},  // relative: from the current folder
        {u"/pub//dir/./x.txt", u"\\pub\\dir\\x.txt"},
        {u"\\\\server\\share\\x", u"\\\\server\\share\\x"},
        {u"\\\\\\server", u"\\\\server"},
        {u"file:///a/../../b", u"file://\\b"},
        {u"ftp://host/a//b", u"ftp://host\\a\\b"},
        {u"\\..\\..\\a", u"\\a"},
        {u"\\a\\b\\..", u"\\a\\"},
        {u"\\a.b\\..c\\d", u"\\a.b\\..c\\d"},
    };
    for (const auto& c : cases) {
        std::u16string output;
        EXPECT_TRUE(canonicalize(c.input, output)) << toUtf8(c.input);
        EXPECT_EQ(toUtf8(output), toUtf8(c.expected)) << toUtf8(c.input);
    }
    explorer::currentProvider = previous;
}

// A path cut to fit its buffer could name another file.
TEST(Url, WhatWouldNotFitAPathIsRefusedNotCut) {
    std::u16string output = u"old";
    const std::u16string longFolder = u"\\" + std::u16string(240, u'd') + u"\\";
    EXPECT_EQ(compose(output, u"file", longFolder, std::u16string(20, u'n'), u"txt"), 0u);
    EXPECT_TRUE(output.empty());
    EXPECT_FALSE(canonicalize(u"\\" + std::u16string(300, u'x'), output));
    EXPECT_TRUE(output.empty());
    EXPECT_TRUE(canonicalize(u"\\" + std::u16string(300, u'x') + u"\\..\\y", output));
    EXPECT_EQ(toUtf8(output), "\\y");
}

TEST(Url, Split) {
    struct Case {
        std::u16string path;
        std::string parts;
    };  // scheme|folder|name|extension
    const Case cases[] = {
        {u"file://\\My Documents\\a.txt", "file:|//\\My Documents\\|a|txt"},
        {u"\\x\\a.tar.gz", "|\\x\\|a.tar|gz"},
        {u"\\Data.old\\readme", "|\\Data.old\\|readme|"},
        {u"/pub/.profile", "|/pub/||profile"},
        {u"name.txt", "||name|txt"},
    };
    for (const auto& c : cases) {
        const explorer::PathParts parts = explorer::split(c.path);
        EXPECT_EQ(toUtf8(parts.scheme + u"|" + parts.folder + u"|" + parts.name + u"|" + parts.extension), c.parts);
    }
}

}  // namespace
