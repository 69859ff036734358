// Test helpers of the host layer: running a call on another thread, and a scratch
// folder as the device root.
#pragma once

#include <gtest/gtest.h>

#include <future>

#include "platform/files.h"
#include "tests/support/temporary_folder.h"

namespace platform_test {

// Runs `body` on a thread of its own and returns what it returned.
template <typename Body>
auto onOtherThread(Body body) {
    return std::async(std::launch::async, body).get();
}

// A fixture whose scratch folder is the device root until the test ends.
class ScratchRoot : public ::testing::Test {
protected:
    void SetUp() override { platform::setDeviceRoot(scratch.path()); }
    void TearDown() override { platform::setDeviceRoot("/"); }

    test_support::TemporaryFolder scratch;
};

}  // namespace platform_test
