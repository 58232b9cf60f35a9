// CVarnelDlg in the fast mode: the window's thread waits on the port's read of the device's next
// burst and on the connection, and forwards a burst as one block once its side has been quiet for
// a moment. The rules of the polls hold for every block.
#include "app/VarnelDlg.h"
#include "app/linkerrors/LinkErrors.h"

#include <cerrno>
#include <cstring>

void CVarnelDlg::StartSerialWatch() {
    // One read takes one burst: it ends once the line has been quiet for the gap, or full.
    m_bComWatched = m_comRead.Prepare(SerialQuietGapMs(g_nBaudrate)) &&
                    WatchEvent(WATCH_COM, m_comRead.Event());
    if (m_bComWatched)
        ArmSerialRead();
    // The end of each write for the device moves its queue on.
    if (m_toDevice.Event() != nullptr)
        WatchEvent(WATCH_DEVICE, m_toDevice.Event());
}

void CVarnelDlg::StopSerialWatch() {
    Unwatch(WATCH_DEVICE);
    if (!m_bComWatched)
        return;
    m_bComWatched = false;
    Unwatch(WATCH_COM);
    // The port is closed next, which discards what it holds; the read ends before its record.
    m_comRead.Take(true);
}

// Reads the device's next burst in the background. A read that cannot start means the device is
// gone (after its last bytes were read): the watch ends there.
void CVarnelDlg::ArmSerialRead() {
    if (!m_comRead.Arm())
        NoteSerialDeviceGone();
}

// Forwards what the port's read took, if anything.
void CVarnelDlg::DeliverSerialBurst(bool bCancel, CSerial::LONG* pResult) {
    const DWORD nCount = m_comRead.Take(bCancel, pResult);
    if (nCount > 0)
        DeliverSerialBlock(m_comRead.Data(), nCount);
}

void CVarnelDlg::OnSerialBurst() {
    if (!m_comRead.Ended())
        return; // a late notice of a read that was taken already
    CSerial::LONG lResult = 0;
    DeliverSerialBurst(false, &lResult);
    // A device that hung up ends the read; the next one reads what it left, then tells it gone.
    // Any other failure would only repeat: the reads stop, and a vanished device gets its cue.
    if (!m_bComWatched)
        return;
    if (lResult == 0 || lResult == static_cast<CSerial::LONG>(comm::ERROR_OPERATION_ABORTED))
        ArmSerialRead();
    else
        NoteSerialDeviceGone();
}

DWORD CVarnelDlg::SerialBytesHeld() {
    return g_serial.GetInQueueCount() + m_comRead.Held();
}

void CVarnelDlg::GatherNetworkBurst() {
    if (!g_bTcpConnected)
        return;
    // Nothing is read while the device's queue has no room for a whole block, or a line change
    // of the session waits: the watch rests until then, and TCP holds the server back.
    if (!DeviceHasRoom() || (m_pServerSession && m_pServerSession->Waits())) {
        if (m_nNetBurst > 0 && !IsTimerRunning(TIMER_TCP_QUIET))
            SetOneShotTimer(TIMER_TCP_QUIET, TCP_QUIET_MS);
        HoldPeers();
        return;
    }
    if (!m_pLink->Readable())
        return;
    int nError = 0;
    const int nLength =
        m_pLink->Receive(m_netBurst + m_nNetBurst, RECV_BUFFER_SIZE - m_nNetBurst, nError);
    if (nLength == sock::SOCKET_ERROR && (nError == EWOULDBLOCK || nError == EAGAIN))
        return; // only part of a record has come
    if (nLength == sock::SOCKET_ERROR || nLength == 0) {
        // What the server sent before it went is delivered first.
        // The system hands a new connection the old one's number again: the count tells them apart.
        const std::uint64_t nConnection = m_nConnections;
        ForwardNetworkBurst();
        if (!g_bTcpConnected || m_nConnections != nConnection)
            return; // forwarding took the link down or cycled it already
        NetworkDropped(DescribeReceiveFailure(nError), CReconnectPlan::End::serverClosed);
        return;
    }
    m_nNetBurst += nLength;
    if (m_nNetBurst == RECV_BUFFER_SIZE)
        ForwardNetworkBurst();
    // Bytes the transport holds already (whole records read with the last ones) make no socket
    // readable: they are taken when the quiet gap ends, or forwarded then.
    if (m_nNetBurst > 0 || (g_bTcpConnected && m_pLink->Holds()))
        SetOneShotTimer(TIMER_TCP_QUIET, TCP_QUIET_MS);
}

void CVarnelDlg::OnNetworkQuiet() {
    // Bytes whose news is still on its way continue the burst.
    if (g_bTcpConnected && !m_bPeersHeld && m_pLink->Readable())
        GatherNetworkBurst();
    else
        ForwardNetworkBurst();
}

void CVarnelDlg::ForwardNetworkBurst() {
    KillTimer(TIMER_TCP_QUIET);
    const int nLength = m_nNetBurst;
    m_nNetBurst = 0;
    if (nLength == 0)
        return;
    char buffer[RECV_BUFFER_SIZE];
    std::memcpy(buffer, m_netBurst, static_cast<std::size_t>(nLength));
    ForwardNetworkBlock(buffer, nLength);
}

// While bytes wait for the server, a connection that is waited on is watched until it takes them.
void CVarnelDlg::WatchBacklog() {
    if (g_bTcpConnected && IsWatching(WATCH_TCP) &&
        (m_backlog.Waiting() > 0 || m_pLink->WireWaiting() > 0) && !IsWatching(WATCH_TCP_SEND))
        WatchSocket(WATCH_TCP_SEND, g_sock, true);
}

void CVarnelDlg::OnNetworkWritable() {
    // A failed send is the receive side's to notice; watching on would only spin.
    if (!g_bTcpConnected || !m_backlog.Flush(*m_pLink) ||
        (m_backlog.Waiting() == 0 && m_pLink->WireWaiting() == 0))
        Unwatch(WATCH_TCP_SEND);
}

void CVarnelDlg::StopNetworkWatch() {
    Unwatch(WATCH_TCP);
    Unwatch(WATCH_TCP_SEND);
    KillTimer(TIMER_TCP_QUIET);
    m_nNetBurst = 0;
}
