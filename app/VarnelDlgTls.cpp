// CVarnelDlg's TLS settings (TLS=1 in section Socket of the settings file, files and names in
// section TLS): checked once at start-up, so that a link with wrong ones opens nothing and says
// why; read again for each connection or listener, so that a renewed certificate is taken.
#include "app/VarnelDlg.h"
#include "app/platform/Profile.h"

namespace {

// Whole, however long: a path or a list of pins cut short would name something else.
std::string TlsEntry(const char* pszKey) {
    return GetPrivateProfileValue("TLS", pszKey, SETTINGS_FILE).value_or("");
}

} // namespace

void CVarnelDlg::LoadTlsSettings(bool bEnabled) {
    m_tlsSettings = {};
    m_strTlsError.clear();
    m_tlsSettings.enabled = bEnabled;
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
    return !m_strSettingsError.empty() ? m_strSettingsError : m_strTlsError;
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

void CVarnelDlg::ShowSettingsError() {
    if (m_strSettingsError.empty()) {
        ShowTlsSettingsError();
        return;
    }
    m_strNetStatus =
        m_settingsErrorKind == SettingsErrorKind::tls ? "加密参数错误" : "监听参数错误";
    SetStatusTip(*this, IDC_STATIC_NETSTATUS, m_strSettingsError);
    UpdateData(false);
}

void CVarnelDlg::ShowTlsSettingsError() {
    m_strNetStatus = "加密参数错误";
    SetStatusTip(*this, IDC_STATIC_NETSTATUS, m_strTlsError);
    UpdateData(false);
}
