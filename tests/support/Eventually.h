#pragma once
// Waiting in a test for something another thread brings about, without a
// blind sleep: polls until the condition holds, for at most five seconds.

#include <chrono>
#include <functional>
#include <thread>

namespace vp::test {

inline bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace vp::test
