// The server connection: opened on the button's path, polled or waited on, closed with what never
// reached the server told. A refused server is told like a failed connect, with exactly why in
// the tooltip.
#include "app/side/ServerSide.h"

#include "app/linkerrors/LinkErrors.h"
#include "app/network/ClientText.h"
#include "app/network/TlsText.h"
#include "app/network/TlsTransport.h"
#include "app/platform/Clock.h"

#include <cerrno>
#include <cstring>
#include <ctime>

std::uint16_t PortNumber(const std::string& strPort) {
    std::uint32_t nValue = 0;
    for (char c : strPort) {
        if (c < '0' || c > '9')
            break;
        nValue = nValue * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::uint16_t>(nValue & 0xFFFF);
}

CServerSide::CServerSide(CSideHost& host, const NetworkSideSettings& settings,
                         ServerLinkState state)
    : CNetworkSide(host, settings), m_state(state) {}

CServerSide::~CServerSide() {
    GiveUpConnect();
}

bool CServerSide::Open(const std::string& strIP, const std::string& strPort) {
    const std::uint16_t nPort = PortNumber(strPort);
    // TLS settings that are wrong connect nothing, and never fall back to clear text. The files
    // are checked anew at each open.
    if (m_settings.tls.enabled && !TlsConfigFor(CTlsConfig::Role::client, strIP)) {
        ShowTlsError();
        return false;
    }
    m_state.sock = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    sock::sockaddr_in addr{};
    addr.sin_family = sock::AF_INET;
    addr.sin_port = sock::htons(nPort);
    addr.sin_addr.s_addr = sock::inet_addr(strIP.c_str());
    m_addr = addr; // where a retry connects
    m_strIP = strIP;
    m_nPort = nPort;
    if (sock::connect(m_state.sock, &addr, sizeof(addr)) != 0) {
        const int nError = sock::WSAGetLastError();
        sock::closesocket(m_state.sock);
        m_state.sock = sock::INVALID_SOCKET;
        m_state.connected = 0;
        m_host.ShowNetworkStatus("服务器不存在", DescribeConnectFailure(strIP, nPort, nError));
        return false;
    }
    // The window never waits for the server past the connect: the handshake does not either.
    std::uint32_t nNonBlocking = 1;
    sock::ioctlsocket(m_state.sock, sock::FIONBIO, &nNonBlocking);
    std::unique_ptr<CTransport> pLink = NewTransport(m_state.sock);
    if (!pLink || !ShakeHands(*pLink)) {
        if (!pLink) // a file changed since start-up
            ShowTlsError();
        sock::closesocket(m_state.sock);
        m_state.sock = sock::INVALID_SOCKET;
        m_state.connected = 0;
        return false;
    }
    m_pLink = std::move(pLink);
    SideUp();
    return true;
}

// What the server cannot take now waits in the backlog; the side is waited on or polled.
void CServerSide::SideUp() {
    m_state.connected = 1;
    ++m_nConnections;
    m_bBlockFull = false;
    m_backlog.NewConnection();
    if (m_settings.telnet) {
        m_pSession = m_host.NewSession();
        const std::string strOffers = m_pSession->Start();
        m_backlog.Send(*m_pLink, strOffers.data(), strOffers.size());
    }
    if (!m_settings.fast)
        m_host.SetTimer(TIMER_TCP, 100);
    else if (!ReadingHeld()) // held: watched again once the device has room (ResumeReading)
        m_host.WatchSocket(WATCH_TCP, m_state.sock);
    m_strServer = Where();
    m_host.ShowNetworkStatus("已连接服务器", Tip());
}

void CServerSide::Close(bool bKeepBacklog) {
    if (m_state.connected && !bKeepBacklog && m_pLink) {
        m_backlog.Flush(*m_pLink);
        m_pLink->SayGoodbye();
    }
    const std::size_t nUndelivered = bKeepBacklog ? 0 : m_nUndelivered + m_backlog.Drop();
    if (!bKeepBacklog)
        m_nUndelivered = 0;
    StopNetworkWatch();
    sock::closesocket(m_state.sock);
    m_state.sock = sock::INVALID_SOCKET;
    m_pLink.reset();
    m_host.KillTimer(TIMER_TCP);
    m_state.connected = 0;
    if (m_pSession) {
        m_pSession.reset();
        m_host.LastSessionEnded();
    }
    m_host.ShowNetworkStatus("已断开服务器",
                             DescribeDisconnect(m_strServer, m_strDownReason, nUndelivered));
    m_strDownReason.clear();
}

std::unique_ptr<CTransport> CServerSide::NewTransport(sock::SOCKET s) {
    if (!m_settings.tls.enabled)
        return std::make_unique<CTransport>(s);
    std::shared_ptr<const CTlsConfig> pConfig = TlsConfigFor(CTlsConfig::Role::client, m_strIP);
    if (!pConfig)
        return nullptr;
    return std::make_unique<CTlsTransport>(s, pConfig, Where());
}

bool CServerSide::ShakeHands(CTransport& link) {
    const std::uint64_t nDeadline = GetTickCount64() + TLS_HANDSHAKE_MS;
    CTransport::Stage stage = link.Handshake();
    while (stage == CTransport::Stage::handshake && GetTickCount64() < nDeadline)
        stage = link.Handshake(50000, 1);
    if (stage == CTransport::Stage::ready)
        return true;
    auto& tls = static_cast<CTlsTransport&>(link);
    if (stage == CTransport::Stage::handshake)
        tls.HandshakeTimedOut();
    m_host.ShowNetworkStatus(TlsStatusText(tls.FailureFacts()), Where() + ": " + tls.Failure());
    return false;
}

std::string CServerSide::Where() const {
    return m_strIP + ":" + std::to_string(m_nPort);
}

std::string CServerSide::Tip() const {
    // The first line says what runs over the connection.
    const std::string strProtocols = ProtocolText(m_settings.telnet, m_settings.tls.enabled);
    const std::string strFirst =
        m_strServer + (strProtocols.empty() ? "" : " (" + strProtocols + ")");
    const auto* pTls = dynamic_cast<const CTlsTransport*>(m_pLink.get());
    if (pTls == nullptr)
        return strFirst;
    return strFirst + "\n" + TlsTip(pTls->Facts(), "server", std::time(nullptr));
}

void CServerSide::Poll() {
    SendModemNews();
    // What waits for the server goes out first, as far as the server takes it.
    m_backlog.Flush(*m_pLink);
    // The server is read only while a whole block for the device fits and no line change of its
    // session waits: TCP holds the rest back meanwhile.
    if (!m_host.DeviceHasRoom() || SessionsWait())
        return;
    char buffer[RECV_BUFFER_SIZE] = {};
    if (!m_pLink->Readable(50))
        return;
    int nError = 0;
    const int nLength = m_pLink->Receive(buffer, sizeof(buffer), nError);
    if (nLength == sock::SOCKET_ERROR && (nError == EWOULDBLOCK || nError == EAGAIN))
        return; // only part of a record has come
    if (nLength == sock::SOCKET_ERROR || nLength == 0) {
        // A receive error, or the server closed its end: take the link down.
        m_host.NetworkDropped(DescribeReceiveFailure(nLength == 0 ? 0 : nError),
                              CReconnectPlan::End::serverClosed);
        return;
    }
    ForwardBlock(buffer, nLength);
}

// Writes one block from the server to the device; with REOPEN the window cycles the link after it.
void CServerSide::ForwardBlock(const char* buffer, int nLength) {
    if (m_pSession) {
        // Telnet: every data byte goes, lone or not. The session is shared while the block is
        // handled, so that it outlives a link that goes down meanwhile.
        const std::shared_ptr<CComPortSession> pSession = m_pSession;
        std::string strReply;
        m_host.FromTelnetPeer(*pSession, buffer, static_cast<std::size_t>(nLength), m_strServer,
                              strReply);
        if (pSession == m_pSession)
            SendToServer(strReply);
        return;
    }
    // A lone byte is not forwarded, unless it ends a burst that filled the whole buffer before.
    const bool bTailOfBurst = m_bBlockFull;
    m_bBlockFull = nLength == RECV_BUFFER_SIZE;
    if (nLength < 2 && !bTailOfBurst)
        return;
    m_host.ToDevice(buffer, static_cast<std::size_t>(nLength));
    m_host.ServerBlockDelivered();
}

void CServerSide::SendToServer(const std::string& strBytes) {
    if (m_state.connected && !strBytes.empty() &&
        !m_backlog.Send(*m_pLink, strBytes.data(), strBytes.size()))
        m_host.NetworkDropped(DescribeStalledServer(), CReconnectPlan::End::serverStalled);
}

CNetworkSide::Sent CServerSide::FromDevice(const char* pBuffer, std::size_t nLength) {
    if (m_state.connected && m_pSession && m_pSession->Suspended()) {
        m_nUndelivered += nLength; // the server asked for a pause: it gets nothing meanwhile
        return Sent::paused;
    }
    if (!m_state.connected)
        return Sent::notConnected;
    const std::string strWire = ToNetwork(pBuffer, nLength);
    if (!m_backlog.Send(*m_pLink, strWire.data(), strWire.size())) {
        m_nUndelivered += nLength;
        return Sent::stalled;
    }
    WatchBacklog();
    return Sent::sent;
}

bool CServerSide::HoldForServer(const char* pBuffer, std::size_t nLength, std::size_t& nWire) {
    const std::string strWire = ToNetwork(pBuffer, nLength);
    nWire = strWire.size();
    return m_backlog.Hold(strWire.data(), strWire.size());
}

void CServerSide::ResumeWaitingSessions() {
    const std::shared_ptr<CComPortSession> pSession = m_pSession;
    if (!pSession || !pSession->Waits())
        return;
    std::string strReply;
    m_host.ResumeTelnetPeer(*pSession, m_strServer, strReply);
    if (pSession == m_pSession)
        SendToServer(strReply);
}

bool CServerSide::SessionsWait() const {
    return m_pSession && m_pSession->Waits();
}

// Modem-line changes under the session's mask go out as they are found.
void CServerSide::SendModemNews() {
    if (!m_pSession || !m_state.connected)
        return;
    const std::string strNews = m_pSession->ModemNews();
    if (!strNews.empty())
        m_backlog.Send(*m_pLink, strNews.data(), strNews.size());
}

void CServerSide::FlushFor(unsigned nMs) {
    const std::uint64_t nDeadline = GetTickCount64() + nMs;
    // The server gets what waits for it while it takes it, up to the deadline; the close that
    // follows tries once more and tells what is left.
    const auto waiting = [this] {
        return m_backlog.Waiting() > 0 || (m_pLink && m_pLink->WireWaiting() > 0);
    };
    while (m_state.connected && waiting() && GetTickCount64() < nDeadline) {
        if (!m_backlog.Flush(*m_pLink))
            break;
        if (waiting())
            Sleep(10);
    }
}

void CServerSide::Drop(std::size_t& nResent, std::size_t& nLost) {
    nLost = 0;
    nResent = m_backlog.Rewind(m_pLink->Acknowledged(), &nLost);
    m_strDownReason.clear();
    Close(true);
}

void CServerSide::KeepSent(bool bKeep) {
    m_backlog.KeepSent(bKeep ? SEND_BACKLOG_LIMIT : 0);
}

// A connect that does not block: started when due, looked at every tick until it ends; then the
// transport's handshake, if it has one, goes on at each tick.
CNetworkSide::Attempt CServerSide::Retry(std::uint64_t nNow, bool bDue, std::string& strWhy) {
    if (m_sockConnecting == sock::INVALID_SOCKET) {
        if (!bDue)
            return Attempt::pending;
        m_sockConnecting = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        m_nConnectDeadline = nNow + static_cast<std::uint64_t>(sock::ConnectTimeoutMs());
        if (sock::connect_start(m_sockConnecting, &m_addr, sizeof(m_addr)) != 0 &&
            sock::WSAGetLastError() != EINPROGRESS) {
            GiveUpConnect();
            return Attempt::failed;
        }
    }
    if (!m_pConnecting) {
        const int nResult = sock::connect_result(m_sockConnecting);
        const int nError = nResult == 0 ? 0 : sock::WSAGetLastError();
        if (nError == EINPROGRESS && nNow < m_nConnectDeadline)
            return Attempt::pending;
        if (nError != 0) {
            GiveUpConnect();
            strWhy = DescribeConnectFailure(m_strIP, m_nPort,
                                            nError == EINPROGRESS ? ETIMEDOUT : nError);
            return Attempt::failed;
        }
        m_pConnecting = NewTransport(m_sockConnecting);
        m_nConnectDeadline = nNow + TLS_HANDSHAKE_MS;
        if (!m_pConnecting) { // a TLS file changed since start-up: this attempt fails
            GiveUpConnect();
            strWhy = TlsError();
            return Attempt::failed;
        }
    }
    if (!RetryHandshakeDone(nNow, strWhy))
        return strWhy.empty() ? Attempt::pending : Attempt::failed;
    m_state.sock = m_sockConnecting;
    m_sockConnecting = sock::INVALID_SOCKET;
    m_pLink = std::move(m_pConnecting);
    SideUp();
    // What waited for the server goes first, before anything newer.
    m_backlog.Flush(*m_pLink);
    WatchBacklog();
    return Attempt::up;
}

// The handshake of a retry, moved on for a moment at each tick: true once it is done. A refusal
// fails the attempt, with why.
bool CServerSide::RetryHandshakeDone(std::uint64_t nNow, std::string& strWhy) {
    const CTransport::Stage stage = m_pConnecting->Handshake(20000, 4);
    if (stage == CTransport::Stage::ready)
        return true;
    if (stage == CTransport::Stage::handshake && nNow < m_nConnectDeadline)
        return false;
    if (stage == CTransport::Stage::handshake)
        m_pConnecting->HandshakeTimedOut();
    strWhy = Where() + ": " + m_pConnecting->Failure();
    GiveUpConnect();
    return false;
}

void CServerSide::StopRetry() {
    GiveUpConnect();
}

void CServerSide::GiveUpConnect() {
    m_pConnecting.reset();
    sock::closesocket(m_sockConnecting); // nothing when no connect is under way
    m_sockConnecting = sock::INVALID_SOCKET;
}

void CServerSide::OnWatch(LinkTimerId nID) {
    if (nID == WATCH_TCP)
        GatherBurst(); // bytes to read
    else if (nID == WATCH_TCP_SEND)
        OnWritable(); // room to send what waits
}

void CServerSide::OnTimer(LinkTimerId nID) {
    if (nID == TIMER_TCP)
        Poll();
    else if (nID == TIMER_TCP_QUIET)
        OnQuiet(); // the server has been quiet for the gap
}

// ---------------------------------------------------------------------------------------------
// The fast mode: the connection is waited on, and the server's burst forwarded as one block once
// the server has been quiet for a moment.

void CServerSide::GatherBurst() {
    if (!m_state.connected)
        return;
    // Nothing is read while the device's queue has no room for a whole block, or a line change
    // of the session waits: the watch rests until then, and TCP holds the server back.
    if (!m_host.DeviceHasRoom() || SessionsWait()) {
        if (m_nBurst > 0 && !m_host.IsTimerRunning(TIMER_TCP_QUIET))
            m_host.SetOneShotTimer(TIMER_TCP_QUIET, TCP_QUIET_MS);
        m_host.HoldPeers();
        return;
    }
    if (!m_pLink->Readable())
        return;
    int nError = 0;
    const int nLength = m_pLink->Receive(m_burst + m_nBurst, RECV_BUFFER_SIZE - m_nBurst, nError);
    if (nLength == sock::SOCKET_ERROR && (nError == EWOULDBLOCK || nError == EAGAIN))
        return; // only part of a record has come
    if (nLength == sock::SOCKET_ERROR || nLength == 0) {
        // What the server sent before it went is delivered first.
        // The system hands a new connection the old one's number again: the count tells them apart.
        const std::uint64_t nConnection = m_nConnections;
        ForwardBurst();
        if (!m_state.connected || m_nConnections != nConnection)
            return; // forwarding took the link down or cycled it already
        m_host.NetworkDropped(DescribeReceiveFailure(nError), CReconnectPlan::End::serverClosed);
        return;
    }
    m_nBurst += nLength;
    if (m_nBurst == RECV_BUFFER_SIZE)
        ForwardBurst();
    // Bytes the transport holds already (whole records read with the last ones) make no socket
    // readable: they are taken when the quiet gap ends, or forwarded then.
    if (m_nBurst > 0 || (m_state.connected && m_pLink->Holds()))
        m_host.SetOneShotTimer(TIMER_TCP_QUIET, TCP_QUIET_MS);
}

void CServerSide::OnQuiet() {
    // Bytes whose news is still on its way continue the burst.
    if (m_state.connected && !ReadingHeld() && m_pLink->Readable())
        GatherBurst();
    else
        ForwardBurst();
}

void CServerSide::ForwardBurst() {
    m_host.KillTimer(TIMER_TCP_QUIET);
    const int nLength = m_nBurst;
    m_nBurst = 0;
    if (nLength == 0)
        return;
    char buffer[RECV_BUFFER_SIZE];
    std::memcpy(buffer, m_burst, static_cast<std::size_t>(nLength));
    ForwardBlock(buffer, nLength);
}

// While bytes wait for the server, a connection that is waited on is watched until it takes them.
void CServerSide::WatchBacklog() {
    if (m_state.connected && m_settings.fast &&
        (m_backlog.Waiting() > 0 || m_pLink->WireWaiting() > 0) &&
        !m_host.IsWatching(WATCH_TCP_SEND))
        m_host.WatchSocket(WATCH_TCP_SEND, m_state.sock, true);
}

void CServerSide::OnWritable() {
    // A failed send is the receive side's to notice; watching on would only spin.
    if (!m_state.connected || !m_backlog.Flush(*m_pLink) ||
        (m_backlog.Waiting() == 0 && m_pLink->WireWaiting() == 0))
        m_host.Unwatch(WATCH_TCP_SEND);
}

void CServerSide::StopNetworkWatch() {
    m_host.Unwatch(WATCH_TCP);
    m_host.Unwatch(WATCH_TCP_SEND);
    m_host.KillTimer(TIMER_TCP_QUIET);
    m_nBurst = 0;
}

void CServerSide::StopWatching() {
    m_host.Unwatch(WATCH_TCP);
}

void CServerSide::WatchAgain() {
    if (!m_state.connected)
        return;
    m_host.WatchSocket(WATCH_TCP, m_state.sock);
    GatherBurst(); // records the transport holds make no socket readable
}
