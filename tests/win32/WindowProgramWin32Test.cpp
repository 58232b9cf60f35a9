// The real varnel.exe under Wine, end to end: it starts in a folder of its own with a settings
// file, its Open button is pressed through the window's own messages, and it bridges the
// pseudo-terminal that the relay links in as COM3 and a loopback server both ways, polled and in
// the fast mode. Nothing may be lost, and the day's log holds exactly the blocks, in order.
#include "support/DeviceEnd.h"
#include "support/FileText.h"
#include "support/LoopbackServer.h"
#include "support/Pattern.h"
#include "support/WaitUntil.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::DeviceEnd;
using testing_support::LoopbackServer;
using testing_support::PatternWithoutZeros;
using testing_support::WaitUntil;

namespace {

constexpr int kOpenButton = 1005; // IDC_BUTTON_OPEN
constexpr int kComStatus = 1008;  // IDC_STATIC_COMSTATUS
constexpr int kComCount = 1012;   // IDC_STATIC_COMCOUNT
constexpr int kTcpCount = 1013;   // IDC_STATIC_TCPCOUNT
constexpr int kNetStatus = 1017;  // IDC_STATIC_NETSTATUS

std::string Utf8(const std::wstring& w) {
    if (w.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr,
                                        0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
    return s;
}

std::string TextOf(HWND wnd) {
    wchar_t text[256] = {};
    const int n = ::GetWindowTextW(wnd, text, 256);
    return Utf8(std::wstring(text, static_cast<std::size_t>(std::max(n, 0))));
}

struct FindWindowOf {
    DWORD process;
    HWND found = nullptr;
};

// The visible main window of a process (other programs in the prefix may have one too).
BOOL CALLBACK FindProgramWindow(HWND wnd, LPARAM lp) {
    auto* find = reinterpret_cast<FindWindowOf*>(lp);
    DWORD process = 0;
    ::GetWindowThreadProcessId(wnd, &process);
    wchar_t title[16] = {};
    ::GetWindowTextW(wnd, title, 16);
    if (process == find->process && ::IsWindowVisible(wnd) && std::wstring(title) == L"Varnel" &&
        !::GetWindow(wnd, GW_OWNER)) {
        find->found = wnd;
        return FALSE;
    }
    return TRUE;
}

struct FindBox {
    HWND owner;
    HWND found = nullptr;
};

// The message box that the program's window owns.
BOOL CALLBACK FindOwnedBox(HWND wnd, LPARAM lp) {
    auto* find = reinterpret_cast<FindBox*>(lp);
    if (wnd != find->owner && ::GetWindow(wnd, GW_OWNER) == find->owner && ::IsWindowVisible(wnd)) {
        find->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// Compares long streams without printing them: their sizes and the first byte that differs.
void ExpectSame(const std::string& got, const std::string& want, const char* what) {
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    EXPECT_TRUE(got == want) << what << ": " << got.size() << " of " << want.size()
                             << " bytes, first difference at byte " << (diff.first - got.begin());
}

struct LogEntry {
    bool fromNetwork;
    std::string body;
};

// Parses the log whole; fails the test where an entry is not in its exact form.
std::vector<LogEntry> ParseLog(const std::string& log) {
    static const std::regex head(
        "Receive ([0-9]+) bytes data from (SPP\\(COM\\) at [0-9]{4}-[0-9]{2}-[0-9]{2} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2}  |orvan\\(TCP\\) at [0-9]{4}-[0-9]{2}-[0-9]{2} "
        "[0-9]{2}:[0-9]{2}:[0-9]{2} ):\r\n");
    std::vector<LogEntry> entries;
    std::size_t at = 0;
    while (at < log.size()) {
        std::smatch m;
        const std::string rest = log.substr(at, 128);
        if (!std::regex_search(rest, m, head, std::regex_constants::match_continuous)) {
            ADD_FAILURE() << "no entry header at byte " << at;
            break;
        }
        const std::size_t size = std::stoul(m[1].str());
        const std::size_t body = at + static_cast<std::size_t>(m.length(0));
        if (log.compare(body + size, 5, " \r\n\r\n") != 0) {
            ADD_FAILURE() << "entry at byte " << at << " does not end after its " << size
                          << " bytes";
            break;
        }
        entries.push_back({m[2].str().starts_with("orvan"), log.substr(body, size)});
        at = body + size + 5;
    }
    return entries;
}

class ProgramTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        dir_ = fs::path(temp) / ("varnel-program-" + std::to_string(::GetCurrentProcessId()) +
                                 (GetParam() ? "-fast" : "-polled"));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (process_.hProcess) {
            if (::WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
                ::TerminateProcess(process_.hProcess, 99);
            ::CloseHandle(process_.hProcess);
            ::CloseHandle(process_.hThread);
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    bool Start() {
        const char* exe = std::getenv("VARNEL_EXE");
        if (!exe)
            return false;
        std::wstring command = L"\"" + fs::path(exe).wstring() + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        return ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                dir_.wstring().c_str(), &si, &process_) != FALSE;
    }
    HWND Window() {
        FindWindowOf find{process_.dwProcessId};
        WaitUntil(
            [&] {
                ::EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&find));
                return find.found != nullptr;
            },
            30s);
        return find.found;
    }
    std::string Received(DeviceEnd& device, std::size_t count) {
        return device.Receive(count, 30s);
    }

    fs::path dir_;
    PROCESS_INFORMATION process_{};
};
INSTANTIATE_TEST_SUITE_P(, ProgramTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Fast" : "Polled"; });

TEST_P(ProgramTest, BridgesThePortAndALoopbackServerBothWaysNothingLostLogExact) {
    DeviceEnd device;
    ASSERT_TRUE(device.Ok()) << device.Problem();
    LoopbackServer server;
    ASSERT_NE(server.Port(), 0);
    std::ofstream(dir_ / "VarnelConfig.ini", std::ios::binary)
        << "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" << server.Port()
        << "\r\n[SYSTEM]\r\nHEX=0\r\nREOPEN=0\r\nFAST=" << (GetParam() ? 1 : 0) << "\r\n";
    ASSERT_TRUE(Start()) << "VARNEL_EXE names the program";
    HWND wnd = Window();
    ASSERT_NE(wnd, nullptr) << "no window";
    HWND open = ::GetDlgItem(wnd, kOpenButton);
    ASSERT_EQ(TextOf(open), "打开");
    ::PostMessageW(wnd, WM_COMMAND, MAKEWPARAM(kOpenButton, BN_CLICKED),
                   reinterpret_cast<LPARAM>(open));
    ASSERT_TRUE(server.Accept(10s));
    // The window sets the texts once both halves are up; the test sees them from outside.
    EXPECT_TRUE(WaitUntil([&] { return TextOf(open) == "关闭"; }, 5s));
    EXPECT_TRUE(
        WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kComStatus)) == "串口COM3已打开"; }, 5s));
    EXPECT_TRUE(
        WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kNetStatus)) == "已连接服务器"; }, 5s));

    // Two small blocks, then thirty thousand bytes each way.
    ASSERT_TRUE(device.Send("hello"));
    EXPECT_EQ(server.Receive(5, 10s), "hello");
    ASSERT_TRUE(server.Send("world!"));
    EXPECT_EQ(Received(device, 6), "world!");
    EXPECT_TRUE(WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kTcpCount)) == "TCP: 6"; }, 5s));
    // The log shows text bodies up to the first zero byte, so the blocks hold none and every body
    // is its block whole.
    const std::string up = PatternWithoutZeros(30000, 3);
    const std::string down = PatternWithoutZeros(30000, 11);
    ASSERT_TRUE(device.Send(up));
    ExpectSame(server.Receive(up.size(), 30s), up, "device to server");
    // The server sends a thousand bytes at a time, the next once the device has the last: each
    // block from the server first discards what still waits to go to the device, and on a
    // pseudo-terminal under Wine the flush before that does not wait for the far end to read.
    std::string got;
    for (std::size_t at = 0; at < down.size(); at += 1000) {
        const std::string chunk = down.substr(at, 1000);
        ASSERT_TRUE(server.Send(chunk));
        got += Received(device, chunk.size());
    }
    ExpectSame(got, down, "server to device");
    EXPECT_TRUE(
        WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kComCount)) == "COM: 30005"; }, 10s));
    EXPECT_TRUE(
        WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kTcpCount)) == "TCP: 30006"; }, 10s));

    // Closing asks; Yes ends the program.
    ::PostMessageW(wnd, WM_CLOSE, 0, 0);
    FindBox find{wnd};
    ASSERT_TRUE(WaitUntil(
        [&] {
            find.found = nullptr;
            ::EnumWindows(FindOwnedBox, reinterpret_cast<LPARAM>(&find));
            return find.found != nullptr;
        },
        10s));
    ::PostMessageW(find.found, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(find.found, IDYES)));
    ASSERT_EQ(::WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(process_.hProcess, &code);
    EXPECT_EQ(code, 0u);

    // The log: the two small blocks first, then blocks whose bodies add up to each stream.
    std::vector<fs::path> logs;
    for (const auto& e : fs::directory_iterator(dir_))
        if (e.path().extension() == ".log")
            logs.push_back(e.path());
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<LogEntry> entries = ParseLog(testing_support::ReadFile(logs[0]));
    ASSERT_GE(entries.size(), 4u);
    EXPECT_FALSE(entries[0].fromNetwork);
    EXPECT_EQ(entries[0].body, "hello");
    EXPECT_TRUE(entries[1].fromNetwork);
    EXPECT_EQ(entries[1].body, "world!");
    std::string logged[2];
    for (std::size_t i = 2; i < entries.size(); ++i)
        logged[entries[i].fromNetwork ? 1 : 0] += entries[i].body;
    ExpectSame(logged[0], up, "log of the device's blocks");
    ExpectSame(logged[1], down, "log of the server's blocks");
}

} // namespace

namespace {

// Left alone (RECONNECT, AUTOOPEN): the program opens the link by itself, and when the server
// restarts it connects again with what the device sent meanwhile, first.
TEST_P(ProgramTest,
       OpensByItselfAndBringsBackARestartedServerWithTheHeldBytesFirstAndAReturningDevice) {
    DeviceEnd device;
    ASSERT_TRUE(device.Ok()) << device.Problem();
    std::optional<LoopbackServer> server(std::in_place);
    const std::uint16_t port = server->Port();
    ASSERT_NE(port, 0);
    std::ofstream(dir_ / "VarnelConfig.ini", std::ios::binary)
        << "[Socket]\r\nServerIP=127.0.0.1\r\nPORT=" << port
        << "\r\n[SYSTEM]\r\nHEX=0\r\nREOPEN=0\r\nRECONNECT=2\r\nAUTOOPEN=1\r\nFAST="
        << (GetParam() ? 1 : 0) << "\r\n";
    ASSERT_TRUE(Start()) << "VARNEL_EXE names the program";
    HWND wnd = Window();
    ASSERT_NE(wnd, nullptr) << "no window";
    ASSERT_TRUE(server->Accept(10s)); // nobody pressed 打开
    EXPECT_TRUE(WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kOpenButton)) == "关闭"; }, 5s));
    ASSERT_TRUE(device.Send("first"));
    EXPECT_EQ(server->Receive(5, 10s), "first");

    server->CloseClient();
    server.reset();
    EXPECT_TRUE(WaitUntil(
        [&] { return TextOf(::GetDlgItem(wnd, kNetStatus)).starts_with("重连服务器"); }, 10s));
    ASSERT_TRUE(device.Send("while away"));
    EXPECT_TRUE(WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kComCount)) == "COM: 15"; }, 10s));
    server.emplace(port);
    ASSERT_TRUE(server->Accept(10s));
    EXPECT_EQ(server->Receive(10, 10s), "while away");
    EXPECT_TRUE(
        WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kNetStatus)) == "已连接服务器"; }, 5s));
    EXPECT_EQ(TextOf(::GetDlgItem(wnd, kComStatus)), "串口COM3已打开");

    // The device is unplugged and comes back under its COM name; the server stays connected.
    device.HangUp();
    EXPECT_TRUE(WaitUntil(
        [&] { return TextOf(::GetDlgItem(wnd, kComStatus)).starts_with("重连串口"); }, 10s));
    EXPECT_EQ(TextOf(::GetDlgItem(wnd, kNetStatus)), "已连接服务器");
    DeviceEnd again;
    ASSERT_TRUE(again.Ok()) << again.Problem();
    EXPECT_TRUE(
        WaitUntil([&] { return TextOf(::GetDlgItem(wnd, kComStatus)) == "串口COM3已打开"; }, 10s));
    ASSERT_TRUE(again.Send("back"));
    EXPECT_EQ(server->Receive(4, 10s), "back");
    ASSERT_TRUE(server->Send("zz"));
    EXPECT_EQ(Received(again, 2), "zz");
}

} // namespace
