#include "app/VarnelDlg.h"

#include "app/bridge/TrafficText.h"
#include "app/linkerrors/LinkErrors.h"
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

static_assert(CSerialBurstRead::BUFFER_SIZE == RECV_BUFFER_SIZE, "a burst is one block at most");

UINT SerialQuietGapMs(std::uint32_t nBaudrate) {
    if (nBaudrate == 0)
        return 1;
    // 3.5 characters of 10 bits each: 35000 / baud milliseconds, rounded up.
    const std::uint64_t nMs = (35000u + std::uint64_t{nBaudrate} - 1) / nBaudrate;
    return static_cast<UINT>(std::max<std::uint64_t>(nMs, 1));
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

namespace {

// The device that section "Ports" of the settings file names for a port, or empty.
std::string PortsEntry(const std::string& strName) {
    char szPath[4096] = {};
    GetPrivateProfileStringA("Ports", strName.c_str(), "", szPath, sizeof(szPath), SETTINGS_FILE);
    return szPath;
}

} // namespace

CVarnelDlg::CVarnelDlg(CWnd* pParent) : CDialog(IDD, pParent) {
    m_hIcon = AfxGetApp()->LoadIcon(IDR_MAINFRAME);
    // The serial layer looks port names up in the settings file's own map first.
    comm::SetPortMap(PortsEntry);
}

CVarnelDlg::~CVarnelDlg() {
    // The port outlives the window: a read still pending on it ends with the window.
    StopSerialWatch();
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
    // What each of the window's timers is for.
    static constexpr std::pair<UINT_PTR, void (CVarnelDlg::*)()> kTimers[] = {
        {TIMER_COM, &CVarnelDlg::SerialPoll},
        {TIMER_TCP, &CVarnelDlg::NetworkPoll},
        {TIMER_TCP_QUIET, &CVarnelDlg::OnNetworkQuiet},
        {TIMER_PUSH, &CVarnelDlg::OnPushPeriod},
        {TIMER_RETRY, &CVarnelDlg::OnRetryTick},
        {TIMER_SERIAL_LOST, &CVarnelDlg::OnSerialLost},
        {TIMER_MODEM, &CVarnelDlg::SendModemNews},
        {TIMER_DEVICE, &CVarnelDlg::PumpDevice},
    };
    for (const auto& [nID, pHandler] : kTimers)
        if (nID == nIDEvent)
            (this->*pHandler)();
    if (nIDEvent == TIMER_AUTOOPEN && !LinkIsOpen())
        ToggleLink();
    CDialog::OnTimer(nIDEvent);
}

void CVarnelDlg::OnWatch(UINT_PTR nID) {
    switch (nID) {
    case WATCH_COM:
        return OnSerialBurst();
    case WATCH_TCP:
        return GatherNetworkBurst();
    case WATCH_TCP_SEND:
        return OnNetworkWritable();
    case WATCH_DEVICE:
        return PumpDevice();
    default:
        if (nID >= WATCH_CLIENT && nID < WATCH_CLIENT + MOST_CLIENTS)
            ListenPoll(); // a client has bytes, or has gone
        return;
    }
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

// The decimal value of the port text, kept to its low 16 bits.
std::uint16_t PortNumber(const std::string& strPort) {
    std::uint32_t nValue = 0;
    for (char c : strPort) {
        if (c < '0' || c > '9')
            break;
        nValue = nValue * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::uint16_t>(nValue & 0xFFFF);
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

void CVarnelDlg::CloseSerialSide() {
    m_strComStatus = "串口已关闭";
    if (!m_bComDeviceGone) // the cue of a vanished device stays until the next open
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, "");
    UpdateData(false);
    // What waits for the device gets a moment to leave; the rest is counted, not kept.
    const std::size_t nDropped = m_bSerialOpen ? DrainDevice(DEVICE_CLOSE_MS, true) : 0;
    if (nDropped > 0 && !m_bComDeviceGone)
        SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                     std::to_string(nDropped) +
                         " bytes from the network were not written to the device: it took none "
                         "before the port closed");
    m_bSerialOpen = false;
    KillTimer(TIMER_DEVICE);
    StopSerialWatch();
    g_serial.Close();
    KillTimer(TIMER_COM);
    // A closed port takes every block (shown and logged only), and a line change that waited
    // for it goes through.
    ResumeWaitingSessions();
    if (m_bPeersHeld)
        ResumePeers();
}

// The port is opened and set up as the settings say, and its side is waited on or polled. False,
// with the status line saying why and the port closed, when that failed; *pError is the code.
bool CVarnelDlg::OpenSerialSide(long* pError) {

    if (m_bComDeviceGone) {
        m_bComDeviceGone = false;
        if (CWnd* pStatus = GetDlgItem(IDC_STATIC_COMSTATUS))
            pStatus->SetErrorColour(false);
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, "");
    }

    // The name is used whole as far as the buffer holds it; a longer name names no port at all
    // (cutting it would open another one: "COM10" is not "COM1").
    std::string strName;
    m_cboPort.GetWindowText(strName);
    std::memset(g_szComPort, 0, sizeof(g_szComPort));
    std::memcpy(g_szComPort, strName.data(), std::min(strName.size(), sizeof(g_szComPort) - 1));
    const bool bNameFits = strName.size() < sizeof(g_szComPort);

    char szStatus[128];
    long lIgnored = 0;
    long& lError = pError != nullptr ? *pError : lIgnored;
    lError = 0;
    const std::string strLineError = TakeLineSettings();
    if (g_nBaudrate == 0 || !strLineError.empty()) {
        m_strComStatus = "串口参数错误";
        SetStatusTip(*this, IDC_STATIC_COMSTATUS, strLineError);
        UpdateData(false);
        return false;
    }
    if (!bNameFits || g_serial.Open(g_szComPort, 2048, 2048) != 0) {
        lError = bNameFits ? g_serial.GetLastError() : 2;
        std::snprintf(szStatus, sizeof(szStatus), "%s%s%s", "串口", strName.c_str(), "打开失败1");
        m_strComStatus = szStatus;
        SetStatusTip(
            *this, IDC_STATIC_COMSTATUS,
            DescribeSerialOpenFailure(strName, bNameFits ? DevicePathOf(g_szComPort) : "", lError) +
                "\n" + DescribeSerialLinesPresent(strName));
        UpdateData(false);
        g_serial.Close();
        return false;
    }
    // The whole line, and then what the port says it runs: a line it did not take is a failed
    // open, not a port running at something else.
    const PortLine wanted = ConfiguredPortLine();
    std::string strMismatch;
    if (g_serial.Setup(CSerial::Baudrate(wanted.baud), wanted.dataBits, wanted.parity,
                       wanted.stopBits) != 0 ||
        g_serial.SetupHandshaking(wanted.flow) != 0 ||
        !(strMismatch = DescribePortLineMismatch(wanted, ReadPortLine(g_serial))).empty()) {
        lError = strMismatch.empty() ? g_serial.GetLastError() : comm::ERROR_INVALID_PARAMETER;
        std::snprintf(szStatus, sizeof(szStatus), "%s%s%s", "串口", g_szComPort, "打开失败2");
        m_strComStatus = szStatus;
        SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                     strMismatch.empty()
                         ? DescribeSerialSetupFailure(strName, DevicePathOf(g_szComPort), lError)
                         : strName + ": " + strMismatch);
        UpdateData(false);
        g_serial.Close();
        return false;
    }
    g_serial.SetupReadTimeouts(CSerial::readBlocking);
    m_bSerialOpen = true;
    m_toDevice.SetRate(wanted.baud);
    m_nHeldOffShown = 0;
    m_strRemoteLine.clear();
    m_pPortFacts.reset(); // another device, maybe with modem lines
    if (WaitsOnSides())
        StartSerialWatch();
    else
        SetTimer(TIMER_COM, 100);
    std::snprintf(szStatus, sizeof(szStatus), "%s%s%s", "串口", g_szComPort, "已打开");
    m_strComStatus = szStatus;
    SetStatusTip(*this, IDC_STATIC_COMSTATUS, SerialTip());
    UpdateData(false);
    return true;
}

std::string CVarnelDlg::SerialTip() const {
    return std::string(g_szComPort) + ": " + DevicePathOf(g_szComPort) + "\n" +
           (m_strRemoteLine.empty() ? PortLineText(ReadPortLine(g_serial)) : m_strRemoteLine);
}

// ---------------------------------------------------------------------------------------------
// Polling and forwarding

// The one place where the mode changes the link rules: the fast mode waits on each side and
// forwards a burst once it ends, the default mode polls each side every 100 ms.
bool CVarnelDlg::WaitsOnSides() const {
    return g_bFast != 0;
}

void CVarnelDlg::SerialPoll() {
    NoteSerialDeviceGone();
    PumpDevice();
    // The port may hold more than one block: the rest waits for the next tick.
    ForwardSerialBlock(g_serial.GetInQueueCount());
    TellClientNews(); // clients that left while the block went out
}

// Reads what the port holds, at most one buffer of it, and forwards it to the server as one
// block. Returns the count read.
DWORD CVarnelDlg::ForwardSerialBlock(DWORD nWanted) {
    char buffer[RECV_BUFFER_SIZE] = {};
    const DWORD nAsk = std::min<DWORD>(nWanted, sizeof(buffer));
    DWORD nCount = 0;
    if (nAsk > 0)
        g_serial.Read(buffer, nAsk, &nCount, nullptr, 100);
    if (nCount > 0)
        DeliverSerialBlock(buffer, nCount);
    return nCount;
}

// Sends one block from the device to the server, then shows, logs and counts it.
void CVarnelDlg::DeliverSerialBlock(const char* buffer, DWORD nCount) {
    // Without a connection the block has nowhere to go; it is still shown, logged and counted.
    // Listening, it goes to every client there is; a client that stopped reading leaves.
    bool bStalled = false;
    const std::string strWire = ToNetwork(buffer, nCount);
    if (m_bListen) {
        if (m_pClients) {
            // A Telnet client that asked for a pause gets nothing meanwhile.
            // Clients that leave on the way are told after this step, by the poll that made it.
            m_pClients->SendToAll(strWire.data(), strWire.size(), [this](ClientId id) {
                auto session = m_sessions.find(id);
                return session == m_sessions.end() || !session->second->Suspended();
            });
        }
    } else if (g_bTcpConnected && m_pServerSession && m_pServerSession->Suspended()) {
        m_nUndelivered += nCount; // the server asked for a pause: it gets nothing meanwhile
    } else if (g_bTcpConnected && !m_backlog.Send(*m_pLink, strWire.data(), strWire.size())) {
        m_nUndelivered += nCount;
        bStalled = true;
    } else if (!g_bTcpConnected) {
        HoldForServer(strWire.data(), static_cast<DWORD>(strWire.size())); // waits for the server
    } else {
        WatchBacklog();
    }
    ShowTrafficBlock(false, buffer, static_cast<int>(nCount));
    g_nComBytes += nCount;
    CompleteTrafficEntry(m_strComCount, "COM: %lld", g_nComBytes, m_strComData);
    if (bStalled) {
        // The server has not read for so long that the backlog is full: it counts as gone, and
        // the link goes down as after a receive error rather than cut bytes out of the stream.
        NetworkDropped(DescribeStalledServer(), CReconnectPlan::End::serverStalled);
    }
}

// A device that went away while open (a USB adapter unplugged) makes the port's calls fail (with
// access denied, mostly) once the bytes received before are read. The status line keeps its text
// and the link its state; the line turns to the error colour and its tooltip says what happened and
// what to do, until the next open.
void CVarnelDlg::NoteSerialDeviceGone() {
    if (m_bComDeviceGone || !MeansDeviceGone(g_serial.GetLastError()))
        return;
    m_bComDeviceGone = true;
    if (m_plan.Enabled()) {
        SerialDropped(); // the port is closed and looked for again instead of the cue
        return;
    }
    SYSTEMTIME st{};
    GetLocalTime(&st);
    char szTime[24];
    std::snprintf(szTime, sizeof(szTime), "%02d:%02d:%02d", st.wHour, st.wMinute, st.wSecond);
    if (CWnd* pStatus = GetDlgItem(IDC_STATIC_COMSTATUS))
        pStatus->SetErrorColour(true);
    SetStatusTip(*this, IDC_STATIC_COMSTATUS,
                 DevicePathOf(g_szComPort) + " was removed at " + szTime +
                     "; press 关闭, then 打开 once it is back");
}

void CVarnelDlg::NetworkPoll() {
    if (m_bListen) {
        ListenPoll();
        return;
    }
    SendModemNews();
    // What waits for the server goes out first, as far as the server takes it.
    m_backlog.Flush(*m_pLink);
    // The server is read only while a whole block for the device fits and no line change of its
    // session waits: TCP holds the rest back meanwhile.
    if (!DeviceHasRoom() || (m_pServerSession && m_pServerSession->Waits()))
        return;
    char buffer[RECV_BUFFER_SIZE] = {};
    if (!m_pLink->Readable(50))
        return;
    int nError = 0;
    const int nLength = m_pLink->Receive(buffer, sizeof(buffer), nError);
    if (nLength == sock::SOCKET_ERROR && (nError == EWOULDBLOCK || nError == EAGAIN))
        return; // only part of a record has come
    if (nLength == sock::SOCKET_ERROR || nLength == 0) {
        // A receive error, or the server closed its end: take the link down.
        NetworkDropped(DescribeReceiveFailure(nLength == 0 ? 0 : nError),
                       CReconnectPlan::End::serverClosed);
        return;
    }
    ForwardNetworkBlock(buffer, nLength);
}

// Writes one block from the server to the port, after what the device sent before it, then shows,
// logs and counts it; with REOPEN both links are cycled after it.
void CVarnelDlg::ForwardNetworkBlock(const char* buffer, int nLength) {
    if (m_pServerSession) {
        // Telnet: every data byte goes, lone or not. The session is shared while the block is
        // handled, so that it outlives a link that goes down meanwhile.
        const std::shared_ptr<CComPortSession> pSession = m_pServerSession;
        std::string strReply;
        FromTelnetPeer(*pSession, buffer, static_cast<std::size_t>(nLength), m_strServer, strReply);
        if (g_bTcpConnected && pSession == m_pServerSession && !strReply.empty() &&
            !m_backlog.Send(*m_pLink, strReply.data(), strReply.size()))
            NetworkDropped(DescribeStalledServer(), CReconnectPlan::End::serverStalled);
        return;
    }
    // A lone byte is not forwarded, unless it ends a burst that filled the whole buffer before.
    const bool bTailOfBurst = m_bNetBlockFull;
    m_bNetBlockFull = nLength == RECV_BUFFER_SIZE;
    if (nLength < 2 && !bTailOfBurst)
        return;

    WriteBlockToDevice(buffer, nLength);

    if (g_bReopen && g_bTcpConnected) {
        // The port closes for the cycle: what the device sent before goes to the server first
        // (unless that takes the link down), and the block leaves, as long as a write was given.
        DeliverSerialBurst(true);
        for (DWORD nQueued = g_serial.GetInQueueCount(); nQueued > 0 && g_bTcpConnected;) {
            const DWORD nRead = ForwardSerialBlock(nQueued);
            if (nRead == 0)
                break;
            nQueued -= std::min(nQueued, nRead);
        }
        if (!g_bTcpConnected)
            return;
        DrainDevice(DEVICE_REOPEN_MS, false);
        ToggleLink();
        Sleep(1000);
        ToggleLink();
    }
}
