// Waiting for a condition with a deadline, never for a fixed time that merely hopes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// Polls `condition` until it holds or the time is up; returns its last value.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace testing_support
