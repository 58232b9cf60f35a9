#include "app/network/AllowList.h"

#include "app/network/Address.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// 0 to 32, written without leading zeros.
std::optional<int> ParsePrefix(std::string_view text) {
    if (text.empty() || text.size() > 2 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > 32)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<CAllowList> CAllowList::Parse(std::string_view text, std::string* pBadEntry) {
    CAllowList list;
    if (Trimmed(text).empty())
        return list;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = Trimmed(text.substr(0, comma));
        const std::size_t slash = entry.find('/');
        const std::optional<std::uint32_t> address = ParseIpv4(entry.substr(0, slash));
        const std::optional<int> prefix =
            slash == std::string_view::npos ? 32 : ParsePrefix(entry.substr(slash + 1));
        const std::uint32_t mask = prefix && *prefix > 0 ? ~std::uint32_t{0} << (32 - *prefix) : 0;
        if (!address || !prefix || (*address & ~mask) != 0) {
            if (pBadEntry)
                *pBadEntry = std::string(entry);
            return std::nullopt;
        }
        list.m_blocks.push_back(Block{*address, mask});
        if (comma == std::string_view::npos)
            return list;
        text.remove_prefix(comma + 1);
    }
}

bool CAllowList::Allows(std::uint32_t address) const {
    if (m_blocks.empty())
        return true;
    for (const Block& block : m_blocks)
        if ((address & block.mask) == block.network)
            return true;
    return false;
}
