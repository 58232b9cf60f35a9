// CVarnelDlg with TLS (TLS=1 in section Socket of the settings file, files and names in section
// TLS): the settings are checked once at start-up, and a link with wrong ones opens nothing; the
// server's certificate is verified before any of the device's bytes go out, and a refusal is
// told like a failed connect, with exactly why in the tooltip.
#include "app/VarnelDlg.h"
#include "app/network/TlsText.h"
#include "app/network/TlsTransport.h"
#include "app/platform/Clock.h"
#include "app/platform/Profile.h"

#include <ctime>

namespace {

std::string TlsEntry(const char* pszKey) {
    char szValue[4096] = {};
    GetPrivateProfileStringA("TLS", pszKey, "", szValue, sizeof(szValue), SETTINGS_FILE);
    return szValue;
}

} // namespace

void CVarnelDlg::LoadTlsSettings() {
    m_tlsSettings = {};
    m_strTlsError.clear();
    m_tlsSettings.enabled = GetPrivateProfileIntA("Socket", "TLS", 0, SETTINGS_FILE) == 1;
    if (!m_tlsSettings.enabled)
        return;
    // Relative paths are taken from the settings file's folder, the current directory.
    m_tlsSettings.ca = TlsEntry("CA");
    m_tlsSettings.name = TlsEntry("NAME");
    m_tlsSettings.pins = TlsEntry("PIN");
    m_tlsSettings.cert = TlsEntry("CERT");
    m_tlsSettings.key = TlsEntry("KEY");
    // Every file is read now, so that what is wrong is told before anything connects.
    TlsConfigFor(m_bListen ? CTlsConfig::Role::server : CTlsConfig::Role::client, "0.0.0.0");
}

const std::string& CVarnelDlg::NetworkSettingsError() const {
    static const std::string kNone;
    if (!m_strTlsError.empty())
        return m_strTlsError;
    return m_bListen ? m_strListenError : kNone;
}

std::shared_ptr<const CTlsConfig> CVarnelDlg::TlsConfigFor(CTlsConfig::Role role,
                                                           const std::string& strIP) {
    if (!m_tlsSettings.enabled)
        return nullptr;
    std::string strError;
    std::shared_ptr<const CTlsConfig> pConfig =
        CTlsConfig::Make(m_tlsSettings, role, strIP, &strError);
    if (!pConfig)
        m_strTlsError = strError;
    return pConfig;
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
    while (stage == CTransport::Stage::handshake && GetTickCount64() < nDeadline) {
        sock::select(link.Socket(), 0, 50000);
        stage = link.Handshake();
    }
    if (stage == CTransport::Stage::ready)
        return true;
    auto& tls = static_cast<CTlsTransport&>(link);
    if (stage == CTransport::Stage::handshake)
        tls.TimedOut();
    m_strNetStatus = TlsStatusText(tls.FailureFacts());
    SetStatusTip(*this, IDC_STATIC_NETSTATUS,
                 m_strServerIP + ":" + std::to_string(m_nServerPort) + ": " + tls.Failure());
    UpdateData(false);
    return false;
}

std::string CVarnelDlg::ServerTip() const {
    const auto* pTls = dynamic_cast<const CTlsTransport*>(m_pLink.get());
    if (pTls == nullptr)
        return m_strServer;
    return m_strServer + "\n" + TlsTip(pTls->Facts(), "server", std::time(nullptr));
}
