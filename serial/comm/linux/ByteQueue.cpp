// The communications API on POSIX terminals: ports, events, the port's worker thread, time-outs
// and serial lines, and the simulated device of the tests. This file: the bytes a port received.
#include "serial/comm/linux/ByteQueue.h"

#include <algorithm>
#include <cstring>

namespace comm {

void ByteQueue::Push(const std::uint8_t* bytes, std::size_t n) {
    if (head_ > 0 && head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    } else if (head_ >= 65536 && head_ * 2 >= data_.size()) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    data_.insert(data_.end(), bytes, bytes + n);
}

std::size_t ByteQueue::Pop(std::uint8_t* out, std::size_t n) {
    n = std::min(n, size());
    if (n > 0)
        std::memcpy(out, data_.data() + head_, n);
    head_ += n;
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    }
    return n;
}

} // namespace comm
