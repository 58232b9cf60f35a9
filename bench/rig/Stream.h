// The byte stream the rig sends through a contender, and the checker that compares what comes
// out with it. The stream is random access: every 256-byte block is a pseudo-random permutation
// of all 256 byte values, so each block covers every value and no short window repeats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rig {

class Pattern {
public:
    // Permutation: blocks of all 256 byte values. Lines: ASCII text lines of a sensor that
    // reports readings, each kLineSize bytes with CR LF, numbered so that no line repeats.
    enum class Kind { Permutation, Lines };
    static constexpr std::size_t kLineSize = 46;

    explicit Pattern(std::uint64_t seed, Kind kind = Kind::Permutation)
        : seed_(seed), kind_(kind) {}

    std::uint8_t At(std::uint64_t offset);
    // Copies `count` bytes starting at `offset` into `out`.
    void Fill(std::uint64_t offset, std::uint8_t* out, std::size_t count);

private:
    void Load(std::uint64_t block);
    void LoadLine(std::uint64_t line);

    std::uint64_t seed_;
    Kind kind_;
    std::uint64_t block_ = UINT64_MAX;
    std::uint8_t bytes_[256] = {};
};

// Follows the received bytes along the stream. A byte that differs from the stream is looked up
// again with the bytes after it: when a window of them is found further on, the bytes in between
// count as lost (dropped inside the flow); otherwise the byte counts as altered.
class StreamChecker {
public:
    static constexpr std::size_t kWindow = 16;
    static constexpr std::uint64_t kSearchLimit = 256 * 1024;

    StreamChecker(Pattern& pattern, std::uint64_t start) : pattern_(pattern), position_(start) {}

    // `sent` is the stream offset up to which bytes have been sent so far.
    void Feed(const std::uint8_t* data, std::size_t count, std::uint64_t sent);
    // Settles bytes held back for a look-up; call once no more bytes will come.
    void Finish(std::uint64_t sent);

    // The stream offset that the next received byte should carry.
    std::uint64_t Position() const { return position_; }
    std::uint64_t Received() const { return received_; }
    std::uint64_t Matched() const { return matched_; }
    std::uint64_t Altered() const { return altered_; }
    // Bytes skipped over inside the flow; bytes missing at the end are the caller's to count.
    std::uint64_t Skipped() const { return skipped_; }
    // Bytes received beyond what was sent.
    std::uint64_t Extra() const { return extra_; }

private:
    void Process(std::uint64_t sent, bool final);
    bool Resync(std::size_t window, std::uint64_t sent);

    Pattern& pattern_;
    std::uint64_t position_;
    std::vector<std::uint8_t> held_;
    std::uint64_t received_ = 0, matched_ = 0, altered_ = 0, skipped_ = 0, extra_ = 0;
};

} // namespace rig
