// The listener and its clients: opened and closed with the link, polled (and in the fast mode each
// client watched), what happens to the clients told in the events file, the status line and its
// tooltip.
#include "app/side/ListenSide.h"

#include "app/bridge/OutageText.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/linkerrors/Wording.h"
#include "app/network/ClientText.h"
#include "app/network/NetworkSettings.h"
#include "app/platform/Clock.h"

#include <algorithm>

namespace {

// Blocks from clients written to the device in one poll at the most, so that busy clients
// cannot hold up the window; the rest waits in their sockets for the next poll.
constexpr int kBlocksPerPoll = 64;

} // namespace

CListenSide::CListenSide(CSideHost& host, const NetworkSideSettings& settings)
    : CNetworkSide(host, settings) {}

CListenSide::~CListenSide() = default;

// Opens the listener; false when it could not listen (the status line says why).
bool CListenSide::Open(const std::string& strIP, const std::string& strPort) {
    const std::optional<std::uint16_t> port = ParseListenPort(strPort);
    if (!port) { // typed into the box: listened at nowhere, not at a port of the system's choice
        m_host.ShowNetworkStatus("监听参数错误",
                                 DescribeListenPortError(strPort, linkerrors::SettingsFileName()));
        return false;
    }
    const std::uint16_t nPort = *port;
    m_strIP = strIP;
    m_strPort = strPort;
    m_strListenAt = strIP + ":" + std::to_string(nPort);

    ClientSetOptions options = m_settings.clients;
    options.tls = TlsConfigFor(CTlsConfig::Role::server, strIP);
    if (m_settings.tls.enabled && !options.tls) { // the files are checked anew at each open
        ShowTlsError();
        return false;
    }
    auto pClients = std::make_unique<CClientSet>(options);
    if (const int nError = pClients->Listen(strIP, nPort)) {
        // Where, and why, is the tooltip's.
        m_host.ShowNetworkStatus("无法监听", DescribeListenFailure(strIP, nPort, nError));
        return false;
    }
    m_pClients = std::move(pClients);
    // The listener is looked at every 100 ms in both modes; the fast mode also watches each
    // client, so that its bytes reach the device at once.
    m_host.SetTimer(TIMER_TCP, 100);
    TellNews();
    return true;
}

void CListenSide::Close(bool) {
    if (!m_pClients)
        return;
    m_host.KillTimer(TIMER_TCP);
    for (std::size_t i = 0; i < m_watchedClients.size(); ++i)
        m_host.Unwatch(WATCH_CLIENT + i);
    m_watchedClients.clear();
    m_pClients->Flush(); // a last chance for what waits
    m_pClients->CloseAll();
    TellNews();
    const std::uint64_t nUndelivered = m_pClients->Undelivered();
    m_pClients.reset();
    m_host.ShowNetworkStatus("已停止监听",
                             "stopped listening at " + m_strListenAt +
                                 (nUndelivered > 0 ? "; " + std::to_string(nUndelivered) +
                                                         " bytes from the device reached no client"
                                                   : ""));
}

// A listener that could not open (its port was taken) is opened again when due.
CNetworkSide::Attempt CListenSide::Retry(std::uint64_t, bool bDue, std::string&) {
    if (!bDue)
        return Attempt::pending;
    return Open(m_strIP, m_strPort) ? Attempt::up : Attempt::failed;
}

// New clients are taken, what waits for each goes out, and what clients sent goes to the device,
// each block whole and in the order it came. A client is read only once its session exists, and
// only while a whole block for the device fits: TCP holds the clients back meanwhile. Clients that
// leave on the way are told after the step, never while their bytes are handled.
void CListenSide::Poll() {
    if (!m_pClients)
        return;
    m_pClients->Accept();
    m_pClients->Advance();
    TellNews(); // a new client's session starts before its first bytes are read
    m_pClients->Flush();
    char buffer[RECV_BUFFER_SIZE];
    ClientId from = 0;
    for (int i = 0; i < kBlocksPerPoll; ++i) {
        if (!m_host.DeviceHasRoom()) {
            if (m_settings.fast)
                m_host.HoldPeers();
            break;
        }
        const std::size_t nLength = m_pClients->Receive(buffer, sizeof(buffer), &from);
        if (nLength == 0)
            break;
        const std::string strPeer = m_pClients->PeerOf(from);
        // With room for several clients, the panes and the log say whose block it is.
        m_host.BlockFrom(m_settings.clients.clients > 1 ? strPeer : std::string());
        auto session = m_sessions.find(from);
        if (session == m_sessions.end()) {
            m_host.ToDevice(buffer, nLength);
            m_host.BlockFrom(std::string());
            continue;
        }
        const std::shared_ptr<CComPortSession> pSession = session->second;
        std::string strReply;
        // A line change that waits for the device stops this client's reading until it went
        // through.
        if (!m_host.FromTelnetPeer(*pSession, buffer, nLength, strPeer, strReply))
            m_pClients->SetReading(from, false);
        m_host.BlockFrom(std::string());
        if (!strReply.empty())
            m_pClients->SendTo(from, strReply);
    }
    SendModemNews();
    TellNews();
}

void CListenSide::OnWatch(LinkTimerId nID) {
    if (nID >= WATCH_CLIENT && nID < WATCH_CLIENT + MOST_CLIENTS)
        Poll(); // a client has bytes, or has gone
}

void CListenSide::OnTimer(LinkTimerId nID) {
    if (nID == TIMER_TCP)
        Poll();
}

CNetworkSide::Sent CListenSide::FromDevice(const char* pBuffer, std::size_t nLength) {
    if (!m_pClients)
        return Sent::sent; // nowhere to go: shown, logged and counted only
    // A Telnet client that asked for a pause gets nothing meanwhile. Clients that leave on the way
    // are told after this step, by the poll that made it.
    const std::string strWire = ToNetwork(pBuffer, nLength);
    m_pClients->SendToAll(strWire.data(), strWire.size(), [this](ClientId id) {
        auto session = m_sessions.find(id);
        return session == m_sessions.end() || !session->second->Suspended();
    });
    return Sent::sent;
}

// What happened to the clients goes to the events file, the status line and its tooltip; the
// fast mode's watches follow the clients there are now.
void CListenSide::TellNews() {
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
        m_host.AppendEvent(EventsFileName(st), strLine);
        if (m_settings.telnet && event.news == ClientNews::connected) {
            auto& pSession = m_sessions[event.id];
            pSession = m_host.NewSession();
            m_pClients->SendTo(event.id, pSession->Start());
        } else if (event.news == ClientNews::left && m_sessions.erase(event.id) > 0 &&
                   m_sessions.empty()) {
            m_host.LastSessionEnded();
        }
    }
    ListenFacts facts;
    facts.where = m_strListenAt;
    facts.protocols = ProtocolText(m_settings.telnet, m_settings.tls.enabled);
    facts.places = m_settings.clients.clients;
    facts.takeover = m_settings.clients.takeover;
    facts.allow = m_settings.allow;
    facts.clients = m_pClients->Clients();
    facts.refused = m_pClients->Refused();
    facts.recentRefusals = m_pClients->RecentRefusals();
    facts.undelivered = m_pClients->Undelivered();
    facts.counters = m_settings.clientCounters;
    m_host.ShowNetworkStatus(ListenStatus(m_strListenAt, facts.clients), ListenTip(facts), true);
    if (m_settings.fast)
        WatchClients();
}

void CListenSide::WatchClients() {
    if (ReadingHeld())
        return; // they are watched again once the device's queue has room
    const std::vector<sock::SOCKET> sockets = m_pClients->Sockets();
    if (sockets == m_watchedClients)
        return;
    for (std::size_t i = 0; i < m_watchedClients.size(); ++i)
        m_host.Unwatch(WATCH_CLIENT + i);
    m_watchedClients = sockets;
    for (std::size_t i = 0; i < sockets.size(); ++i)
        m_host.WatchSocket(WATCH_CLIENT + i, sockets[i]);
}

void CListenSide::StopWatching() {
    for (std::size_t i = 0; i < m_watchedClients.size(); ++i)
        m_host.Unwatch(WATCH_CLIENT + i);
    m_watchedClients.clear();
}

void CListenSide::WatchAgain() {
    if (!m_pClients)
        return;
    WatchClients();
    Poll(); // what came meanwhile
}

// Sessions whose line change waited for the device go on once it has sent what came before.
void CListenSide::ResumeWaitingSessions() {
    std::vector<std::pair<ClientId, std::shared_ptr<CComPortSession>>> waiting;
    for (const auto& [id, pSession] : m_sessions)
        if (pSession->Waits())
            waiting.emplace_back(id, pSession);
    for (const auto& [id, pSession] : waiting) {
        std::string strReply;
        const std::string strPeer = m_pClients ? m_pClients->PeerOf(id) : std::string();
        const bool bDone = m_host.ResumeTelnetPeer(*pSession, strPeer, strReply);
        if (m_pClients && !strReply.empty())
            m_pClients->SendTo(id, strReply);
        if (bDone && m_pClients)
            m_pClients->SetReading(id, true);
    }
    if (!waiting.empty() && m_pClients && m_settings.fast)
        WatchClients();
}

bool CListenSide::SessionsWait() const {
    return std::any_of(m_sessions.begin(), m_sessions.end(),
                       [](const auto& entry) { return entry.second->Waits(); });
}

// Modem-line changes under each session's mask go out as they are found.
void CListenSide::SendModemNews() {
    for (auto& [id, pSession] : m_sessions) {
        const std::string strNews = pSession->ModemNews();
        if (!strNews.empty() && m_pClients)
            m_pClients->SendTo(id, strNews);
    }
}

void CListenSide::FlushFor(unsigned nMs) {
    const std::uint64_t nDeadline = GetTickCount64() + nMs;
    while (m_pClients && GetTickCount64() < nDeadline) {
        const auto clients = m_pClients->Clients();
        if (std::none_of(clients.begin(), clients.end(),
                         [](const ClientFacts& client) { return client.waiting > 0; }))
            break;
        m_pClients->Flush();
        Sleep(10);
    }
}
