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

// Resolves a port name: the program's map (see SetPortMap), else the platform's own rule
// (DefaultDevicePath). Returns 0 and the path, or ERROR_FILE_NOT_FOUND for names that are empty,
// too long, contain "/", a backslash, ".." or control characters. Whether the path is a serial port
// is decided when it is opened.
std::uint32_t ResolvePortName(const char* name, std::string& path);

// The platform's rules, one file per backend:
// Linux: COMn is /dev/ttyS(n-1), any other name is that name under /dev; a mapped path is used as
// it is. Windows: every name is opened in the device namespace (\\.\COM12), which the system
// needs for COM10 and above; a mapped name gets the same prefix unless it has one of its own.
std::string DefaultDevicePath(const std::string& name);
std::string MappedDevicePath(std::string mapped);

} // namespace comm
