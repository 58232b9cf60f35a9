// CVarnelDlg speaking Telnet with the COM port option (TELNET in the settings file): the peer
// sets the line, toggles DTR and RTS, sends a break and purges the queues, through CSerial. In
// listen mode each client has a session of its own; dialling out, the server has one. Varnel is
// always the side that holds the port. Each change applies to the one port; the line the
// settings give is put back when the last session ends.
#include "app/VarnelDlg.h"
#include "app/bridge/OutageText.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/platform/File.h"
#include "res/Resources.h"

#include <vector>

namespace {

void WriteEventText(CVarnelDlg& dlg, const std::string& strWhat) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char szStamp[48];
    std::snprintf(szStamp, sizeof(szStamp), "%04u-%02u-%02u %02u:%02u:%02u ", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    dlg.AppendEvent(EventsFileName(st), szStamp + strWhat + "\r\n");
}

} // namespace

// The device's bytes as the network side carries them: 0xFF doubled under Telnet.
std::string CVarnelDlg::ToNetwork(const char* pBuffer, std::size_t nLength) const {
    const std::string_view data(pBuffer, nLength);
    return m_bTelnet ? CComPortSession::ToWire(data) : std::string(data);
}

std::shared_ptr<CComPortSession> CVarnelDlg::NewSession() {
    if (WaitsOnSides())
        SetTimer(TIMER_MODEM, MODEM_POLL_MS);
    if (!m_pPortFacts)
        m_pPortFacts = std::make_shared<PortFacts>();
    return std::make_shared<CComPortSession>(
        g_serial, "Varnel " + res::VersionText() + " " + std::string(g_szComPort), m_pPortFacts);
}

// What a peer sent: its data to the device in order, its commands applied where they came, its
// answers in strReply, a dropped subnegotiation in the events file. False when a line change
// waits for the bytes before it to leave the port: the peer is not read until it went through.
bool CVarnelDlg::FromTelnetPeer(CComPortSession& session, const char* pBuffer, std::size_t nLength,
                                const std::string& strPeer, std::string& strReply) {
    std::vector<std::string> events;
    const std::string strLineBefore = session.LineText();
    const bool bDone =
        session.FromWire(std::string_view(pBuffer, nLength), DeviceOutlet(), strReply, events);
    AfterTelnetPeer(session, strPeer, strLineBefore, events);
    return bDone;
}

// The events file says what the peer changed; the serial tooltip shows the line as it set it.
void CVarnelDlg::AfterTelnetPeer(CComPortSession& session, const std::string& strPeer,
                                 const std::string& strLineBefore,
                                 const std::vector<std::string>& events) {
    for (const std::string& strEvent : events)
        WriteEventText(*this, strPeer + ": " + strEvent);
    const std::string strLine = session.LineText();
    if (strLine != strLineBefore && !strLine.empty())
        WriteEventText(*this, strPeer + " set the line: " + strLine);
    if (!strLine.empty()) {
        m_bLineSetRemotely = true;
        m_strRemoteLine = strLine + ", set by " + strPeer;
        m_nHeldOffShown = 0;
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, SerialTip());
    }
}

// Sessions whose line change waited for the device go on once it has sent what came before.
void CVarnelDlg::ResumeWaitingSessions() {
    std::vector<std::pair<ClientId, std::shared_ptr<CComPortSession>>> waiting;
    for (const auto& [id, pSession] : m_sessions)
        if (pSession->Waits())
            waiting.emplace_back(id, pSession);
    for (const auto& [id, pSession] : waiting) {
        std::string strReply;
        std::vector<std::string> events;
        const std::string strLineBefore = pSession->LineText();
        const bool bDone = pSession->Resume(DeviceOutlet(), strReply, events);
        const std::string strPeer = m_pClients ? m_pClients->PeerOf(id) : std::string();
        AfterTelnetPeer(*pSession, strPeer, strLineBefore, events);
        if (m_pClients && !strReply.empty())
            m_pClients->SendTo(id, strReply);
        if (bDone && m_pClients)
            m_pClients->SetReading(id, true);
    }
    if (!waiting.empty() && m_pClients && WaitsOnSides())
        WatchClients();
    if (std::shared_ptr<CComPortSession> pSession = m_pServerSession;
        pSession && pSession->Waits()) {
        std::string strReply;
        std::vector<std::string> events;
        const std::string strLineBefore = pSession->LineText();
        pSession->Resume(DeviceOutlet(), strReply, events);
        AfterTelnetPeer(*pSession, m_strServer, strLineBefore, events);
        if (g_bTcpConnected && pSession == m_pServerSession && !strReply.empty() &&
            !m_backlog.Send(*m_pLink, strReply.data(), strReply.size()))
            NetworkDropped(DescribeStalledServer(), CReconnectPlan::End::serverStalled);
    }
}

// A session ended: with none left, the line the settings give is put back.
void CVarnelDlg::SessionEnded() {
    if (!m_sessions.empty() || m_pServerSession)
        return;
    KillTimer(TIMER_MODEM);
    if (!m_bLineSetRemotely)
        return;
    m_bLineSetRemotely = false;
    m_strRemoteLine.clear();
    // The configured line applies to the bytes that come after; those before leave first.
    DrainDevice(DEVICE_CLOSE_MS, false);
    RestoreLine(g_serial, ConfiguredPortLine());
    m_nHeldOffShown = 0;
    SetStatusTip(*this, IDC_STATIC_COMSTATUS, SerialTip());
}

// Modem-line changes under each session's mask go out as they are found.
void CVarnelDlg::SendModemNews() {
    for (auto& [id, pSession] : m_sessions) {
        const std::string strNews = pSession->ModemNews();
        if (!strNews.empty() && m_pClients)
            m_pClients->SendTo(id, strNews);
    }
    if (m_pServerSession && g_bTcpConnected) {
        const std::string strNews = m_pServerSession->ModemNews();
        if (!strNews.empty())
            m_backlog.Send(*m_pLink, strNews.data(), strNews.size());
    }
}
