#include "platform/registry.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace platform;
using namespace std::chrono_literals;
using test_support::patternBytes;
using test_support::readFile;
using test_support::TemporaryFolder;
using test_support::writeFile;

std::string bytesOf(std::u16string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t));
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { useRegistryFile(file); }

    // Opens a fresh key handle on the store as loaded from disk.
    RegistryKey reopen(std::u16string_view path) {
        useRegistryFile(file);
        RegistryKey key = noKey;
        EXPECT_TRUE(openKey(currentUserKey, path, key)) << toUtf8(path);
        return key;
    }

    TemporaryFolder scratch;
    const std::string folder = scratch / "config";
    const std::string file = folder + "/registry.reg";
};

TEST_F(Registry, EveryTypeAndLengthRoundTripsThroughAPrivateFile) {
    struct Case {
        std::u16string name;
        std::uint32_t type;
        std::string data;
    };
    const Case cases[] = {
        {u"Ascending", registryDword, "\x01"},
        {u"Filter", registryDword, "\x78\x56\x34\x12"},
        {u"Empty", registryBinary, ""},
        {u"Place", registryBinary, patternBytes(2492)},
        {u"Text", registryString, bytesOf(std::u16string(u"Gr\u00fc\u00dfe \U0001F600", 9) + u'\0')},
        {u"Recent", registryMultiString, bytesOf(std::u16string(u"\\a.txt\0\\b c.txt\0\0", 17))},
        {u"Say \"hi\" \\ there", registryString, bytesOf(std::u16string(u"x\0", 2))},
        {u"", registryBinary, "\xFF"},
        {u"Odd type", 0xFFFFFFFF, std::string("\0\x01", 2)},
    };
    RegistryKey key = noKey;
    ASSERT_TRUE(createKey(currentUserKey, u"\\Software\\Tarvik\\Ftp\\2.0\\", key));
    for (const auto& c : cases) {
        ASSERT_TRUE(setValue(key, c.name, c.type, c.data.data(), static_cast<std::uint32_t>(c.data.size())))
            << toUtf8(c.name);
    }
    closeKey(key);
    struct stat facts;
    ASSERT_EQ(stat(file.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(folder.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0700u);
    const std::string text = readFile(file);
    EXPECT_TRUE(text.starts_with("REGEDIT4\n")) << text;
    const std::string flag = "[HKEY_CURRENT_USER\\Software\\Tarvik\\Ftp\\2.0]\n\"Ascending\"=hex(4):01\n";
    EXPECT_NE(text.find(flag), std::string::npos) << text;

    key = reopen(u"software\\TARVIK\\ftp\\2.0");
    for (const auto& c : cases) {
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        ASSERT_TRUE(queryValue(key, c.name, &type, nullptr, &size)) << toUtf8(c.name);
        EXPECT_EQ(type, c.type) << toUtf8(c.name);
        ASSERT_EQ(size, c.data.size()) << toUtf8(c.name);
        std::string data(size + 1, '\xEE');
        ASSERT_TRUE(queryValue(key, c.name, nullptr, data.data(), &size)) << toUtf8(c.name);
        EXPECT_EQ(data, c.data + '\xEE') << toUtf8(c.name);
    }
}

TEST_F(Registry, ABufferTooSmallIsLeftAlone) {
    RegistryKey key = noKey;
    ASSERT_TRUE(createKey(currentUserKey, u"Software", key));
    const std::uint32_t four = 0x01020304;
    ASSERT_TRUE(setValue(key, u"Four", registryDword, &four, 4));

    unsigned char buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    std::uint32_t size = 1;  // a one-byte flag's buffer
    std::uint32_t type = 0;
    EXPECT_FALSE(queryValue(key, u"four", &type, buffer, &size));
    EXPECT_EQ(lastError(), errorMoreData);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, registryDword);
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_FALSE(queryValue(key, u"Missing", nullptr, nullptr, nullptr));
    EXPECT_EQ(lastError(), errorFileNotFound);
}

TEST_F(Registry, KeysAndValuesComeAndGoAsTheCallersExpect) {
    RegistryKey key = noKey;
    ASSERT_TRUE(createKey(currentUserKey, u"Software\\Tarvik\\Ftp\\2.0\\Places", key));
    RegistryKey parent = noKey;
    EXPECT_TRUE(openKey(currentUserKey, u"Software\\Tarvik", parent)) << "keys above are created too";
    RegistryKey child = noKey;
    EXPECT_TRUE(openKey(parent, u"FTP\\2.0\\places", child));

    const std::uint32_t value = 7;
    for (const char16_t* name : {u"0", u"1", u"2"}) ASSERT_TRUE(setValue(key, name, registryBinary, &value, 4));
    // Saving a shorter list deletes values from its length on until a deletion fails.
    EXPECT_TRUE(deleteValue(child, u"1"));
    EXPECT_TRUE(deleteValue(child, u"2"));
    EXPECT_FALSE(deleteValue(child, u"3"));
    EXPECT_EQ(lastError(), errorFileNotFound);
    closeKey(child);
    EXPECT_FALSE(queryValue(child, u"0", nullptr, nullptr, nullptr));
    EXPECT_EQ(lastError(), errorInvalidHandle);
    key = reopen(u"Software\\Tarvik\\Ftp\\2.0\\Places");
    EXPECT_TRUE(queryValue(key, u"0", nullptr, nullptr, nullptr));
    EXPECT_FALSE(queryValue(key, u"1", nullptr, nullptr, nullptr));
    EXPECT_FALSE(createKey(currentUserKey, u"Bad\nName", key));
    EXPECT_EQ(lastError(), errorInvalidParameter);
}

TEST_F(Registry, MalformedFileIsKeptAsideAndTheStoreStartsEmpty) {
    const std::string cases[] = {
        "not a registry file\n",
        "REGEDIT4\n\"Orphan\"=hex(4):01\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex(4):zz\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x=hex(4):01\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex(3):01,02,\\\n",  // torn in a continuation
    };
    for (const auto& text : cases) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        writeFile(file, text);
        testing::internal::CaptureStderr();
        useRegistryFile(file);
        const std::string report = testing::internal::GetCapturedStderr();
        EXPECT_NE(report.find("damaged"), std::string::npos) << text;
        RegistryKey key = noKey;
        EXPECT_FALSE(openKey(currentUserKey, u"A", key)) << text;
        const std::vector<std::string> kept = test_support::names(folder);  // the file was renamed aside
        ASSERT_EQ(kept.size(), 1u) << text;
        EXPECT_TRUE(kept[0].starts_with("registry.reg.broken-")) << kept[0];
        // The next change writes a new file and leaves the kept one alone.
        ASSERT_TRUE(createKey(currentUserKey, u"B", key)) << text;
        EXPECT_EQ(readFile(folder + "/" + kept[0]), text);
    }
}

TEST_F(Registry, AFileThatCannotBeReadIsNeverReplaced) {
    std::filesystem::create_directories(file);  // a folder where the file should be
    testing::internal::CaptureStderr();
    useRegistryFile(file);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot read"), std::string::npos);
    RegistryKey key = noKey;
    EXPECT_FALSE(createKey(currentUserKey, u"Software", key));
    EXPECT_EQ(lastError(), errorAccessDenied);
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

// Five values "0".."4" of `text`, or, as a save of a shorter list does, three of
// `text` with "3" and "4" deleted.
RegistryBatch listBatch(const std::string& text, bool shorter) {
    RegistryBatch batch;
    for (int index = 0; index < 5; ++index) {
        const std::u16string name = toUtf16(std::to_string(index));
        if (shorter && index >= 3) {
            batchDeleteValue(batch, name);
        } else {
            batchSetValue(batch, name, registryBinary, text.data(), static_cast<std::uint32_t>(text.size()));
        }
    }
    return batch;
}

// The values "0", "1", ... up to the first missing one, each as text.
std::vector<std::string> storedList(RegistryKey key) {
    std::vector<std::string> list;
    for (int index = 0;; ++index) {
        std::string data(64 * 1024, '\0');
        std::uint32_t size = static_cast<std::uint32_t>(data.size());
        if (!queryValue(key, toUtf16(std::to_string(index)), nullptr, data.data(), &size)) return list;
        list.push_back(data.substr(0, size));
    }
}

TEST_F(Registry, KillingTheWriterMidBatchLeavesTheOldListOrTheNewOneWhole) {
    RegistryKey key = noKey;
    ASSERT_TRUE(createKey(currentUserKey, u"List", key));
    const std::string oldText = patternBytes(20 * 1024);
    const std::string newText(10 * 1024, 'n');
    ASSERT_TRUE(applyBatch(key, listBatch(oldText, false)));

    int progress[2];
    ASSERT_EQ(pipe(progress), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        // Saves the short list and the long one in turn until killed, reporting each save.
        close(progress[0]);
        for (std::uint32_t count = 1;; ++count) {
            const bool shorter = count % 2 == 1;
            if (!applyBatch(key, listBatch(shorter ? newText : oldText, shorter))) _exit(1);
            if (write(progress[1], &count, sizeof count) != sizeof count) _exit(1);
        }
    }
    close(progress[1]);
    std::uint32_t saved = 0;
    while (saved < 3) ASSERT_EQ(read(progress[0], &saved, sizeof saved), ssize_t(sizeof saved));
    // Not right after a report, which would find the writer between two batches.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    close(progress[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    // What the kill may leave (passwords included) goes at the next start; a folder is no save.
    writeFile(file + ".tmp-Ab12cD", "a torn save");
    std::filesystem::create_directory(file + ".tmp-folder");
    const std::vector<std::string> list = storedList(reopen(u"List"));
    EXPECT_EQ(test_support::names(folder), (std::vector<std::string>{"registry.reg", "registry.reg.tmp-folder"}));
    const std::vector<std::string> longList(5, oldText);
    const std::vector<std::string> shortList(3, newText);
    EXPECT_TRUE(list == longList || list == shortList) << list.size() << " values";
}

// Holds the writer where a file size limit stops its write, until let go (1: held, 2: go).
std::atomic<int> writer = 0;
extern "C" void holdWriter(int) {
    if (int free = 0; writer.compare_exchange_strong(free, 1)) {
        while (writer == 1) {}
    }
}

// A write that cannot begin, and one cut short half way (as a full disk does): either
// leaves the old file whole and the store as it was. While the second is held half way,
// a reader is answered: no lock is held across a write to disk.
TEST_F(Registry, AFailedBatchChangesNeitherTheFileNorTheStore) {
    RegistryKey key = noKey;
    ASSERT_TRUE(createKey(currentUserKey, u"List", key));
    ASSERT_TRUE(applyBatch(key, listBatch(patternBytes(1024), false)));
    const std::string before = readFile(file);
    // A file where the settings folder should be.
    std::filesystem::rename(folder, folder + ".away");
    writeFile(folder, "");
    EXPECT_FALSE(applyBatch(key, listBatch("new", true)));
    std::filesystem::remove(folder);
    std::filesystem::rename(folder + ".away", folder);
    // A file size limit below the new file's size.
    signal(SIGXFSZ, holdWriter);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit lowered{before.size() + 512, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &lowered);
    auto applied = std::async(std::launch::async,
                              [&] { return applyBatch(key, listBatch(patternBytes(4096), false)); });
    for (int waited = 0; writer == 0 && waited < 10000; ++waited) std::this_thread::sleep_for(1ms);
    auto read = std::async(std::launch::async, [&] { return storedList(key); });
    EXPECT_TRUE(read.wait_for(10s) == std::future_status::ready) << "a reader waited for a write to disk";
    writer = 2;
    EXPECT_FALSE(applied.get());
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(storedList(key), std::vector<std::string>(5, patternBytes(1024)));
    EXPECT_EQ(readFile(file), before);
}

using RegistryThreads = Registry;

TEST_F(RegistryThreads, ConcurrentWritersEachKeepTheirValues) {
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 4; ++writer) {
        writers.emplace_back([writer] {
            RegistryKey key = noKey;
            const std::u16string path = u"Writers\\" + toUtf16(std::to_string(writer));
            ASSERT_TRUE(createKey(currentUserKey, path, key));
            for (std::uint32_t value = 0; value < 20; ++value) {
                const std::u16string name = toUtf16(std::to_string(value));
                ASSERT_TRUE(setValue(key, name, registryDword, &value, 4));
            }
            closeKey(key);
        });
    }
    for (auto& writer : writers) writer.join();
    for (int writer = 0; writer < 4; ++writer) {
        const RegistryKey key = reopen(u"Writers\\" + toUtf16(std::to_string(writer)));
        for (std::uint32_t value = 0; value < 20; ++value) {
            std::uint32_t stored = 99;
            std::uint32_t size = 4;
            EXPECT_TRUE(queryValue(key, toUtf16(std::to_string(value)), nullptr, &stored, &size));
            EXPECT_EQ(stored, value) << "writer " << writer;
        }
    }
}

}  // namespace
