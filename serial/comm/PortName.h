// Port name to device path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace comm {

inline constexpr std::size_t kMaxPortNameLength = 255;

// The program's own names for ports, such as its settings file's section "Ports"
// (COM3=/dev/ttyUSB0): the device path for `name`, or empty when it maps no such name. The layer
// asks at every resolution, so a changed map counts from the next open.
using PortMap = std::function<std::string(const std::string& name)>;

// Hands the layer the program's map; an empty function takes it back.
void SetPortMap(PortMap map);

// Resolves a port name: the program's map (see SetPortMap), else COMn as /dev/ttyS(n-1), else a
// bare name under /dev. Returns 0 and the path, or ERROR_FILE_NOT_FOUND for names that are
// empty, too long, contain "/" or "..", or control characters. Whether the path is a serial line
// is decided when it is opened.
std::uint32_t ResolvePortName(const char* name, std::string& path);

} // namespace comm
