// How often refusals reach the events file: at most one line per reason and address a minute,
// so that a peer that keeps knocking cannot fill the disk. The line after a quiet minute says how
// many refusals of that kind it stood for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

class CRefusalGate {
public:
    static constexpr std::uint64_t PERIOD_MS = 60000;
    // Kinds remembered at once; past it the oldest are forgotten (a line more, never fewer).
    static constexpr std::size_t MOST_KINDS = 4096;

    // A refusal of this kind (reason and address) at nNow (milliseconds): true when it gets a
    // line, with *pSilenced the refusals of its kind that got none since its last line.
    bool Admit(const std::string& strKind, std::uint64_t nNow, std::uint64_t* pSilenced);

private:
    struct Kind {
        std::uint64_t lineAt = 0;
        std::uint64_t silenced = 0;
    };
    std::map<std::string, Kind> m_kinds;
};
