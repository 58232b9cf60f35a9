// CVarnelDlg: the settings file, read at start-up and written at each choice.
#include "app/VarnelDlg.h"
#include "app/linkerrors/Wording.h"
#include "app/platform/Profile.h"

#include <cstdio>
#include <cstring>

void CVarnelDlg::LoadSettings() {
    int nPort = GetPrivateProfileIntA("COM", "COM", 2, SETTINGS_FILE);
    m_cboPort.SetCurSel(nPort);

    int nBaud = GetPrivateProfileIntA("COM", "BaudRate", 5, SETTINGS_FILE);
    m_cboBaud.SetCurSel(nBaud);
    g_nBaudrate = BaudMap(nBaud);
    LoadLineSettings();

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
    const NetworkSettingTexts texts = NetworkSettingTextsOfFile();
    const NetworkSettings settings = ReadNetworkSettings(texts);
    m_strSettingsError = settings.error;
    m_settingsErrorKind = settings.errorKind;

    // The fast mode: the sides are waited on, the panes repainted and the log written at a pace.
    g_bFast = settings.fast ? 1 : 0;
    m_pacer.SetPaced(settings.fast);
    m_log.SetBatched(settings.fast);
    // The traffic log: LOG=0 writes none; LOGDAYS=N keeps N days of logs and events files.
    m_log.SetEnabled(GetPrivateProfileIntA("SYSTEM", "LOG", 1, SETTINGS_FILE) != 0);
    m_nLogDays = GetPrivateProfileIntA("SYSTEM", "LOGDAYS", 0, SETTINGS_FILE);
    m_strLogDay.clear();
    KeepLogDays();

    // Left alone: a drop the user did not ask for is retried, waits doubling up to RECONNECT
    // seconds; AUTOOPEN opens the link at start.
    SetReconnectBound(static_cast<int>(settings.reconnect));
    m_bAutoOpen = settings.autoOpen;

    // Listening for clients instead of connecting to a server: how many, who may, and whether a
    // newcomer takes the place of the quietest. The port box shows the port as written, so that
    // what is wrong with it can be seen. Telnet with the COM port option: the peer may set the
    // line. The kind of network side is chosen here, once; one that is up stays as it is (only
    // the serial half's settings changed then).
    if (settings.listen && texts.port) {
        m_strPort = *texts.port;
        m_editPort.SetWindowText(texts.port->c_str());
    }
    // Listening, the address is one of this machine's, not a server's.
    if (CWnd* pLabel = GetDlgItem(IDC_STATIC_ADDRESS); pLabel != nullptr && settings.listen)
        pLabel->SetWindowText("本机IP");
    if (!m_pNetwork->Up()) {
        NetworkSideSettings side;
        side.listen = settings.listen;
        side.fast = settings.fast;
        side.telnet = settings.telnet;
        side.clientCounters = m_bClientCounters;
        side.tls = TlsSettingsOfFile(settings.tls);
        side.clients.clients = settings.clients;
        side.clients.takeover = settings.takeover;
        side.clients.allow = settings.allow;
        side.allow = texts.allow.value_or("");
        m_pNetwork = CNetworkSide::Make(*m_pHost, side, {g_sock, g_bTcpConnected});
    }
    m_pNetwork->KeepSent(m_plan.Enabled());
    if (!m_strSettingsError.empty())
        ShowSettingsError(); // told at once, not only when 打开 is pressed

    m_strComCount = "COM: 0";
    m_strTcpCount = "TCP: 0";
    UpdateData(false);
}

namespace {

std::string ComEntry(const char* pszKey) {
    char szValue[64] = {};
    GetPrivateProfileStringA("COM", pszKey, "", szValue, sizeof(szValue), SETTINGS_FILE);
    return szValue;
}

} // namespace

// The line beyond the list: RATE over BaudRate's index (the baud box then shows it), FORMAT and
// FLOW. A value that is none of these is a settings error that keeps the port closed; RATE's
// goes once the user types a rate or chooses one from the list.
void CVarnelDlg::LoadLineSettings() {
    const PortLineKeys keys{ComEntry("RATE"), ComEntry("FORMAT"), ComEntry("FLOW")};
    PortLine line;
    line.baud = g_nBaudrate;
    m_strRateError = ApplyPortLineKeys({keys.rate, "", ""}, line);
    m_strLineError = ApplyPortLineKeys({"", keys.format, keys.flow}, line);
    m_lineFormat = line;
    if (!keys.rate.empty() && m_strRateError.empty()) {
        g_nBaudrate = line.baud;
        m_cboBaud.SetWindowText(std::to_string(line.baud));
    }
    m_strBaudShown = m_cboBaud.GetWindowText();
}

std::string CVarnelDlg::SerialSettingsError() const {
    if (m_strRateError.empty() || m_strLineError.empty())
        return m_strRateError + m_strLineError;
    return m_strRateError + "\n" + m_strLineError;
}

PortLine CVarnelDlg::ConfiguredPortLine() const {
    PortLine line = m_lineFormat;
    line.baud = g_nBaudrate;
    return line;
}

// The network side's values as the file has them, each whole.
NetworkSettingTexts NetworkSettingTextsOfFile() {
    NetworkSettingTexts texts;
    texts.file = linkerrors::SettingsFileName();
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
    return texts;
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

// A rate from the list is the list's again: RATE goes.
void CVarnelDlg::OnSelchangeBaud() {
    g_nBaudrate = BaudMap(m_cboBaud.GetCurSel());
    WriteIntSetting("COM", "BaudRate", m_cboBaud.GetCurSel());
    WritePrivateProfileStringA("COM", "RATE", nullptr, SETTINGS_FILE);
    m_strRateError.clear();
    m_cboBaud.GetLBText(m_cboBaud.GetCurSel(), m_strBaudShown);
}

// A text typed into the baud box is the rate once 打开 confirms it, and is kept as RATE; one that
// is no rate keeps the port closed.
std::string CVarnelDlg::TakeLineSettings() {
    const std::string strText = m_cboBaud.GetWindowText();
    if (strText != m_strBaudShown) {
        std::uint32_t nRate = 0;
        if (!ParseRate(strText, nRate))
            return DescribeTypedRateError(strText);
        g_nBaudrate = nRate;
        WriteIntSetting("COM", "RATE", static_cast<int>(nRate));
        m_strRateError.clear();
        m_strBaudShown = strText;
    }
    return SerialSettingsError();
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
    m_pNetwork->KeepSent(m_plan.Enabled());
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

TlsSettings TlsSettingsOfFile(bool bEnabled) {
    TlsSettings tls;
    tls.enabled = bEnabled;
    if (!bEnabled)
        return tls;
    // Whole, however long: a path or a list of pins cut short would name something else.
    // Relative paths are taken from the settings file's folder, the current directory.
    const auto entry = [](const char* pszKey) {
        return GetPrivateProfileValue("TLS", pszKey, SETTINGS_FILE).value_or("");
    };
    tls.ca = entry("CA");
    tls.name = entry("NAME");
    tls.pins = entry("PIN");
    tls.cert = entry("CERT");
    tls.key = entry("KEY");
    return tls;
}
