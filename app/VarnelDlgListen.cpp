// CVarnelDlg listening for clients (LISTEN in the settings file): the network side is a listener
// at ServerIP:PORT and the clients it serves. Every block of the device goes to every client;
// every block of a client goes to the device whole, as it came, with no byte left out. The
// clients' bookkeeping lives in CClientSet; here the window opens and closes it, polls it, and
// shows and records what happens.
#include "app/VarnelDlg.h"
#include "app/bridge/OutageText.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/linkerrors/Wording.h"
#include "app/network/Address.h"
#include "app/network/ClientText.h"
#include "app/network/NetworkSettings.h"
#include "app/platform/File.h"
#include "app/platform/Profile.h"

#include <algorithm>
#include <cstdio>

namespace {

// Blocks from clients written to the device in one poll at the most, so that busy clients
// cannot hold up the window; the rest waits in their sockets for the next poll.
constexpr int kBlocksPerPoll = 64;

} // namespace

// Opens the listener, or closes it with every client. True when it could not listen.
bool CVarnelDlg::ToggleListen() {
    if (m_pClients) {
        m_ipServer.EnableWindow(true);
        m_editPort.EnableWindow(true);
        CloseListenSide();
        return false;
    }
    // Wrong settings open nothing, and the file keeps them as they are until someone mends them:
    // writing the address the box made of a text that did not parse would listen everywhere at
    // the next start.
    if (!m_strSettingsError.empty()) {
        ShowSettingsError();
        return true;
    }
    DWORD dwAddress = 0;
    m_ipServer.GetAddress(dwAddress);
    const std::string strIP = Ipv4Text(dwAddress);
    m_editPort.GetWindowText(m_strPort);
    const std::optional<std::uint16_t> port = ParseListenPort(m_strPort.Str());
    if (!port) { // typed into the box: listened at nowhere, not at a port of the system's choice
        m_strNetStatus = "监听参数错误";
        SetStatusTip(*this, IDC_STATIC_NETSTATUS,
                     DescribeListenPortError(m_strPort.Str(), linkerrors::SettingsFileName()));
        UpdateData(false);
        return true;
    }
    const std::uint16_t nPort = *port;
    WritePrivateProfileStringA("Socket", "ServerIP", strIP.c_str(), SETTINGS_FILE);
    WritePrivateProfileStringA("Socket", "PORT", m_strPort.c_str(), SETTINGS_FILE);
    m_strListenAt = strIP + ":" + std::to_string(nPort);

    ClientSetOptions options = m_listenOptions;
    options.tls = TlsConfigFor(CTlsConfig::Role::server, strIP);
    if (m_tlsSettings.enabled && !options.tls) { // the files are checked anew at each open
        ShowTlsSettingsError();
        return true;
    }
    auto pClients = std::make_unique<CClientSet>(options);
    if (const int nError = pClients->Listen(strIP, nPort)) {
        m_strNetStatus = "无法监听"; // where, and why, is the tooltip's
        SetStatusTip(*this, IDC_STATIC_NETSTATUS, DescribeListenFailure(strIP, nPort, nError));
        UpdateData(false);
        return true;
    }
    m_pClients = std::move(pClients);
    ShowNetworkSideWanted();
    // The listener is looked at every 100 ms in both modes; the fast mode also watches each
    // client, so that its bytes reach the device at once.
    SetTimer(TIMER_TCP, 100);
    TellClientNews();
    return false;
}

void CVarnelDlg::CloseListenSide() {
    KillTimer(TIMER_TCP);
    for (std::size_t i = 0; i < m_watchedClients.size(); ++i)
        Unwatch(WATCH_CLIENT + i);
    m_watchedClients.clear();
    m_pClients->Flush(); // a last chance for what waits
    m_pClients->CloseAll();
    TellClientNews();
    const std::uint64_t nUndelivered = m_pClients->Undelivered();
    m_pClients.reset();
    m_strNetStatus = "已停止监听";
    SetStatusTip(*this, IDC_STATIC_NETSTATUS,
                 "stopped listening at " + m_strListenAt +
                     (nUndelivered > 0 ? "; " + std::to_string(nUndelivered) +
                                             " bytes from the device reached no client"
                                       : ""));
    UpdateData(false);
}

// New clients are taken, what waits for each goes out, and what clients sent goes to the device,
// each block whole and in the order it came. A client is read only once its session exists, and
// only while a whole block for the device fits: TCP holds the clients back meanwhile. Clients that
// leave on the way are told after the step, never while their bytes are handled.
void CVarnelDlg::ListenPoll() {
    if (!m_pClients)
        return;
    m_pClients->Accept();
    m_pClients->Advance();
    TellClientNews(); // a new client's session starts before its first bytes are read
    m_pClients->Flush();
    char buffer[RECV_BUFFER_SIZE];
    ClientId from = 0;
    for (int i = 0; i < kBlocksPerPoll; ++i) {
        if (!DeviceHasRoom()) {
            if (WaitsOnSides())
                HoldPeers();
            break;
        }
        const std::size_t nLength = m_pClients->Receive(buffer, sizeof(buffer), &from);
        if (nLength == 0)
            break;
        const std::string strPeer = m_pClients->PeerOf(from);
        // With room for several clients, the panes and the log say whose block it is.
        m_strBlockFrom = m_listenOptions.clients > 1 ? strPeer : std::string();
        auto session = m_sessions.find(from);
        if (session == m_sessions.end()) {
            WriteBlockToDevice(buffer, static_cast<int>(nLength));
            m_strBlockFrom.clear();
            continue;
        }
        const std::shared_ptr<CComPortSession> pSession = session->second;
        std::string strReply;
        // A line change that waits for the device stops this client's reading until it went
        // through.
        if (!FromTelnetPeer(*pSession, buffer, nLength, strPeer, strReply))
            m_pClients->SetReading(from, false);
        m_strBlockFrom.clear();
        if (!strReply.empty())
            m_pClients->SendTo(from, strReply);
    }
    SendModemNews();
    TellClientNews();
}

// What happened to the clients goes to the events file, the status line and its tooltip; the
// fast mode's watches follow the clients there are now.
void CVarnelDlg::TellClientNews() {
    if (!m_pClients)
        return;
    const SYSTEMTIME st = [] {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        return now;
    }();
    for (const ClientEvent& event : m_pClients->TakeEvents()) {
        std::string strLine = ClientEventLine(st, event);
        std::uint64_t nSilenced = 0;
        // Refusals come at the pace of whoever knocks: one line per reason and address a minute.
        if (event.news == ClientNews::refused &&
            !m_refusalGate.Admit(ClientReasonText(event) + " " +
                                     event.peer.substr(0, event.peer.rfind(':')),
                                 GetTickCount64(), &nSilenced))
            continue;
        if (nSilenced > 0)
            strLine.insert(strLine.size() - 2, " (and " + std::to_string(nSilenced) +
                                                   " more like it in the minute before)");
        AppendEvent(EventsFileName(st), strLine);
        if (m_bTelnet && event.news == ClientNews::connected) {
            auto& pSession = m_sessions[event.id];
            pSession = NewSession();
            m_pClients->SendTo(event.id, pSession->Start());
        } else if (event.news == ClientNews::left && m_sessions.erase(event.id) > 0) {
            SessionEnded();
        }
    }
    ListenFacts facts;
    facts.where = m_strListenAt;
    facts.protocols = ProtocolText(m_bTelnet, m_tlsSettings.enabled);
    facts.places = m_listenOptions.clients;
    facts.takeover = m_listenOptions.takeover;
    facts.allow = m_strAllow;
    facts.clients = m_pClients->Clients();
    facts.refused = m_pClients->Refused();
    facts.recentRefusals = m_pClients->RecentRefusals();
    facts.undelivered = m_pClients->Undelivered();
    facts.counters = m_bClientCounters;
    const std::string strStatus = ListenStatus(m_strListenAt, facts.clients);
    const bool bNewStatus = m_strNetStatus != strStatus;
    m_strNetStatus = strStatus;
    SetStatusTip(*this, IDC_STATIC_NETSTATUS, ListenTip(facts));
    if (bNewStatus)
        UpdateData(false);
    if (WaitsOnSides())
        WatchClients();
}

void CVarnelDlg::WatchClients() {
    if (m_bPeersHeld)
        return; // they are watched again once the device's queue has room
    const std::vector<sock::SOCKET> sockets = m_pClients->Sockets();
    if (sockets == m_watchedClients)
        return;
    for (std::size_t i = 0; i < m_watchedClients.size(); ++i)
        Unwatch(WATCH_CLIENT + i);
    m_watchedClients = sockets;
    for (std::size_t i = 0; i < sockets.size(); ++i)
        WatchSocket(WATCH_CLIENT + i, sockets[i]);
}
