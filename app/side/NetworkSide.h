// The network side of the link, as the window sees it: one object that opens and closes, takes the
// device's blocks, hands the peers' blocks to the device and tells its state. Two kinds stand
// behind it, chosen once where the settings are read: the server connection (ServerSide.h) and
// the listener with its clients (ListenSide.h).
#pragma once

#include "app/bridge/SendBacklog.h"
#include "app/network/ClientSet.h"
#include "app/network/TlsConfig.h"
#include "app/platform/Socket.h"
#include "app/side/SideHost.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// What the network side is made with, read once with the settings file.
struct NetworkSideSettings {
    bool listen = false;        // LISTEN: clients come to us
    bool fast = false;          // FAST: the side is waited on, not polled
    bool telnet = false;        // TELNET: each peer has a session with the COM port option
    bool clientCounters = true; // the tooltip counts each client's bytes
    TlsSettings tls;            // TLS and its files
    ClientSetOptions clients;   // listening: how many, who may, whether a newcomer takes over
    std::string allow;          // ALLOW as written, for the tooltip
};

// The server connection's state as the window's module-level variables keep it: the socket and
// whether it is connected. The side sets them.
struct ServerLinkState {
    sock::SOCKET& sock;
    std::uint8_t& connected;
};

class CNetworkSide {
public:
    static std::unique_ptr<CNetworkSide> Make(CSideHost& host, const NetworkSideSettings& settings,
                                              ServerLinkState state);
    virtual ~CNetworkSide() = default;
    CNetworkSide(const CNetworkSide&) = delete;
    CNetworkSide& operator=(const CNetworkSide&) = delete;

    bool Listens() const { return m_settings.listen; }
    const NetworkSideSettings& Settings() const { return m_settings; }

    // Opens towards strIP (the server's address, or this machine's to listen at) and the port
    // box's text. False, with the status line saying why, when that failed.
    virtual bool Open(const std::string& strIP, const std::string& strPort) = 0;
    // Closes: what waits for the peers gets a last chance and what never reached them is told;
    // unless bKeepBacklog, when the server is retried and the bytes wait for it.
    virtual void Close(bool bKeepBacklog) = 0;
    // Connected to the server, or listening.
    virtual bool Up() const = 0;

    // One step at the side's poll timer (TIMER_TCP); its watches and its other timers (an id that
    // is not the side's is left alone).
    virtual void Poll() = 0;
    virtual void OnWatch(LinkTimerId nID) = 0;
    virtual void OnTimer(LinkTimerId nID) = 0;

    // A block of the device for the peers: what became of it.
    enum class Sent {
        sent,         // on its way (or waiting for the peer in its backlog)
        paused,       // the peer asked for a pause: it gets nothing meanwhile
        notConnected, // no server: the block may wait for one that is retried (HoldForServer)
        stalled,      // the server has not read for so long that its backlog is full
    };
    virtual Sent FromDevice(const char* pBuffer, std::size_t nLength) = 0;
    // A block of the device kept for a server that is retried; false past the backlog's bound.
    // nWire is its length as the server would get it.
    virtual bool HoldForServer(const char* pBuffer, std::size_t nLength, std::size_t& nWire);
    // The clients that came and left since the last step are told (the listener's news).
    virtual void TellNews() {}

    // The peers are not read while the device's queue is full; in the fast mode their watches
    // rest meanwhile, and come back (with what came meanwhile read) at ResumeReading.
    void HoldReading();
    void ResumeReading();
    bool ReadingHeld() const { return m_bHeld; }

    // Telnet: sessions whose line change waited for the device go on; whether any still waits;
    // the modem lines' changes go to the peers that asked for them.
    virtual void ResumeWaitingSessions() = 0;
    virtual bool SessionsWait() const = 0;
    virtual void SendModemNews() = 0;

    // What waits for the peers goes out while they take it, for up to nMs milliseconds.
    virtual void FlushFor(unsigned nMs) = 0;

    // Unattended operation. The server connection dropped: what it had not acknowledged goes
    // back in front of what waits, and the side closes keeping it (counts in nResent, nLost).
    virtual void Drop(std::size_t& nResent, std::size_t& nLost);
    // An attempt to come back, moved on at each retry tick (bDue: the plan says one may start);
    // strWhy says why one failed, when there is more to say than the status line.
    enum class Attempt { pending, up, failed };
    virtual Attempt Retry(std::uint64_t nNow, bool bDue, std::string& strWhy) = 0;
    virtual void StopRetry() {}
    // Whether the bytes last sent are kept to be sent again after a drop.
    virtual void KeepSent(bool) {}
    // The server connection's backlog; none for the listener.
    virtual CSendBacklog* Backlog() { return nullptr; }

    // Why the side is being taken down, for the tooltip that tells it at the close.
    void SetDownReason(const std::string& strReason) { m_strDownReason = strReason; }
    void ShowClientCounters(bool bShow) { m_settings.clientCounters = bShow; }
    // TLS settings that are wrong (files that do not load), found at start-up and at each open;
    // the status line saying so.
    const std::string& TlsError() const { return m_strTlsError; }
    void ShowTlsError();

protected:
    CNetworkSide(CSideHost& host, const NetworkSideSettings& settings);

    // The device's bytes as this side carries them: 0xFF doubled under Telnet.
    std::string ToNetwork(const char* pBuffer, std::size_t nLength) const;
    // The TLS settings for one open (read anew: a renewed certificate is taken); none without TLS
    // or when they are wrong (TlsError says why).
    std::shared_ptr<const CTlsConfig> TlsConfigFor(CTlsConfig::Role role, const std::string& strIP);
    virtual void StopWatching() = 0;
    virtual void WatchAgain() = 0;

    CSideHost& m_host;
    NetworkSideSettings m_settings;
    std::string m_strDownReason;

private:
    bool m_bHeld = false;
    std::string m_strTlsError;
};
