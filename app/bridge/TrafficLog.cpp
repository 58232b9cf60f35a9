#include "app/bridge/TrafficLog.h"

#include "app/platform/File.h"

#include <string>
#include <utility>

void CTrafficLog::SetBatched(bool bBatched) {
    Flush();
    m_bBatched = bBatched;
}

void CTrafficLog::Write(std::string strFile, const std::string& strEntry) {
    if (!m_bEnabled)
        return;
    if (!m_bBatched) {
        Append(strFile, strEntry);
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
    Append(m_strFile, m_strPending);
    m_strPending.clear();
}

void CTrafficLog::SetEnabled(bool bEnabled) {
    Flush();
    m_bEnabled = bEnabled;
}

std::string CTrafficLog::TakeFailure() {
    return std::exchange(m_strFailure, std::string());
}

void CTrafficLog::Append(const std::string& strFile, const std::string& strData) {
    const bool bWritten = AppendToFile(strFile.c_str(), strData.data(), strData.size());
    if (!bWritten && !m_bFailing)
        m_strFailure = strFile;
    m_bFailing = !bWritten;
}

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
long DaysOf(long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

bool IsExpiredLog(const std::string& strName, const SYSTEMTIME& today, int nDays) {
    const bool bLog = strName.size() == 14 && strName.compare(10, 4, ".log") == 0;
    const bool bEvents = strName.size() == 21 && strName.compare(10, 11, ".events.log") == 0;
    if (nDays <= 0 || (!bLog && !bEvents))
        return false;
    for (std::size_t i = 0; i < 10; ++i)
        if ((i == 4 || i == 7) ? strName[i] != '-' : (strName[i] < '0' || strName[i] > '9'))
            return false;
    const long nYear = std::stol(strName.substr(0, 4));
    const long nMonth = std::stol(strName.substr(5, 2));
    const long nDay = std::stol(strName.substr(8, 2));
    if (nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > 31)
        return false;
    return DaysOf(today.wYear, today.wMonth, today.wDay) - DaysOf(nYear, nMonth, nDay) > nDays;
}
