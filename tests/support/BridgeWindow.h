// The fixture of every test of the bridge's window, on every backend: the program's main window in
// a directory of the test's own (so the settings file and the logs are the test's), a device at
// the far end of a serial line that can be named as COM3, a TCP server on 127.0.0.1, the message
// boxes answered and kept, and the program's globals put back afterwards.
#pragma once

#include "app/Varnel.h"
#include "app/VarnelDlg.h"
#include "app/framework/TestHooks.h"
#include "app/platform/Profile.h"
#include "app/platform/Socket.h"
#include "support/Gather.h"
#include "support/LoopbackServer.h"
#include "support/TempWorkDir.h"

#ifndef _WIN32
#include "app/platform/TestSeams.h"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

inline void SetSetting(const char* section, const char* key, const std::string& value) {
    WritePrivateProfileStringA(section, key, value.c_str(), SETTINGS_FILE);
}

// `Device` is the far end of the serial line: a PtyPair (PtyPair.h) where the test needs the
// pseudo-terminal itself, a DeviceEnd (DeviceEnd.h) where it also runs under Wine.
template <class Device> class BridgeRig : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureGuiForTest();
        static_cast<void>(theApp); // links the application object in
        // The port and the rate the program starts with when its settings name none.
        std::memcpy(g_szComPort, "COM3\0\0\0\0", 8);
        g_nBaudrate = 115200;
        g_bReopen = 1;
        g_nComBytes = g_nTcpBytes = 0;
        // Every message box is kept and answered with `answer`, whatever the test set it to.
        SetMessageBoxAnswererForTest([this](const MessageBoxCall& call) {
            boxes.push_back(call);
            return answer;
        });
    }
    void TearDown() override {
        dlg.reset();
        // The port and the server connection closed, as before the test's window opened them.
        g_serial.Close();
        sock::closesocket(g_sock);
        g_sock = sock::INVALID_SOCKET;
        g_bTcpConnected = 0;
        SetMessageBoxAnswererForTest(nullptr);
        SetModalHookForTest(nullptr);
#ifndef _WIN32
        SetClockForTest(nullptr);
#endif
    }

    void Set(const char* section, const char* key, const std::string& value) {
        SetSetting(section, key, value);
    }
    // The settings that link the window to the test's device as COM3 and to its server, with no
    // reopening after a drop.
    void NameLink() {
        if constexpr (requires { device.Problem(); }) {
            ASSERT_TRUE(device.Ok()) << device.Problem();
        } else {
            ASSERT_TRUE(device.Ok());
        }
        ASSERT_TRUE(server.Listening());
        if constexpr (requires { device.SlavePath(); }) {
            Set("Ports", "COM3", device.SlavePath());
        } else {
            device.NameAs("COM3");
        }
        Set("Socket", "PORT", std::to_string(server.Port()));
        Set("SYSTEM", "REOPEN", "0");
    }
    virtual void Start() {
        dlg = std::make_unique<CVarnelDlg>();
        ASSERT_TRUE(dlg->Create());
        ASSERT_TRUE(IsShownForTest(*dlg));
    }
    // The user's click on a button of the window.
    virtual void Press(int id) {
        ClickForTest(*Item(id));
    }
    // Starts the window, presses Open and waits for the server to take the connection.
    void StartLinked() {
        ASSERT_NO_FATAL_FAILURE(Start());
        Press(IDC_BUTTON_OPEN);
        ASSERT_TRUE(server.Accept(std::chrono::seconds(5)));
        ASSERT_EQ(dlg->m_strNetStatus, "已连接服务器");
        ASSERT_EQ(dlg->m_strComStatus, "串口COM3已打开");
        ASSERT_EQ(Shows(IDC_STATIC_NETSTATUS), "已连接服务器");
        ASSERT_EQ(Shows(IDC_STATIC_COMSTATUS), "串口COM3已打开");
    }
    // The same, the link to be cycled after each block from the server.
    void StartLinkedReopening() {
        Set("SYSTEM", "REOPEN", "1");
        StartLinked();
    }
    // The link went down from the server's side: the server's status says `netStatus` within five
    // seconds, the port is closed, Open is offered again and no socket is kept.
    void ExpectLinkDown(const char* netStatus) {
        EXPECT_TRUE(Until([&] { return dlg->m_strNetStatus == netStatus; }));
        EXPECT_EQ(dlg->m_strComStatus, "串口已关闭");
        EXPECT_EQ(Caption(), "打开");
        EXPECT_EQ(g_sock, sock::INVALID_SOCKET);
    }

    CWnd* Item(int id) {
        CWnd* item = dlg->GetDlgItem(id);
        EXPECT_NE(item, nullptr) << id;
        return item;
    }
    // What a control shows the user, UTF-8.
    std::string Shows(int id) {
        return ShownTextForTest(*Item(id));
    }
    std::string Caption() {
        return dlg->m_btnOpen.GetWindowText();
    }
    bool Until(const std::function<bool()>& done, int ms = 5000) {
        return PumpEventsUntil(done, ms);
    }
    // Everything the serial device, or the server, receives within the time, pumping meanwhile.
    std::string DeviceReceives(std::size_t count, int ms = 5000) {
        return ReceiveWhilePumping(device, count, ms, receiveStep);
    }
    std::string ServerReceives(std::size_t count, int ms = 5000) {
        return ReceiveWhilePumping(server, count, ms, receiveStep);
    }

    TempWorkDir dir;
    Device device;
    LoopbackServer server;
    std::unique_ptr<CVarnelDlg> dlg;
    std::vector<MessageBoxCall> boxes;
    int answer = IDYES;
    // How long one wait for the device or the server lasts before the window's events are handled.
    std::chrono::milliseconds receiveStep{1};
};

} // namespace testing_support
