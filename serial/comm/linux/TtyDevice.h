// A terminal device opened by path.
#pragma once

#include "serial/comm/linux/Device.h"

#include <memory>

namespace comm {

// Opens path as a serial port if it is a serial line (SerialLines.h; anything else fails with
// ERROR_FILE_NOT_FOUND without being opened): exclusively (flock, so a second open from this or
// another process fails), without becoming the controlling terminal, non-blocking, in raw mode.
// The device puts back the line settings it found when it is destroyed. Returns the device, or
// null with the platform error code in error.
std::unique_ptr<Device> OpenTtyDevice(const char* path, std::uint32_t& error);

} // namespace comm
