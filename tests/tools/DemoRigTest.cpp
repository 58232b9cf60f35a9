// The demo rig as its users meet it: a child process with a pty to open and a port to connect to.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = 10s;

// Appends what arrives on fd to got until it holds want; false at the deadline or at the end.
bool ReadUntil(int fd, std::string& got, const std::string& want,
               Clock::time_point deadline = Clock::now() + kDeadline) {
    while (got.find(want) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) < 0) {
            return false;
        }
        char buf[4096];
        ssize_t n = pfd.revents != 0 ? read(fd, buf, sizeof buf) : -1;
        if (n == 0) {
            return false;
        }
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
        }
    }
    return true;
}

std::uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

int Connect(std::uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// varnel-demo as a child, its standard output and error read through one pipe.
class Rig {
public:
    explicit Rig(std::vector<std::string> args) {
        args.insert(args.begin(), VARNEL_DEMO);
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        EXPECT_EQ(posix_spawn(&m_pid, VARNEL_DEMO, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        m_out = fds[0];
    }
    // Ends the rig the way a user does; a rig that does not end is killed and its folder removed
    // here, so a failing test leaves nothing behind.
    ~Rig() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            if (WaitExit() < 0) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, nullptr, 0);
            }
        }
        close(m_out);
        if (auto at = m_output.find("folder /tmp/varnel-demo-"); at != std::string::npos) {
            at += 7;
            std::filesystem::remove_all(m_output.substr(at, m_output.find(' ', at) - at));
        }
    }

    bool WaitFor(const std::string& text) { return ReadUntil(m_out, m_output, text); }
    const std::string& Output() const { return m_output; }

    // Waits for the guide the rig prints before it starts anything.
    bool Ready() { return WaitFor("here to end.\n"); }

    // The word that follows label in the guide.
    std::string Word(const std::string& label) {
        auto at = Ready() ? m_output.find(label) : std::string::npos;
        if (at == std::string::npos) {
            return {};
        }
        at += label.size();
        return m_output.substr(at, m_output.find_first_of(" \n", at) - at);
    }
    std::string Folder() { return Word("folder "); }

    // Waits for the rig to end and returns its exit status, or -1 at the deadline.
    int WaitExit() {
        auto deadline = Clock::now() + kDeadline;
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                return -1;
            }
            ReadUntil(m_out, m_output, "\x01", Clock::now() + 50ms);
        }
        m_pid = -1;
        ReadUntil(m_out, m_output, "\x01", Clock::now());
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int sig) { kill(m_pid, sig); }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_output;
};

TEST(DemoRig, DeviceSendsTextAndShowsWhatThePortWrites) {
    Rig rig({"--no-app", "--port", std::to_string(FreePort())});
    std::string pty = rig.Word("COM3 is ");
    ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u) << rig.Output();
    int slave = open(pty.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);

    std::string got;
    EXPECT_TRUE(ReadUntil(slave, got, "#0001\r\n")) << got;
    EXPECT_TRUE(ReadUntil(slave, got, "#0002\r\n")) << got;
    EXPECT_NE(got.find("\xC9\xE8\xB1\xB8"), std::string::npos) << "no code page 936 text";

    std::string block = "to the device \xB4\xF2\xBF\xAA\r\n";
    ASSERT_EQ(write(slave, block.data(), block.size()), static_cast<ssize_t>(block.size()));
    EXPECT_TRUE(rig.WaitFor("B4 F2 BF AA 0D 0A  |to the device 打开\\r\\n|")) << rig.Output();
    close(slave);
}

TEST(DemoRig, PeerSendsFramesAnswersBlocksAndTakesANewConnection) {
    std::uint16_t port = FreePort();
    Rig rig({"--no-app", "--port", std::to_string(port)});
    ASSERT_TRUE(rig.Ready()) << rig.Output();

    for (const char* round : {"first", "second"}) {
        SCOPED_TRACE(round);
        int sock = Connect(port);
        ASSERT_GE(sock, 0);
        std::string got;
        EXPECT_TRUE(ReadUntil(sock, got, "PING ")) << got;
        ASSERT_EQ(send(sock, "abcde", 5, MSG_NOSIGNAL), 5);
        EXPECT_TRUE(ReadUntil(sock, got, "ACK 5 bytes\r\n")) << got;
        close(sock);
    }
    EXPECT_TRUE(rig.WaitFor("|abcde|")) << rig.Output();
}

TEST(DemoRig, EndsCleanlyOnSigtermAndRemovesItsFolder) {
    Rig rig({"--no-app", "--port", std::to_string(FreePort())});
    std::string folder = rig.Folder();
    ASSERT_TRUE(std::filesystem::exists(folder + "/VarnelConfig.ini")) << rig.Output();

    rig.Signal(SIGTERM);
    EXPECT_EQ(rig.WaitExit(), 0) << rig.Output();
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(DemoRig, RunsTheProgramInItsFolderWithTheSettingsAndReturnsItsStatus) {
    char dir[] = "/tmp/tests_tools-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string app = std::string(dir) + "/fake-varnel";
    std::ofstream(app) << "#!/bin/sh\necho \"cwd=$(pwd)\"\ncat VarnelConfig.ini\nexit 3\n";
    std::filesystem::permissions(app, std::filesystem::perms::owner_all);
    std::uint16_t port = FreePort();

    Rig rig({"--port", std::to_string(port), app});
    std::string folder = rig.Folder();
    std::string pty = rig.Word("COM3 is ");
    EXPECT_EQ(rig.WaitExit(), 3) << rig.Output();
    const std::string& out = rig.Output();
    EXPECT_NE(out.find("cwd=" + folder + "\n"), std::string::npos) << out;
    for (std::string line :
         {"[Ports]\r\nCOM3=" + pty, "PORT=" + std::to_string(port),
          std::string("ServerIP=127.0.0.1"), std::string("REOPEN=0"), std::string("HEX=0")}) {
        EXPECT_NE(out.find(line + "\r\n"), std::string::npos) << line << "\n" << out;
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
    std::filesystem::remove_all(dir);
}

TEST(DemoRig, RefusesATakenPortClearly) {
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    getsockname(taken, reinterpret_cast<sockaddr*>(&addr), &len);

    Rig rig({"--no-app", "--port", std::to_string(ntohs(addr.sin_port))});
    EXPECT_EQ(rig.WaitExit(), 1);
    EXPECT_NE(rig.Output().find("Address already in use"), std::string::npos) << rig.Output();
    close(taken);
}

} // namespace
