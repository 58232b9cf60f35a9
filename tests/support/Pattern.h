// Bytes of a long stream that never repeats within a block, so that a lost, doubled, moved or
// altered byte shows: byte i of the stream is a hash of i.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace testing_support {

std::string Pattern(std::uint64_t offset, std::size_t size);

} // namespace testing_support
