#include "app/VarnelDlg.h"

#include "app/platform/Profile.h"

#include <cstdio>
#include <cstring>

char g_szComPort[8] = "COM3";
std::uint32_t g_nBaudrate = 115200;
BYTE g_bReopen = 1;
sock::SOCKET g_sock = sock::INVALID_SOCKET;
BYTE g_bTcpConnected = 0;
std::int64_t g_nComBytes = 0;
std::int64_t g_nTcpBytes = 0;

const char* PortMap(int nIndex) {
    static const char* const kPorts[] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7"};
    if (nIndex < 0 || nIndex >= static_cast<int>(std::size(kPorts)))
        return "COM3";
    return kPorts[nIndex];
}

std::uint32_t BaudMap(int nIndex) {
    static const std::uint32_t kRates[] = {300, 1200, 9600, 38400, 57600, 115200};
    if (nIndex < 0 || nIndex >= static_cast<int>(std::size(kRates)))
        return 115200;
    return kRates[nIndex];
}

// ---------------------------------------------------------------------------------------------
// CAboutDlg

CAboutDlg::CAboutDlg() : CDialog(IDD) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
END_MESSAGE_MAP()

// ---------------------------------------------------------------------------------------------
// CVarnelDlg

CVarnelDlg::CVarnelDlg(CWnd* pParent) : CDialog(IDD, pParent) {
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
}

CVarnelDlg::~CVarnelDlg() = default;

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
        if (!strAboutMenu.empty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, strAboutMenu.c_str());
        }
    }

    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    LoadSettings();
    return true;
}

void CVarnelDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
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
    // The poll of both halves of the link comes with the link control.
    CDialog::OnTimer(nIDEvent);
}

void CVarnelDlg::ToggleLink() {
    // Opening and closing the serial port and the TCP client comes with the link control.
}

// ---------------------------------------------------------------------------------------------
// Settings

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

    m_strComCount = "COM: 0";
    m_strTcpCount = "TCP: 0";
    UpdateData(false);
}

void CVarnelDlg::OnSelchangePort() {
    int nSel = m_cboPort.GetCurSel();
    std::memcpy(g_szComPort, PortMap(nSel), 4);

    char szValue[16];
    std::snprintf(szValue, sizeof(szValue), "%d", m_cboPort.GetCurSel());
    WritePrivateProfileStringA("COM", "COM", szValue, SETTINGS_FILE);
}

void CVarnelDlg::OnSelchangeBaud() {
    g_nBaudrate = BaudMap(m_cboBaud.GetCurSel());

    char szValue[16];
    std::snprintf(szValue, sizeof(szValue), "%d", m_cboBaud.GetCurSel());
    WritePrivateProfileStringA("COM", "BaudRate", szValue, SETTINGS_FILE);
}

void CVarnelDlg::OnCheckHex() {
    char szValue[16];
    std::snprintf(szValue, sizeof(szValue), "%d", m_chkHex.GetCheck());
    WritePrivateProfileStringA("SYSTEM", "HEX", szValue, SETTINGS_FILE);
}

void CVarnelDlg::OnCheck0x() {
    char szValue[16];
    std::snprintf(szValue, sizeof(szValue), "%d", m_chk0x.GetCheck());
    WritePrivateProfileStringA("SYSTEM", "0x", szValue, SETTINGS_FILE);
}

void CVarnelDlg::OnCheckSingle() {
    char szValue[16];
    std::snprintf(szValue, sizeof(szValue), "%d", m_chkSingle.GetCheck());
    WritePrivateProfileStringA("SYSTEM", "Single", szValue, SETTINGS_FILE);
}
