// CVarnelDlg's bytes for the device: every block from the network waits in one bounded queue and
// goes to the port as fast as the port takes it, in the order it came. The window never waits for
// the device: one that holds off (XOFF, CTS low, a full buffer) only fills the queue, and while
// it is full the peers are not read, so that TCP holds them back and nothing is dropped.
#include "app/VarnelDlg.h"
#include "app/platform/Clock.h"

#include <cstdio>

bool CVarnelDlg::DeviceHasRoom() const {
    // A closed port, or one whose device went away, takes nothing: its blocks are shown, logged
    // and counted as ever.
    return !m_bSerialOpen || m_bComDeviceGone ||
           m_toDevice.Room() >= static_cast<std::size_t>(RECV_BUFFER_SIZE);
}

// Writes one block from the network to the port (through the queue), then shows, logs and counts
// it. The device's bytes that came before it stay in the port until they are read, in order.
void CVarnelDlg::WriteBlockToDevice(const char* buffer, int nLength) {
    const std::size_t nCount = static_cast<std::size_t>(nLength);
    if (m_plan.Retrying(CReconnectPlan::SERIAL)) {
        NoteUndeliveredToDevice(nCount); // the device is away
    } else if (m_bSerialOpen && !m_bComDeviceGone) {
        // Blocks are read only while a whole one fits, so this holds; were it ever not to, the
        // bytes are counted as lost and said so rather than cut.
        if (m_toDevice.Push(std::string_view(buffer, nCount)))
            m_toDevice.Pump(GetTickCount64()); // the rest when the write ends, or at the next tick
        else
            NoteUndeliveredToDevice(nCount);
        DropWhatThePortRefused();
        if (WaitsOnSides() && !m_toDevice.Idle() && !IsTimerRunning(TIMER_DEVICE))
            SetTimer(TIMER_DEVICE, DEVICE_POLL_MS);
    }
    ShowTrafficBlock(true, buffer, nLength);
    g_nTcpBytes += nLength;
    CompleteTrafficEntry(m_strTcpCount, "TCP: %lld", g_nTcpBytes, m_strTcpData);
}

// Moves the queue on: the port's finished write is taken and the next one started; the serial
// tooltip says when the device stopped taking bytes; the peers are read again once there is room.
void CVarnelDlg::PumpDevice() {
    const std::uint64_t nNow = GetTickCount64();
    m_toDevice.Pump(nNow);
    DropWhatThePortRefused();
    ShowDeviceHeldOff(m_toDevice.HeldOffSince(nNow));
    m_pNetwork->ResumeWaitingSessions();
    if (m_pNetwork->ReadingHeld() && DeviceHasRoom())
        ResumePeers();
    // Without a tick of their own (the fast mode) the queue and waiting sessions are looked at
    // until nothing waits.
    const bool bWaiting =
        !m_toDevice.Idle() || m_pNetwork->ReadingHeld() || m_pNetwork->SessionsWait();
    if (!bWaiting)
        KillTimer(TIMER_DEVICE);
    else if (WaitsOnSides() && !IsTimerRunning(TIMER_DEVICE))
        SetTimer(TIMER_DEVICE, DEVICE_POLL_MS);
}

// A port that fails a write (its device hung up or went away) will not take what waits: those
// bytes are counted as not delivered, and the network's blocks are shown, logged and counted as
// with a closed port, so that a dead device never holds the network back.
void CVarnelDlg::DropWhatThePortRefused() {
    if (m_toDevice.LastFailure() == 0)
        return;
    NoteUndeliveredToDevice(m_toDevice.Discard());
    NoteSerialDeviceGone();
}

// The queue is full: the peers are left unread. Polled, they are simply not read; waited on,
// their watches end until there is room again.
void CVarnelDlg::HoldPeers() {
    if (m_pNetwork->ReadingHeld())
        return;
    m_pNetwork->HoldReading();
    if (WaitsOnSides() && !IsTimerRunning(TIMER_DEVICE))
        SetTimer(TIMER_DEVICE, DEVICE_POLL_MS);
}

void CVarnelDlg::ResumePeers() {
    m_pNetwork->ResumeReading();
}

std::size_t CVarnelDlg::DrainDevice(UINT nMs, bool bDrop) {
    const std::uint64_t nStart = GetTickCount64();
    for (;;) {
        m_toDevice.Pump(GetTickCount64());
        if (m_toDevice.Idle() || m_toDevice.LastFailure() != 0 || GetTickCount64() - nStart >= nMs)
            break;
        Sleep(5);
    }
    if (!bDrop)
        return 0;
    const std::size_t nDropped = m_toDevice.Discard();
    NoteUndeliveredToDevice(nDropped);
    return nDropped;
}

void CVarnelDlg::ShowDeviceHeldOff(std::uint64_t nSince) {
    if (m_bComDeviceGone)
        nSince = 0; // the cue of a vanished device says more, and stays
    if (nSince == m_nHeldOffShown)
        return;
    m_nHeldOffShown = nSince;
    if (m_bComDeviceGone)
        return;
    if (nSince == 0) {
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, SerialTip());
        return;
    }
    // The tick of the last progress, as the clock's time of day.
    SYSTEMTIME st{};
    GetLocalTime(&st);
    const std::uint64_t nAgo = (GetTickCount64() - nSince) / 1000;
    const std::uint64_t nSecondsToday =
        (std::uint64_t{st.wHour} * 3600 + st.wMinute * 60u + st.wSecond + 86400 - nAgo % 86400) %
        86400;
    char szSince[16];
    std::snprintf(
        szSince, sizeof(szSince), "%02u:%02u:%02u", static_cast<unsigned>(nSecondsToday / 3600),
        static_cast<unsigned>(nSecondsToday / 60 % 60), static_cast<unsigned>(nSecondsToday % 60));
    SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                 SerialTip() + "\nthe device has taken no bytes since " + szSince + "; " +
                     std::to_string(m_toDevice.Waiting()) +
                     " bytes wait for it, and the network is not read while they fill the queue");
}

const CComPortSession::Outlet& CVarnelDlg::DeviceOutlet() {
    if (!m_pOutlet) {
        m_pOutlet = std::make_unique<CComPortSession::Outlet>();
        m_pOutlet->toDevice = [this](std::string_view data) {
            if (!data.empty())
                WriteBlockToDevice(data.data(), static_cast<int>(data.size()));
        };
        // A change of the line waits until the port has sent every byte that came before it.
        m_pOutlet->settled = [this] {
            if (!m_bSerialOpen)
                return true;
            if (!m_toDevice.Idle())
                return false;
            // A port that cannot tell what it still holds is taken as having sent it.
            return g_serial.GetOutQueueCount() == 0 || g_serial.GetLastError() != 0;
        };
    }
    return *m_pOutlet;
}
