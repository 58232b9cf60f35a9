// What the tests of the bridge's window share around the dialog, on every backend: a value of the
// settings file in the current directory, the settings that link the window to a test's device
// and server, the message boxes answered and kept, and the program's globals put back.
#pragma once

#include "app/VarnelDlg.h"
#include "app/framework/TestHooks.h"
#include "app/platform/Profile.h"
#include "app/platform/Socket.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testing_support {

inline void SetSetting(const char* section, const char* key, const std::string& value) {
    WritePrivateProfileStringA(section, key, value.c_str(), SETTINGS_FILE);
}

// The device at `devicePath` as COM3, the server on `serverPort`, no reopening after a drop.
inline void SetLinkSettings(const std::string& devicePath, std::uint16_t serverPort) {
    SetSetting("Ports", "COM3", devicePath);
    SetSetting("Socket", "PORT", std::to_string(serverPort));
    SetSetting("SYSTEM", "REOPEN", "0");
}

// Every message box the window shows is kept in `boxes` and answered with `answer`, whatever the
// test has set it to by then.
inline void RecordMessageBoxes(std::vector<MessageBoxCall>& boxes, const int& answer) {
    SetMessageBoxAnswererForTest([&boxes, &answer](const MessageBoxCall& call) {
        boxes.push_back(call);
        return answer;
    });
}

// The port and the rate the program starts with when its settings name none, and reopening on.
inline void ResetStartSettings() {
    std::memcpy(g_szComPort, "COM3\0\0\0\0", 8);
    g_nBaudrate = 115200;
    g_bReopen = 1;
}

// The window once its link went down from the server's side: the server's status says
// `netStatus` within five seconds, the port is closed, Open is offered again and no socket is kept.
inline void ExpectLinkDown(CVarnelDlg& dlg, const char* netStatus) {
    EXPECT_TRUE(PumpEventsUntil([&] { return dlg.m_strNetStatus == netStatus; }, 5000));
    EXPECT_EQ(dlg.m_strComStatus, "串口已关闭");
    EXPECT_EQ(dlg.m_btnOpen.GetWindowText(), "打开");
    EXPECT_EQ(g_sock, sock::INVALID_SOCKET);
}

// The port and the server connection closed, as before the test's window opened them.
inline void ReleaseLink() {
    g_serial.Close();
    sock::closesocket(g_sock);
    g_sock = sock::INVALID_SOCKET;
    g_bTcpConnected = 0;
}

} // namespace testing_support
