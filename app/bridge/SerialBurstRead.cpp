#include "app/bridge/SerialBurstRead.h"

#include <algorithm>

CSerialBurstRead::~CSerialBurstRead() {
    // The port outlives the reader: a read still running must not outlive its record.
    Take(true);
    if (m_hEvent != nullptr)
        comm::CloseHandle(m_hEvent);
}

bool CSerialBurstRead::Prepare(CSerial::DWORD nGapMs) {
    Take(true);
    if (m_hEvent == nullptr)
        m_hEvent = comm::CreateEventA(nullptr, comm::TRUE, comm::FALSE, nullptr);
    m_ov = {};
    m_ov.hEvent = m_hEvent;
    return m_hEvent != nullptr && m_serial.SetupReadGap(nGapMs) == 0;
}

bool CSerialBurstRead::Arm() {
    CSerial::DWORD nIgnored = 0; // the count comes with the read's end
    m_bPending = m_serial.Read(m_buffer, sizeof(m_buffer), &nIgnored, &m_ov, 0) == 0;
    return m_bPending;
}

bool CSerialBurstRead::Ended() const {
    return m_bPending && HasOverlappedIoCompleted(&m_ov);
}

CSerial::DWORD CSerialBurstRead::Take(bool bCancel, CSerial::LONG* pResult) {
    CSerial::DWORD nCount = 0;
    CSerial::LONG lResult = 0;
    if (m_bPending) {
        m_bPending = false;
        lResult = m_serial.FinishTransfer(&m_ov, &nCount, bCancel);
    }
    if (pResult != nullptr)
        *pResult = lResult;
    return nCount;
}

CSerial::DWORD CSerialBurstRead::Held() const {
    return Ended() ? static_cast<CSerial::DWORD>(m_ov.InternalHigh) : 0;
}

unsigned SerialQuietGapMs(std::uint32_t nBaudrate) {
    if (nBaudrate == 0)
        return 1;
    // 3.5 characters of 10 bits each: 35000 / baud milliseconds, rounded up.
    const std::uint64_t nMs = (35000u + std::uint64_t{nBaudrate} - 1) / nBaudrate;
    return static_cast<unsigned>(std::max<std::uint64_t>(nMs, 1));
}
