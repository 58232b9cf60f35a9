// The text of the IPv4 address control, the same on every backend. Plain types only, so that a
// backend can include it next to its system's headers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace afx {

// The four fields of dotted decimal: a part that is not one to three digits is a blank field
// (-1), a value above 255 is 255.
std::array<int, 4> ParseAddressFields(const std::string& text);
// The address, first field in the high byte, as dotted decimal.
std::string AddressText(std::uint32_t address);

} // namespace afx
