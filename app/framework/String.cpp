#include "app/framework/String.h"

#include <atomic>

std::uint64_t CString::NewGeneration() {
    static std::atomic<std::uint64_t> s_nNext{1};
    return s_nNext.fetch_add(1, std::memory_order_relaxed);
}

CString& CString::Replace(std::string_view text) {
    m_str.assign(text);
    m_nGeneration = NewGeneration();
    m_nDropped = 0;
    return *this;
}

void CString::Delete(std::size_t nIndex, std::size_t nCount) {
    if (nIndex >= m_str.size() || nCount == 0)
        return;
    if (nCount > m_str.size() - nIndex)
        nCount = m_str.size() - nIndex;
    m_str.erase(nIndex, nCount);
    if (nIndex == 0) {
        m_nDropped += nCount;
    } else {
        m_nGeneration = NewGeneration();
        m_nDropped = 0;
    }
}
