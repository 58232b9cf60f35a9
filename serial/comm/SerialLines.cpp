#include "serial/comm/SerialLines.h"

#include <algorithm>
#include <cstdlib>

namespace comm {

void SortByPortNumber(std::vector<SerialLineEntry>& lines) {
    auto number = [](const std::string& name) {
        const std::size_t digits = name.find_first_of("0123456789");
        return digits == std::string::npos ? 0UL : std::strtoul(name.c_str() + digits, nullptr, 10);
    };
    std::sort(lines.begin(), lines.end(), [&](const SerialLineEntry& a, const SerialLineEntry& b) {
        const unsigned long na = number(a.name), nb = number(b.name);
        return na != nb ? na < nb : a.name < b.name;
    });
    lines.erase(std::unique(lines.begin(), lines.end(),
                            [](const SerialLineEntry& a, const SerialLineEntry& b) {
                                return a.name == b.name;
                            }),
                lines.end());
}

} // namespace comm
