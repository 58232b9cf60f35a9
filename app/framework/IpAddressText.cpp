// The text of the IPv4 address control (IpAddressText.h).
#include "app/framework/IpAddressText.h"

#include <algorithm>

namespace afx {

std::array<int, 4> ParseAddressFields(const std::string& text) {
    std::array<int, 4> values{-1, -1, -1, -1};
    std::size_t start = 0;
    for (int& value : values) {
        if (start > text.size())
            break;
        std::size_t dot = text.find('.', start);
        if (dot == std::string::npos)
            dot = text.size();
        const std::string part = text.substr(start, dot - start);
        if (!part.empty() && part.size() <= 3 &&
            std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
            value = std::min(std::stoi(part), 255);
        start = dot + 1;
    }
    return values;
}

std::string AddressText(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

} // namespace afx
