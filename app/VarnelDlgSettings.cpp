// CVarnelDlg: the settings file, read at start-up and written at each choice.
#include "app/VarnelDlg.h"
#include "app/platform/Profile.h"

#include <cstdio>
#include <cstring>

void CVarnelDlg::LoadSettings() {
    int nPort = GetPrivateProfileIntA("COM", "COM", 2, SETTINGS_FILE);
    m_cboPort.SetCurSel(nPort);

    int nBaud = GetPrivateProfileIntA("COM", "BaudRate", 5, SETTINGS_FILE);
    m_cboBaud.SetCurSel(nBaud);
    g_nBaudrate = BaudMap(nBaud);

    char szServerIP[16];
    GetPrivateProfileStringA("Socket", "ServerIP", "127.0.0.1", szServerIP, sizeof(szServerIP),
                             SETTINGS_FILE);
    m_ipServer.SetWindowText(szServerIP);

    char szPort[6];
    GetPrivateProfileStringA("Socket", "PORT", "8000", szPort, sizeof(szPort), SETTINGS_FILE);
    m_editPort.SetWindowText(szPort);
    m_strPort = szPort;

    m_chkHex.SetCheck(GetPrivateProfileIntA("SYSTEM", "HEX", 1, SETTINGS_FILE));
    m_chk0x.SetCheck(GetPrivateProfileIntA("SYSTEM", "0x", 0, SETTINGS_FILE));
    m_chkSingle.SetCheck(GetPrivateProfileIntA("SYSTEM", "Single", 0, SETTINGS_FILE));

    g_bReopen = GetPrivateProfileIntA("SYSTEM", "REOPEN", 1, SETTINGS_FILE) != 0 ? 1 : 0;

    // The network side's options are read whole and strictly: a value that is not one of the
    // listed ones is an error that opens nothing, never a guess that opens more than was asked.
    NetworkSettingTexts texts;
    texts.listen = GetPrivateProfileValue("Socket", "LISTEN", SETTINGS_FILE);
    texts.telnet = GetPrivateProfileValue("Socket", "TELNET", SETTINGS_FILE);
    texts.tls = GetPrivateProfileValue("Socket", "TLS", SETTINGS_FILE);
    texts.clients = GetPrivateProfileValue("Socket", "CLIENTS", SETTINGS_FILE);
    texts.takeover = GetPrivateProfileValue("Socket", "TAKEOVER", SETTINGS_FILE);
    texts.allow = GetPrivateProfileValue("Socket", "ALLOW", SETTINGS_FILE);
    texts.reconnect = GetPrivateProfileValue("SYSTEM", "RECONNECT", SETTINGS_FILE);
    texts.autoOpen = GetPrivateProfileValue("SYSTEM", "AUTOOPEN", SETTINGS_FILE);
    texts.fast = GetPrivateProfileValue("SYSTEM", "FAST", SETTINGS_FILE);
    texts.serverIp = GetPrivateProfileValue("Socket", "ServerIP", SETTINGS_FILE);
    texts.port = GetPrivateProfileValue("Socket", "PORT", SETTINGS_FILE);
    const NetworkSettings settings = ReadNetworkSettings(texts);
    m_strSettingsError = settings.error;
    m_settingsErrorKind = settings.errorKind;

    // The fast mode: the sides are waited on, the panes repainted and the log written at a pace.
    g_bFast = settings.fast ? 1 : 0;
    m_pacer.SetPaced(settings.fast);
    m_log.SetBatched(settings.fast);

    // Left alone: a drop the user did not ask for is retried, waits doubling up to RECONNECT
    // seconds; AUTOOPEN opens the link at start.
    SetReconnectBound(static_cast<int>(settings.reconnect));
    m_bAutoOpen = settings.autoOpen;

    // Listening for clients instead of connecting to a server: how many, who may, and whether a
    // newcomer takes the place of the quietest. The port box shows the port as written, so that
    // what is wrong with it can be seen.
    m_bListen = settings.listen;
    if (m_bListen && texts.port) {
        m_strPort = *texts.port;
        m_editPort.SetWindowText(texts.port->c_str());
    }
    // Telnet with the COM port option: the peer may set the line.
    m_bTelnet = settings.telnet;
    m_listenOptions.clients = settings.clients;
    m_listenOptions.takeover = settings.takeover;
    m_listenOptions.allow = settings.allow;
    m_strAllow = texts.allow.value_or("");

    LoadTlsSettings(settings.tls);
    if (!m_strSettingsError.empty())
        ShowSettingsError(); // told at once, not only when 打开 is pressed

    m_strComCount = "COM: 0";
    m_strTcpCount = "TCP: 0";
    UpdateData(false);
}

namespace {

// Writes an integer setting as "%d"; a failed write goes unnoticed and the window keeps the choice.
void WriteIntSetting(const char* pszSection, const char* pszKey, int nValue) {
    char szValue[16];
    std::snprintf(szValue, sizeof(szValue), "%d", nValue);
    WritePrivateProfileStringA(pszSection, pszKey, szValue, SETTINGS_FILE);
}

} // namespace

void CVarnelDlg::OnSelchangePort() {
    int nSel = m_cboPort.GetCurSel();
    std::memcpy(g_szComPort, PortMap(nSel), 4);
    WriteIntSetting("COM", "COM", m_cboPort.GetCurSel());
}

void CVarnelDlg::OnSelchangeBaud() {
    g_nBaudrate = BaudMap(m_cboBaud.GetCurSel());
    WriteIntSetting("COM", "BaudRate", m_cboBaud.GetCurSel());
}

void CVarnelDlg::OnCheckHex() {
    WriteIntSetting("SYSTEM", "HEX", m_chkHex.GetCheck());
}

void CVarnelDlg::OnCheck0x() {
    WriteIntSetting("SYSTEM", "0x", m_chk0x.GetCheck());
}

// RECONNECT's value: the longest wait in seconds (1 to 3600; anything else is off). The bytes
// last sent are kept only while something may have to be sent again; the menu item follows.
void CVarnelDlg::SetReconnectBound(int nSeconds) {
    m_plan =
        CReconnectPlan(nSeconds >= 1 && nSeconds <= 3600 ? static_cast<unsigned>(nSeconds) : 0u);
    m_backlog.KeepSent(m_plan.Enabled() ? SEND_BACKLOG_LIMIT : 0);
    if (CMenu* pSysMenu = GetSystemMenu(false))
        pSysMenu->CheckMenuItem(IDM_RECONNECT, m_plan.Enabled() ? MF_CHECKED : MF_UNCHECKED);
}

void CVarnelDlg::ToggleReconnect() {
    const bool bOn = !m_plan.Enabled();
    StopRetries();
    if (bOn) {
        NetworkSettingTexts texts;
        texts.reconnect = GetPrivateProfileValue("SYSTEM", "RECONNECT", SETTINGS_FILE);
        const NetworkSettings settings = ReadNetworkSettings(texts);
        SetReconnectBound(settings.error.empty() ? static_cast<int>(settings.reconnect) : 0);
    } else {
        SetReconnectBound(0);
    }
    if (bOn && !m_plan.Enabled())
        SetReconnectBound(30); // the file gives no bound
    WriteIntSetting("SYSTEM", "RECONNECT", static_cast<int>(m_plan.BoundSeconds()));
}

void CVarnelDlg::OnCheckSingle() {
    WriteIntSetting("SYSTEM", "Single", m_chkSingle.GetCheck());
}
