// A port's received bytes not yet read: a vector with a moving start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace comm {

class ByteQueue {
public:
    std::size_t size() const { return data_.size() - head_; }
    bool empty() const { return size() == 0; }
    void Push(const std::uint8_t* bytes, std::size_t n);
    std::size_t Pop(std::uint8_t* out, std::size_t n);
    void Clear() {
        data_.clear();
        head_ = 0;
    }

private:
    std::vector<std::uint8_t> data_;
    std::size_t head_ = 0;
};

} // namespace comm
