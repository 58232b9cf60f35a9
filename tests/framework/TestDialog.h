// A dialog on the real main-window template for the framework's tests on each backend: its
// controls bound, its clicks, selection changes, ticks and watch calls counted.
#pragma once

#include "app/framework/Afx.h"
#include "app/framework/TestHooks.h"
#include "serial/Ports.h"

#include <gtest/gtest.h>

#include <chrono>

#include <functional>
#include <map>
#include <string>

namespace {

constexpr int kMainTemplate = 102;
constexpr int kPane = 1009, kPort = 1016, kOpen = 1005, kClear = 1020, kBaud = 1003, kIp = 1015,
              kComStatus = 1008, kHex = 1014;

class TestDlg : public CDialog {
public:
    TestDlg() : CDialog(kMainTemplate) {}
    CEdit m_pane;
    CComboBox m_baud;
    CIPAddressCtrl m_ip;
    CButton m_hex;
    CString m_strPane;
    std::string m_strStatus;
    int opens = 0, clears = 0, selChanges = 0, cancels = 0, hexClicks = 0;
    std::map<UINT_PTR, int> ticks;
    std::map<UINT_PTR, int> watched;
    std::function<void(UINT_PTR)> onTick;
    std::function<void(UINT_PTR)> onWatch;

    void OnCancel() override { ++cancels; }
    void OnTimer(UINT_PTR id) override {
        ++ticks[id];
        if (onTick)
            onTick(id);
    }
    void OnWatch(UINT_PTR id) override {
        ++watched[id];
        if (onWatch)
            onWatch(id);
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        DDX_Control(pDX, kPane, m_pane);
        DDX_Control(pDX, kBaud, m_baud);
        DDX_Control(pDX, kIp, m_ip);
        DDX_Control(pDX, kHex, m_hex);
        DDX_Text(pDX, kPane, m_strPane);
        DDX_Text(pDX, kComStatus, m_strStatus);
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDlg, CDialog)
ON_BN_CLICKED(kOpen, [this] { ++opens; })
ON_BN_CLICKED(kClear, [this] { ++clears; })
ON_BN_CLICKED(kHex, [this] { ++hexClicks; })
ON_CBN_SELCHANGE(kBaud, [this] { ++selChanges; })
END_MESSAGE_MAP()

// The fast mode's serial side: an event of the serial layer that is set again after its first
// call is called again, from the port's thread through the listener; none after the unwatch.
inline void ExpectAnEventWatchCallsAgainForEachLaterSet(TestDlg& dlg) {
    AfxSetEventListener([](void* hEvent, std::function<void()> notify) {
        return comm::SetEventListener(hEvent, std::move(notify)) != comm::FALSE;
    });
    comm::HANDLE event = comm::CreateEventA(nullptr, comm::TRUE, comm::FALSE, nullptr);
    ASSERT_TRUE(dlg.WatchEvent(7, event));
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(comm::SetEvent(event));
        EXPECT_TRUE(PumpEventsUntil([&] { return dlg.watched[7] >= round; }, 5000)) << round;
        ASSERT_TRUE(comm::ResetEvent(event));
    }
    dlg.Unwatch(7);
    comm::SetEvent(event);
    const auto unwatched = std::chrono::steady_clock::now();
    PumpEventsUntil(
        [&] {
            return std::chrono::steady_clock::now() - unwatched >= std::chrono::milliseconds(20);
        },
        1000);
    EXPECT_EQ(dlg.watched[7], 3); // none after the watch ended
    comm::CloseHandle(event);
}

} // namespace
