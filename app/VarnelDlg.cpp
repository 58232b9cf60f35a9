#include "app/VarnelDlg.h"

#include "app/bridge/TrafficText.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/network/Address.h"
#include "app/platform/Clock.h"
#include "app/platform/Profile.h"
#include "serial/Ports.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

char g_szComPort[8] = "COM3";
std::uint32_t g_nBaudrate = 115200;
BYTE g_bReopen = 1;
BYTE g_bFast = 0;
sock::SOCKET g_sock = sock::INVALID_SOCKET;
BYTE g_bTcpConnected = 0;
std::int64_t g_nComBytes = 0;
std::int64_t g_nTcpBytes = 0;
CSerial g_serial;

static_assert(CSerialBurstRead::BUFFER_SIZE == RECV_BUFFER_SIZE, "a burst is one block at most");

// ---------------------------------------------------------------------------------------------
// CVarnelDlg

namespace {

// The device that section "Ports" of the settings file names for a port, or empty.
std::string PortsEntry(const std::string& strName) {
    char szPath[4096] = {};
    GetPrivateProfileStringA("Ports", strName.c_str(), "", szPath, sizeof(szPath), SETTINGS_FILE);
    return szPath;
}

} // namespace

CVarnelDlg::CVarnelDlg(CWnd* pParent)
    : CDialog(IDD, pParent), m_pHost(MakeSideHost()),
      m_pNetwork(CNetworkSide::Make(*m_pHost, {}, {g_sock, g_bTcpConnected})) {
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
    // The serial layer looks port names up in the settings file's own map first.
    comm::SetPortMap(PortsEntry);
}

CVarnelDlg::~CVarnelDlg() {
    // The port outlives the window: a read still pending on it ends with the window.
    StopSerialWatch();
    m_pNetwork.reset(); // before what it was handed
}

void CVarnelDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_CHECK_0X, m_chk0x);
    DDX_Control(pDX, IDC_CHECK_SINGLE, m_chkSingle);
    DDX_Control(pDX, IDC_EDIT_PORT, m_editPort);
    DDX_Control(pDX, IDC_IPADDRESS_SERVER, m_ipServer);
    DDX_Control(pDX, IDC_CHECK_HEX, m_chkHex);
    DDX_Control(pDX, IDC_EDIT_COMDATA, m_editComData);
    DDX_Control(pDX, IDC_EDIT_TCPDATA, m_editTcpData);
    DDX_Control(pDX, IDC_COMBO_PORT, m_cboPort);
    DDX_Control(pDX, IDC_COMBO_BAUD, m_cboBaud);
    DDX_Control(pDX, IDC_BUTTON_OPEN, m_btnOpen);
    DDX_Text(pDX, IDC_STATIC_COMSTATUS, m_strComStatus);
    DDX_Text(pDX, IDC_EDIT_TCPDATA, m_strTcpData);
    DDX_Text(pDX, IDC_EDIT_COMDATA, m_strComData);
    DDX_Text(pDX, IDC_STATIC_COMCOUNT, m_strComCount);
    DDX_Text(pDX, IDC_EDIT_PORT, m_strPort);
    DDX_Text(pDX, IDC_STATIC_NETSTATUS, m_strNetStatus);
    DDX_Text(pDX, IDC_STATIC_TCPCOUNT, m_strTcpCount);
}

BEGIN_MESSAGE_MAP(CVarnelDlg, CDialog)
ON_CBN_SELCHANGE(IDC_COMBO_PORT, OnSelchangePort)
ON_CBN_SELCHANGE(IDC_COMBO_BAUD, OnSelchangeBaud)
ON_BN_CLICKED(IDC_BUTTON_OPEN, ToggleLink)
ON_BN_CLICKED(IDC_BUTTON_CLEAR, OnButtonClear)
ON_BN_CLICKED(IDC_CHECK_HEX, OnCheckHex)
ON_BN_CLICKED(IDC_CHECK_0X, OnCheck0x)
ON_BN_CLICKED(IDC_CHECK_SINGLE, OnCheckSingle)
END_MESSAGE_MAP()

bool CVarnelDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // Add "About..." to the system menu.
    CMenu* pSysMenu = GetSystemMenu(false);
    if (pSysMenu != nullptr) {
        std::string strAboutMenu = AfxLoadString(IDS_ABOUTBOX);
        // Reconnection can be switched on and off without editing the settings file.
        pSysMenu->AppendMenu(MF_SEPARATOR);
        pSysMenu->AppendMenu(MF_STRING, IDM_RECONNECT, "自动重连");
        if (!strAboutMenu.empty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu.c_str());
        }
    }

    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    LoadSettings();
    // Once the window is up, the link opens by itself if the settings ask for it.
    if (m_bAutoOpen)
        SetOneShotTimer(TIMER_AUTOOPEN, 1);
    return true;
}

void CVarnelDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else if ((nID & 0xFFF0) == IDM_RECONNECT) {
        ToggleReconnect();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void CVarnelDlg::OnOK() {
    CDialog::OnOK();
}

void CVarnelDlg::OnCancel() {
    if (MessageBox("        确定要退出？", nullptr, MB_YESNOCANCEL) == IDYES)
        CDialog::OnCancel();
}

void CVarnelDlg::OnTimer(UINT_PTR nIDEvent) {
    // What each of the window's own timers is for; the rest are the network side's.
    static constexpr std::pair<UINT_PTR, void (CVarnelDlg::*)()> kTimers[] = {
        {TIMER_COM, &CVarnelDlg::SerialPoll},    {TIMER_PUSH, &CVarnelDlg::OnPushPeriod},
        {TIMER_RETRY, &CVarnelDlg::OnRetryTick}, {TIMER_SERIAL_LOST, &CVarnelDlg::OnSerialLost},
        {TIMER_DEVICE, &CVarnelDlg::PumpDevice},
    };
    for (const auto& [nID, pHandler] : kTimers)
        if (nID == nIDEvent)
            (this->*pHandler)();
    if (nIDEvent == TIMER_MODEM)
        m_pNetwork->SendModemNews();
    m_pNetwork->OnTimer(nIDEvent); // its poll and the server's quiet gap
    if (nIDEvent == TIMER_AUTOOPEN && !LinkIsOpen())
        ToggleLink();
    CDialog::OnTimer(nIDEvent);
}

void CVarnelDlg::OnWatch(UINT_PTR nID) {
    if (nID == WATCH_COM)
        OnSerialBurst();
    else if (nID == WATCH_DEVICE)
        PumpDevice();
    else
        m_pNetwork->OnWatch(nID);
}

// ---------------------------------------------------------------------------------------------
// Link control

// The tooltip of a status line: why the last attempt failed, or where the link leads.
void SetStatusTip(CDialog& dlg, int nID, const std::string& strTip) {
    if (CWnd* pWnd = dlg.GetDlgItem(nID))
        pWnd->SetToolTipText(strTip);
}

std::string DevicePathOf(const char* pszPort) {
    std::string strPath;
    comm::ResolvePortName(pszPort, strPath);
    return strPath;
}

bool CVarnelDlg::LinkIsOpen() {
    std::string strCaption;
    m_btnOpen.GetWindowText(strCaption);
    return strCaption.rfind("关闭", 0) == 0;
}

void CVarnelDlg::ToggleLink() {
    if (m_plan.Enabled()) {
        ToggleRetriedLink();
        return;
    }
    bool bTcpFailed = ToggleTcp();
    if (m_chkSingle.GetCheck() == BST_CHECKED) {
        ToggleSerial();
        return;
    }
    if (bTcpFailed)
        return;
    if (ToggleSerial())
        ToggleTcp();
}

bool CVarnelDlg::ToggleSerial() {
    if (LinkIsOpen()) {
        m_cboPort.EnableWindow(true);
        m_cboBaud.EnableWindow(true);
        m_btnOpen.SetWindowText("打开");
        CloseSerialSide();
        return false;
    }
    if (!OpenSerialSide())
        return true;
    ShowSerialSideWanted();
    return false;
}

void CVarnelDlg::ShowSerialSideWanted() {
    m_cboPort.EnableWindow(false);
    m_cboBaud.EnableWindow(false);
    m_btnOpen.SetWindowText("关闭");
}

void CVarnelDlg::ShowNetworkSideWanted() {
    m_ipServer.EnableWindow(false);
    m_editPort.EnableWindow(false);
}

// Opens the network side at the address and port the boxes show, or closes it. The file keeps
// what was asked for; a listening port that does not parse is not written, so that the address the
// box made of a text that did not parse is never listened at by the next start.
bool CVarnelDlg::ToggleTcp() {
    std::string strCaption;
    m_btnOpen.GetWindowText(strCaption);
    if (m_pNetwork->Up() || (!m_pNetwork->Listens() && strCaption != "打开")) {
        m_ipServer.EnableWindow(true);
        m_editPort.EnableWindow(true);
        m_pNetwork->Close(false);
        return false;
    }
    // Wrong settings open nothing: not in clear text for a TLS that was meant, nor out for a
    // listener that was meant.
    if (!m_strSettingsError.empty()) {
        ShowSettingsError();
        return true;
    }
    DWORD dwAddress = 0;
    m_ipServer.GetAddress(dwAddress);
    const std::string strIP = Ipv4Text(dwAddress);
    m_editPort.GetWindowText(m_strPort);
    if (!m_pNetwork->Listens() || ParseListenPort(m_strPort.Str())) {
        WritePrivateProfileStringA("Socket", "ServerIP", strIP.c_str(), SETTINGS_FILE);
        WritePrivateProfileStringA("Socket", "PORT", m_strPort.c_str(), SETTINGS_FILE);
    }
    if (!m_pNetwork->Listens())
        UpdateData(false);
    if (!m_pNetwork->Open(strIP, m_strPort.Str()))
        return true;
    ShowNetworkSideWanted();
    return false;
}

const std::string& CVarnelDlg::NetworkSettingsError() const {
    return !m_strSettingsError.empty() ? m_strSettingsError : m_pNetwork->TlsError();
}

// The settings error on the network status line, with its words in the tooltip.
void CVarnelDlg::ShowSettingsError() {
    if (m_strSettingsError.empty()) {
        m_pNetwork->ShowTlsError();
        return;
    }
    m_strNetStatus =
        m_settingsErrorKind == SettingsErrorKind::tls ? "加密参数错误" : "监听参数错误";
    SetStatusTip(*this, IDC_STATIC_NETSTATUS, m_strSettingsError);
    UpdateData(false);
}
