// Filters: loading, saving, damaged records, and the "File Filter" dialog's refusals.
#include "local/filters.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "local/device.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

using local::FilterRecord;
using platform::Key;
using platform::toUtf16;
using platform::toUtf8;
using test_support::storedValue;
using Names = std::vector<std::string>;

FilterRecord record(const std::string& name, const std::string& folder = "\\", std::uint8_t trackLastFolder = 0) {
    FilterRecord filter{};
    platform::copyBounded(filter.name, std::size(filter.name), toUtf16(name));
    platform::copyBounded(filter.pattern, std::size(filter.pattern), u"*");
    platform::copyBounded(filter.folder, std::size(filter.folder), toUtf16(folder));
    filter.trackLastFolder = trackLastFolder;
    return filter;
}

// "F7" (built with += since "F" + std::to_string trips a false -Wrestrict in g++ 12).
std::string numbered(int n) {
    std::string text("F");
    text += std::to_string(n);
    return text;
}

// How many times the action saves the settings file in `folder`: each save writes a
// temporary file of its own and renames it over the settings file.
int savesDuring(const std::string& folder, const std::function<void()>& action) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
    action();
    int saves = 0;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
        for (const char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && std::string_view(event->name).starts_with("registry.reg.tmp-")) ++saves;
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    return saves;
}

class Filters : public ::testing::Test {
protected:
    Filters() { platform::useRegistryFile(settings / "registry.reg"); }
    void TearDown() override { local::freeFilters(); }

    void store(int index, const void* data, std::uint32_t size) {
        ASSERT_TRUE(test_support::storeValue(local::filtersKeyPath, toUtf16(std::to_string(index)),
                                             platform::registryBinary, data, size));
    }
    void store(int index, const FilterRecord& filter) { store(index, &filter, sizeof filter); }

    Names names() const {
        Names result;
        for (int i = 0; local::filterAt(i); ++i) result.push_back(toUtf8(local::filterAt(i)->name));
        return result;
    }

    test_support::TemporaryFolder settings;
};

TEST_F(Filters, StoredFiltersTakeThePlacesOfTheFirstBuiltInOnes) {
    local::loadFilters();
    ASSERT_EQ(names().size(), 13u);
    // "Common Files Types" is longer than its field: it keeps the patterns that fit whole.
    EXPECT_EQ(toUtf8(local::filterAt(1)->pattern), "*.txt;*.htm;*.xml;*.lnk;*.bmp;*.jpg;*.gif;*.png;*.wma;*.wav");

    store(0, record("Notes", "\\notes\\", 1));
    store(1, record("Pages", "\\pages\\", 0));
    local::loadFilters();
    const Names loaded = names();
    ASSERT_EQ(loaded.size(), 13u);
    EXPECT_EQ(Names(loaded.begin(), loaded.begin() + 3), (Names{"Notes", "Pages", "Media Files"}));
    EXPECT_EQ(toUtf8(local::filterAt(0)->folder), "\\notes\\");                     // tracked: kept
    EXPECT_EQ(toUtf8(local::filterAt(1)->folder), toUtf8(local::defaultFolder()));  // not tracked
}

TEST_F(Filters, LoadingStopsAtAValueOfAnotherSizeAndAfterThe31st) {
    for (int i = 0; i < 5; ++i) store(i, record(numbered(i)));
    const std::uint8_t shortValue[100] = {};
    store(2, shortValue, sizeof shortValue);
    local::loadFilters();
    const Names cut = names();
    ASSERT_EQ(cut.size(), 13u);
    EXPECT_EQ(Names(cut.begin(), cut.begin() + 3), (Names{"F0", "F1", "Media Files"}));

    for (int i = 0; i < 40; ++i) store(i, record(numbered(i)));
    local::loadFilters();
    EXPECT_EQ(local::filterCount(), 31);
    EXPECT_EQ(names().back(), "F30");
}

TEST_F(Filters, StoredTextsWithoutTerminatorsEndAtTheirFieldsEnd) {
    FilterRecord filter;
    std::fill(std::begin(filter.name), std::end(filter.name), u'N');
    std::fill(std::begin(filter.pattern), std::end(filter.pattern), u'P');
    std::fill(std::begin(filter.folder), std::end(filter.folder), u'F');
    filter.trackLastFolder = 1;
    filter.isolatedFileSystem = 1;
    store(0, filter);
    local::loadFilters();
    const FilterRecord& loaded = *local::filterAt(0);
    EXPECT_EQ(std::u16string(loaded.name), std::u16string(259, u'N'));
    EXPECT_EQ(std::u16string(loaded.pattern), std::u16string(63, u'P'));
    // No room left for the folder's final separator: it starts at the default folder.
    EXPECT_EQ(toUtf8(loaded.folder), toUtf8(local::defaultFolder()));
}

// One save of the settings file for the whole list: an interrupted one keeps the old
// list whole (the registry's tests kill a writer mid-save).
TEST_F(Filters, SaveWritesEveryFilterAndDeletesTheValuesAboveUpToTheFirstGapInOneWrite) {
    for (int i = 0; i < 16; ++i) store(i, record(numbered(i)));
    store(17, record("beyond a gap"));
    local::loadFilters();
    ASSERT_EQ(local::deleteFilter(2), 1);
    ASSERT_EQ(local::deleteFilter(2), 1);
    int saved = 0;
    EXPECT_EQ(savesDuring(settings.path(), [&saved] { saved = local::saveFilters(); }), 1);
    ASSERT_EQ(saved, 1);
    ASSERT_EQ(local::filterCount(), 14);
    EXPECT_EQ(toUtf8(local::filterAt(2)->name), "F4");
    for (int i = 0; i < 14; ++i) {
        const test_support::StoredValue value = storedValue(local::filtersKeyPath, toUtf16(std::to_string(i)));
        EXPECT_EQ(value.type, platform::registryBinary) << i;
        ASSERT_EQ(value.data.size(), 1170u) << i;
        EXPECT_EQ(std::memcmp(value.data.data(), local::filterAt(i), 1170), 0) << i;
    }
    EXPECT_FALSE(storedValue(local::filtersKeyPath, u"14").exists);
    EXPECT_FALSE(storedValue(local::filtersKeyPath, u"15").exists);
    EXPECT_TRUE(storedValue(local::filtersKeyPath, u"17").exists);
}

class FilterDialog : public Filters {
protected:
    void SetUp() override { local::loadFilters(); }
    explorer::OwnerRecord owner() const { return {screen.main, nullptr}; }

    test_support::HeadlessScreen screen{60, 12};
};

TEST_F(FilterDialog, CancelChangesNothing) {
    screen.terminal.typeText(u"xyz");
    screen.terminal.pressKey(Key::rightSoft);
    screen.terminal.pressKey(Key::leftSoft);  // Done, were the dialog still open
    EXPECT_EQ(local::editFilter(0, owner()), 0);
    EXPECT_EQ(toUtf8(local::filterAt(0)->name), "All Files");
}

TEST_F(FilterDialog, AFullListRefusesANewFilter) {
    for (int i = 13; i < 31; ++i) {
        screen.terminal.pressKey(Key::leftSoft);
        screen.terminal.advanceTime(1000);  // F1 is let go
        ASSERT_EQ(local::editFilter(i, owner()), 1) << i;
    }
    ASSERT_EQ(local::filterCount(), 31);
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(Key::leftSoft);
    EXPECT_EQ(local::editFilter(31, owner()), 0);
    EXPECT_EQ(local::filterCount(), 31);
    EXPECT_NE(shown.find("The filter list is full"), std::string::npos) << shown;
}

}  // namespace
