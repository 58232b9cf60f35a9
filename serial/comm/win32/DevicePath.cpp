#include "serial/comm/PortName.h"

namespace comm {

// The device namespace reaches every port; a plain name reaches only COM1 to COM9.
std::string DefaultDevicePath(const std::string& name) {
    return "\\\\.\\" + name;
}

std::string MappedDevicePath(std::string mapped) {
    if (mapped.rfind("\\\\", 0) == 0)
        return mapped;
    return DefaultDevicePath(mapped);
}

} // namespace comm
