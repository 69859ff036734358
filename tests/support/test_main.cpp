// The entry point of every test program: the settings file, the instance lock and any
// other per-user state go to a folder of this run, so tests never read or change the
// settings of the user who runs them.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/temporary_folder.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    test_support::TemporaryFolder home;
    setenv("FARLINK_HOME", home.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    return RUN_ALL_TESTS();
}
