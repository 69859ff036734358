// Row tables and sorted insertion, filled directly with a fake view (no windows).
#include "explorer/rows.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/text.h"

namespace {

using namespace explorer;
using platform::toUtf8;

std::uintptr_t nameOnlyInfo(std::u16string_view path, std::uint32_t, platform::ShellFileInfo& info, std::uint32_t) {
    platform::copyBounded(info.displayName, platform::maxPath, path.substr(path.find_last_of(u'\\') + 1));
    info.iconIndex = static_cast<int>(platform::IconId::file);
    return 1;
}

struct Entry {
    std::u16string name;
    std::uint64_t size;
    std::uint64_t time;
};

constexpr std::uint64_t GiB = 1ULL << 30;
// Listing order. Ties: a.html/a.txt by size, b.txt/a.txt by date and type, ...
const std::vector<Entry> entries = {
    {u"b.txt", 5, 0x2'00000001}, {u"a.html", 3, 0x1'FFFFFFFF}, {u"c", 5 * GiB, 0x2'00000000},
    {u"a.txt", 3, 0x2'00000001}, {u"e.c", 1, 0x1'FFFFFFFF},    {u"f.bin", 3 * GiB, 0x2'00000000},
};

std::vector<std::string> listed(const Listing& listing) {
    clearRows();
    for (const Entry& entry : entries) {
        Selection selection;
        addFileRow(listing, u"\\d\\" + entry.name, entry.size, platform::toFileTime(entry.time), 0, selection);
    }
    std::vector<std::string> names;
    for (int i = 0; const ExplorerItem* row = rowByListIndex(i); ++i) names.push_back(toUtf8(row->displayName));
    return names;
}

Listing fakeListing() {
    Listing listing;
    listing.view.GetFileInfo = nameOnlyInfo;
    return listing;
}

TEST(Rows, EveryKeyInBothDirectionsKeepsListingOrderForTies) {
    using Names = std::vector<std::string>;
    struct Case {
        std::uint32_t key;
        bool ascending;
        Names expected;
    };
    const Case cases[] = {
        {sortNone, true, {"b.txt", "a.html", "c", "a.txt", "e.c", "f.bin"}},
        {sortNone, false, {"b.txt", "a.html", "c", "a.txt", "e.c", "f.bin"}},
        {sortName, true, {"a.html", "a.txt", "b.txt", "c", "e.c", "f.bin"}},
        {sortName, false, {"f.bin", "e.c", "c", "b.txt", "a.txt", "a.html"}},
        // A four-letter extension has no type text: a.html sorts with c.
        {sortType, true, {"a.html", "c", "f.bin", "e.c", "b.txt", "a.txt"}},
        {sortType, false, {"b.txt", "a.txt", "e.c", "f.bin", "a.html", "c"}},
        {sortSize, true, {"e.c", "a.html", "a.txt", "b.txt", "f.bin", "c"}},
        {sortSize, false, {"c", "f.bin", "b.txt", "a.html", "a.txt", "e.c"}},
        {sortDate, true, {"a.html", "e.c", "c", "f.bin", "b.txt", "a.txt"}},
        {sortDate, false, {"b.txt", "a.txt", "c", "f.bin", "a.html", "e.c"}},
    };
    Listing listing = fakeListing();
    for (const Case& c : cases) {
        listing.view.sortKey = c.key;
        listing.view.ascending = c.ascending;
        EXPECT_EQ(listed(listing), c.expected) << "key " << c.key << (c.ascending ? " ascending" : " descending");
    }
}

}  // namespace
