// The network side in the client mode: one connection to the server. The connect on the button's
// path, the transport over it (plain, or TLS whose handshake verifies the server before any of the
// device's bytes go out), the backlog of what the server has not taken and the resend of what it
// had not acknowledged, a connect that does not block for each retry, the server's Telnet
// session, and in the fast mode the server's bursts gathered until it has been quiet.
#pragma once

#include "app/network/Transport.h"
#include "app/side/NetworkSide.h"

class CServerSide final : public CNetworkSide {
public:
    CServerSide(CSideHost& host, const NetworkSideSettings& settings, ServerLinkState state);
    ~CServerSide() override;

    bool Open(const std::string& strIP, const std::string& strPort) override;
    void Close(bool bKeepBacklog) override;
    bool Up() const override { return m_state.connected != 0; }
    void Poll() override;
    void OnWatch(LinkTimerId nID) override;
    void OnTimer(LinkTimerId nID) override;
    Sent FromDevice(const char* pBuffer, std::size_t nLength) override;
    bool HoldForServer(const char* pBuffer, std::size_t nLength, std::size_t& nWire) override;
    void ResumeWaitingSessions() override;
    bool SessionsWait() const override;
    void SendModemNews() override;
    void FlushFor(unsigned nMs) override;
    void Drop(std::size_t& nResent, std::size_t& nLost) override;
    Attempt Retry(std::uint64_t nNow, bool bDue, std::string& strWhy) override;
    void StopRetry() override;
    void KeepSent(bool bKeep) override;
    CSendBacklog* Backlog() override { return &m_backlog; }

private:
    void StopWatching() override;
    void WatchAgain() override;
    // The connection is made and its transport ready (by the button or a retry).
    void SideUp();
    std::unique_ptr<CTransport> NewTransport(sock::SOCKET s);
    // The handshake on the button's path: true when it is done; otherwise the status says why.
    bool ShakeHands(CTransport& link);
    bool RetryHandshakeDone(std::uint64_t nNow, std::string& strWhy);
    void GiveUpConnect();
    std::string Tip() const;
    std::string Where() const;
    // A block of the server: Telnet's data and commands, or the bytes as they came.
    void ForwardBlock(const char* pBuffer, int nLength);
    // Replies and modem news for the server; a full backlog means the server stalled.
    void SendToServer(const std::string& strBytes);
    // Fast mode: the server's burst, read until it has been quiet for TCP_QUIET_MS.
    void GatherBurst();
    void OnQuiet();
    void ForwardBurst();
    void WatchBacklog();
    void OnWritable();
    void StopNetworkWatch();

    ServerLinkState m_state;
    CSendBacklog m_backlog;              // bytes from the device the server has not taken yet
    std::unique_ptr<CTransport> m_pLink; // the connection's transport (plain or TLS, over sock)
    std::shared_ptr<CComPortSession> m_pSession;
    std::string m_strServer;          // address and port of the current connection
    std::size_t m_nUndelivered = 0;   // bytes the backlog had to refuse since the connect
    bool m_bBlockFull = false;        // the last receive filled the whole buffer
    std::uint64_t m_nConnections = 0; // connections made since start-up
    sock::sockaddr_in m_addr{};       // where the last connect went, and a retry goes
    std::string m_strIP;
    std::uint16_t m_nPort = 0;
    // A connect under way for a retry, its transport once connected, and when it is given up.
    sock::SOCKET m_sockConnecting = sock::INVALID_SOCKET;
    std::unique_ptr<CTransport> m_pConnecting;
    std::uint64_t m_nConnectDeadline = 0;
    // Fast mode: the server's burst so far.
    char m_burst[RECV_BUFFER_SIZE] = {};
    int m_nBurst = 0;
};

// The decimal value of the port field's text, kept to its low 16 bits.
std::uint16_t PortNumber(const std::string& strPort);
