// The serial ports present on Windows: what the serial drivers registered under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (one value per port, its data the port name).
#include "serial/comm/SerialLines.h"

#include <algorithm>
#include <cstdlib>

#include <windows.h>

namespace comm {
namespace {

// COM2 before COM10: by the number after the letters, then by name.
bool PortOrder(const SerialLineEntry& a, const SerialLineEntry& b) {
    auto number = [](const std::string& name) {
        std::size_t digits = name.find_first_of("0123456789");
        return digits == std::string::npos ? 0UL : std::strtoul(name.c_str() + digits, nullptr, 10);
    };
    const unsigned long na = number(a.name), nb = number(b.name);
    return na != nb ? na < nb : a.name < b.name;
}

} // namespace

std::vector<SerialLineEntry> ListSerialLines() {
    std::vector<SerialLineEntry> lines;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return lines;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameLength = sizeof valueName;
        BYTE data[256];
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        LONG rc = ::RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type, data,
                                  &dataLength);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        data[dataLength] = 0;
        std::string name(reinterpret_cast<const char*>(data));
        while (!name.empty() && name.back() == '\0')
            name.pop_back();
        if (!name.empty())
            lines.push_back({name, {}});
    }
    ::RegCloseKey(key);
    std::sort(lines.begin(), lines.end(), PortOrder);
    lines.erase(std::unique(lines.begin(), lines.end(),
                            [](const SerialLineEntry& a, const SerialLineEntry& b) {
                                return a.name == b.name;
                            }),
                lines.end());
    return lines;
}

} // namespace comm
