// The device's stream as a server gets it over one connection after another: where each
// connection's first bytes sit in the stream tells repeats (before the furthest point reached so
// far) from gaps (beyond it).
#pragma once

#include "bench/rig/Stream.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace rig {

struct Figures {
    std::uint64_t delivered = 0;        // bytes that arrived for the first time, in order
    std::uint64_t repeated = 0;         // bytes that came again after an abortive cut
    std::uint64_t repeatedGraceful = 0; // bytes that came again after any other end
    std::uint64_t lost = 0, altered = 0, extra = 0;
    std::uint64_t frontier = 0; // the furthest stream offset reached
};

class DeviceAccount {
public:
    static constexpr std::uint64_t kLookBack = 512 * 1024;

    explicit DeviceAccount(Pattern& pattern) : pattern_(pattern) {}

    // A new connection; `afterAbortive` says whether the one before ended with a reset.
    void Begin(bool afterAbortive);
    // `sent` is the stream offset up to which the device has sent so far.
    void Feed(const std::uint8_t* data, std::size_t count, std::uint64_t sent);
    void End(std::uint64_t sent);
    // The figures so far, the open connection included.
    Figures Now() const { return checker_ ? Settled(figures_) : figures_; }
    // The stream offset the open connection has reached, 0 before it has one.
    std::uint64_t Position() const { return checker_ ? checker_->Position() : 0; }

private:
    void Locate(std::uint64_t sent);
    Figures Settled(Figures f) const;

    Pattern& pattern_;
    Figures figures_;
    std::vector<std::uint8_t> head_;
    std::optional<StreamChecker> checker_;
    std::uint64_t start_ = 0;
    bool afterAbortive_ = false;
};

} // namespace rig
