#include "serial/comm/PortName.h"

namespace comm {
namespace {

// COMn with n a decimal number from 1 without leading zeros; 0 otherwise.
unsigned long ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 12)
        return 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if ((name[i] & ~0x20) != "COM"[i])
            return 0;
    }
    if (name[3] == '0')
        return 0;
    unsigned long n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        n = n * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return n;
}

} // namespace

std::string DefaultDevicePath(const std::string& name) {
    if (unsigned long n = ComNumber(name))
        return "/dev/ttyS" + std::to_string(n - 1);
    return "/dev/" + name;
}

std::string MappedDevicePath(std::string mapped) {
    return mapped;
}

} // namespace comm
