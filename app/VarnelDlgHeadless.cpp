// CVarnelDlg: what the program without a window asks of the main window, through the same paths
// as the 打开 and 关闭 button.
#include "app/VarnelDlg.h"
#include "app/platform/Clock.h"

#include <algorithm>
#include <chrono>

bool CVarnelDlg::OpenLinkAtStart() {
    if (!LinkIsOpen())
        ToggleLink();
    return LinkIsOpen();
}

bool CVarnelDlg::ReconnectsByItself() const {
    return m_plan.Enabled() && NetworkSettingsError().empty() && SerialSettingsError().empty();
}

void CVarnelDlg::CloseLinkForExit(UINT nFlushMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nFlushMs);
    // The server gets what waits for it while it takes it, up to the deadline; the close below
    // tries once more and tells what is left.
    const auto waiting = [this] {
        return m_backlog.Waiting() > 0 || (m_pLink && m_pLink->WireWaiting() > 0);
    };
    while (g_bTcpConnected && waiting() && Clock::now() < deadline) {
        if (!m_backlog.Flush(*m_pLink))
            break;
        if (waiting())
            Sleep(10);
    }
    while (m_pClients && Clock::now() < deadline) {
        const auto clients = m_pClients->Clients();
        if (std::none_of(clients.begin(), clients.end(),
                         [](const ClientFacts& client) { return client.waiting > 0; }))
            break;
        m_pClients->Flush();
        Sleep(10);
    }
    if (LinkIsOpen())
        ToggleLink();
}
