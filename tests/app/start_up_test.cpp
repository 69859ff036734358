// Start-up services: the single-instance lock and the shared recent-documents list.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/instance_lock.h"
#include "app/recent_documents.h"
#include "platform/text.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/view_fixtures.h"

namespace {

TEST(InstanceLock, ASecondFarlinkFindsTheLockTakenUntilTheFirstEnds) {
    test_support::TemporaryFolder folder;
    const std::string lockFile = app::instanceLockFile(folder / "settings/registry.reg");
    int first = -1;
    int second = -1;
    ASSERT_EQ(app::acquireInstanceLock(lockFile, first), app::InstanceLockResult::acquired);
    struct stat facts {};
    ASSERT_EQ(stat((folder / "settings").c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0700u);  // the settings hold passwords
    EXPECT_EQ(app::acquireInstanceLock(lockFile, second), app::InstanceLockResult::heldByAnother);
    app::releaseInstanceLock(first);
    EXPECT_EQ(app::acquireInstanceLock(lockFile, second), app::InstanceLockResult::acquired);
    app::releaseInstanceLock(second);
    int unused = -1;
    EXPECT_EQ(app::acquireInstanceLock("/proc/farlink/none.lock", unused), app::InstanceLockResult::unavailable);
}

TEST(RecentDocuments, NewestFirstWithoutDuplicatesAndBounded) {
    test_support::TemporaryRegistry registry;
    app::addRecentDocument(u"\\a.txt");
    app::addRecentDocument(u"\\b.txt");
    app::addRecentDocument(u"\\a.txt");
    EXPECT_EQ(app::recentDocuments(), (std::vector<std::u16string>{u"\\a.txt", u"\\b.txt"}));
    for (int i = 0; i < 60; ++i) app::addRecentDocument(platform::toUtf16("\\f" + std::to_string(i)));
    const std::vector<std::u16string> list = app::recentDocuments();
    ASSERT_EQ(list.size(), app::maxRecentDocuments);
    EXPECT_EQ(list.front(), u"\\f59");
}

}  // namespace
