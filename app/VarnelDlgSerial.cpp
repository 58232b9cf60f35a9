// CVarnelDlg's serial half: the port opened and set up as the settings say, closed with what waits
// for the device given a moment, and the device's bytes read (polled, or in the fast mode one
// burst at a time in the background) and handed to the network side.
#include "app/VarnelDlg.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/platform/Clock.h"
#include "serial/Ports.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

void CVarnelDlg::CloseSerialSide() {
    m_strComStatus = "串口已关闭";
    if (!m_bComDeviceGone) // the cue of a vanished device stays until the next open
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, "");
    UpdateData(false);
    // What waits for the device gets a moment to leave; the rest is counted, not kept.
    const std::size_t nDropped = m_bSerialOpen ? DrainDevice(DEVICE_CLOSE_MS, true) : 0;
    if (nDropped > 0 && !m_bComDeviceGone)
        SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                     std::to_string(nDropped) +
                         " bytes from the network were not written to the device: it took none "
                         "before the port closed");
    m_bSerialOpen = false;
    KillTimer(TIMER_DEVICE);
    StopSerialWatch();
    g_serial.Close();
    KillTimer(TIMER_COM);
    // A closed port takes every block (shown and logged only), and a line change that waited
    // for it goes through.
    m_pNetwork->ResumeWaitingSessions();
    if (m_pNetwork->ReadingHeld())
        ResumePeers();
}

// The port is opened and set up as the settings say, and its side is waited on or polled. False,
// with the status line saying why and the port closed, when that failed; *pError is the code.
bool CVarnelDlg::OpenSerialSide(long* pError) {

    if (m_bComDeviceGone) {
        m_bComDeviceGone = false;
        if (CWnd* pStatus = GetDlgItem(IDC_STATIC_COMSTATUS))
            pStatus->SetErrorColour(false);
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, "");
    }

    // The name is used whole as far as the buffer holds it; a longer name names no port at all
    // (cutting it would open another one: "COM10" is not "COM1").
    std::string strName;
    m_cboPort.GetWindowText(strName);
    std::memset(g_szComPort, 0, sizeof(g_szComPort));
    std::memcpy(g_szComPort, strName.data(), std::min(strName.size(), sizeof(g_szComPort) - 1));
    const bool bNameFits = strName.size() < sizeof(g_szComPort);

    char szStatus[128];
    long lIgnored = 0;
    long& lError = pError != nullptr ? *pError : lIgnored;
    lError = 0;
    const std::string strLineError = TakeLineSettings();
    if (g_nBaudrate == 0 || !strLineError.empty()) {
        m_strComStatus = "串口参数错误";
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, strLineError);
        UpdateData(false);
        return false;
    }
    if (!bNameFits || g_serial.Open(g_szComPort, 2048, 2048) != 0) {
        lError = bNameFits ? g_serial.GetLastError() : 2;
        std::snprintf(szStatus, sizeof(szStatus), "%s%s%s", "串口", strName.c_str(), "打开失败1");
        m_strComStatus = szStatus;
        SetStatusTip(
            *this, IDC_STATIC_COMSTATUS,
            DescribeSerialOpenFailure(strName, bNameFits ? DevicePathOf(g_szComPort) : "", lError) +
                "\n" + DescribeSerialLinesPresent(strName));
        UpdateData(false);
        g_serial.Close();
        return false;
    }
    // The whole line, and then what the port says it runs: a line it did not take is a failed
    // open, not a port running at something else.
    const PortLine wanted = ConfiguredPortLine();
    std::string strMismatch;
    if (g_serial.Setup(CSerial::Baudrate(wanted.baud), wanted.dataBits, wanted.parity,
                       wanted.stopBits) != 0 ||
        g_serial.SetupHandshaking(wanted.flow) != 0 ||
        !(strMismatch = DescribePortLineMismatch(wanted, ReadPortLine(g_serial))).empty()) {
        lError = strMismatch.empty() ? g_serial.GetLastError() : comm::ERROR_INVALID_PARAMETER;
        std::snprintf(szStatus, sizeof(szStatus), "%s%s%s", "串口", g_szComPort, "打开失败2");
        m_strComStatus = szStatus;
        SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                     strMismatch.empty()
                         ? DescribeSerialSetupFailure(strName, DevicePathOf(g_szComPort), lError)
                         : strName + ": " + strMismatch);
        UpdateData(false);
        g_serial.Close();
        return false;
    }
    g_serial.SetupReadTimeouts(CSerial::readBlocking);
    m_bSerialOpen = true;
    m_toDevice.SetRate(wanted.baud);
    m_nHeldOffShown = 0;
    m_strRemoteLine.clear();
    m_pPortFacts.reset(); // another device, maybe with modem lines
    if (WaitsOnSides())
        StartSerialWatch();
    else
        SetTimer(TIMER_COM, 100);
    std::snprintf(szStatus, sizeof(szStatus), "%s%s%s", "串口", g_szComPort, "已打开");
    m_strComStatus = szStatus;
    SetStatusTip(*this, IDC_STATIC_COMSTATUS, SerialTip());
    UpdateData(false);
    return true;
}

std::string CVarnelDlg::SerialTip() const {
    return std::string(g_szComPort) + ": " + DevicePathOf(g_szComPort) + "\n" +
           (m_strRemoteLine.empty() ? PortLineText(ReadPortLine(g_serial)) : m_strRemoteLine);
}

void CVarnelDlg::SerialPoll() {
    NoteSerialDeviceGone();
    PumpDevice();
    // The port may hold more than one block: the rest waits for the next tick.
    ForwardSerialBlock(g_serial.GetInQueueCount());
    m_pNetwork->TellNews(); // clients that left while the block went out
}

// Reads what the port holds, at most one buffer of it, and forwards it to the server as one
// block. Returns the count read.
DWORD CVarnelDlg::ForwardSerialBlock(DWORD nWanted) {
    char buffer[RECV_BUFFER_SIZE] = {};
    const DWORD nAsk = std::min<DWORD>(nWanted, sizeof(buffer));
    DWORD nCount = 0;
    if (nAsk > 0)
        g_serial.Read(buffer, nAsk, &nCount, nullptr, 100);
    if (nCount > 0)
        DeliverSerialBlock(buffer, nCount);
    return nCount;
}

// Sends one block from the device to the network side, then shows, logs and counts it.
void CVarnelDlg::DeliverSerialBlock(const char* buffer, DWORD nCount) {
    // Without a connection the block has nowhere to go; it is still shown, logged and counted.
    // Listening, it goes to every client there is; a client that stopped reading leaves.
    const CNetworkSide::Sent sent = m_pNetwork->FromDevice(buffer, nCount);
    if (sent == CNetworkSide::Sent::notConnected)
        HoldForServer(buffer, nCount); // waits for a server that is retried
    ShowTrafficBlock(false, buffer, static_cast<int>(nCount));
    g_nComBytes += nCount;
    CompleteTrafficEntry(m_strComCount, "COM: %lld", g_nComBytes, m_strComData);
    if (sent == CNetworkSide::Sent::stalled) {
        // The server has not read for so long that the backlog is full: it counts as gone, and
        // the link goes down as after a receive error rather than cut bytes out of the stream.
        NetworkDropped(DescribeStalledServer(), CReconnectPlan::End::serverStalled);
    }
}

// A device that went away while open (a USB adapter unplugged) makes the port's calls fail (with
// access denied, mostly) once the bytes received before are read. The status line keeps its text
// and the link its state; the line turns to the error colour and its tooltip says what happened and
// what to do, until the next open.
void CVarnelDlg::NoteSerialDeviceGone() {
    if (m_bComDeviceGone || !MeansDeviceGone(g_serial.GetLastError()))
        return;
    m_bComDeviceGone = true;
    if (m_plan.Enabled()) {
        // The port is closed and looked for again instead of the cue, once the call that noticed
        // it has returned.
        SetOneShotTimer(TIMER_SERIAL_LOST, 1);
        return;
    }
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char szTime[24];
    std::snprintf(szTime, sizeof(szTime), "%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
    if (CWnd* pStatus = GetDlgItem(IDC_STATIC_COMSTATUS))
        pStatus->SetErrorColour(true);
    SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                 DevicePathOf(g_szComPort) + " was removed at " + szTime +
                     "; press 关闭, then 打开 once it is back");
}

// ---------------------------------------------------------------------------------------------
// The fast mode: the port's read of the device's next burst runs in the background, and the
// burst is forwarded as one block once the line has been quiet for a moment.

void CVarnelDlg::StartSerialWatch() {
    // One read takes one burst: it ends once the line has been quiet for the gap, or full.
    m_bComWatched = m_comRead.Prepare(SerialQuietGapMs(g_nBaudrate)) &&
                    WatchEvent(WATCH_COM, m_comRead.Event());
    if (m_bComWatched)
        ArmSerialRead();
    // The end of each write for the device moves its queue on.
    if (m_toDevice.Event() != nullptr)
        WatchEvent(WATCH_DEVICE, m_toDevice.Event());
}

void CVarnelDlg::StopSerialWatch() {
    Unwatch(WATCH_DEVICE);
    if (!m_bComWatched)
        return;
    m_bComWatched = false;
    Unwatch(WATCH_COM);
    // The port is closed next, which discards what it holds; the read ends before its record.
    m_comRead.Take(true);
}

// Reads the device's next burst in the background. A read that cannot start means the device is
// gone (after its last bytes were read): the watch ends there.
void CVarnelDlg::ArmSerialRead() {
    if (!m_comRead.Arm())
        NoteSerialDeviceGone();
}

// Forwards what the port's read took, if anything.
void CVarnelDlg::DeliverSerialBurst(bool bCancel, CSerial::LONG* pResult) {
    const DWORD nCount = m_comRead.Take(bCancel, pResult);
    if (nCount > 0)
        DeliverSerialBlock(m_comRead.Data(), nCount);
}

void CVarnelDlg::OnSerialBurst() {
    if (!m_comRead.Ended())
        return; // a late notice of a read that was taken already
    CSerial::LONG lResult = 0;
    DeliverSerialBurst(false, &lResult);
    // A device that hung up ends the read; the next one reads what it left, then tells it gone.
    // Any other failure would only repeat: the reads stop, and a vanished device gets its cue.
    if (!m_bComWatched)
        return;
    if (lResult == 0 || lResult == static_cast<CSerial::LONG>(comm::ERROR_OPERATION_ABORTED))
        ArmSerialRead();
    else
        NoteSerialDeviceGone();
}

DWORD CVarnelDlg::SerialBytesHeld() {
    return g_serial.GetInQueueCount() + m_comRead.Held();
}
