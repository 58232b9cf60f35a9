// Faults of the files: a day's log that cannot be written, a settings file that cannot be read or
// written, and a settings file full of junk.
#include "fault/FaultRig.h"
#include "support/FileText.h"
#include "support/OrdinaryUser.h"

#include <QElapsedTimer>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fault {
namespace {

namespace fs = std::filesystem;

using testing_support::ReadFile;

class FileFaultTest : public FaultTest {
protected:
    std::string Setting(const char* section, const char* key) {
        char value[256];
        GetPrivateProfileStringA(section, key, "(none)", value, sizeof value, SETTINGS_FILE);
        return value;
    }
    std::string PortBox() { return dlg->m_cboPort.GetWindowText(); }
    // The settings file cannot be read or written: the window starts with the defaults, a
    // choice change goes nowhere, and the link works by what the controls say.
    void StartsWithDefaultsAndKeepsWorking() {
        QElapsedTimer started;
        started.start();
        Start();
        EXPECT_LT(started.elapsed(), kResponsiveMs);
        EXPECT_EQ(PortBox(), "COM3");
        EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), 5);
        EXPECT_EQ(g_nBaudrate, 115200u);
        EXPECT_EQ(dlg->m_ipServer.GetWindowText(), "127.0.0.1");
        EXPECT_EQ(dlg->m_editPort.GetWindowText(), "8000");
        EXPECT_EQ(dlg->m_chkHex.GetCheck(), 1);
        EXPECT_EQ(dlg->m_chk0x.GetCheck(), 0);
        EXPECT_EQ(dlg->m_chkSingle.GetCheck(), 0);
        EXPECT_EQ(g_bReopen, 1);

        Press(IDC_CHECK_HEX);
        EXPECT_EQ(dlg->m_chkHex.GetCheck(), 0);
        // The port names no device (the port map lives in the unreadable file): the connect
        // succeeds, the open fails and takes the connection down again.
        dlg->m_cboPort.SetWindowText("vxnone");
        dlg->m_editPort.SetWindowText(std::to_string(server.Port()).c_str());
        Press(IDC_BUTTON_OPEN);
        EXPECT_TRUE(server.Accept(5s));
        EXPECT_TRUE(server.WaitClientClosed(5s));
        EXPECT_EQ(dlg->m_strComStatus, "串口vxnone打开失败1");
        EXPECT_EQ(dlg->m_strNetStatus, "已断开服务器");
        EXPECT_EQ(Caption(), "打开");
        Watch(200ms);
        EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    }
};

TEST_F(FileFaultTest, LogThatCannotBeWrittenStopsNeitherForwardingNorDisplay) {
    SYSTEMTIME now{2026, 12, 0, 1, 10, 0, 0, 0};
    SetClockForTest([&] { return now; });
    StartLinked();
    auto logOf = [&] {
        char name[32];
        std::snprintf(name, sizeof name, "2026-12-%02d.log", now.wDay);
        return std::string(name);
    };
    struct Obstacle {
        const char* what;
        std::function<void(const std::string&)> make;
    };
    std::vector<Obstacle> obstacles = {
        {"the day's log name is a folder", [](const std::string& n) { fs::create_directory(n); }},
        {"the day's log is a link to a full device",
         [](const std::string& n) { fs::create_symlink("/dev/full", n); }},
        {"the day's log is a link into a missing folder",
         [](const std::string& n) { fs::create_symlink("no-such-folder/x.log", n); }},
    };

    std::int64_t com = 0, tcp = 0;
    for (const Obstacle& obstacle : obstacles) {
        SCOPED_TRACE(obstacle.what);
        ++now.wDay;
        const std::string log = logOf();
        obstacle.make(log);
        const std::string up = Pattern(static_cast<std::uint64_t>(com), 1500);
        const std::string down = Pattern(static_cast<std::uint64_t>(tcp) + 99, 1500);
        ASSERT_TRUE(device.Send(up));
        EXPECT_EQ(ServerReceives(up.size()), up);
        ASSERT_TRUE(server.Send(down));
        EXPECT_EQ(DeviceReceives(down.size()), down);
        com += 1500;
        tcp += 1500;
        EXPECT_TRUE(Until([&] { return g_nComBytes == com && g_nTcpBytes == tcp; }));
        EXPECT_NE(dlg->m_strComData.find("Recv COM 1500 Bytes"), std::string::npos);
        EXPECT_NE(dlg->m_strTcpData.find("Recv TCP 1500 Bytes"), std::string::npos);
        EXPECT_EQ(LoggedEntries(log, "SPP(COM)"), 0u);
    }
    // A folder the user may not write to. The superuser writes into any folder whatever its
    // mode, so an ordinary user gets the block: it is shown, and its entry is lost silently.
    ++now.wDay;
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    EXPECT_TRUE(testing_support::RunAsOrdinaryUser([&] {
        dlg->ShowTrafficBlock(false, "late", 4);
        EXPECT_NE(dlg->m_strComData.find("Recv COM 4 Bytes"), std::string::npos);
        EXPECT_FALSE(fs::exists(logOf()));
        return !::testing::Test::HasFailure();
    }));
    fs::permissions(dir.Path(), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_directory("2026-12-02.log"));
    EXPECT_TRUE(fs::is_symlink("2026-12-03.log"));
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM3已打开");
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);

    // A writable day again: the log takes up where it can.
    ++now.wDay;
    ASSERT_TRUE(device.Send("back"));
    EXPECT_EQ(ServerReceives(4), "back");
    EXPECT_TRUE(Until([&] { return LoggedEntries(logOf(), "SPP(COM)") == 1; }));
}

TEST_F(FileFaultTest, SettingsFileThatIsALinkToAFullDevice) {
    fs::remove("VarnelConfig.ini");
    fs::create_symlink("/dev/full", "VarnelConfig.ini");
    StartsWithDefaultsAndKeepsWorking();
    EXPECT_TRUE(fs::is_symlink("VarnelConfig.ini"));
    EXPECT_EQ(fs::read_symlink("VarnelConfig.ini"), "/dev/full");
}

TEST_F(FileFaultTest, SettingsFileThatIsAFolder) {
    fs::remove("VarnelConfig.ini");
    fs::create_directory("VarnelConfig.ini");
    StartsWithDefaultsAndKeepsWorking();
    EXPECT_TRUE(fs::is_directory("VarnelConfig.ini"));
    EXPECT_TRUE(fs::is_empty("VarnelConfig.ini"));
}

TEST_F(FileFaultTest, SettingsFileOfTenMegabytesOfJunk) {
    // Binary junk in very long and short lines, with the keys the window reads among it.
    std::string junk;
    std::uint64_t x = 88172645463325252ull;
    auto noise = [&](std::size_t n, bool lineBreaks) {
        for (std::size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            char c = static_cast<char>(x);
            if (!lineBreaks && (c == '\n' || c == '\r'))
                c = '#';
            junk.push_back(c);
        }
    };
    noise(3 << 20, false); // one line of 3 MiB
    junk += "\r\n[COM]\r\nCOM=4\r\nBaudRate=3\r\n";
    noise(2 << 20, true);
    junk += "\r\n[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" + std::to_string(server.Port()) + "\r\n";
    noise(2 << 20, true);
    junk += "\r\n[SYSTEM]\r\nHEX=0\r\n0x=1\r\nSingle=0\r\nREOPEN=0\r\n";
    noise(1 << 20, true);
    junk += "\r\n[Ports]\r\nCOM5=" + device.SlavePath() + "\r\n";
    noise((10 << 20) - junk.size(), true);
    std::ofstream("VarnelConfig.ini", std::ios::binary | std::ios::trunc) << junk;
    ASSERT_EQ(fs::file_size("VarnelConfig.ini"), 10u << 20);

    QElapsedTimer timed;
    timed.start();
    Start();
    RecordProperty("junk_startup_ms", static_cast<int>(timed.elapsed()));
    EXPECT_EQ(PortBox(), "COM5");
    EXPECT_EQ(dlg->m_cboBaud.GetCurSel(), 3);
    EXPECT_EQ(g_nBaudrate, 38400u);
    EXPECT_EQ(dlg->m_editPort.GetWindowText(), std::to_string(server.Port()));
    EXPECT_EQ(dlg->m_chkHex.GetCheck(), 0);
    EXPECT_EQ(dlg->m_chk0x.GetCheck(), 1);
    EXPECT_EQ(g_bReopen, 0);

    // A choice change writes its key and keeps every other key and the junk around them.
    timed.restart();
    Press(IDC_CHECK_HEX);
    RecordProperty("junk_choice_change_ms", static_cast<int>(timed.elapsed()));
    EXPECT_EQ(Setting("SYSTEM", "HEX"), "1");
    EXPECT_EQ(Setting("SYSTEM", "0x"), "1");
    EXPECT_EQ(Setting("SYSTEM", "Single"), "0");
    EXPECT_EQ(Setting("SYSTEM", "REOPEN"), "0");
    EXPECT_EQ(Setting("COM", "COM"), "4");
    EXPECT_EQ(Setting("COM", "BaudRate"), "3");
    EXPECT_EQ(Setting("Socket", "ServerIP"), "127.0.0.1");
    EXPECT_EQ(Setting("Socket", "PORT"), std::to_string(server.Port()));
    EXPECT_EQ(Setting("Ports", "COM5"), device.SlavePath());
    const std::string after = ReadFile("VarnelConfig.ini");
    EXPECT_GE(after.size(), junk.size() - junk.size() / 50);
    EXPECT_EQ(after.substr(0, 3 << 20), junk.substr(0, 3 << 20));

    // The link comes up through the port map among the junk, and carries both ways.
    timed.restart();
    Press(IDC_BUTTON_OPEN);
    RecordProperty("junk_open_ms", static_cast<int>(timed.elapsed()));
    ASSERT_TRUE(server.Accept(5s));
    EXPECT_EQ(dlg->m_strNetStatus, "已连接服务器");
    EXPECT_EQ(dlg->m_strComStatus, "串口COM5已打开");
    ticks.Start();
    ASSERT_TRUE(device.Send("up"));
    EXPECT_EQ(ServerReceives(2), "up");
    ASSERT_TRUE(server.Send("down"));
    EXPECT_EQ(DeviceReceives(4), "down");
    EXPECT_LT(ticks.LongestGapMs(), kResponsiveMs);
    EXPECT_EQ(Setting("Socket", "PORT"), std::to_string(server.Port()));
    EXPECT_EQ(Setting("Ports", "COM5"), device.SlavePath());
}

} // namespace
} // namespace fault
