// CVarnelDlg left alone (RECONNECT and AUTOOPEN in the settings file): a side that drops without
// the user asking is tried again by itself while the other side stays up; the device's bytes
// wait for the server meanwhile, and what the server had not acknowledged when its connection
// died is sent again first. The opens and closes are the button's own paths.
#include "app/VarnelDlg.h"
#include "app/linkerrors/LinkErrors.h"
#include "app/platform/File.h"
#include "serial/Ports.h"

#include <cerrno>

namespace {

using Plan = CReconnectPlan;

int StatusId(int nSide) {
    return nSide == Plan::NETWORK ? IDC_STATIC_NETSTATUS : IDC_STATIC_COMSTATUS;
}

SYSTEMTIME Now() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return st;
}

void WriteEvent(CVarnelDlg& dlg, const OutageFacts& facts, const std::string& strWhat) {
    const SYSTEMTIME st = Now();
    dlg.AppendEvent(EventsFileName(st), EventLine(st, facts, strWhat));
}

} // namespace

// With RECONNECT the two sides open independently: a side that does not come up is retried, and
// the link counts as open (关闭 ends it) until the user closes it.
void CVarnelDlg::ToggleRetriedLink() {
    if (LinkIsOpen()) {
        StopRetries();
        ToggleTcp();
        ToggleSerial();
        return;
    }
    // Wrong settings are not retried and open nothing: nothing would change until someone fixes
    // them. The status line of the side in error says what is wrong.
    const bool bSerialSettingsWrong = !TakeLineSettings().empty();
    if (!NetworkSettingsError().empty() || bSerialSettingsWrong) {
        if (!NetworkSettingsError().empty())
            ToggleTcp();
        if (bSerialSettingsWrong)
            ToggleSerial();
        return;
    }
    const bool bTcpFailed = ToggleTcp();
    const bool bComFailed = ToggleSerial();
    if (bComFailed)
        ShowSerialSideWanted();
    if (bTcpFailed) {
        ShowNetworkSideWanted();
        const CWnd* pStatus = GetDlgItem(IDC_STATIC_NETSTATUS);
        BeginOutage(Plan::NETWORK, pStatus != nullptr ? pStatus->GetToolTipText() : "",
                    Plan::End::openFailed);
    }
    if (bComFailed) {
        const CWnd* pStatus = GetDlgItem(IDC_STATIC_COMSTATUS);
        BeginOutage(Plan::SERIAL, pStatus != nullptr ? pStatus->GetToolTipText() : "",
                    Plan::End::openFailed);
    }
}

// The server's side went down. Without RECONNECT the whole link goes down, as it always did.
void CVarnelDlg::NetworkDropped(const std::string& strReason, CReconnectPlan::End end) {
    m_strNetDownReason = strReason;
    if (!m_plan.Enabled()) {
        ToggleLink();
        return;
    }
    // What the server had not acknowledged goes back in front of what waits for it.
    std::size_t nLost = 0;
    const std::size_t nResent = m_backlog.Rewind(m_pLink->Acknowledged(), &nLost);
    m_strNetDownReason.clear();
    CloseNetworkSide(true);
    BeginOutage(Plan::NETWORK, strReason, end);
    m_outages[Plan::NETWORK].facts.resent = nResent;
    m_outages[Plan::NETWORK].facts.dropped = nLost;
    WriteEvent(*this, m_outages[Plan::NETWORK].facts, "dropped");
}

// The device went away. Its side closes once the call that noticed it has returned.
void CVarnelDlg::SerialDropped() {
    SetOneShotTimer(TIMER_SERIAL_LOST, 1);
}

void CVarnelDlg::OnSerialLost() {
    if (!m_plan.Enabled() || !LinkIsOpen() || m_plan.Retrying(Plan::SERIAL))
        return;
    const std::string strReason = DevicePathOf(g_szComPort) + " was removed";
    CloseSerialSide();
    m_bComDeviceGone = false;
    BeginOutage(Plan::SERIAL, strReason, Plan::End::deviceGone);
    WriteEvent(*this, m_outages[Plan::SERIAL].facts, "dropped");
}

void CVarnelDlg::HoldForServer(const char* pBuffer, DWORD nCount) {
    if (!m_plan.Retrying(Plan::NETWORK))
        return; // no server is wanted: the block is shown and logged only
    Outage& outage = m_outages[Plan::NETWORK];
    if (m_backlog.Hold(pBuffer, nCount))
        outage.facts.held += nCount;
    else
        outage.facts.dropped += nCount; // past the bound the newest bytes go
}

void CVarnelDlg::NoteUndeliveredToDevice(std::size_t nCount) {
    m_outages[Plan::SERIAL].facts.held += nCount;
}

// The side is down for the reason and, the plan willing, retried from now on.
void CVarnelDlg::BeginOutage(int nSide, const std::string& strReason, CReconnectPlan::End end) {
    Outage& outage = m_outages[nSide];
    const std::int64_t nNow = static_cast<std::int64_t>(GetTickCount64());
    if (!outage.active) {
        outage = {};
        outage.active = true;
        outage.fromTick = static_cast<std::uint64_t>(nNow);
        outage.facts.network = nSide == Plan::NETWORK;
        outage.facts.from = Now();
    }
    outage.facts.reason = strReason;
    m_plan.Ended(static_cast<Plan::Side>(nSide), end, nNow);
    SetTimer(TIMER_RETRY, RETRY_TICK_MS);
    ShowRetry(nSide);
}

void CVarnelDlg::EndOutage(int nSide) {
    Outage& outage = m_outages[nSide];
    m_plan.AttemptSucceeded(static_cast<Plan::Side>(nSide));
    if (!outage.active)
        return;
    outage.active = false;
    outage.facts.to = Now();
    outage.facts.lengthMs = static_cast<std::int64_t>(GetTickCount64() - outage.fromTick);
    WriteEvent(*this, outage.facts,
               "back after " + std::to_string(outage.facts.lengthMs / 1000) + " s");
    if (CWnd* pStatus = GetDlgItem(StatusId(nSide)))
        pStatus->SetToolTipText(pStatus->GetToolTipText() + "\n" + LastOutageTip(outage.facts));
}

void CVarnelDlg::ShowRetry(int nSide) {
    const Plan::Side side = static_cast<Plan::Side>(nSide);
    if (!m_plan.Retrying(side))
        return;
    const std::string strStatus = RetryStatus(nSide == Plan::NETWORK, m_plan.Attempts(side) + 1);
    (nSide == Plan::NETWORK ? m_strNetStatus : m_strComStatus) = strStatus;
    ShowRetryTip(nSide);
    UpdateData(false);
}

// The tooltip follows the outage (bytes held, the next attempt) without a push of the texts.
void CVarnelDlg::ShowRetryTip(int nSide) {
    const Plan::Side side = static_cast<Plan::Side>(nSide);
    if (!m_plan.Retrying(side))
        return;
    const std::int64_t nNext =
        m_plan.NextAttempt(side) - static_cast<std::int64_t>(GetTickCount64());
    SetStatusTip(*this, StatusId(nSide), RetryTip(m_outages[nSide].facts, nNext));
}

void CVarnelDlg::OnRetryTick() {
    const std::uint64_t nNow = GetTickCount64();
    if (m_plan.Retrying(Plan::NETWORK))
        TryServer(nNow);
    if (m_plan.Retrying(Plan::SERIAL) && m_plan.Due(Plan::SERIAL, static_cast<std::int64_t>(nNow)))
        TryDevice(nNow);
    ShowRetryTip(Plan::NETWORK);
    ShowRetryTip(Plan::SERIAL);
    if (!m_plan.Retrying(Plan::NETWORK) && !m_plan.Retrying(Plan::SERIAL))
        KillTimer(TIMER_RETRY);
}

// A connect that does not block: started when due, looked at every tick until it ends.
void CVarnelDlg::TryServer(std::uint64_t nNow) {
    const std::int64_t nNowMs = static_cast<std::int64_t>(nNow);
    if (m_bListen) { // a listener that could not open (its port was taken) is opened again
        if (!m_plan.Due(Plan::NETWORK, nNowMs))
            return;
        if (!ToggleListen()) {
            EndOutage(Plan::NETWORK);
            return;
        }
        m_plan.AttemptFailed(Plan::NETWORK, nNowMs);
        ShowRetry(Plan::NETWORK);
        return;
    }
    if (m_sockConnecting == sock::INVALID_SOCKET) {
        if (!m_plan.Due(Plan::NETWORK, nNowMs))
            return;
        m_sockConnecting = sock::socket(sock::AF_INET, sock::SOCK_STREAM, 0);
        m_nConnectDeadline = nNow + static_cast<std::uint64_t>(sock::ConnectTimeoutMs());
        if (sock::connect_start(m_sockConnecting, &m_addrServer, sizeof(m_addrServer)) != 0 &&
            sock::WSAGetLastError() != EINPROGRESS) {
            GiveUpConnect();
            m_plan.AttemptFailed(Plan::NETWORK, nNowMs);
            ShowRetry(Plan::NETWORK);
            return;
        }
    }
    if (!m_pConnecting) {
        const int nResult = sock::connect_result(m_sockConnecting);
        const int nError = nResult == 0 ? 0 : sock::WSAGetLastError();
        if (nError == EINPROGRESS && nNow < m_nConnectDeadline)
            return;
        if (nError != 0) {
            GiveUpConnect();
            m_plan.AttemptFailed(Plan::NETWORK, nNowMs);
            m_outages[Plan::NETWORK].facts.lastAttempt = DescribeConnectFailure(
                m_strServerIP, m_nServerPort, nError == EINPROGRESS ? ETIMEDOUT : nError);
            ShowRetry(Plan::NETWORK);
            return;
        }
        // Connected: the transport's handshake, if it has one, goes on at each tick.
        m_pConnecting = NewServerTransport(m_sockConnecting);
        m_nConnectDeadline = nNow + TLS_HANDSHAKE_MS;
        if (!m_pConnecting) { // a TLS file changed since start-up: this attempt fails
            GiveUpConnect();
            m_plan.AttemptFailed(Plan::NETWORK, nNowMs);
            m_outages[Plan::NETWORK].facts.lastAttempt = m_strTlsError;
            ShowRetry(Plan::NETWORK);
            return;
        }
    }
    if (!ServerHandshakeDone(nNow))
        return;
    g_sock = m_sockConnecting;
    m_sockConnecting = sock::INVALID_SOCKET;
    m_pLink = std::move(m_pConnecting);
    NetworkSideUp();
    // What waited for the server goes first, before anything newer.
    m_backlog.Flush(*m_pLink);
    WatchBacklog();
    EndOutage(Plan::NETWORK);
}

void CVarnelDlg::GiveUpConnect() {
    m_pConnecting.reset();
    sock::closesocket(m_sockConnecting); // nothing when no connect is under way
    m_sockConnecting = sock::INVALID_SOCKET;
}

// The handshake of a reconnect, moved on for a moment at each tick: true once it is done. A
// refusal counts as a failed attempt, with why.
bool CVarnelDlg::ServerHandshakeDone(std::uint64_t nNow) {
    const CTransport::Stage stage = m_pConnecting->Handshake(20000, 4);
    if (stage == CTransport::Stage::ready)
        return true;
    if (stage == CTransport::Stage::handshake && nNow < m_nConnectDeadline)
        return false;
    if (stage == CTransport::Stage::handshake)
        m_pConnecting->HandshakeTimedOut();
    const std::string strWhy = m_pConnecting->Failure();
    GiveUpConnect();
    m_plan.AttemptFailed(Plan::NETWORK, static_cast<std::int64_t>(nNow));
    m_outages[Plan::NETWORK].facts.lastAttempt =
        m_strServerIP + ":" + std::to_string(m_nServerPort) + ": " + strWhy;
    ShowRetry(Plan::NETWORK);
    return false;
}

// The device is opened through the button's own path; one that is not there is only looked for.
void CVarnelDlg::TryDevice(std::uint64_t nNow) {
    long lError = 0;
    if (OpenSerialSide(&lError)) {
        EndOutage(Plan::SERIAL);
        return;
    }
    const bool bAbsent = comm::MeansNoSuchPort(lError);
    m_plan.AttemptFailed(Plan::SERIAL, static_cast<std::int64_t>(nNow), bAbsent);
    ShowRetry(Plan::SERIAL);
}

// The user's 关闭: nothing is tried again, and a connect under way is given up.
void CVarnelDlg::StopRetries() {
    m_plan.Stop();
    KillTimer(TIMER_RETRY);
    KillTimer(TIMER_SERIAL_LOST);
    GiveUpConnect();
    for (Outage& outage : m_outages)
        outage.active = false;
}
