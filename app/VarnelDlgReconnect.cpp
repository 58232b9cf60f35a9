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

// The network side went down. Without RECONNECT the whole link goes down, as it always did.
void CVarnelDlg::NetworkDropped(const std::string& strReason, CReconnectPlan::End end) {
    m_pNetwork->SetDownReason(strReason);
    if (!m_plan.Enabled()) {
        ToggleLink();
        return;
    }
    // What the server had not acknowledged goes back in front of what waits for it.
    std::size_t nResent = 0;
    std::size_t nLost = 0;
    m_pNetwork->Drop(nResent, nLost);
    BeginOutage(Plan::NETWORK, strReason, end);
    m_outages[Plan::NETWORK].facts.resent = nResent;
    m_outages[Plan::NETWORK].facts.dropped = nLost;
    WriteEvent(*this, m_outages[Plan::NETWORK].facts, "dropped");
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
    LinkOutage& outage = m_outages[Plan::NETWORK];
    std::size_t nWire = 0;
    if (m_pNetwork->HoldForServer(pBuffer, nCount, nWire))
        outage.facts.held += nWire;
    else
        outage.facts.dropped += nWire; // past the bound the newest bytes go
}

void CVarnelDlg::NoteUndeliveredToDevice(std::size_t nCount) {
    m_outages[Plan::SERIAL].facts.held += nCount;
}

// The side is down for the reason and, the plan willing, retried from now on.
void CVarnelDlg::BeginOutage(int nSide, const std::string& strReason, CReconnectPlan::End end) {
    LinkOutage& outage = m_outages[nSide];
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
    LinkOutage& outage = m_outages[nSide];
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

// The network side's attempt to come back, moved on at each tick; the plan says when one starts.
void CVarnelDlg::TryServer(std::uint64_t nNow) {
    const std::int64_t nNowMs = static_cast<std::int64_t>(nNow);
    std::string strWhy;
    switch (m_pNetwork->Retry(nNow, m_plan.Due(Plan::NETWORK, nNowMs), strWhy)) {
    case CNetworkSide::Attempt::pending:
        return;
    case CNetworkSide::Attempt::up:
        if (m_pNetwork->Listens())
            ShowNetworkSideWanted();
        EndOutage(Plan::NETWORK);
        return;
    case CNetworkSide::Attempt::failed:
        m_plan.AttemptFailed(Plan::NETWORK, nNowMs);
        if (!strWhy.empty())
            m_outages[Plan::NETWORK].facts.lastAttempt = strWhy;
        ShowRetry(Plan::NETWORK);
        return;
    }
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
    m_pNetwork->StopRetry();
    for (LinkOutage& outage : m_outages)
        outage.active = false;
}
