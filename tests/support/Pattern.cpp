#include "support/Pattern.h"

namespace testing_support {

std::string Pattern(std::uint64_t offset, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        std::uint64_t x = (offset + i) * 0x9E3779B97F4A7C15ull;
        x ^= x >> 29;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::string PatternWithoutZeros(std::size_t size, int seed) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>(1 + (i * 7 + static_cast<std::size_t>(seed)) % 255);
    return out;
}

} // namespace testing_support
