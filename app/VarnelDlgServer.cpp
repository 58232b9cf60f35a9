// CVarnelDlg's connection to the server (client mode): the connect on the button's path, the
// transport over it (plain, or TLS whose handshake verifies the server before any of the device's
// bytes go out), the side coming up and going down. A refused server is told like a failed
// connect, with exactly why in the tooltip.
#include "app/VarnelDlg.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/network/ClientText.h"
#include "app/network/TlsText.h"
#include "app/network/TlsTransport.h"
#include "app/platform/Clock.h"
#include "app/platform/Profile.h"

#include <cstdio>
#include <ctime>

bool CVarnelDlg::ToggleTcp() {
    if (m_bListen)
        return ToggleListen();
    std::string strCaption;
    m_btnOpen.GetWindowText(strCaption);
    if (g_bTcpConnected || strCaption != "打开") {
        m_ipServer.EnableWindow(true);
        m_editPort.EnableWindow(true);
        CloseNetworkSide(false);
        return false;
    }
    // Wrong settings connect nothing: not in clear text for a TLS that was meant, nor out for a
    // listener that was meant.
    if (!m_strSettingsError.empty()) {
        ShowSettingsError();
        return true;
    }

    DWORD dwAddress = 0;
    m_ipServer.GetAddress(dwAddress);
    char szServerIP[16];
    std::snprintf(szServerIP, sizeof(szServerIP), "%d.%d.%d.%d", (dwAddress >> 24) & 0xFF,
                  (dwAddress >> 16) & 0xFF, (dwAddress >> 8) & 0xFF, dwAddress & 0xFF);
    m_editPort.GetWindowText(m_strPort);
    WritePrivateProfileStringA("Socket", "ServerIP", szServerIP, SETTINGS_FILE);
    WritePrivateProfileStringA("Socket", "PORT", m_strPort.c_str(), SETTINGS_FILE);
    const std::uint16_t nPort = PortNumber(m_strPort.Str());
    UpdateData(false);

    // TLS settings that are wrong connect nothing, and never fall back to clear text. The files
    // are checked anew at each open.
    if (m_tlsSettings.enabled && !TlsConfigFor(CTlsConfig::Role::client, szServerIP)) {
        ShowTlsSettingsError();
        return true;
    }

    g_sock = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
    sock::sockaddr_in addr{};
    addr.sin_family = sock::AF_INET;
    addr.sin_port = sock::htons(nPort);
    addr.sin_addr.s_addr = sock::inet_addr(szServerIP);
    m_addrServer = addr; // where a retry connects
    m_strServerIP = szServerIP;
    m_nServerPort = nPort;
    if (sock::connect(g_sock, &addr, sizeof(addr)) != 0) {
        const int nError = sock::WSAGetLastError();
        sock::closesocket(g_sock);
        g_sock = sock::INVALID_SOCKET;
        g_bTcpConnected = 0;
        m_strNetStatus = "服务器不存在";
        SetStatusTip(*this, IDC_STATIC_NETSTATUS,
                     DescribeConnectFailure(szServerIP, nPort, nError));
        UpdateData(false);
        return true;
    }
    // The window never waits for the server past the connect: the handshake does not either.
    std::uint32_t nNonBlocking = 1;
    sock::ioctlsocket(g_sock, sock::FIONBIO, &nNonBlocking);
    std::unique_ptr<CTransport> pLink = NewServerTransport(g_sock);
    if (!pLink || !ShakeHandsWithServer(*pLink)) {
        if (!pLink) // a file changed since start-up
            ShowTlsSettingsError();
        sock::closesocket(g_sock);
        g_sock = sock::INVALID_SOCKET;
        g_bTcpConnected = 0;
        return true;
    }
    m_pLink = std::move(pLink);
    ShowNetworkSideWanted();
    NetworkSideUp();
    return false;
}

// A connection was made and its transport (m_pLink) is ready, by the button or a retry: the socket
// never makes the window wait, what the server cannot take now waits in the backlog; its side is
// waited on or polled.
void CVarnelDlg::NetworkSideUp() {
    g_bTcpConnected = 1;
    ++m_nConnections;
    m_bNetBlockFull = false;
    m_backlog.NewConnection();
    if (m_bTelnet) {
        m_pServerSession = NewSession();
        const std::string strOffers = m_pServerSession->Start();
        m_backlog.Send(*m_pLink, strOffers.data(), strOffers.size());
    }
    if (WaitsOnSides())
        WatchSocket(WATCH_TCP, g_sock);
    else
        SetTimer(TIMER_TCP, 100);
    m_strNetStatus = "已连接服务器";
    m_strServer = m_strServerIP + ":" + std::to_string(m_nServerPort);
    SetStatusTip(*this, IDC_STATIC_NETSTATUS, ServerTip());
    UpdateData(false);
}

// The connection ends. What waits for the server gets a last chance and whatever it never got is
// told, not hidden; unless bKeepBacklog, when the server is retried and the bytes wait for it.
void CVarnelDlg::CloseNetworkSide(bool bKeepBacklog) {
    if (g_bTcpConnected && !bKeepBacklog && m_pLink) {
        m_backlog.Flush(*m_pLink);
        m_pLink->SayGoodbye();
    }
    const std::size_t nUndelivered = bKeepBacklog ? 0 : m_nUndelivered + m_backlog.Drop();
    if (!bKeepBacklog)
        m_nUndelivered = 0;
    StopNetworkWatch();
    sock::closesocket(g_sock);
    g_sock = sock::INVALID_SOCKET;
    m_pLink.reset();
    KillTimer(TIMER_TCP);
    g_bTcpConnected = 0;
    if (m_pServerSession) {
        m_pServerSession.reset();
        SessionEnded();
    }
    m_strNetStatus = "已断开服务器";
    SetStatusTip(*this, IDC_STATIC_NETSTATUS,
                 DescribeDisconnect(m_strServer, m_strNetDownReason, nUndelivered));
    m_strNetDownReason.clear();
    UpdateData(false);
}

std::unique_ptr<CTransport> CVarnelDlg::NewServerTransport(sock::SOCKET s) {
    if (!m_tlsSettings.enabled)
        return std::make_unique<CTransport>(s);
    std::shared_ptr<const CTlsConfig> pConfig =
        TlsConfigFor(CTlsConfig::Role::client, m_strServerIP);
    if (!pConfig)
        return nullptr;
    return std::make_unique<CTlsTransport>(s, pConfig,
                                           m_strServerIP + ":" + std::to_string(m_nServerPort));
}

bool CVarnelDlg::ShakeHandsWithServer(CTransport& link) {
    const std::uint64_t nDeadline = GetTickCount64() + TLS_HANDSHAKE_MS;
    CTransport::Stage stage = link.Handshake();
    while (stage == CTransport::Stage::handshake && GetTickCount64() < nDeadline)
        stage = link.Handshake(50000, 1);
    if (stage == CTransport::Stage::ready)
        return true;
    auto& tls = static_cast<CTlsTransport&>(link);
    if (stage == CTransport::Stage::handshake)
        tls.HandshakeTimedOut();
    m_strNetStatus = TlsStatusText(tls.FailureFacts());
    SetStatusTip(*this, IDC_STATIC_NETSTATUS,
                 m_strServerIP + ":" + std::to_string(m_nServerPort) + ": " + tls.Failure());
    UpdateData(false);
    return false;
}

std::string CVarnelDlg::ServerTip() const {
    // The first line says what runs over the connection.
    const std::string strProtocols = ProtocolText(m_bTelnet, m_tlsSettings.enabled);
    const std::string strFirst =
        m_strServer + (strProtocols.empty() ? "" : " (" + strProtocols + ")");
    const auto* pTls = dynamic_cast<const CTlsTransport*>(m_pLink.get());
    if (pTls == nullptr)
        return strFirst;
    return strFirst + "\n" + TlsTip(pTls->Facts(), "server", std::time(nullptr));
}
