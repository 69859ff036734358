// Filters: the load rule over stored and built-in filters, the save with its deletion of
// stale values, stored records that lack their terminators, and the "File Filter" dialog.
#include "local/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "local/device.h"
#include "platform/text.h"
#include "platform/window/soft_keys.h"
#include "tests/explorer/explorer_fixture.h"
#include "tests/local/local_fixture.h"

namespace {

using local::FilterRecord;
using local_test::storedValue;
using platform::Key;
using platform::toUtf16;
using platform::toUtf8;

FilterRecord record(const std::string& name, const std::string& pattern, const std::string& folder,
                    std::uint8_t track, std::uint8_t isolated) {
    FilterRecord filter{};
    platform::copyBounded(filter.name, std::size(filter.name), toUtf16(name));
    platform::copyBounded(filter.pattern, std::size(filter.pattern), toUtf16(pattern));
    platform::copyBounded(filter.folder, std::size(filter.folder), toUtf16(folder));
    filter.trackLastFolder = track;
    filter.isolatedFileSystem = isolated;
    return filter;
}

// "F7" (built with += since "F" + std::to_string trips a false -Wrestrict in g++ 12).
std::string numbered(const char* prefix, int n) {
    std::string text(prefix);
    text += std::to_string(n);
    return text;
}

class Filters : public ::testing::Test {
protected:
    void TearDown() override { local::freeFilters(); }

    void store(int index, const void* data, std::uint32_t size) {
        platform::RegistryKey key = platform::noKey;
        ASSERT_TRUE(platform::createKey(platform::currentUserKey, local::filtersKeyPath, key));
        platform::setValue(key, toUtf16(std::to_string(index)), platform::registryBinary, data, size);
        platform::closeKey(key);
    }
    void store(int index, const FilterRecord& filter) { store(index, &filter, sizeof filter); }

    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (int i = 0; local::filterAt(i); ++i) result.push_back(toUtf8(local::filterAt(i)->name));
        return result;
    }
    std::string folderOf(int index) const { return toUtf8(local::filterAt(index)->folder); }

    local_test::TempRegistry registry;
    explorer_test::DeviceRoot root;
};

TEST_F(Filters, AFirstRunListsTheThirteenBuiltInFilters) {
    local::loadFilters();
    ASSERT_EQ(local::filterCount(), 13);
    const auto builtIns = local::builtInFilters();
    for (int i = 0; i < 13; ++i) {
        const FilterRecord& filter = *local::filterAt(i);
        EXPECT_EQ(toUtf8(filter.name), toUtf8(builtIns[i].name)) << i;
        // Only "Common Files Types" is longer than its field: it keeps the patterns that fit whole.
        EXPECT_EQ(toUtf8(filter.pattern), i == 1 ? "*.txt;*.htm;*.xml;*.lnk;*.bmp;*.jpg;*.gif;*.png;*.wma;*.wav"
                                                 : toUtf8(builtIns[i].pattern))
            << i;
        EXPECT_EQ(toUtf8(filter.folder), toUtf8(local::defaultFolder())) << i;
        EXPECT_EQ(filter.trackLastFolder + filter.isolatedFileSystem, 0) << i;
    }
    EXPECT_EQ(names().front(), "All Files");
    EXPECT_EQ(names().back(), "Executable Files");
}

TEST_F(Filters, StoredFiltersTakeThePlacesOfTheFirstBuiltInOnes) {
    store(0, record("Notes", "*.txt", "\\notes\\", 1, 1));
    store(1, record("Pages", "*.htm", "\\pages\\", 0, 1));
    local::loadFilters();
    const std::vector<std::string> expected = {
        "Notes", "Pages", "Media Files", "Audio Files", "Image Documents", "Text Documents (*.txt)",
        "HTML Documents (*.htm)", "XML Documents (*.xml)", "Jpeg Images", "MP3 Files", "Windows Media Files",
        "CAB Files", "Executable Files"};
    EXPECT_EQ(names(), expected);
    EXPECT_EQ(folderOf(0), "\\notes\\");                            // tracked: kept
    EXPECT_EQ(folderOf(1), toUtf8(local::defaultFolder()));         // not tracked: reset
    EXPECT_EQ(toUtf8(local::filterAt(0)->pattern), "*.txt");
}

TEST_F(Filters, LoadingStopsAtAValueOfAnotherSizeAndAfterThe31st) {
    struct Case {
        const char* what;
        int stored;
        int badIndex;  // -1 none
        int expectedCount;
        std::string expectedLast;
    };
    const Case cases[] = {
        {"a short value ends the list", 5, 2, 13, "Executable Files"},
        {"the first value is bad", 3, 0, 13, "Executable Files"},
        {"40 stored values", 40, -1, 31, "F30"},
        {"exactly 31", 31, -1, 31, "F30"},
    };
    for (const Case& c : cases) {
        local_test::TempRegistry fresh;
        for (int i = 0; i < c.stored; ++i) {
            if (i == c.badIndex) {
                const std::uint8_t shortValue[100] = {};
                store(i, shortValue, sizeof shortValue);
            } else {
                store(i, record(numbered("F", i), "*", "\\", 0, 0));
            }
        }
        local::loadFilters();
        EXPECT_EQ(local::filterCount(), c.expectedCount) << c.what;
        EXPECT_EQ(names().back(), c.expectedLast) << c.what;
        if (c.badIndex > 0) {
            EXPECT_EQ(names()[c.badIndex - 1], numbered("F", c.badIndex - 1)) << c.what;
        }
    }
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
    EXPECT_EQ(std::u16string(loaded.folder), std::u16string(259, u'F'));
}

TEST_F(Filters, SaveWritesEveryFilterAndDeletesTheNumbersAboveUpToTheFirstGap) {
    for (int i = 0; i < 5; ++i) store(i, record(numbered("F", i), numbered("*.f", i), "\\", 0, 0));
    store(6, record("beyond a gap", "*", "\\", 0, 0));
    local::loadFilters();
    ASSERT_EQ(local::deleteFilter(2), 1);
    EXPECT_EQ(local::deleteFilter(40), 0);
    ASSERT_EQ(local::saveFilters(), 1);

    // The list was completed with built-ins to 13 when loaded; one is gone now.
    ASSERT_EQ(local::filterCount(), 12);
    for (int i = 0; i < 12; ++i) {
        const local_test::StoredValue value = storedValue(local::filtersKeyPath, toUtf16(std::to_string(i)));
        ASSERT_TRUE(value.exists) << i;
        EXPECT_EQ(value.type, platform::registryBinary) << i;
        ASSERT_EQ(value.data.size(), 1170u) << i;
        EXPECT_EQ(std::memcmp(value.data.data(), local::filterAt(i), 1170), 0) << i;
    }
    EXPECT_EQ(toUtf8(local::filterAt(2)->name), "F3");
    EXPECT_FALSE(storedValue(local::filtersKeyPath, u"12").exists);
}

TEST_F(Filters, SaveDeletesStaleValuesAfterTheList) {
    for (int i = 0; i < 16; ++i) store(i, record(numbered("F", i), "*", "\\", 0, 0));
    store(17, record("beyond a gap", "*", "\\", 0, 0));
    local::loadFilters();
    ASSERT_EQ(local::filterCount(), 16);
    local::deleteFilter(2);
    local::deleteFilter(2);
    local::saveFilters();
    EXPECT_TRUE(storedValue(local::filtersKeyPath, u"13").exists);
    EXPECT_FALSE(storedValue(local::filtersKeyPath, u"14").exists);
    EXPECT_FALSE(storedValue(local::filtersKeyPath, u"15").exists);
    EXPECT_TRUE(storedValue(local::filtersKeyPath, u"17").exists);  // past the first gap: left
}

class FilterDialog : public Filters {
protected:
    void SetUp() override { local::loadFilters(); }
    explorer::OwnerRecord owner() const { return {screen.main, nullptr}; }

    explorer_test::Screen screen{60, 16};
};

TEST_F(FilterDialog, ANewFilterStartsAsMyFilterAndIsWrittenOnDone) {
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    for (int i = 0; i < 9; ++i) screen.terminal.pressKey(Key::backspace);
    screen.terminal.typeText(u"Notes");
    screen.terminal.pressKeys({Key::down});
    for (int i = 0; i < 2; ++i) screen.terminal.pressKey(Key::backspace);
    screen.terminal.typeText(u"*.txt");
    screen.terminal.pressKeys({Key::down, Key::action, Key::leftSoft});
    ASSERT_EQ(local::editFilter(13, owner()), 1);
    EXPECT_EQ(shown,
              " File Filter\n"
              " Filter Name:\n"
              "  My Filter\n"
              " Show the following files:\n"
              "  *;\n"
              "\n"
              "  [ ] Isolated File System\n"
              "  [x] Track Last Folder\n"
              "\n"
              " Filter's can have any name and multiple file match types.\n"
              " To add more than one type, use a semi-colon.\n"
              "\n"
              "\n"
              "\n"
              "\n"
              " Done                                                Cancel");
    ASSERT_EQ(local::filterCount(), 14);
    const FilterRecord& added = *local::filterAt(13);
    EXPECT_EQ(toUtf8(added.name), "Notes");
    EXPECT_EQ(toUtf8(added.pattern), "*.txt");
    EXPECT_EQ(toUtf8(added.folder), toUtf8(local::defaultFolder()));
    EXPECT_EQ(added.isolatedFileSystem, 1);
    EXPECT_EQ(added.trackLastFolder, 1);
}

TEST_F(FilterDialog, CancelChangesNothing) {
    screen.terminal.typeText(u"xyz");
    screen.terminal.pressKey(Key::rightSoft);
    EXPECT_EQ(local::editFilter(0, owner()), 0);
    EXPECT_EQ(toUtf8(local::filterAt(0)->name), "All Files");
}

TEST_F(FilterDialog, AFullListRefusesANewFilter) {
    for (int i = 13; i < local::maxFilters; ++i) {
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
    EXPECT_NE(shown.find("Edit Filter"), std::string::npos) << shown;
    EXPECT_NE(shown.find("The filter list is full"), std::string::npos) << shown;
}

TEST_F(FilterDialog, WithoutASoftKeyBarTheDialogSaysSoAndChangesNothing) {
    std::string shown;
    screen.terminal.atIdle([&] { shown = screen.terminal.screenText(); });
    screen.terminal.pressKey(Key::leftSoft);
    platform::setSoftKeyBarCreationFails(true);
    const int result = local::editFilter(0, owner());
    platform::setSoftKeyBarCreationFails(false);
    EXPECT_EQ(result, 0);
    EXPECT_NE(shown.find("Edit Filter"), std::string::npos) << shown;
    EXPECT_NE(shown.find("Unable to create Keybar."), std::string::npos) << shown;
    EXPECT_EQ(toUtf8(local::filterAt(0)->name), "All Files");
}

}  // namespace
