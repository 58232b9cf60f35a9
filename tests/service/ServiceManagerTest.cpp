// varnel-headless under a service manager, run as a child process: readiness, status, the
// watchdog, reloads and stopping told through the manager's notify socket, the journal's form of
// its lines, and what it says in its status.
#include "HeadlessRun.h"
#include "app/service/StatusText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace headless_test;
using testing_support::ChildProcess;
using testing_support::TempWorkDir;
using testing_support::WaitUntil;

// The service manager's notify socket, as a test stands in for it: a datagram socket in the
// current folder, read by a thread of its own as the manager reads it, named to the program in
// $NOTIFY_SOCKET (with the watchdog asked for every watchdogMs) while the object lives. Children
// started meanwhile inherit it.
class NotifySocket {
public:
    // read false: nobody reads it, as a manager that hangs.
    explicit NotifySocket(int watchdogMs, bool read = true) {
        const std::string path = (std::filesystem::current_path() / "notify").string();
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
        ::setenv("WATCHDOG_USEC", std::to_string(watchdogMs * 1000).c_str(), 1);
        reader_ = std::thread([this, read] {
            char buf[4096];
            while (!done_) {
                pollfd p{fd_, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0 || !read) {
                    std::this_thread::sleep_for(20ms);
                    continue;
                }
                const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
                std::lock_guard<std::mutex> lock(mutex_);
                if (n > 0)
                    got_ += std::string(buf, static_cast<std::size_t>(n)) + "\n--\n";
            }
        });
    }
    ~NotifySocket() {
        done_ = true;
        reader_.join();
        ::unsetenv("NOTIFY_SOCKET");
        ::unsetenv("WATCHDOG_USEC");
        ::close(fd_);
    }
    bool Bound() const { return bound_; }
    // Every datagram so far, each followed by a line "--".
    std::string Got() {
        std::lock_guard<std::mutex> lock(mutex_);
        return got_;
    }
    bool WaitFor(const std::string& text, std::chrono::milliseconds within) {
        return WaitUntil([&] { return Got().find(text) != std::string::npos; }, within);
    }

private:
    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::string got_;
    std::thread reader_;
};

// The program started so that its standard error counts as the journal's stream: $JOURNAL_STREAM
// names the pipe it is given.
std::unique_ptr<ChildProcess> StartWithJournal(const std::vector<std::string>& args) {
    std::vector<std::string> all{"-c",
                                 "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec \"$@\"",
                                 "sh", ProgramPath()};
    const std::vector<std::string> program = ProgramArgs(args);
    all.insert(all.end(), program.begin(), program.end());
    return std::make_unique<ChildProcess>("/bin/sh", all);
}

// Under a service manager: readiness, status, a watchdog, reloads and the stop reach its notify
// socket, and every line on the journal's stream carries its priority and no time. A reload that
// changes only the serial side keeps the client; one that does not check changes nothing and says
// why; one that moves the listener reopens the network side.
TEST(HeadlessService, ReloadsAndTellsTheServiceManager) {
    TempWorkDir dir;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    NotifySocket manager(200);
    ASSERT_TRUE(manager.Bound());
    const std::uint16_t port = WriteListening(pty, "", "REOPEN=0\r\n");
    const std::string settings = ReadFile("VarnelConfig.ini");
    auto program = StartWithJournal({});
    ASSERT_TRUE(manager.WaitFor("READY=1", kDeadline)) << manager.Got() << program->Error();
    EXPECT_TRUE(manager.WaitFor("WATCHDOG=1", kDeadline)) << manager.Got();
    Client client(port);
    ASSERT_TRUE(client.connected);
    ASSERT_TRUE(program->WaitForError("<5>network 已连接 1 个客户端", kDeadline))
        << program->Error();
    EXPECT_TRUE(
        manager.WaitFor("STATUS=serial: 串口COM3已打开; network: 已连接 1 个客户端", kDeadline))
        << manager.Got();

    const auto reload = [&](const std::string& from, const std::string& to,
                            const std::string& said) {
        const std::string now = ReadFile("VarnelConfig.ini");
        std::ofstream("VarnelConfig.ini", std::ios::binary)
            << std::regex_replace(now, std::regex(from), to);
        program->Signal(SIGHUP);
        EXPECT_TRUE(program->WaitForError(said, kDeadline)) << program->Error();
    };
    reload("\\[SYSTEM\\]", "[COM]\r\nBaudRate=2\r\n[SYSTEM]",
           "<5>varnel-headless: settings read again from VarnelConfig.ini: the serial side");
    ASSERT_TRUE(client.Send("still here"));
    EXPECT_EQ(pty.Receive(10, kDeadline), "still here");
    ASSERT_TRUE(pty.Send("and back"));
    EXPECT_TRUE(WaitUntil([&] { return client.Take(), client.got == "and back"; }, kDeadline))
        << client.got;

    reload("LISTEN=1", "LISTEN=1\r\nALLOW=10.0.0.0/33",
           "<4>varnel-headless: reload refused, the link runs on as it was: ALLOW in [Socket]");
    ASSERT_TRUE(client.Send("x2"));
    EXPECT_EQ(pty.Receive(2, kDeadline), "x2");

    const std::uint16_t moved = FreePort();
    reload("PORT=\\d+\r\nLISTEN=1\r\nALLOW=[^\r]*",
           "PORT=" + std::to_string(moved) + "\r\nLISTEN=1", "the network side opened again");
    EXPECT_TRUE(WaitUntil([&] { return !client.Take(); }, kDeadline));
    Client moved_client(moved);
    EXPECT_TRUE(moved_client.connected);

    program->Signal(SIGTERM);
    EXPECT_EQ(program->WaitExit(kDeadline), 0) << program->Error();
    EXPECT_TRUE(manager.WaitFor("STOPPING=1", kDeadline)) << manager.Got();
    EXPECT_EQ(testing_support::CountOf(manager.Got(), "RELOADING=1"), 3u) << manager.Got();
    static const std::regex lines(R"((<[3-6]>(serial|network|varnel-headless:) [^\n]+\n)+)");
    EXPECT_TRUE(std::regex_match(program->Error(), lines)) << program->Error();
}

// A manager that does not read its socket holds up nothing: the bridge forwards and stops as ever.
TEST(HeadlessService, AManagerThatDoesNotReadHoldsUpNothing) {
    TempWorkDir dir;
    PtyPair pty;
    ASSERT_TRUE(pty.Ok());
    NotifySocket manager(2, false);
    const std::uint16_t port = WriteListening(pty, "", "REOPEN=0\r\n");
    ChildProcess program(ProgramPath(), ProgramArgs({}));
    ASSERT_TRUE(program.WaitForError(" serial 串口COM3已打开", kDeadline)) << program.Error();
    Client client(port);
    ASSERT_TRUE(program.WaitForError(" network 已连接 1 个客户端", kDeadline)) << program.Error();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(client.Send("ab"));
        EXPECT_EQ(pty.Receive(2, kDeadline), "ab");
    }
    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitExit(kDeadline), 0) << program.Error();
}

TEST(HeadlessStatusText, NewsPrioritiesAndTheJournalsForm) {
    EXPECT_EQ(Gist("重连服务器 第12次"), Gist("重连服务器 第3次"));
    EXPECT_EQ(Gist("1 client; 240 bytes reached no client"), "# client; # bytes reached no client");
    EXPECT_NE(Gist("监听端口 4001 (a)"), Gist("已连接 1 个客户端 (a)"));
    EXPECT_NE(Gist("已连接 1 个客户端 (127.0.0.1:40100 since 10:00:00)"),
              Gist("已连接 1 个客户端 (10.1.0.2:40100 since 10:00:00)"));
    EXPECT_EQ(Gist("Down since 09:05:07; next attempt in 12 s"),
              "Down since 09:05:07; next attempt in # s");
    const struct {
        const char* status;
        bool asked;
        Priority priority;
    } rows[] = {
        {"串口COM3打开失败1", false, Priority::err},    {"监听参数错误", false, Priority::err},
        {"加密参数错误", false, Priority::err},         {"服务器证书无效", false, Priority::err},
        {"重连服务器 第1次", false, Priority::warning}, {"已断开服务器", false, Priority::warning},
        {"串口已关闭", true, Priority::notice},         {"已连接服务器", false, Priority::notice},
    };
    for (const auto& row : rows)
        EXPECT_EQ(PriorityOf(row.status, row.asked), row.priority) << row.status;
    const SYSTEMTIME st = KnownTime();
    EXPECT_EQ(FormatLine(true, Priority::warning, st, "network x"), "<4>network x\n");
    EXPECT_EQ(FormatLine(false, Priority::warning, st, "network x"),
              "2026-12-06 10:14:14 network x\n");
}

} // namespace
