// What CVarnelDlg hands its network side: the window's timers and watches, the device at the other
// end of the bridge, the Telnet sessions' port, and the status line and events file where the
// side's news is told. Telnet with the COM port option lets a peer set the line, toggle DTR and
// RTS, send a break and purge the queues, through CSerial; each change applies to the one port,
// and the line the settings give is put back when the last session ends.
#include "app/VarnelDlg.h"
#include "app/bridge/OutageText.h"
#include "app/platform/Clock.h"
#include "res/Resources.h"

#include <algorithm>
#include <cstdio>
#include <vector>

class CVarnelDlg::SideHost final : public CSideHost {
public:
    explicit SideHost(CVarnelDlg& dlg) : m_dlg(dlg) {}

    void SetTimer(LinkTimerId nID, unsigned nMs) override { m_dlg.SetTimer(nID, nMs); }
    void SetOneShotTimer(LinkTimerId nID, unsigned nMs) override {
        m_dlg.SetOneShotTimer(nID, nMs);
    }
    void KillTimer(LinkTimerId nID) override { m_dlg.KillTimer(nID); }
    bool IsTimerRunning(LinkTimerId nID) const override { return m_dlg.IsTimerRunning(nID); }
    void WatchSocket(LinkTimerId nID, sock::SOCKET s, bool bWritable) override {
        m_dlg.WatchSocket(nID, s, bWritable);
    }
    void Unwatch(LinkTimerId nID) override { m_dlg.Unwatch(nID); }
    bool IsWatching(LinkTimerId nID) const override { return m_dlg.IsWatching(nID); }

    bool DeviceHasRoom() const override { return m_dlg.DeviceHasRoom(); }
    void ToDevice(const char* pBuffer, std::size_t nLength) override {
        m_dlg.WriteBlockToDevice(pBuffer, static_cast<int>(nLength));
    }
    void BlockFrom(const std::string& strFrom) override { m_dlg.m_strBlockFrom = strFrom; }
    // With REOPEN both links are cycled after each block from the server: the port closes for the
    // cycle, so what the device sent before goes to the server first (unless that takes the link
    // down), and the block leaves, as long as a write was given.
    void ServerBlockDelivered() override {
        if (!g_bReopen || !g_bTcpConnected)
            return;
        m_dlg.DeliverSerialBurst(true);
        for (DWORD nQueued = g_serial.GetInQueueCount(); nQueued > 0 && g_bTcpConnected;) {
            const DWORD nRead = m_dlg.ForwardSerialBlock(nQueued);
            if (nRead == 0)
                break;
            nQueued -= std::min(nQueued, nRead);
        }
        if (!g_bTcpConnected)
            return;
        m_dlg.DrainDevice(DEVICE_REOPEN_MS, false);
        m_dlg.ToggleLink();
        Sleep(1000);
        m_dlg.ToggleLink();
    }
    void HoldPeers() override { m_dlg.HoldPeers(); }

    std::shared_ptr<CComPortSession> NewSession() override {
        if (m_dlg.WaitsOnSides())
            m_dlg.SetTimer(TIMER_MODEM, MODEM_POLL_MS);
        if (!m_dlg.m_pPortFacts)
            m_dlg.m_pPortFacts = std::make_shared<PortFacts>();
        return std::make_shared<CComPortSession>(
            g_serial, "Varnel " + res::VersionText() + " " + std::string(g_szComPort),
            m_dlg.m_pPortFacts);
    }
    // What a peer sent: its data to the device in order, its commands applied where they came,
    // its answers in strReply, a dropped subnegotiation in the events file.
    bool FromTelnetPeer(CComPortSession& session, const char* pBuffer, std::size_t nLength,
                        const std::string& strPeer, std::string& strReply) override {
        std::vector<std::string> events;
        const std::string strLineBefore = session.LineText();
        const bool bDone = session.FromWire(std::string_view(pBuffer, nLength),
                                            m_dlg.DeviceOutlet(), strReply, events);
        AfterTelnetPeer(session, strPeer, strLineBefore, events);
        return bDone;
    }
    bool ResumeTelnetPeer(CComPortSession& session, const std::string& strPeer,
                          std::string& strReply) override {
        std::vector<std::string> events;
        const std::string strLineBefore = session.LineText();
        const bool bDone = session.Resume(m_dlg.DeviceOutlet(), strReply, events);
        AfterTelnetPeer(session, strPeer, strLineBefore, events);
        return bDone;
    }
    // The last session ended: the line the settings give is put back.
    void LastSessionEnded() override {
        m_dlg.KillTimer(TIMER_MODEM);
        if (!m_dlg.m_bLineSetRemotely)
            return;
        m_dlg.m_bLineSetRemotely = false;
        m_dlg.m_strRemoteLine.clear();
        // The configured line applies to the bytes that come after; those before leave first.
        m_dlg.DrainDevice(DEVICE_CLOSE_MS, false);
        RestoreLine(g_serial, m_dlg.ConfiguredPortLine());
        m_dlg.m_nHeldOffShown = 0;
        SetStatusTip(m_dlg, IDC_STATIC_COMSTATUS, m_dlg.SerialTip());
    }

    void ShowNetworkStatus(const std::string& strStatus, const std::string& strTip,
                           bool bOnlyIfNew) override {
        const bool bNew = m_dlg.m_strNetStatus != strStatus;
        m_dlg.m_strNetStatus = strStatus;
        SetStatusTip(m_dlg, IDC_STATIC_NETSTATUS, strTip);
        if (bNew || !bOnlyIfNew)
            m_dlg.UpdateData(false);
    }
    void AppendEvent(const std::string& strFile, const std::string& strLine) override {
        m_dlg.AppendEvent(strFile, strLine);
    }
    void NetworkDropped(const std::string& strReason, CReconnectPlan::End end) override {
        m_dlg.NetworkDropped(strReason, end);
    }

private:
    // The events file says what the peer changed; the serial tooltip shows the line as it set it.
    void AfterTelnetPeer(CComPortSession& session, const std::string& strPeer,
                         const std::string& strLineBefore, const std::vector<std::string>& events) {
        for (const std::string& strEvent : events)
            WriteEventText(strPeer + ": " + strEvent);
        const std::string strLine = session.LineText();
        if (strLine != strLineBefore && !strLine.empty())
            WriteEventText(strPeer + " set the line: " + strLine);
        if (!strLine.empty()) {
            m_dlg.m_bLineSetRemotely = true;
            m_dlg.m_strRemoteLine = strLine + ", set by " + strPeer;
            m_dlg.m_nHeldOffShown = 0;
            SetStatusTip(m_dlg, IDC_STATIC_COMSTATUS, m_dlg.SerialTip());
        }
    }
    void WriteEventText(const std::string& strWhat) {
        SYSTEMTIME st{};
        GetLocalTime(&st);
        char szStamp[48];
        std::snprintf(szStamp, sizeof(szStamp), "%04u-%02u-%02u %02u:%02u:%02u ", st.wYear,
                      st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond);
        m_dlg.AppendEvent(EventsFileName(st), szStamp + strWhat + "\r\n");
    }

    CVarnelDlg& m_dlg;
};

std::unique_ptr<CSideHost> CVarnelDlg::MakeSideHost() {
    return std::make_unique<SideHost>(*this);
}
