// Test helper of the host layer: running a call on another thread.
#pragma once

#include <future>

namespace platform_test {

// Runs `body` on a thread of its own and returns what it returned.
template <typename Body>
auto onOtherThread(Body body) {
    return std::async(std::launch::async, body).get();
}

}  // namespace platform_test
