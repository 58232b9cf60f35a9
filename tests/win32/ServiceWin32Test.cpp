// varnel-headless.exe under Wine, end to end: as a console program in a folder of its own against
// the pseudo-terminal that the relay links in as COM3 and a loopback server, ended by the
// console's Ctrl+C; and as a Windows service, installed, started with net start, stopped with
// net stop and removed. Listening for clients of its own. Its command line. The console handler's
// answer to the events Wine cannot send.
#include "support/win32/Winsock.h"
// Winsock's header before the system's others, as it asks.
#include "app/framework/headless/win32/StopRequests.h"
#include "support/DeviceEnd.h"
#include "support/FileText.h"
#include "support/LoopbackServer.h"
#include "support/Pattern.h"
#include "support/WaitUntil.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::DeviceEnd;
using testing_support::LoopbackServer;
using testing_support::PatternWithoutZeros;
using testing_support::ReadFile;
using testing_support::WaitUntil;

namespace {

// A program of the prefix or of the build run to its end, its standard output and error in a
// file; -1 when it did not start or end in time.
class Child {
public:
    Child(const std::wstring& command, const fs::path& dir, const fs::path& output,
          DWORD flags = 0) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        out_ = ::CreateFileW(output.wstring().c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out_;
        si.hStdError = out_;
        std::wstring line = command;
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                             dir.wstring().c_str(), &si, &process_) == FALSE)
            process_ = {};
    }
    ~Child() {
        if (process_.hProcess) {
            if (::WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
                ::TerminateProcess(process_.hProcess, 99);
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
        }
        if (out_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(out_);
    }
    bool Started() const { return process_.hProcess != nullptr; }
    DWORD Id() const { return process_.dwProcessId; }
    int Exit(DWORD withinMs = 20000) {
        DWORD code = 0;
        if (!Started() || ::WaitForSingleObject(process_.hProcess, withinMs) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(process_.hProcess, &code))
            return -1;
        return static_cast<int>(code);
    }

private:
    HANDLE out_ = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process_{};
};

std::wstring Program() {
    const char* exe = std::getenv("VARNEL_HEADLESS_EXE");
    return exe ? L"\"" + fs::path(exe).wstring() + L"\"" : L"varnel-headless-is-not-named.exe";
}

class HeadlessTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        dir_ = fs::path(temp) / ("varnel-headless-" + std::to_string(::GetCurrentProcessId()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_TRUE(device_.Ok()) << device_.Problem();
        ASSERT_TRUE(server_.Listening());
        WriteSettings("");
    }
    // The settings file of a link to the loopback server in the mode of the row, with more lines
    // of [Socket].
    void WriteSettings(const std::string& socket) {
        std::ofstream(dir_ / "VarnelConfig.ini", std::ios::binary)
            << "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" << server_.Port() << "\r\n"
            << socket << "[SYSTEM]\r\nHEX=0\r\nREOPEN=0\r\nFAST=" << (GetParam() ? 1 : 0) << "\r\n";
    }
    // Ctrl+C on the console of the program. The test ignores it only while it sends it, as
    // children inherit that.
    static void CtrlC(const Child& program) {
        ::FreeConsole();
        ASSERT_TRUE(::AttachConsole(program.Id()));
        ::SetConsoleCtrlHandler(nullptr, TRUE);
        EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        ::FreeConsole();
        ::SetConsoleCtrlHandler(nullptr, FALSE);
    }
    void TearDown() override {
        if (!service_.empty()) // a test that failed half-way leaves no service behind
            Tool(Program() + L" --remove-service " + service_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    // What a command line (the program's, or a tool of the prefix) printed; its exit status in
    // exit_. Each run gets a file of its own: the service manager, started by the first that
    // asks for it, may keep the handles it inherited open.
    std::string Tool(const std::wstring& command) {
        const fs::path file = dir_ / ("output-" + std::to_string(++runs_) + ".txt");
        exit_ = Child(command, dir_, file).Exit();
        return ReadFile(file);
    }
    std::string Output(const std::wstring& args, int status) {
        const std::string output = Tool(Program() + L" " + args);
        EXPECT_EQ(exit_, status) << fs::path(args).string() << ": " << output;
        return output;
    }
    // Both sides up (the status lines say so), then both ways: two small blocks and twenty
    // thousand bytes each way, the server's in blocks the device reads one after the other.
    void ExpectBridging(const fs::path& statusFile) {
        ASSERT_TRUE(server_.Accept(20s));
        EXPECT_TRUE(WaitUntil(
            [&] {
                const std::string lines = ReadFile(statusFile);
                return lines.find(" serial 串口COM3已打开") != std::string::npos &&
                       lines.find(" network 已连接服务器 (127.0.0.1:") != std::string::npos;
            },
            10s))
            << ReadFile(statusFile);
        ASSERT_TRUE(device_.Send("hello"));
        EXPECT_EQ(server_.Receive(5, 10s), "hello");
        ASSERT_TRUE(server_.Send("world!"));
        EXPECT_EQ(device_.Receive(6, 10s), "world!");
        const std::string up = PatternWithoutZeros(20000, 3);
        ASSERT_TRUE(device_.Send(up));
        EXPECT_TRUE(server_.Receive(up.size(), 30s) == up);
        const std::string down = PatternWithoutZeros(20000, 11);
        std::string got;
        for (std::size_t at = 0; at < down.size(); at += 1000) {
            ASSERT_TRUE(server_.Send(down.substr(at, 1000)));
            got += device_.Receive(1000, 10s);
        }
        EXPECT_TRUE(got == down) << got.size() << " of " << down.size() << " bytes";
    }
    // The end, as the status lines tell it: the link closed as 关闭 closes it.
    void ExpectClosed(const fs::path& statusFile) {
        EXPECT_TRUE(server_.WaitClientClosed(10s));
        const std::string lines = ReadFile(statusFile);
        EXPECT_NE(lines.find(" serial 串口已关闭"), std::string::npos) << lines;
        EXPECT_NE(lines.find(" network 已断开服务器"), std::string::npos) << lines;
    }

    fs::path dir_;
    std::wstring service_; // installed by the test, removed at its end
    int runs_ = 0;
    int exit_ = -1;
    DeviceEnd device_;
    LoopbackServer server_;
};
INSTANTIATE_TEST_SUITE_P(, HeadlessTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

// In a console of its own: Ctrl+C on that console reaches its handler and ends it as SIGTERM
// does on Linux.
// Not shown under Wine: Ctrl+Break, the console's close and the system's shutdown, which take the
// same handler (Wine's console here has no window to close and sends no shutdown), and Ctrl+C
// for a child of a parent that ignored it (the program asks for it anyway, as Windows allows;
// Wine keeps it from the child all the same).
TEST_P(HeadlessTest, ConsoleProgramBridgesBothWaysAndEndsCleanlyOnCtrlC) {
    const fs::path status = dir_ / "stderr.txt";
    Child program(Program(), dir_, status, CREATE_NEW_CONSOLE);
    ASSERT_TRUE(program.Started());
    ExpectBridging(status);
    CtrlC(program);
    EXPECT_EQ(program.Exit(), 0) << ReadFile(status);
    ExpectClosed(status);
}

// Listening (LISTEN=1) at the loopback server's port, which the test gives up: two clients of the
// test connect, the device's bytes reach both, each client's bytes reach the device, and Ctrl+C
// closes the listener and both clients.
TEST_P(HeadlessTest, ConsoleProgramListensServesTwoClientsAndEndsCleanlyOnCtrlC) {
    namespace ws = testing_support::winsock;
    const std::uint16_t port = server_.Port();
    server_.StopListening();
    WriteSettings("LISTEN=1\r\nCLIENTS=2\r\n");
    const fs::path status = dir_ / "stderr.txt";
    Child program(Program(), dir_, status, CREATE_NEW_CONSOLE);
    ASSERT_TRUE(program.Started());
    const auto says = [&](const std::string& text) {
        return WaitUntil([&] { return ReadFile(status).find(text) != std::string::npos; }, 20s);
    };
    ASSERT_TRUE(says(" network 监听端口 " + std::to_string(port) + " (Listening at 127.0.0.1:") &&
                says(" serial 串口COM3已打开"))
        << ReadFile(status);
    ws::Start();
    struct Client {
        ~Client() {
            if (s != ws::kNone)
                ::closesocket(ws::S(s));
        }
        std::intptr_t s;
    } a{ws::ConnectLoopback(port)}, b{ws::ConnectLoopback(port)};
    ASSERT_TRUE(a.s != ws::kNone && b.s != ws::kNone);
    ASSERT_TRUE(says(" network 已连接 2 个客户端")) << ReadFile(status);

    const std::string down = PatternWithoutZeros(3000, 5);
    ASSERT_TRUE(device_.Send(down));
    for (const Client* client : {&a, &b})
        EXPECT_TRUE(ws::ReceiveSome(client->s, down.size(), ws::Clock::now() + 10s) == down);
    ASSERT_TRUE(ws::SendAll(a.s, "from a"));
    EXPECT_EQ(device_.Receive(6, 10s), "from a");
    ASSERT_TRUE(ws::SendAll(b.s, "b"));
    EXPECT_EQ(device_.Receive(1, 10s), "b");

    CtrlC(program);
    EXPECT_EQ(program.Exit(), 0) << ReadFile(status);
    for (const Client* client : {&a, &b}) {
        char byte = 0;
        EXPECT_TRUE(ws::WaitReadable(client->s, ws::Clock::now() + 10s) &&
                    ::recv(ws::S(client->s), &byte, 1, 0) == 0); // closed, not reset
    }
    EXPECT_TRUE(says(" network 已停止监听")) << ReadFile(status);
}

// The settings file named with --config, in a folder of its own: the program runs there (its log
// goes there, none beside the program's own folder), and with RECONNECT off a server that closes
// the connection ends it with status 3.
TEST_P(HeadlessTest, ConfigNamesTheFolderAndALinkDownForGoodEndsWithStatusThree) {
    const fs::path meter = dir_ / "meter1";
    fs::create_directories(meter);
    fs::rename(dir_ / "VarnelConfig.ini", meter / "meter.ini");
    const fs::path status = dir_ / "stderr.txt";
    Child program(Program() + L" --config meter1\\meter.ini", dir_, status, CREATE_NEW_CONSOLE);
    ASSERT_TRUE(program.Started());
    ExpectBridging(status);
    server_.CloseClient();
    EXPECT_EQ(program.Exit(), 3) << ReadFile(status);
    EXPECT_NE(ReadFile(status).find("ending with status 3"), std::string::npos) << ReadFile(status);
    bool logged = false;
    for (const auto& entry : fs::directory_iterator(meter))
        logged = logged || entry.path().extension() == ".log";
    EXPECT_TRUE(logged);
    for (const auto& entry : fs::directory_iterator(dir_))
        EXPECT_NE(entry.path().extension(), ".log") << entry.path();
}

// What Wine cannot send, the console handler's answer called as the system calls it: Ctrl+C,
// Ctrl+Break, the console's close and the system's shutdown ask for the clean stop and keep the
// system from ending the program at once; a log-off is left alone.
TEST(HeadlessConsoleEvents, EachEndingEventAsksForTheCleanStop) {
    static int stops;
    const struct {
        DWORD type;
        BOOL handled;
        int stops;
    } cases[] = {{CTRL_C_EVENT, TRUE, 1},
                 {CTRL_BREAK_EVENT, TRUE, 1},
                 {CTRL_CLOSE_EVENT, TRUE, 1},
                 {CTRL_SHUTDOWN_EVENT, TRUE, 1},
                 {CTRL_LOGOFF_EVENT, FALSE, 0}};
    auto stop = [] { ++stops; };
    for (const auto& c : cases) {
        stops = 0;
        EXPECT_EQ(afx::headless::AnswerConsoleEvent(c.type, stop, 0), c.handled) << c.type;
        EXPECT_EQ(stops, c.stops) << c.type;
    }
}

// The service: registered for a folder, started and stopped by the system's own tools, its
// status lines in the folder's file; net stop ends it as Ctrl+C does.
TEST_P(HeadlessTest, ServiceInstalledStartedBridgesStopsCleanlyAndIsRemoved) {
    const std::wstring name = GetParam() ? L"VarnelTestFast" : L"VarnelTestPolled";
    Tool(Program() + L" --remove-service " + name); // left from a run before, if any
    const std::wstring install = L"--install-service " + name + L" \"" + dir_.wstring() + L"\"";
    EXPECT_NE(Output(install, 0).find("installed the service"), std::string::npos);
    service_ = name;
    EXPECT_NE(Output(install, 1).find("exists already"), std::string::npos);

    EXPECT_NE(Tool(L"sc query " + name).find("STOPPED"), std::string::npos);
    const std::string started = Tool(L"net start " + name);
    ASSERT_EQ(exit_, 0) << started;
    const fs::path status = dir_ / "varnel-headless.log";
    ExpectBridging(status);
    // PARAMCHANGE reads the settings file again: a new baud rate reopens the serial side only.
    {
        std::ofstream(dir_ / "VarnelConfig.ini", std::ios::binary | std::ios::app)
            << "[COM]\r\nBaudRate=4\r\n";
        const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        const SC_HANDLE service =
            manager ? ::OpenServiceW(manager, name.c_str(), SERVICE_PAUSE_CONTINUE) : nullptr;
        SERVICE_STATUS state{};
        EXPECT_TRUE(service && ::ControlService(service, SERVICE_CONTROL_PARAMCHANGE, &state));
        if (service)
            ::CloseServiceHandle(service);
        if (manager)
            ::CloseServiceHandle(manager);
        EXPECT_TRUE(WaitUntil(
            [&] {
                return ReadFile(status).find("the serial side opened again") != std::string::npos;
            },
            10s))
            << ReadFile(status);
        ASSERT_TRUE(device_.Send("again"));
        EXPECT_EQ(server_.Receive(5, 10s), "again");
    }
    const std::string stopped = Tool(L"net stop " + name);
    EXPECT_EQ(exit_, 0) << stopped;
    ExpectClosed(status);
    EXPECT_NE(Tool(L"sc query " + name).find("STOPPED"), std::string::npos);
    EXPECT_NE(Output(L"--remove-service " + name, 0).find("removed the service"),
              std::string::npos);
    service_.clear();
    Tool(L"sc query " + name);
    EXPECT_NE(exit_, 0);
}

TEST(HeadlessCommandLine, HelpVersionAWrongOptionAndServiceOptions) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path dir =
        fs::path(temp) / ("varnel-headless-cli-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(dir);
    int runs = 0;
    auto run = [&](const std::wstring& args, int status) {
        const fs::path out = dir / (std::to_string(++runs) + ".txt");
        Child run(Program() + L" " + args, dir, out);
        EXPECT_EQ(run.Exit(), status) << fs::path(args).string();
        return ReadFile(out);
    };
    EXPECT_EQ(run(L"--version", 0), "varnel-headless 1.0.0.1\r\n");
    const std::string help = run(L"--help", 0);
    EXPECT_EQ(help.rfind("Usage: varnel-headless", 0), 0u) << help;
    EXPECT_NE(help.find("--install-service NAME DIR"), std::string::npos) << help;
    EXPECT_NE(run(L"--window", 2).find("unknown option '--window'"), std::string::npos);
    EXPECT_NE(run(L"--install-service OnlyAName", 2).find("needs a service name and a folder"),
              std::string::npos);
    EXPECT_NE(run(L"--install-service VarnelTestNoFolder Z:\\nonexistent\\folder", 1)
                  .find("is no folder"),
              std::string::npos);
    EXPECT_NE(run(L"--remove-service VarnelTestNeverInstalled", 1).find("no service of that name"),
              std::string::npos);
    // Started by hand, the service's own entry says what it is for.
    EXPECT_NE(run(L"--service VarnelTestByHand .", 2).find("for the service manager"),
              std::string::npos);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

} // namespace
