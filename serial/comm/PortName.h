// Port name to device path.
#pragma once

#include <cstdint>
#include <string>

namespace comm {

inline constexpr std::size_t kMaxPortNameLength = 255;

// Resolves a port name: the key of that name in section "Ports" of ".\VarnelConfig.ini" (case
// does not matter), else COMn as /dev/ttyS(n-1), else a bare name under /dev. Returns 0 and the
// path, or ERROR_FILE_NOT_FOUND for names that are empty, too long, contain "/" or "..", or
// control characters. Whether the path is a terminal is checked when it is opened.
std::uint32_t ResolvePortName(const char* name, std::string& path);

} // namespace comm
