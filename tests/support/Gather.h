// Gathering what a test's peer receives while the window under test keeps running.
#pragma once

#include "app/framework/TestHooks.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace testing_support {

// Everything the receiver (the device's end of a pty, the relay's device, a loopback server)
// gets within ms, in steps of at most `step`, the window's events handled between the steps.
template <class Receiver>
std::string ReceiveWhilePumping(Receiver& from, std::size_t count, int ms = 5000,
                                std::chrono::milliseconds step = std::chrono::milliseconds(1)) {
    std::string got;
    PumpEventsUntil(
        [&] {
            got += from.Receive(count - got.size(), step);
            return got.size() >= count;
        },
        ms);
    return got;
}

} // namespace testing_support
