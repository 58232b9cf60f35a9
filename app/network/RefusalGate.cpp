#include "app/network/RefusalGate.h"

bool CRefusalGate::Admit(const std::string& strKind, std::uint64_t nNow, std::uint64_t* pSilenced) {
    *pSilenced = 0;
    auto found = m_kinds.find(strKind);
    if (found != m_kinds.end() && nNow - found->second.lineAt < PERIOD_MS) {
        ++found->second.silenced;
        return false;
    }
    if (found == m_kinds.end()) {
        if (m_kinds.size() >= MOST_KINDS) {
            // Kinds whose minute is over carry only a count; they go first.
            for (auto it = m_kinds.begin(); it != m_kinds.end();)
                it = nNow - it->second.lineAt >= PERIOD_MS ? m_kinds.erase(it) : std::next(it);
            if (m_kinds.size() >= MOST_KINDS)
                m_kinds.erase(m_kinds.begin());
        }
        found = m_kinds.emplace(strKind, Kind{}).first;
    }
    *pSilenced = found->second.silenced;
    found->second = {nNow, 0};
    return true;
}
