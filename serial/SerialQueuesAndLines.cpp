// CSerial's queues and lines: flushing and purging the queues, their counts and the line errors,
// the DTR and RTS output lines and breaks, and the modem lines read back.
#include "serial/Serial.h"

#include "serial/Report.h"

using comm::COMSTAT;

CSerial::LONG CSerial::Flush() {
    if (!Opened(nullptr))
        return m_lErrorCode;
    if (!comm::FlushFileBuffers(m_hPort))
        return Failed("Failed in call to FlushFileBuffers\n");
    return m_lErrorCode;
}

CSerial::LONG CSerial::Purge() {
    return PurgeQueues(comm::PURGE_TXCLEAR | comm::PURGE_RXCLEAR);
}

CSerial::LONG CSerial::PurgeOutput() {
    return PurgeQueues(comm::PURGE_TXCLEAR);
}

CSerial::LONG CSerial::PurgeInput() {
    return PurgeQueues(comm::PURGE_RXCLEAR);
}

CSerial::LONG CSerial::PurgeQueues(DWORD flags) {
    if (!Opened(nullptr))
        return m_lErrorCode;
    if (!comm::PurgeComm(m_hPort, flags))
        return Failed(nullptr);
    return m_lErrorCode;
}

CSerial::LONG CSerial::SetDTR(bool on) {
    return Escape(on ? comm::SETDTR : comm::CLRDTR, "CSerial::SetDTR - Device is not opened\n",
                  "CSerial::SetDTR - Unable to set the DTR line\n");
}

CSerial::LONG CSerial::SetRTS(bool on) {
    return Escape(on ? comm::SETRTS : comm::CLRRTS, "CSerial::SetRTS - Device is not opened\n",
                  "CSerial::SetRTS - Unable to set the RTS line\n");
}

CSerial::LONG CSerial::SetBreak(bool on) {
    return Escape(on ? comm::SETBREAK : comm::CLRBREAK,
                  "CSerial::SetBreak - Device is not opened\n",
                  "CSerial::SetBreak - Unable to set the break state\n");
}

CSerial::LONG CSerial::Escape(DWORD func, const char* notOpenedTrace, const char* failureTrace) {
    if (!Opened(notOpenedTrace))
        return m_lErrorCode;
    if (!comm::EscapeCommFunction(m_hPort, func))
        return Failed(failureTrace);
    return m_lErrorCode;
}

CSerial::DWORD CSerial::QueryStatus(COMSTAT* stat, const char* notOpenedTrace,
                                    const char* failureTrace) {
    if (!Opened(notOpenedTrace))
        return 0;
    DWORD flags = 0;
    if (!comm::ClearCommError(m_hPort, &flags, stat)) {
        Failed(failureTrace);
        return 0;
    }
    return flags;
}

CSerial::DWORD CSerial::GetError() {
    return QueryStatus(nullptr, "CSerial::GetError - Device is not opened\n",
                       "CSerial::GetError - Unable to obtain COM status\n");
}

CSerial::DWORD CSerial::GetInQueueCount() {
    COMSTAT stat{};
    QueryStatus(&stat, nullptr, nullptr);
    return m_lErrorCode == comm::ERROR_SUCCESS ? stat.cbInQue : 0;
}

CSerial::DWORD CSerial::GetOutQueueCount() {
    COMSTAT stat{};
    QueryStatus(&stat, nullptr, nullptr);
    return m_lErrorCode == comm::ERROR_SUCCESS ? stat.cbOutQue : 0;
}

bool CSerial::ModemLine(DWORD bit, const char* failureTrace) {
    m_lErrorCode = comm::ERROR_SUCCESS;
    DWORD bits = 0;
    if (!comm::GetCommModemStatus(m_hPort, &bits)) {
        Failed(failureTrace);
        return false;
    }
    return (bits & bit) != 0;
}

bool CSerial::GetCTS() {
    return ModemLine(comm::MS_CTS_ON, "CSerial::GetCTS - Unable to obtain the modem status\n");
}

bool CSerial::GetDSR() {
    return ModemLine(comm::MS_DSR_ON, "CSerial::GetDSR - Unable to obtain the modem status\n");
}

bool CSerial::GetRing() {
    return ModemLine(comm::MS_RING_ON, "CSerial::GetRing - Unable to obtain the modem status");
}

bool CSerial::GetRLSD() {
    return ModemLine(comm::MS_RLSD_ON, "CSerial::GetRLSD - Unable to obtain the modem status");
}
