// CVarnelDlg: what the program without a window asks of the main window, through the same paths
// as the 打开 and 关闭 button: the link opened at start and closed at the end, a link down for
// good, and a settings file read again while the link runs.
#include "app/VarnelDlg.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/platform/Clock.h"
#include "app/platform/Profile.h"

#include <algorithm>

namespace {

// A value of the settings file as it is, told apart from a missing one.
std::string Entry(const char* pszSection, const char* pszKey) {
    char szValue[8192] = {};
    GetPrivateProfileStringA(pszSection, pszKey, "\x01", szValue, sizeof(szValue), SETTINGS_FILE);
    return std::string(pszKey) + "=" + szValue + "\n";
}

} // namespace

SettingsPrint ReadSettingsPrint() {
    SettingsPrint print;
    for (const char* pszKey : {"COM", "BaudRate", "RATE", "FORMAT", "FLOW"})
        print.serial += Entry("COM", pszKey);
    print.serial += Entry("Ports", PortMap(GetPrivateProfileIntA("COM", "COM", 2, SETTINGS_FILE)));
    for (const char* pszKey :
         {"ServerIP", "PORT", "LISTEN", "TELNET", "CLIENTS", "TAKEOVER", "ALLOW", "TLS"})
        print.network += Entry("Socket", pszKey);
    for (const char* pszKey : {"CA", "NAME", "PIN", "CERT", "KEY"})
        print.network += Entry("TLS", pszKey);
    for (const char* pszKey : {"FAST", "Single", "REOPEN", "RECONNECT", "AUTOOPEN"})
        print.link += Entry("SYSTEM", pszKey);
    return print;
}

bool CVarnelDlg::OpenLinkAtStart() {
    if (!LinkIsOpen())
        ToggleLink();
    return LinkIsOpen();
}

bool CVarnelDlg::ReconnectsByItself() const {
    return m_plan.Enabled() && NetworkSettingsError().empty() && SerialSettingsError().empty();
}

void CVarnelDlg::CloseLinkForExit(UINT nFlushMs) {
    m_pNetwork->FlushFor(nFlushMs);
    if (LinkIsOpen())
        ToggleLink();
}

bool CVarnelDlg::LinkDownForGood() {
    return !m_plan.Enabled() && (!LinkIsOpen() || m_bComDeviceGone);
}

std::string CVarnelDlg::CheckNetworkSettings() const {
    const NetworkSettings settings = ReadNetworkSettings(NetworkSettingTextsOfFile());
    if (!settings.error.empty())
        return settings.error;
    if (!settings.tls)
        return {};
    std::string strError;
    if (!CTlsConfig::Make(TlsSettingsOfFile(true),
                          settings.listen ? CTlsConfig::Role::server : CTlsConfig::Role::client,
                          "0.0.0.0", &strError))
        return strError;
    return {};
}

void CVarnelDlg::ReopenSides(bool bSerial, bool bNetwork, UINT nFlushMs) {
    using Plan = CReconnectPlan;
    // What changes no side: how blocks are written, and whether and how long logs are kept.
    m_chkHex.SetCheck(GetPrivateProfileIntA("SYSTEM", "HEX", 1, SETTINGS_FILE));
    m_chk0x.SetCheck(GetPrivateProfileIntA("SYSTEM", "0x", 0, SETTINGS_FILE));
    m_log.SetEnabled(GetPrivateProfileIntA("SYSTEM", "LOG", 1, SETTINGS_FILE) != 0);
    m_nLogDays = GetPrivateProfileIntA("SYSTEM", "LOGDAYS", 0, SETTINGS_FILE);
    m_strLogDay.clear();
    KeepLogDays();
    if (!bSerial && !bNetwork)
        return;
    m_strSettingsError.clear(); // found again by the reading below
    // A side under retry, or both sides: the whole link closes and opens on the new settings.
    if (!LinkIsOpen() || (bSerial && bNetwork) || m_plan.Retrying(Plan::SERIAL) ||
        m_plan.Retrying(Plan::NETWORK)) {
        const bool bWasOpen = LinkIsOpen();
        CloseLinkForExit(nFlushMs);
        LoadSettings();
        if (bWasOpen)
            OpenLinkAtStart();
        return;
    }
    const auto failed = [this](int nSide, int nID) {
        if (m_plan.Enabled()) {
            const CWnd* pStatus = GetDlgItem(nID);
            BeginOutage(nSide, pStatus != nullptr ? pStatus->GetToolTipText() : "",
                        Plan::End::openFailed);
            return;
        }
        // Without RECONNECT a side that does not open takes the other down, as at the button.
        if (nSide == Plan::NETWORK)
            ToggleSerial();
        else
            ToggleTcp();
    };
    if (bNetwork) {
        m_pNetwork->FlushFor(nFlushMs);
        ToggleTcp();
        LoadSettings();
        m_btnOpen.SetWindowText("打开"); // the network side opens as at the button
        const bool bFailed = ToggleTcp();
        ShowSerialSideWanted();
        if (bFailed) {
            ShowNetworkSideWanted();
            failed(Plan::NETWORK, IDC_STATIC_NETSTATUS);
        }
        return;
    }
    ToggleSerial();
    LoadSettings();
    if (ToggleSerial()) {
        ShowSerialSideWanted();
        failed(Plan::SERIAL, IDC_STATIC_COMSTATUS);
    }
}

void CVarnelDlg::ShowClientCounters(bool bShow) {
    m_bClientCounters = bShow;
    m_pNetwork->ShowClientCounters(bShow);
}
