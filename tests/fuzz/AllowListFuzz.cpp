// The allow-list against a second reading of the README's rules, written here from them alone:
// IPv4 addresses and blocks (a.b.c.d, a.b.c.d/n with n from 0 to 32 and no host bits) separated
// by commas, blanks (spaces, tabs) around each; empty or blank means everyone; an empty entry or
// one that does not parse makes the whole list an error naming that entry. Both must accept the
// same texts, name the same entry, and allow the same addresses: each entry's first and last
// address and their neighbours, and addresses taken from the input's bytes.
#include "FuzzCheck.h"

#include "app/network/AllowList.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Block {
    std::uint32_t first, last;
};

std::string Trim(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

// The pieces of `text` between the separators, empty ones included: one more than separators.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces{""};
    for (char c : text) {
        if (c == separator)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    return pieces;
}

// A decimal number of 1 to `digits` digits with no leading zero (other than "0" itself).
std::optional<unsigned> Decimal(const std::string& text, std::size_t digits) {
    if (text.empty() || text.size() > digits || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + unsigned(c - '0');
    }
    return value;
}

std::optional<std::uint32_t> Address(const std::string& text) {
    const std::vector<std::string> parts = Split(text, '.');
    if (parts.size() != 4)
        return std::nullopt;
    std::uint32_t address = 0;
    for (const std::string& part : parts) {
        const auto value = Decimal(part, 3);
        if (!value || *value > 255)
            return std::nullopt;
        address = address << 8 | *value;
    }
    return address;
}

std::optional<std::vector<Block>> Reference(const std::string& text, std::string& bad) {
    std::vector<Block> blocks;
    if (Trim(text).empty())
        return blocks;
    for (const std::string& raw : Split(text, ',')) {
        const std::string entry = Trim(raw);
        const std::size_t slash = entry.find('/');
        const auto address = Address(entry.substr(0, slash));
        std::optional<unsigned> bits = 32;
        if (slash != std::string::npos)
            bits = Decimal(entry.substr(slash + 1), 2);
        if (!address || !bits || *bits > 32) {
            bad = entry;
            return std::nullopt;
        }
        const std::uint64_t size = std::uint64_t{1} << (32 - *bits);
        if (*address % size != 0) { // host bits set
            bad = entry;
            return std::nullopt;
        }
        blocks.push_back({*address, std::uint32_t(*address + size - 1)});
    }
    return blocks;
}

bool ReferenceAllows(const std::vector<Block>& blocks, std::uint32_t address) {
    if (blocks.empty())
        return true;
    for (const Block& block : blocks)
        if (address >= block.first && address <= block.last)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string bad = "unset", expectedBad;
    const std::optional<CAllowList> list = CAllowList::Parse(text, &bad);
    const std::optional<std::vector<Block>> expected = Reference(text, expectedBad);
    FUZZ_CHECK(list.has_value() == expected.has_value());
    if (!list) {
        FUZZ_CHECK(bad == expectedBad);
        return 0;
    }
    FUZZ_CHECK(list->Everyone() == expected->empty());
    std::vector<std::uint32_t> probes = {0, 0xFFFFFFFF, 0x7F000001};
    for (const Block& block : *expected)
        for (std::uint32_t edge : {block.first, block.last})
            for (std::uint32_t near : {edge - 1, edge, edge + 1})
                probes.push_back(near);
    for (std::size_t at = 0; at + 4 <= size && probes.size() < 4096; at += 4) {
        std::uint32_t address;
        std::memcpy(&address, data + at, 4);
        probes.push_back(address);
    }
    for (std::uint32_t address : probes)
        FUZZ_CHECK(list->Allows(address) == ReferenceAllows(*expected, address));
    return 0;
}
