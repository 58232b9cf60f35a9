// CVarnelDlg's TLS settings (TLS=1 in section Socket of the settings file, files and names in
// section TLS): checked once at start-up, so that a link with wrong ones opens nothing and says
// why; read again for each connection or listener, so that a renewed certificate is taken.
#include "app/VarnelDlg.h"
#include "app/platform/Profile.h"

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
    // The files are read at each open: one that was away and is back again works again.
    m_strTlsError = pConfig ? std::string() : strError;
    return pConfig;
}

void CVarnelDlg::ShowTlsSettingsError() {
    m_strNetStatus = "加密参数错误";
    SetStatusTip(*this, IDC_STATIC_NETSTATUS, m_strTlsError);
    UpdateData(false);
}
