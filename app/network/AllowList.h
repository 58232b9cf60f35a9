// Which addresses may connect to the listener (the setting ALLOW=): IPv4 addresses and CIDR
// blocks separated by commas, with blanks around each entry. Empty means everyone. The text is
// read strictly: one entry that does not parse makes the whole list an error that names it, and
// nothing is served on a guess.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CAllowList {
public:
    // Everyone.
    CAllowList() = default;

    // The list that text describes, or nullopt with *pBadEntry (when given) set to the first
    // entry that does not parse, as written without its surrounding blanks. Entries are a.b.c.d
    // (ParseIpv4) or a.b.c.d/n with n from 0 to 32 and no address bits beyond the first n (a
    // stray host part is taken for a typo). An empty entry (two commas, a comma at either end)
    // is an error too.
    static std::optional<CAllowList> Parse(std::string_view text, std::string* pBadEntry);

    // Whether a client from address (host order) may connect.
    bool Allows(std::uint32_t address) const;
    bool Everyone() const { return m_blocks.empty(); }

private:
    struct Block {
        std::uint32_t network;
        std::uint32_t mask;
    };
    std::vector<Block> m_blocks;
};
