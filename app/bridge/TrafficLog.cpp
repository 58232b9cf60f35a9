#include "app/bridge/TrafficLog.h"

#include "app/platform/File.h"

#include <utility>

void CTrafficLog::SetBatched(bool bBatched) {
    Flush();
    m_bBatched = bBatched;
}

void CTrafficLog::Write(std::string strFile, const std::string& strEntry) {
    if (!m_bBatched) {
        AppendToFile(strFile.c_str(), strEntry.data(), strEntry.size());
        return;
    }
    if (strFile != m_strFile)
        Flush(); // a new day begins a new file
    m_strFile = std::move(strFile);
    m_strPending += strEntry;
}

void CTrafficLog::Flush() {
    if (m_strPending.empty())
        return;
    AppendToFile(m_strFile.c_str(), m_strPending.data(), m_strPending.size());
    m_strPending.clear();
}
