#include "app/bridge/DeviceQueue.h"

#include <algorithm>

CDeviceQueue::CDeviceQueue(CSerial& serial, std::size_t nLimit)
    : m_serial(serial), m_nLimit(nLimit) {}

CDeviceQueue::~CDeviceQueue() {
    Discard();
    if (m_hEvent != nullptr)
        comm::CloseHandle(m_hEvent);
}

CSerial::HANDLE CDeviceQueue::Event() {
    if (m_hEvent == nullptr)
        m_hEvent = comm::CreateEventA(nullptr, comm::TRUE, comm::FALSE, nullptr);
    return m_hEvent;
}

void CDeviceQueue::SetRate(std::uint32_t nBaud) {
    // Ten bits a byte: half a second of the line, at least one small block, at most 16 KiB.
    const std::uint64_t nBytes = std::uint64_t{nBaud} / 20;
    m_nChunk = static_cast<std::size_t>(std::clamp<std::uint64_t>(nBytes, 64, 16u << 10));
    m_nChunkMs = nBaud == 0 ? 500 : std::uint64_t{m_nChunk} * 10000 / nBaud;
}

bool CDeviceQueue::Push(std::string_view data) {
    if (data.size() > Room())
        return false;
    m_strQueued.append(data);
    return true;
}

void CDeviceQueue::Pump(std::uint64_t nNow) {
    // A port that takes everything at once (a driver's buffer with room) is filled in one call;
    // the bound keeps a call short whatever the port does.
    for (int i = 0; i < 16; ++i) {
        if (m_bPending) {
            if (!HasOverlappedIoCompleted(&m_ov))
                return;
            EndWrite(false, nNow);
            if (m_lFailure != 0)
                return; // the next tick tries again; a vanished device is the reader's to tell
        }
        if (m_strQueued.empty() || Event() == nullptr)
            break;
        const std::size_t nCount = std::min(m_strQueued.size(), m_nChunk);
        m_flight.assign(m_strQueued.begin(), m_strQueued.begin() + static_cast<long>(nCount));
        m_strQueued.erase(0, nCount);
        m_ov = {};
        m_ov.hEvent = m_hEvent;
        CSerial::DWORD nIgnored = 0; // the count comes with the write's end
        const CSerial::LONG lResult = m_serial.Write(
            m_flight.data(), static_cast<CSerial::DWORD>(m_flight.size()), &nIgnored, &m_ov, 0);
        if (lResult != 0) {
            m_lFailure = lResult;
            m_strQueued.insert(0, m_flight.data(), m_flight.size());
            m_flight.clear();
            break;
        }
        m_bPending = true;
        m_nStartedAt = nNow;
    }
    // Nothing runs now: the event must not stay set, or a watch on it would fire for ever.
    if (!m_bPending && m_hEvent != nullptr)
        comm::ResetEvent(m_hEvent);
}

void CDeviceQueue::EndWrite(bool bCancel, std::uint64_t nNow) {
    CSerial::DWORD nMoved = 0;
    const CSerial::LONG lResult = m_serial.FinishTransfer(&m_ov, &nMoved, bCancel);
    m_bPending = false;
    nMoved = std::min<CSerial::DWORD>(nMoved, static_cast<CSerial::DWORD>(m_flight.size()));
    m_nWritten += nMoved;
    if (nMoved < m_flight.size())
        m_strQueued.insert(0, m_flight.data() + nMoved, m_flight.size() - nMoved);
    m_flight.clear();
    // A write the port timed out or aborted is only cut short: its rest goes with the next one.
    const bool bCutShort = lResult == static_cast<CSerial::LONG>(comm::ERROR_TIMEOUT) ||
                           lResult == static_cast<CSerial::LONG>(comm::ERROR_OPERATION_ABORTED);
    m_lFailure = bCancel || bCutShort ? 0 : lResult;
    if (nMoved > 0)
        m_nStartedAt = nNow;
}

std::uint64_t CDeviceQueue::HeldOffSince(std::uint64_t nNow) const {
    if (Idle())
        return 0;
    const std::uint64_t nDue = m_nStartedAt + m_nChunkMs + STALL_MS;
    if (!m_bPending && m_lFailure == 0)
        return 0; // bytes wait for the next pump, not for the device
    return nNow >= nDue ? m_nStartedAt : 0;
}

std::size_t CDeviceQueue::Discard() {
    if (m_bPending)
        EndWrite(true, 0);
    const std::size_t nDropped = Waiting();
    m_strQueued.clear();
    m_strQueued.shrink_to_fit();
    m_flight.clear();
    m_lFailure = 0;
    return nDropped;
}
