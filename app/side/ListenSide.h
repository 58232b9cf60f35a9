// The network side listening for clients (LISTEN in the settings file): a listener at
// ServerIP:PORT and the clients it serves, each with its own Telnet session when TELNET asks for
// one. Every block of the device goes to every client; every block of a client goes to the device
// whole, as it came, with no byte left out. The clients' bookkeeping is CClientSet's; here it is
// opened, closed and polled, and what happens to the clients is told.
#pragma once

#include "app/network/RefusalGate.h"
#include "app/side/NetworkSide.h"

#include <map>
#include <vector>

class CListenSide final : public CNetworkSide {
public:
    CListenSide(CSideHost& host, const NetworkSideSettings& settings);
    ~CListenSide() override;

    bool Open(const std::string& strIP, const std::string& strPort) override;
    void Close(bool bKeepBacklog) override;
    bool Up() const override { return m_pClients != nullptr; }
    void Poll() override;
    void OnWatch(LinkTimerId nID) override;
    void OnTimer(LinkTimerId nID) override;
    Sent FromDevice(const char* pBuffer, std::size_t nLength) override;
    void TellNews() override;
    void ResumeWaitingSessions() override;
    bool SessionsWait() const override;
    void SendModemNews() override;
    void FlushFor(unsigned nMs) override;
    Attempt Retry(std::uint64_t nNow, bool bDue, std::string& strWhy) override;

private:
    void StopWatching() override;
    void WatchAgain() override;
    void WatchClients();

    std::unique_ptr<CClientSet> m_pClients;
    std::string m_strIP, m_strPort; // where it listens, as the open was asked
    std::string m_strListenAt;      // "ip:port" while listening
    std::vector<sock::SOCKET> m_watchedClients;
    CRefusalGate m_refusalGate;
    // Shared, so that whoever handles a session's bytes holds it for as long as that takes, even
    // when the client goes meanwhile.
    std::map<ClientId, std::shared_ptr<CComPortSession>> m_sessions;
};
