// varnel-headless end to end, run as a child process with no display: a pty under COM3, a
// loopback server, the settings file of a folder of its own; and its command line. Its clients
// when it listens are in ServiceListenTest.cpp, the service manager in ServiceManagerTest.cpp.
#include "HeadlessRun.h"
#include "app/bridge/OutageText.h"
#include "app/bridge/TrafficText.h"
#include "app/service/StatusText.h"
#include "support/Pattern.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace headless_test;
using testing_support::ChildProcess;
using testing_support::LoopbackServer;
using testing_support::PtyPair;
using testing_support::ReadFile;
using testing_support::TempWorkDir;
using testing_support::WaitUntil;

// The log with every entry's time set to one the test knows.
std::string WithKnownTimes(const std::string& log) {
    static const std::regex time(R"(at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
    return std::regex_replace(log, time, "at 2026-12-06 10:14:14");
}

// A folder with the settings file of a bridge from a pty under COM3 to the loopback server, in
// the default or the fast mode.
class HeadlessRig {
protected:
    explicit HeadlessRig(bool fast) {
        EXPECT_TRUE(pty.Ok());
        EXPECT_TRUE(server.Listening());
        std::ofstream("VarnelConfig.ini", std::ios::binary)
            << "[COM]\r\nCOM=2\r\nBaudRate=5\r\n[Socket]\r\nServerIP=127.0.0.1\r\nPORT="
            << server.Port() << "\r\n[SYSTEM]\r\nHEX=0\r\nREOPEN=0\r\nFAST=" << (fast ? 1 : 0)
            << "\r\n[Ports]\r\nCOM3=" << pty.SlavePath() << "\r\n";
        settings = ReadFile("VarnelConfig.ini");
    }
    // Starts the program and waits for both sides to be up.
    void Start() {
        program = std::make_unique<ChildProcess>(ProgramPath(), ProgramArgs({}));
        ASSERT_TRUE(program->Started());
        ASSERT_TRUE(server.Accept());
        ASSERT_TRUE(program->WaitForError(
            " serial 串口COM3已打开 (COM3: " + pty.SlavePath() + "; 115200 8N1)\n", kDeadline))
            << program->Error();
        EXPECT_NE(program->Error().find(
                      " network 已连接服务器 (127.0.0.1:" + std::to_string(server.Port()) + ")\n"),
                  std::string::npos)
            << program->Error();
    }

    // The line as another program left it: its speed (4800 baud) is not the one of the settings.
    void LeaveTheLineAsAnotherProgram() {
        termios line{};
        ASSERT_EQ(tcgetattr(pty.Master(), &line), 0);
        cfsetspeed(&line, B4800);
        ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &line), 0);
    }
    // The program gave the line back as LeaveTheLineAsAnotherProgram() left it.
    void ExpectTheLineAsAnotherProgramLeftIt() {
        termios after{};
        ASSERT_EQ(tcgetattr(pty.Master(), &after), 0);
        EXPECT_EQ(cfgetospeed(&after), B4800);
    }

    TempWorkDir dir;
    PtyPair pty;
    LoopbackServer server;
    std::string settings;
    std::unique_ptr<ChildProcess> program;
};

class HeadlessProgram : public HeadlessRig, public ::testing::TestWithParam<bool> {
protected:
    HeadlessProgram() : HeadlessRig(GetParam()) {}
};

// The fast mode, ended by the signal of the row.
class HeadlessFastProgram : public HeadlessRig, public ::testing::TestWithParam<int> {
protected:
    HeadlessFastProgram() : HeadlessRig(true) {}
};

TEST_P(HeadlessProgram, BridgesBothWaysLogsAndEndsOnSigtermWithTheSettingsUnchanged) {
    Start();
    const std::string fromDevice = "hello from the device\r\n";
    ASSERT_TRUE(pty.Send(fromDevice));
    EXPECT_EQ(server.Receive(fromDevice.size()), fromDevice);
    const std::string fromServer("to the device \xB4\xF2\x00\xFF", 18);
    ASSERT_TRUE(server.Send(fromServer));
    EXPECT_EQ(pty.Receive(fromServer.size(), kDeadline), fromServer);

    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitExit(kDeadline), 0) << program->Error();
    EXPECT_TRUE(server.WaitClientClosed());
    EXPECT_NE(program->Error().find(" serial 串口已关闭\n"), std::string::npos) << program->Error();
    EXPECT_NE(program->Error().find(" network 已断开服务器\n"), std::string::npos)
        << program->Error();
    // Nothing but status lines: the local time, the side, the text, the reason.
    static const std::regex lines(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (serial|network) [^\n]+\n)+)");
    EXPECT_TRUE(std::regex_match(program->Error(), lines)) << program->Error();

    const SYSTEMTIME st = KnownTime();
    EXPECT_EQ(WithKnownTimes(TheLog()),
              LogEntry(TextBody(fromDevice.data(), fromDevice.size()),
                       static_cast<long long>(fromDevice.size()), false, st) +
                  LogEntry(TextBody(fromServer.data(), fromServer.size()),
                           static_cast<long long>(fromServer.size()), true, st));
    EXPECT_EQ(ReadFile("VarnelConfig.ini"), settings);
}

// With RECONNECT, the server back after an outage: the status text is the one of before, and the
// reason alone tells of the outage, at once, with nothing else going on.
TEST_P(HeadlessProgram, ANewReasonUnderTheSameStatusTextIsALine) {
    std::ofstream("VarnelConfig.ini", std::ios::binary)
        << std::regex_replace(settings, std::regex("REOPEN=0"), "RECONNECT=2");
    Start();
    server.CloseClient();
    ASSERT_TRUE(server.Accept());
    EXPECT_TRUE(program->WaitForError(
        " network 已连接服务器 (127.0.0.1:" + std::to_string(server.Port()) + "; Last outage: ",
        kDeadline))
        << program->Error();
    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitExit(kDeadline), 0) << program->Error();
}

// A server that has not read for a while: what the program forwarded before SIGTERM or Ctrl+C
// reaches it whole before the program ends, none of it is reported undelivered, and the line is
// left as the program found it. The fast mode reads the port fast enough to get ahead of the
// server.
TEST_P(HeadlessFastProgram, StopSignalFlushesWhatWaitsForTheServerAndRestoresTheLine) {
    ASSERT_NO_FATAL_FAILURE(LeaveTheLineAsAnotherProgram());
    Start();
    std::string block;
    for (int i = 0; block.size() < (1u << 18); ++i)
        block += "line " + std::to_string(i) + " of a device that talks a lot\r\n";
    ASSERT_TRUE(pty.Send(block));
    // Every byte was read from the port once the log counts it.
    static const std::regex entry(R"(Receive (\d+) bytes data from SPP)");
    auto logged = [] {
        const std::string log = TheLog();
        std::size_t total = 0;
        for (auto it = std::sregex_iterator(log.begin(), log.end(), entry);
             it != std::sregex_iterator(); ++it)
            total += std::stoul((*it)[1]);
        return total;
    };
    ASSERT_TRUE(WaitUntil([&] { return logged() == block.size(); }, 60s)) << logged();

    program->Signal(GetParam());
    const std::string got = server.Receive(block.size(), kDeadline);
    EXPECT_EQ(got.size(), block.size());
    EXPECT_TRUE(got == block);
    EXPECT_EQ(program->WaitExit(kDeadline), 0) << program->Error();
    EXPECT_EQ(program->Error().find("could not be delivered"), std::string::npos)
        << program->Error();
    ASSERT_NO_FATAL_FAILURE(ExpectTheLineAsAnotherProgramLeftIt());
}

INSTANTIATE_TEST_SUITE_P(Signals, HeadlessFastProgram, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) {
                             return info.param == SIGINT ? "Sigint" : "Sigterm";
                         });

// Four instances side by side, each in a folder of its own with its device and its server, all
// forwarding both ways at once: every byte arrives, in order, unchanged.
TEST(HeadlessSideBySide, FourInstancesForwardBothWaysAtOnceEveryByteExact) {
    struct Instance : HeadlessRig {
        Instance() : HeadlessRig(true) { Start(); }
        using HeadlessRig::program;
        using HeadlessRig::pty;
        using HeadlessRig::server;
    };
    std::vector<std::unique_ptr<Instance>> instances;
    for (int i = 0; i < 4; ++i)
        instances.push_back(std::make_unique<Instance>());

    constexpr std::size_t kToServer = 256u << 10, kToDevice = 32u << 10;
    std::vector<std::thread> sides;
    for (std::size_t i = 0; i < instances.size(); ++i) {
        Instance& one = *instances[i];
        const std::string toServer = testing_support::Pattern(i << 32, kToServer);
        const std::string toDevice = testing_support::Pattern((i << 32) + (1u << 30), kToDevice);
        sides.emplace_back([&one, toServer] {
            EXPECT_TRUE(one.pty.Send(toServer));
            EXPECT_TRUE(one.server.Receive(toServer.size(), 30s) == toServer);
        });
        sides.emplace_back([&one, toDevice] {
            EXPECT_TRUE(one.server.Send(toDevice));
            EXPECT_TRUE(one.pty.Receive(toDevice.size(), 30s) == toDevice);
        });
    }
    for (std::thread& side : sides)
        side.join();
    for (auto& one : instances) {
        one->program->Signal(SIGTERM);
        EXPECT_EQ(one->program->WaitExit(kDeadline), 0) << one->program->Error();
    }
    // Each folder was the current one when the next was made: they go in reverse.
    while (!instances.empty())
        instances.pop_back();
}

INSTANTIATE_TEST_SUITE_P(Modes, HeadlessProgram, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

// Listening: the device's bytes go to every client, each client's blocks whole to the device
// (a lone byte too), and a client beyond the places or outside ALLOW is closed unheard.
TEST_P(HeadlessProgram, ListensAndServesItsClientsOnly) {
    const std::uint16_t port = FreePort();
    std::ofstream("VarnelConfig.ini", std::ios::binary)
        << std::regex_replace(settings, std::regex("PORT=\\d+"),
                              "PORT=" + std::to_string(port) +
                                  "\r\nLISTEN=1\r\nCLIENTS=2\r\nALLOW=127.0.0.1, 10.1.0.0/16");
    program = std::make_unique<ChildProcess>(ProgramPath(), ProgramArgs({}));
    const std::string where = "127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(program->WaitForError(
        " network 监听端口 " + std::to_string(port) + " (Listening at " + where, kDeadline))
        << program->Error();
    ASSERT_TRUE(program->WaitForError(" serial 串口COM3已打开", kDeadline)) << program->Error();
    Client a(port), b(port);
    ASSERT_TRUE(a.connected && b.connected);
    ASSERT_TRUE(program->WaitForError(" network 已连接 2 个客户端 (", kDeadline))
        << program->Error();
    Client outsider(port, "127.0.0.2"), third(port);

    const std::string stream = testing_support::Pattern(0, 3000);
    ASSERT_TRUE(pty.Send(stream));
    EXPECT_TRUE(
        WaitUntil([&] { return a.Take(), b.Take(), b.got.size() >= 3000 && a.got.size() >= 3000; },
                  kDeadline));
    EXPECT_TRUE(a.got == stream && b.got == stream);
    ASSERT_TRUE(a.Send("A"));
    ASSERT_TRUE(WaitUntil([&] { return !pty.Receive(1, 2s).empty(); }, kDeadline));
    ASSERT_TRUE(b.Send("hello"));
    EXPECT_EQ(pty.Receive(5, kDeadline), "hello");
    for (Client* unheard : {&outsider, &third}) {
        EXPECT_TRUE(WaitUntil([&] { return !unheard->Take(); }, kDeadline));
        EXPECT_EQ(unheard->got, "");
    }
    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitExit(kDeadline), 0) << program->Error();
    const std::string events = TheEvents();
    EXPECT_EQ(testing_support::CountOf(events, " connected\r\n"), 2u) << events;
    EXPECT_EQ(testing_support::CountOf(events, " refused: not in ALLOW\r\n"), 1u) << events;
    EXPECT_EQ(testing_support::CountOf(events, " refused: every place was taken\r\n"), 1u)
        << events;
}

TEST(HeadlessCommandLine, HelpVersionAndAWrongOption) {
    ChildProcess help(ProgramPath(), ProgramArgs({"--help"}));
    EXPECT_EQ(help.WaitExit(kDeadline), 0);
    EXPECT_EQ(help.Output().rfind("Usage: varnel-headless", 0), 0u) << help.Output();

    ChildProcess version(ProgramPath(), ProgramArgs({"--version"}));
    EXPECT_EQ(version.WaitExit(kDeadline), 0);
    EXPECT_EQ(version.Output(), "varnel-headless 1.0.0.1\n");

    ChildProcess wrong(ProgramPath(), ProgramArgs({"--window"}));
    EXPECT_EQ(wrong.WaitExit(kDeadline), 2);
    EXPECT_EQ(wrong.Output(), "");
    EXPECT_NE(wrong.Error().find("unknown option '--window'"), std::string::npos) << wrong.Error();
}

// Without RECONNECT a link that cannot open ends the program at start, saying why.
TEST(HeadlessCommandLine, ALinkThatCannotOpenAtStartEndsWithStatusOne) {
    TempWorkDir dir;
    LoopbackServer server;
    std::ofstream("VarnelConfig.ini", std::ios::binary)
        << "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" << server.Port()
        << "\r\n[Ports]\r\nCOM3=/nonexistent/tty\r\n";
    const std::string settings = ReadFile("VarnelConfig.ini");
    ChildProcess program(ProgramPath(), ProgramArgs({}));
    EXPECT_EQ(program.WaitExit(kDeadline), 1);
    EXPECT_NE(program.Error().find(" serial 串口COM3打开失败1 ("), std::string::npos)
        << program.Error();
    EXPECT_NE(program.Error().find("RECONNECT is off"), std::string::npos) << program.Error();
    EXPECT_EQ(ReadFile("VarnelConfig.ini"), settings);
}

// Settings that are not listed values: the key and value are named, nothing listens or
// connects, the program ends with status 1 although RECONNECT is on, and the file is left as it
// was. Each row was once taken for more than it said: on, everyone, every interface, a port of
// the system's choice, or an allow-list cut to a new valid entry.
TEST(HeadlessCommandLine, WrongNetworkSettingsAreNamedAndNothingOpens) {
    // Cut where the old reading cut it, this list ends in 127.0.0.1; whole, its last entry is bad.
    std::string longAllow = " ";
    for (int i = 0; i < 909; ++i)
        longAllow += "10.0.0.2,";
    longAllow += "127.0.0.10/33"; // 8,191 characters end in 127.0.0.1
    const struct {
        bool listen;
        std::string socket;
        const char* status;
        std::string named;
    } rows[] = {
        {true, "ALLOW=127.0.0.1, 10.0.0.0/33\r\n", "监听参数错误",
         "ALLOW in [Socket] of VarnelConfig.ini: \"10.0.0.0/33\" is not"},
        {true, "ALLOW=" + longAllow + "\r\n", "监听参数错误",
         "ALLOW in [Socket] of VarnelConfig.ini: \"127.0.0.10/33\" is not"},
        {true, "TLS=yes\r\n", "加密参数错误", "TLS in [Socket] of VarnelConfig.ini is \"yes\""},
        {false, "TLS=on\r\n", "加密参数错误", "TLS in [Socket] of VarnelConfig.ini is \"on\""},
        {true, "ServerIP=localhost\r\n", "监听参数错误",
         "ServerIP in [Socket] of VarnelConfig.ini is \"localhost\""},
        {true, "PORT=70000\r\n", "监听参数错误",
         "PORT in [Socket] of VarnelConfig.ini is \"70000\""},
        {false, "LISTEN=yes\r\n", "监听参数错误",
         "LISTEN in [Socket] of VarnelConfig.ini is \"yes\""},
        {false, "TELNET=yes\r\n", "监听参数错误",
         "TELNET in [Socket] of VarnelConfig.ini is \"yes\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.named);
        TempWorkDir dir;
        PtyPair pty;
        ASSERT_TRUE(pty.Ok());
        LoopbackServer server; // where the program would connect, or listen once it is gone
        const std::uint16_t port = server.Port();
        if (row.listen)
            server.StopListening();
        std::ofstream("VarnelConfig.ini", std::ios::binary)
            << "[Socket]\r\n"
            << row.socket << (row.listen ? "LISTEN=1\r\n" : "")
            << "ServerIP=127.0.0.1\r\nPORT=" << port
            << "\r\n[TLS]\r\nCERT=server.pem\r\nKEY=server.key\r\nCA=ca.pem\r\n"
               "[SYSTEM]\r\nRECONNECT=5\r\n[Ports]\r\nCOM3="
            << pty.SlavePath() << "\r\n";
        const std::string settings = ReadFile("VarnelConfig.ini");
        ChildProcess program(ProgramPath(), ProgramArgs({}));
        EXPECT_EQ(program.WaitExit(kDeadline), 1) << program.Error();
        EXPECT_NE(program.Error().find(std::string(" network ") + row.status + " (" + row.named),
                  std::string::npos)
            << program.Error();
        if (row.listen)
            EXPECT_FALSE(Client(port).connected);
        else
            EXPECT_EQ(server.Accepted(), 0);
        EXPECT_EQ(ReadFile("VarnelConfig.ini"), settings);
    }
}

// With RECONNECT the program stays and keeps looking for what is missing: a device whose name
// appears later is opened, and SIGTERM still ends it cleanly.
TEST(HeadlessCommandLine, WithReconnectAMissingDeviceIsWaitedForAndOpenedWhenItAppears) {
    TempWorkDir dir;
    LoopbackServer server;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    const std::string link = (std::filesystem::current_path() / "ttyLater").string();
    std::ofstream("VarnelConfig.ini", std::ios::binary)
        << "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" << server.Port()
        << "\r\n[SYSTEM]\r\nRECONNECT=2\r\n[Ports]\r\nCOM3=" << link << "\r\n";
    ChildProcess program(ProgramPath(), ProgramArgs({}));
    ASSERT_TRUE(program.WaitForError(" serial 重连串口 第", kDeadline)) << program.Error();
    std::filesystem::create_symlink(pty.SlavePath(), link);
    ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(pty.Send("ping"));
    EXPECT_EQ(server.Receive(4), "ping");
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
}

// The settings file named on the command line: its folder is where the program runs (the log goes
// there); a named file that is not there ends it with status 1, and running on no file at all is
// said once.
TEST(HeadlessCommandLine, TheSettingsFileNamedOrMissing) {
    TempWorkDir dir;
    LoopbackServer server;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    std::filesystem::create_directory("meter1");
    std::ofstream("meter1/meter.ini", std::ios::binary)
        << "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" << server.Port()
        << "\r\n[SYSTEM]\r\nREOPEN=0\r\n[Ports]\r\nCOM3=" << pty.SlavePath() << "\r\n";
    ChildProcess program(ProgramPath(), ProgramArgs({"--config", "meter1/meter.ini"}));
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
    ASSERT_TRUE(pty.Send("ping"));
    EXPECT_EQ(server.Receive(4), "ping");
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
    EXPECT_EQ(TheLog(), "");
    bool logged = false;
    for (const auto& entry : std::filesystem::directory_iterator("meter1"))
        logged = logged || entry.path().extension() == ".log";
    EXPECT_TRUE(logged);

    ChildProcess missing(ProgramPath(), ProgramArgs({"-c", "meter2/meter.ini"}));
    EXPECT_EQ(missing.WaitExit(kDeadline), 1);
    EXPECT_NE(missing.Error().find("the settings file meter2/meter.ini does not exist"),
              std::string::npos)
        << missing.Error();

    ChildProcess none(ProgramPath(), ProgramArgs({}));
    EXPECT_EQ(none.WaitExit(kDeadline), 1);
    EXPECT_EQ(testing_support::CountOf(none.Error(), "no settings file"), 1u) << none.Error();
    EXPECT_NE(none.Error().find("running on the defaults (COM3 at 115200 baud"), std::string::npos)
        << none.Error();
}

// Without RECONNECT a server that closes the connection takes the link down for good: the program
// closes the line and ends with status 3, for its service manager to start it again.
TEST_P(HeadlessProgram, ALinkDownForGoodEndsWithStatusThree) {
    ASSERT_NO_FATAL_FAILURE(LeaveTheLineAsAnotherProgram());
    Start();
    server.CloseClient();
    EXPECT_EQ(program->WaitExit(kDeadline), 3) << program->Error();
    EXPECT_NE(program->Error().find(" serial 串口已关闭\n"), std::string::npos) << program->Error();
    EXPECT_NE(program->Error().find("ending with status 3"), std::string::npos) << program->Error();
    ASSERT_NO_FATAL_FAILURE(ExpectTheLineAsAnotherProgramLeftIt());
}

// LOGDAYS removes the logs of days gone by at start; a log that cannot be written is said once,
// as a warning, and forwarding goes on.
TEST_P(HeadlessProgram, OldLogsGoAndALogThatCannotBeWrittenIsSaidOnce) {
    std::ofstream("VarnelConfig.ini", std::ios::binary)
        << std::regex_replace(settings, std::regex("REOPEN=0"), "REOPEN=0\r\nLOGDAYS=2");
    for (const char* old : {"2020-01-01.log", "2020-01-01.events.log", "2020-01-01.txt"})
        std::ofstream(old) << "old";
    SYSTEMTIME st{};
    GetLocalTime(&st);
    // Today's log cannot be written: a folder holds its name.
    std::filesystem::create_directory(LogFileName(st));
    Start();
    EXPECT_FALSE(std::filesystem::exists("2020-01-01.log"));
    EXPECT_FALSE(std::filesystem::exists("2020-01-01.events.log"));
    EXPECT_TRUE(std::filesystem::exists("2020-01-01.txt"));
    for (const std::string block : {"first", "second", "third"}) {
        ASSERT_TRUE(pty.Send(block));
        EXPECT_EQ(server.Receive(block.size()), block);
    }
    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitExit(kDeadline), 0) << program->Error();
    EXPECT_EQ(testing_support::CountOf(program->Error(), "cannot be written"), 1u)
        << program->Error();
}

} // namespace
