// CVarnelDlg speaking Telnet with the COM port option (TELNET in the settings file): the peer
// sets the line, toggles DTR and RTS, sends a break and purges the queues, through CSerial. In
// listen mode each client has a session of its own; dialling out, the server has one. Varnel is
// always the side that holds the port. Each change applies to the one port; the line the
// settings give is put back when the last session ends.
#include "app/VarnelDlg.h"
#include "app/bridge/OutageText.h"
#include "app/platform/File.h"
#include "res/Resources.h"

#include <vector>

namespace {

void WriteEventText(const std::string& strWhat) {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char szStamp[48];
    std::snprintf(szStamp, sizeof(szStamp), "%04u-%02u-%02u %02u:%02u:%02u ", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond);
    const std::string strLine = szStamp + strWhat + "\r\n";
    AppendToFile(EventsFileName(st).c_str(), strLine.data(), strLine.size());
}

} // namespace

// The device's bytes as the network side carries them: 0xFF doubled under Telnet.
std::string CVarnelDlg::ToNetwork(const char* pBuffer, std::size_t nLength) const {
    const std::string_view data(pBuffer, nLength);
    return m_bTelnet ? CComPortSession::ToWire(data) : std::string(data);
}

std::unique_ptr<CComPortSession> CVarnelDlg::NewSession() {
    if (WaitsOnSides())
        SetTimer(TIMER_MODEM, MODEM_POLL_MS);
    return std::make_unique<CComPortSession>(g_serial, "Varnel " + res::VersionText() + " " +
                                                           std::string(g_szComPort));
}

// What a peer sent: its data to the device in order, its commands applied where they came, its
// answers in strReply, a dropped subnegotiation in the events file. The serial tooltip shows the
// line as a peer set it.
void CVarnelDlg::FromTelnetPeer(CComPortSession& session, const char* pBuffer, std::size_t nLength,
                                const std::string& strPeer, std::string& strReply) {
    std::vector<std::string> events;
    const std::string strLineBefore = session.LineText();
    session.FromWire(
        std::string_view(pBuffer, nLength),
        [this](std::string_view data) {
            if (!data.empty())
                WriteBlockToDevice(data.data(), static_cast<int>(data.size()));
        },
        strReply, events);
    for (const std::string& strEvent : events)
        WriteEventText(strPeer + ": " + strEvent);
    const std::string strLine = session.LineText();
    if (strLine != strLineBefore && !strLine.empty())
        WriteEventText(strPeer + " set the line: " + strLine);
    if (!strLine.empty()) {
        m_bLineSetRemotely = true;
        SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                     std::string(g_szComPort) + ": " + DevicePathOf(g_szComPort) + "\n" + strLine +
                         ", set by " + strPeer);
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
    RestoreLine(g_serial, ConfiguredPortLine());
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
