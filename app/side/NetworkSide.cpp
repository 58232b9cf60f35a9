// What both kinds of network side share: the choice between them, the peers' reading held while
// the device is full, TLS settings read at each open, and the Telnet doubling of the data.
#include "app/side/NetworkSide.h"

#include "app/side/ListenSide.h"
#include "app/side/ServerSide.h"

std::unique_ptr<CNetworkSide>
CNetworkSide::Make(CSideHost& host, const NetworkSideSettings& settings, ServerLinkState state) {
    if (settings.listen)
        return std::make_unique<CListenSide>(host, settings);
    return std::make_unique<CServerSide>(host, settings, state);
}

CNetworkSide::CNetworkSide(CSideHost& host, const NetworkSideSettings& settings)
    : m_host(host), m_settings(settings) {
    // Every file is read now, so that what is wrong is told before anything opens.
    TlsConfigFor(Listens() ? CTlsConfig::Role::server : CTlsConfig::Role::client, "0.0.0.0");
}

bool CNetworkSide::HoldForServer(const char*, std::size_t nLength, std::size_t& nWire) {
    nWire = nLength;
    return false;
}

void CNetworkSide::HoldReading() {
    if (m_bHeld)
        return;
    m_bHeld = true;
    StopWatching();
}

void CNetworkSide::ResumeReading() {
    m_bHeld = false;
    if (m_settings.fast)
        WatchAgain();
}

void CNetworkSide::Drop(std::size_t& nResent, std::size_t& nLost) {
    nResent = nLost = 0;
    Close(true);
}

void CNetworkSide::ShowTlsError() {
    m_host.ShowNetworkStatus("加密参数错误", m_strTlsError);
}

std::string CNetworkSide::ToNetwork(const char* pBuffer, std::size_t nLength) const {
    const std::string_view data(pBuffer, nLength);
    return m_settings.telnet ? CComPortSession::ToWire(data) : std::string(data);
}

std::shared_ptr<const CTlsConfig> CNetworkSide::TlsConfigFor(CTlsConfig::Role role,
                                                             const std::string& strIP) {
    if (!m_settings.tls.enabled)
        return nullptr;
    std::string strError;
    std::shared_ptr<const CTlsConfig> pConfig =
        CTlsConfig::Make(m_settings.tls, role, strIP, &strError);
    // The files are read at each open: one that was away and is back again works again.
    m_strTlsError = pConfig ? std::string() : strError;
    return pConfig;
}
