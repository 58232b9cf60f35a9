// The main window of Varnel with the bridge logic and the link state, and the About box.
#pragma once

#include "app/bridge/DeviceQueue.h"
#include "app/bridge/OutageText.h"
#include "app/bridge/PaneEntries.h"
#include "app/bridge/PortLine.h"
#include "app/bridge/PushPacer.h"
#include "app/bridge/ReconnectPlan.h"
#include "app/bridge/SendBacklog.h"
#include "app/bridge/SerialBurstRead.h"
#include "app/bridge/TrafficLog.h"
#include "app/framework/Afx.h"
#include "app/network/ClientSet.h"
#include "app/network/ComPortSession.h"
#include "app/network/NetworkSettings.h"
#include "app/network/RefusalGate.h"
#include "app/network/TlsConfig.h"
#include "app/network/Transport.h"
#include "app/platform/Clock.h"
#include "app/platform/Socket.h"
#include "res/resource.h"
#include "serial/Serial.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

// The settings file, relative to the current directory at each access. The program without a
// window may name another one in that folder (its --config) before the main window is made.
inline const char* SETTINGS_FILE = ".\\VarnelConfig.ini";

// What of the settings file each side runs on, to tell which side a new file changes: the values
// that only the serial side uses, those that only the network side uses, and those that shape
// the whole link.
struct SettingsPrint {
    std::string serial;
    std::string network;
    std::string link;
};
SettingsPrint ReadSettingsPrint();

// Poll timers of the two halves of the link.
inline constexpr UINT_PTR TIMER_COM = 1;
inline constexpr UINT_PTR TIMER_TCP = 2;

// One poll handles at most one block of this many bytes, in either direction.
inline constexpr int RECV_BUFFER_SIZE = 3096;

// The fast mode (FAST in the settings file) waits on the two sides instead of polling them and
// forwards each burst as one block once its side has been quiet for a moment. Its watches, and
// its one-shot timers for the server's quiet gap and the pacing of the panes' repaints.
inline constexpr UINT_PTR WATCH_COM = 1;       // the port's read of one burst has ended
inline constexpr UINT_PTR WATCH_TCP = 2;       // the connection has bytes to read
inline constexpr UINT_PTR WATCH_TCP_SEND = 3;  // the connection takes bytes that wait for it
inline constexpr UINT_PTR WATCH_DEVICE = 4;    // the port's write of bytes for the device ended
inline constexpr UINT_PTR TIMER_TCP_QUIET = 4; // the server has been quiet for TCP_QUIET_MS
inline constexpr UINT_PTR TIMER_PUSH = 5;      // at most one repaint of the panes per period
inline constexpr UINT TCP_QUIET_MS = 1;
inline constexpr UINT PUSH_PERIOD_MS = 100;

// Unattended operation (RECONNECT and AUTOOPEN in the settings file): a side that dropped is
// looked at every RETRY_TICK_MS and tried again when its plan says so; the link opens once the
// window is up.
inline constexpr UINT_PTR TIMER_RETRY = 6;
inline constexpr UINT_PTR TIMER_SERIAL_LOST = 7; // the device went away: its side closes
inline constexpr UINT_PTR TIMER_AUTOOPEN = 8;
inline constexpr UINT RETRY_TICK_MS = 200;

// Listening (LISTEN in the settings file): the clients' sockets are watched under these ids, one
// each, in the fast mode; the listener itself is looked at on TIMER_TCP in both modes.
inline constexpr UINT_PTR WATCH_CLIENT = 16;
// TLS (TLS in the settings file): a handshake that has not ended after this long fails.
inline constexpr UINT TLS_HANDSHAKE_MS = 10000;

// Telnet sessions in the fast mode: the modem lines are looked at this often, so that a change
// reaches the peer within 50 ms (the default mode looks at each network poll).
inline constexpr UINT_PTR TIMER_MODEM = 9;
inline constexpr UINT MODEM_POLL_MS = 20;

// Bytes for the device: while some wait (or a session's line change waits for them to leave),
// their queue is looked at this often in the fast mode, so that a device that holds off is told
// and a waiting change goes through soon after the port has sent the bytes before it.
inline constexpr UINT_PTR TIMER_DEVICE = 10;
inline constexpr UINT DEVICE_POLL_MS = 20;
// Closing the port gives what waits for the device this long to leave; REOPEN's cycle, as long
// as a write to the port was given before it.
inline constexpr UINT DEVICE_CLOSE_MS = 1000;
inline constexpr UINT DEVICE_REOPEN_MS = 10000;

// The quiet gap that ends a burst from the device: 3.5 character times of 10 bits at the baud
// rate, rounded up to whole milliseconds and never less than 1.
UINT SerialQuietGapMs(std::uint32_t nBaudrate);

// Link state, used on the window thread only.
extern char g_szComPort[8];       // port name, NUL-terminated, at most four characters
extern std::uint32_t g_nBaudrate; // bits per second
extern BYTE g_bReopen;            // 1: cycle both links after each block from the server
extern BYTE g_bFast;              // 1: the fast mode, read from the settings at start-up
extern sock::SOCKET g_sock;       // TCP client; INVALID_SOCKET while there is none
extern BYTE g_bTcpConnected;      // 1 while the TCP client is connected
extern std::int64_t g_nComBytes;  // bytes received from the serial port since start-up
extern std::int64_t g_nTcpBytes;  // bytes received from the server since start-up
extern CSerial g_serial;          // the bridge's serial port

// The tooltip of a status line; the device a port name leads to.
void SetStatusTip(CDialog& dlg, int nID, const std::string& strTip);
std::string DevicePathOf(const char* pszPort);
// The decimal value of the port field's text, kept to its low 16 bits.
std::uint16_t PortNumber(const std::string& strPort);
// The network side's values in the settings file, each read whole (VarnelDlgSettings.cpp).
NetworkSettingTexts NetworkSettingTextsOfFile();

// Port map: index of the port list to the port name ("COM3" for any index outside the list).
const char* PortMap(int nIndex);
// Baud map: index of the baud-rate list to bits per second (115200 outside the list).
std::uint32_t BaudMap(int nIndex);

class CVarnelDlg : public CDialog {
public:
    explicit CVarnelDlg(CWnd* pParent = nullptr);
    ~CVarnelDlg() override;

    enum { IDD = IDD_VARNEL_DIALOG };

    CButton m_chk0x;
    CButton m_chkSingle;
    CEdit m_editPort;
    CIPAddressCtrl m_ipServer;
    CButton m_chkHex;
    CEdit m_editComData;
    CEdit m_editTcpData;
    CComboBox m_cboPort;
    CComboBox m_cboBaud;
    CButton m_btnOpen;
    CString m_strComStatus;
    CString m_strTcpData;
    CString m_strComData;
    CString m_strComCount;
    CString m_strPort;
    CString m_strNetStatus;
    CString m_strTcpCount;
    HICON m_hIcon;
    // Bytes from the serial port that the server has not taken yet.
    CSendBacklog m_backlog;

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnSysCommand(UINT nID, LPARAM lParam) override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnWatch(UINT_PTR nID) override;

    // Settings.
    void LoadSettings();
    void LoadLineSettings();
    void OnSelchangePort();
    void OnSelchangeBaud();
    void OnCheckHex();
    void OnCheck0x();
    void OnCheckSingle();
    // The system menu's 自动重连: reconnection on (the settings file's bound, or 30 s) or off.
    void ToggleReconnect();
    void SetReconnectBound(int nSeconds);

    // Link control: each toggle returns true when an open or a connect failed.
    void ToggleLink();
    bool ToggleSerial();
    bool ToggleTcp();
    // The Open button reads 关闭: the link is open, or wanted open while a side is retried.
    bool LinkIsOpen();

    // Traffic display and log.
    void ShowTrafficBlock(bool bFromNetwork, const char* pBuffer, int nLength);
    void WriteTrafficLog(const char* pszText, int nByteCount, bool bFromNetwork);
    // One line of the events file (outages, clients, remote line changes).
    void AppendEvent(const std::string& strFile, const std::string& strLine);
    void OnButtonClear();
    // LOGDAYS: at the first call of each day, the logs and events files older than that go.
    void KeepLogDays();

    // Bytes from the device that the port holds for the bridge: its queue, and in the fast mode a
    // burst whose read has ended but whose news the window's thread has not handled yet.
    DWORD SerialBytesHeld();

    // The program without a window.
    // Opens the link as the 打开 button does, unless it is open; true when it is open then.
    bool OpenLinkAtStart();
    // True when the settings ask for a dropped link to come back by itself (RECONNECT).
    bool ReconnectsByItself() const;
    // Whether the network tooltip counts each client's bytes (on by default). Without a window
    // the tooltip is the reason of a status line, and a count is no news.
    void ShowClientCounters(bool bShow) { m_bClientCounters = bShow; }
    // Closes an open link as the 关闭 button does, once what waits for the server has gone out
    // or nFlushMs milliseconds have passed.
    void CloseLinkForExit(UINT nFlushMs);
    // Who hears that a log file cannot be written (once for each run of failures); without one
    // the serial status line's tooltip says it.
    void TellLogFailures(std::function<void(const std::string&)> tell) {
        m_tellLogFailure = std::move(tell);
    }
    // The link is down and will not come back by itself: RECONNECT is off, and the link is
    // closed or its device went away.
    bool LinkDownForGood();
    // A new settings file: what in it keeps the network side from opening ("" when nothing),
    // found without touching the link.
    std::string CheckNetworkSettings() const;
    // Takes the settings file as it is now: the sides named close (what waits for the server
    // gets up to nFlushMs) and open again on it; a side not named stays up as it is. What shapes
    // the whole link closes and opens both.
    void ReopenSides(bool bSerial, bool bNetwork, UINT nFlushMs);

private:
    bool WaitsOnSides() const;
    // What waits for the server and for the clients goes out, for up to nFlushMs.
    void FlushWaiting(UINT nFlushMs);
    bool OpenSerialSide(long* pError = nullptr);
    // The line the settings and the baud box give: empty, or why they give none (a rate typed
    // into the box is taken here, at 打开, and written as RATE).
    std::string TakeLineSettings();
    // What in the file's [COM] keys is wrong (RATE, FORMAT, FLOW), or empty.
    std::string SerialSettingsError() const;
    PortLine ConfiguredPortLine() const;
    std::string SerialTip() const; // the port, its device, the line in force
    // The side's fields are locked and the button offers 关闭: the side is open or wanted open.
    void ShowSerialSideWanted();
    void ShowNetworkSideWanted();
    void CloseSerialSide();
    void NetworkSideUp();
    void CloseNetworkSide(bool bKeepBacklog);

    // Unattended operation (VarnelDlgReconnect.cpp).
    void ToggleRetriedLink();
    void NetworkDropped(const std::string& strReason, CReconnectPlan::End end);
    void SerialDropped();
    void OnSerialLost();
    void HoldForServer(const char* pBuffer, DWORD nCount);
    void NoteUndeliveredToDevice(std::size_t nCount);
    void OnRetryTick();
    void TryServer(std::uint64_t nNow);
    void GiveUpConnect();
    bool ServerHandshakeDone(std::uint64_t nNow);
    void TryDevice(std::uint64_t nNow);
    void BeginOutage(int nSide, const std::string& strReason, CReconnectPlan::End end);
    void EndOutage(int nSide);
    void ShowRetry(int nSide);
    void ShowRetryTip(int nSide);
    void StopRetries();
    void SerialPoll();
    void NoteSerialDeviceGone();
    void NetworkPoll();
    void ForwardNetworkBlock(const char* pBuffer, int nLength);
    DWORD ForwardSerialBlock(DWORD nWanted);
    void DeliverSerialBlock(const char* pBuffer, DWORD nCount);
    void CompleteTrafficEntry(CString& strCount, const char* pszFormat, std::int64_t nTotal,
                              CString& strPane);
    void OnPushPeriod();
    void PushTraffic();

    // Fast mode.
    void StartSerialWatch();
    void StopSerialWatch();
    void ArmSerialRead();
    void DeliverSerialBurst(bool bCancel, CSerial::LONG* pResult = nullptr);
    void OnSerialBurst();
    void GatherNetworkBurst();
    void OnNetworkQuiet();
    void ForwardNetworkBurst();
    void WatchBacklog();
    void OnNetworkWritable();
    void StopNetworkWatch();

    // Listening for clients instead of connecting (VarnelDlgListen.cpp).
    bool ToggleListen();
    void CloseListenSide();
    void ListenPoll();
    void TellClientNews();
    void WatchClients();

    // Bytes for the device (VarnelDlgDevice.cpp): they wait in m_toDevice and go as the port takes
    // them; while it is full the peers are not read.
    void WriteBlockToDevice(const char* pBuffer, int nLength);
    bool DeviceHasRoom() const;
    void PumpDevice();
    void DropWhatThePortRefused();
    void HoldPeers();
    void ResumePeers();
    // Lets what waits for the device leave for at most nMs; the bytes that did not are dropped
    // (counted, and their count returned) when bDrop.
    std::size_t DrainDevice(UINT nMs, bool bDrop);
    void ShowDeviceHeldOff(std::uint64_t nSince);
    // The Telnet sessions' outlet: the device's queue; settled once the port has sent it all.
    const CComPortSession::Outlet& DeviceOutlet();
    void ResumeWaitingSessions();

    // TLS (TLS and [TLS] in the settings file), VarnelDlgTls.cpp: the settings, checked at
    // start-up; VarnelDlgServer.cpp: the server connection's transport, its handshake, its tip.
    void LoadTlsSettings(bool bEnabled);
    // Wrong settings of the network side (a value that is not one of the listed ones, or TLS
    // files that do not load): nothing opens.
    const std::string& NetworkSettingsError() const;
    std::shared_ptr<const CTlsConfig> TlsConfigFor(CTlsConfig::Role role, const std::string& strIP);
    void ShowTlsSettingsError();
    // The settings error on the network status line, with its words in the tooltip.
    void ShowSettingsError();
    // The transport for a new server connection on s: plain, or TLS with its handshake begun.
    std::unique_ptr<CTransport> NewServerTransport(sock::SOCKET s);
    // Runs the handshake on the button's path, as the connect does: true when it is done;
    // otherwise the status line says why.
    bool ShakeHandsWithServer(CTransport& link);
    std::string ServerTip() const;

    // Telnet with the COM port option (TELNET in the settings file), VarnelDlgTelnet.cpp: a
    // session per client, or one with the server; the line back when the last one ends.
    std::string ToNetwork(const char* pBuffer, std::size_t nLength) const;
    std::shared_ptr<CComPortSession> NewSession();
    // False when a line change of the peer waits for the device (the peer is not read meanwhile).
    bool FromTelnetPeer(CComPortSession& session, const char* pBuffer, std::size_t nLength,
                        const std::string& strPeer, std::string& strReply);
    void AfterTelnetPeer(CComPortSession& session, const std::string& strPeer,
                         const std::string& strLineBefore, const std::vector<std::string>& events);
    void SessionEnded();
    void SendModemNews();

    CPaneEntries m_comEntries;
    CPaneEntries m_tcpEntries;
    bool m_bComDeviceGone = false; // the open port's device went away (cue shown)

    std::string m_strServer;          // address and port of the current connection
    std::string m_strNetDownReason;   // why the network half is being taken down, for its tooltip
    std::size_t m_nUndelivered = 0;   // bytes the backlog had to refuse since the connect
    bool m_bNetBlockFull = false;     // the last receive filled the whole buffer
    std::uint64_t m_nConnections = 0; // connections made since start-up
    sock::sockaddr_in m_addrServer{}; // where the last connect went, and a retry goes
    std::string m_strServerIP;        // its address
    std::uint16_t m_nServerPort = 0;  // and its port

    // Unattended operation: the plan of the retries, a connect under way, and the outage of each
    // side (index CReconnectPlan::SERIAL or NETWORK).
    CReconnectPlan m_plan;
    bool m_bAutoOpen = false;
    sock::SOCKET m_sockConnecting = sock::INVALID_SOCKET;
    std::uint64_t m_nConnectDeadline = 0;
    struct Outage {
        bool active = false;
        std::uint64_t fromTick = 0;
        OutageFacts facts;
    };
    Outage m_outages[2];

    // What in the network side's settings is wrong (nothing connects or listens then), and
    // which status line tells it.
    std::string m_strSettingsError;
    SettingsErrorKind m_settingsErrorKind = SettingsErrorKind::none;
    // Listening: the settings and the clients.
    bool m_bListen = false;
    ClientSetOptions m_listenOptions;
    std::string m_strAllow;
    std::unique_ptr<CClientSet> m_pClients;
    std::string m_strListenAt; // "ip:port" while listening
    std::vector<sock::SOCKET> m_watchedClients;
    CRefusalGate m_refusalGate;
    bool m_bClientCounters = true;
    bool m_bTelnet = false;
    // Shared, so that whoever handles a session's bytes holds it for as long as that takes, even
    // when the client or the connection goes meanwhile.
    std::map<ClientId, std::shared_ptr<CComPortSession>> m_sessions;
    std::shared_ptr<CComPortSession> m_pServerSession;
    // TLS: the settings and what in them is wrong; the server connection's transport (plain or
    // TLS, over g_sock) and that of a reconnect under way.
    TlsSettings m_tlsSettings;
    std::string m_strTlsError;
    std::unique_ptr<CTransport> m_pLink;
    std::unique_ptr<CTransport> m_pConnecting;
    bool m_bLineSetRemotely = false; // a session changed the line: it is put back at the end
    // The client the block now on its way came from, while several may be connected; empty else.
    std::string m_strBlockFrom;
    // The line beyond the rate (FORMAT, FLOW), what in RATE and in the others is wrong, and the
    // baud box's text as the program last put it there (another text was typed).
    PortLine m_lineFormat;
    std::string m_strRateError;
    std::string m_strLineError;
    std::string m_strBaudShown;

    // Bytes for the device, the port's state for them, and whether the peers wait for room.
    CDeviceQueue m_toDevice{g_serial};
    bool m_bSerialOpen = false;
    bool m_bPeersHeld = false;
    std::uint64_t m_nHeldOffShown = 0; // the hold-off the serial tooltip tells, 0 none
    std::string m_strRemoteLine;       // the line a session set, for the serial tooltip
    std::unique_ptr<CComPortSession::Outlet> m_pOutlet;
    std::shared_ptr<PortFacts> m_pPortFacts; // what the sessions learnt of the open port

    CPushPacer m_pacer; // when the panes are repainted
    CTrafficLog m_log;
    int m_nLogDays = 0;      // LOGDAYS: 0 keeps every day
    std::string m_strLogDay; // the day whose old logs were removed last
    std::function<void(const std::string&)> m_tellLogFailure;
    void TellLogFailure();
    void TellFileFailure(const std::string& strWhich);
    bool m_bEventsFailureTold = false;

    // Fast mode: the port's read of the device's next burst, and the server's burst so far.
    CSerialBurstRead m_comRead{g_serial};
    bool m_bComWatched = false;
    char m_netBurst[RECV_BUFFER_SIZE] = {};
    int m_nNetBurst = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override;

    enum { IDD = IDD_ABOUTBOX };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
