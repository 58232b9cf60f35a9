// The one place where POSIX errno values become the layer's error codes.
#pragma once

#include <cstdint>

namespace comm {

enum class ErrnoContext {
    open, // opening a device by path
    io,   // reads, writes and ioctls on an open device
};

std::uint32_t ErrnoToError(int err, ErrnoContext context);

} // namespace comm
