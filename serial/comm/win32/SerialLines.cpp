// The serial ports present on Windows: what the serial drivers registered under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (one value per port, its data the port name).
#include "serial/comm/SerialLines.h"

#include <algorithm>

#include <windows.h>

namespace comm {
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
    SortByPortNumber(lines);
    return lines;
}

// A port exists when the serial drivers list it; \\.\COM12 is listed as COM12.
LineKind JudgeDevicePath(const std::string& devicePath) {
    const std::string name =
        devicePath.rfind("\\\\.\\", 0) == 0 ? devicePath.substr(4) : devicePath;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    const std::vector<SerialLineEntry> lines = ListSerialLines();
    const bool listed =
        !name.empty() && std::any_of(lines.begin(), lines.end(), [&](const SerialLineEntry& line) {
            return std::equal(line.name.begin(), line.name.end(), name.begin(), name.end(),
                              [&](char x, char y) { return upper(x) == upper(y); });
        });
    return listed ? LineKind::serialLine : LineKind::missing;
}

} // namespace comm
