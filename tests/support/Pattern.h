// Bytes of a long stream that never repeats within a block, so that a lost, doubled, moved or
// altered byte shows: byte i of the stream is a hash of i.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

std::string Pattern(std::uint64_t offset, std::size_t size);

// Bytes 1 to 255 over and over, from a place that `seed` sets: no zero byte, for where a zero
// would end a shown text (a log entry's body).
std::string PatternWithoutZeros(std::size_t size, int seed);

} // namespace testing_support
