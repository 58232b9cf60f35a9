// What a side of the link is handed by the window that holds it: the window's timers and watches
// (the side never includes the window or its framework), the device at the other end of the
// bridge, and the status line and events file where the side's news is told.
#pragma once

#include "app/bridge/ReconnectPlan.h"
#include "app/network/ComPortSession.h"
#include "app/platform/Socket.h"
#include "app/side/LinkTimers.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CSideHost {
public:
    virtual ~CSideHost() = default;

    // The window's timers and watches; each id the side uses comes back to it (OnTimer, OnWatch).
    virtual void SetTimer(LinkTimerId nID, unsigned nMs) = 0;
    virtual void SetOneShotTimer(LinkTimerId nID, unsigned nMs) = 0;
    virtual void KillTimer(LinkTimerId nID) = 0;
    virtual bool IsTimerRunning(LinkTimerId nID) const = 0;
    virtual void WatchSocket(LinkTimerId nID, sock::SOCKET s, bool bWritable = false) = 0;
    virtual void Unwatch(LinkTimerId nID) = 0;
    virtual bool IsWatching(LinkTimerId nID) const = 0;

    // The device. Whether a whole block for it fits now; a block for it; whose the blocks for it
    // are from now on, for the panes and the log (empty: nobody's named); a block of the server
    // was delivered, after which REOPEN cycles the link; the peers are left unread until there
    // is room (the side's HoldReading, and ResumeReading once there is).
    virtual bool DeviceHasRoom() const = 0;
    virtual void ToDevice(const char* pBuffer, std::size_t nLength) = 0;
    virtual void BlockFrom(const std::string& strFrom) = 0;
    virtual void ServerBlockDelivered() = 0;
    virtual void HoldPeers() = 0;

    // Telnet sessions: a new one on the port; what a peer sent, through the device's outlet, with
    // its events told and the line it set shown (false when a line change waits for the device);
    // a session's resume after such a wait; the last session ended.
    virtual std::shared_ptr<CComPortSession> NewSession() = 0;
    virtual bool FromTelnetPeer(CComPortSession& session, const char* pBuffer, std::size_t nLength,
                                const std::string& strPeer, std::string& strReply) = 0;
    virtual bool ResumeTelnetPeer(CComPortSession& session, const std::string& strPeer,
                                  std::string& strReply) = 0;
    virtual void LastSessionEnded() = 0;

    // News: the network status line and its tooltip (the texts pushed to the window, or with
    // bOnlyIfNew only when the line changed);
    // a line of the events file; the server connection dropped without the user asking.
    virtual void ShowNetworkStatus(const std::string& strStatus, const std::string& strTip,
                                   bool bOnlyIfNew = false) = 0;
    virtual void AppendEvent(const std::string& strFile, const std::string& strLine) = 0;
    virtual void NetworkDropped(const std::string& strReason, CReconnectPlan::End end) = 0;
};
