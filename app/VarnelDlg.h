// The main window of Varnel: it shows the link and coordinates its two halves, the serial port and
// the network side (app/side); and the About box.
#pragma once

#include "app/Varnel.h"
#include "app/bridge/DeviceQueue.h"
#include "app/bridge/OutageText.h"
#include "app/bridge/PaneEntries.h"
#include "app/bridge/PortLine.h"
#include "app/bridge/PushPacer.h"
#include "app/bridge/SerialBurstRead.h"
#include "app/bridge/TrafficLog.h"
#include "app/side/NetworkSide.h"
#include "res/resource.h"

#include <functional>

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

// A status line's tooltip; the device a port name leads to.
void SetStatusTip(CDialog& dlg, int nID, const std::string& strTip);
std::string DevicePathOf(const char* pszPort);

class CVarnelDlg : public CDialog {
public:
    explicit CVarnelDlg(CWnd* pParent = nullptr);
    ~CVarnelDlg() override;

    enum { IDD = IDD_VARNEL_DIALOG };

    CButton m_chk0x, m_chkSingle, m_chkHex, m_btnOpen;
    CEdit m_editPort, m_editComData, m_editTcpData;
    CIPAddressCtrl m_ipServer;
    CComboBox m_cboPort, m_cboBaud;
    CString m_strComStatus, m_strTcpData, m_strComData, m_strComCount, m_strPort, m_strNetStatus,
        m_strTcpCount;
    HICON m_hIcon;

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void OnSysCommand(UINT nID, LPARAM lParam) override;
    void OnTimer(UINT_PTR nIDEvent) override;
    void OnWatch(UINT_PTR nID) override;

    // Settings, read at start-up and written at each choice (VarnelDlgSettings.cpp).
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

    // Link control: a toggle is true when an open failed; 关闭 on the button: the link is open.
    void ToggleLink();
    bool ToggleSerial();
    bool ToggleTcp();
    bool LinkIsOpen();

    // Traffic display and log; a line of the events file (VarnelDlgTraffic.cpp).
    void ShowTrafficBlock(bool bFromNetwork, const char* pBuffer, int nLength);
    void WriteTrafficLog(const char* pszText, int nByteCount, bool bFromNetwork);
    void AppendEvent(const std::string& strFile, const std::string& strLine);
    void OnButtonClear();
    // LOGDAYS: at the first call of a day, older logs and events files go.
    void KeepLogDays();

    // The device's bytes the port holds for the bridge: its queue and a burst read, not handled.
    DWORD SerialBytesHeld();
    // What the server has not taken yet (no backlog when listening).
    CSendBacklog* ServerBacklog() { return m_pNetwork->Backlog(); }

    // The program without a window, through the button's paths (VarnelDlgHeadless.cpp).
    bool OpenLinkAtStart();
    bool ReconnectsByItself() const;
    void CloseLinkForExit(UINT nFlushMs);
    bool LinkDownForGood();
    std::string CheckNetworkSettings() const;
    void ReopenSides(bool bSerial, bool bNetwork, UINT nFlushMs);
    // Whether the tooltip counts clients' bytes; who hears that a log cannot be written.
    void ShowClientCounters(bool bShow);
    void TellLogFailures(std::function<void(const std::string&)> tell);

private:
    class SideHost; // what the network side is handed (VarnelDlgSides.cpp)
    std::unique_ptr<CSideHost> MakeSideHost();

    // The serial half (VarnelDlgSerial.cpp).
    bool OpenSerialSide(long* pError = nullptr);
    void CloseSerialSide();
    std::string TakeLineSettings();
    std::string SerialSettingsError() const;
    PortLine ConfiguredPortLine() const;
    std::string SerialTip() const;
    void SerialPoll();
    DWORD ForwardSerialBlock(DWORD nWanted);
    void DeliverSerialBlock(const char* pBuffer, DWORD nCount);
    void NoteSerialDeviceGone();
    void StartSerialWatch();
    void StopSerialWatch();
    void ArmSerialRead();
    void DeliverSerialBurst(bool bCancel, CSerial::LONG* pResult = nullptr);
    void OnSerialBurst();
    // Bytes for the device wait in m_toDevice; the peers are not read while it is full.
    void WriteBlockToDevice(const char* pBuffer, int nLength);
    bool DeviceHasRoom() const;
    void PumpDevice();
    void DropWhatThePortRefused();
    void HoldPeers();
    void ResumePeers();
    std::size_t DrainDevice(UINT nMs, bool bDrop);
    void ShowDeviceHeldOff(std::uint64_t nSince);
    const CComPortSession::Outlet& DeviceOutlet();

    // The two halves together.
    bool WaitsOnSides() const { return g_bFast != 0; }
    void ShowSerialSideWanted();
    void ShowNetworkSideWanted();
    void ShowSettingsError();
    const std::string& NetworkSettingsError() const;

    // Unattended operation (VarnelDlgReconnect.cpp).
    void ToggleRetriedLink();
    void NetworkDropped(const std::string& strReason, CReconnectPlan::End end);
    void OnSerialLost();
    void HoldForServer(const char* pBuffer, DWORD nCount);
    void NoteUndeliveredToDevice(std::size_t nCount);
    void OnRetryTick();
    void TryServer(std::uint64_t nNow);
    void TryDevice(std::uint64_t nNow);
    void BeginOutage(int nSide, const std::string& strReason, CReconnectPlan::End end);
    void EndOutage(int nSide);
    void ShowRetry(int nSide);
    void ShowRetryTip(int nSide);
    void StopRetries();

    // The panes, the counters' labels and the log (VarnelDlgTraffic.cpp).
    void CompleteTrafficEntry(CString& strCount, const char* pszFormat, std::int64_t nTotal,
                              CString& strPane);
    void OnPushPeriod();
    void PushTraffic();
    void TellLogFailure();
    void TellFileFailure(const std::string& strWhich);

    std::unique_ptr<CSideHost> m_pHost;
    std::unique_ptr<CNetworkSide> m_pNetwork;
    // What in the network settings is wrong: nothing opens then.
    std::string m_strSettingsError;
    SettingsErrorKind m_settingsErrorKind = SettingsErrorKind::none;
    bool m_bClientCounters = true;

    // The retries' plan and each half's outage (index CReconnectPlan::SERIAL or NETWORK).
    CReconnectPlan m_plan;
    bool m_bAutoOpen = false;
    LinkOutage m_outages[2];

    // The serial half: its device, line settings, port, queue, remote line and burst read.
    bool m_bComDeviceGone = false;
    PortLine m_lineFormat;
    std::string m_strRateError, m_strLineError, m_strBaudShown;
    bool m_bSerialOpen = false;
    CDeviceQueue m_toDevice{g_serial};
    std::uint64_t m_nHeldOffShown = 0;
    std::string m_strRemoteLine;
    bool m_bLineSetRemotely = false;
    std::unique_ptr<CComPortSession::Outlet> m_pOutlet;
    std::shared_ptr<PortFacts> m_pPortFacts;
    CSerialBurstRead m_comRead{g_serial};
    bool m_bComWatched = false;

    // Whose block is on its way, the panes' entries and pace, the log and its days.
    std::string m_strBlockFrom;
    CPaneEntries m_comEntries, m_tcpEntries;
    CPushPacer m_pacer;
    CTrafficLog m_log;
    int m_nLogDays = 0;
    std::string m_strLogDay;
    std::function<void(const std::string&)> m_tellLogFailure;
    bool m_bEventsFailureTold = false;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    DECLARE_MESSAGE_MAP()
};
