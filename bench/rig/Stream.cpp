#include "bench/rig/Stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

// One line, such as "#00000042 T=+21.37 H=48.2 P=1008.61 V=3.297 OK\r\n": a line number and
// readings that wander from line to line.
void Pattern::LoadLine(std::uint64_t line) {
    std::uint64_t state = seed_ ^ (line * 0xD1B54A32D192ED03ULL);
    const std::uint64_t r = SplitMix(state);
    char text[kLineSize + 16];
    std::snprintf(text, sizeof(text), "#%08llu T=%+06.2f H=%04.1f P=%07.2f V=%5.3f OK",
                  static_cast<unsigned long long>(line % 100000000), -10.0 + (r % 5000) / 100.0,
                  20.0 + (r >> 16) % 700 / 10.0, 950.0 + (r >> 32) % 10000 / 100.0,
                  3.0 + (r >> 48) % 600 / 1000.0);
    std::memset(bytes_, ' ', kLineSize);
    std::memcpy(bytes_, text, std::min(std::strlen(text), kLineSize - 2));
    bytes_[kLineSize - 2] = '\r';
    bytes_[kLineSize - 1] = '\n';
    block_ = line;
}

std::uint8_t Pattern::At(std::uint64_t offset) {
    if (kind_ == Kind::Lines) {
        if (offset / kLineSize != block_) {
            LoadLine(offset / kLineSize);
        }
        return bytes_[offset % kLineSize];
    }
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
