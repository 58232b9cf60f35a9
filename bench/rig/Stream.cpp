#include "bench/rig/Stream.h"

#include <algorithm>

namespace rig {
namespace {

std::uint64_t SplitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace

void Pattern::Load(std::uint64_t block) {
    std::uint64_t state = seed_ ^ (block * 0xD1B54A32D192ED03ULL);
    for (int i = 0; i < 256; ++i) {
        bytes_[i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 255; i > 0; --i) {
        const auto j = static_cast<int>(SplitMix(state) % static_cast<std::uint64_t>(i + 1));
        std::swap(bytes_[i], bytes_[j]);
    }
    block_ = block;
}

std::uint8_t Pattern::At(std::uint64_t offset) {
    if (offset / 256 != block_) {
        Load(offset / 256);
    }
    return bytes_[offset % 256];
}

void Pattern::Fill(std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = At(offset + i);
    }
}

void StreamChecker::Feed(const std::uint8_t* data, std::size_t count, std::uint64_t sent) {
    received_ += count;
    held_.insert(held_.end(), data, data + count);
    Process(sent, false);
}

void StreamChecker::Finish(std::uint64_t sent) {
    Process(sent, true);
}

void StreamChecker::Process(std::uint64_t sent, bool final) {
    std::size_t used = 0;
    while (used < held_.size()) {
        if (position_ >= sent) {
            extra_ += held_.size() - used;
            used = held_.size();
            break;
        }
        if (held_[used] == pattern_.At(position_)) {
            ++matched_;
            ++position_;
            ++used;
            continue;
        }
        const std::size_t left = held_.size() - used;
        if (left < kWindow && !final) {
            break; // wait for enough bytes to look the mismatch up
        }
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(used));
        used = 0;
        const std::size_t window = std::min(left, kWindow);
        if (window >= 4 && Resync(window, sent)) {
            continue;
        }
        ++altered_;
        ++position_;
        ++used;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(used));
}

// Looks for the first `window` held bytes further along the stream; on success moves there.
bool StreamChecker::Resync(std::size_t window, std::uint64_t sent) {
    const std::uint64_t end = std::min(sent, position_ + kSearchLimit);
    for (std::uint64_t at = position_ + 1; at + window <= end; ++at) {
        std::size_t i = 0;
        while (i < window && pattern_.At(at + i) == held_[i]) {
            ++i;
        }
        if (i == window) {
            skipped_ += at - position_;
            position_ = at;
            return true;
        }
    }
    return false;
}

} // namespace rig
