// varnel-headless run as a child process by the tests: the program (or the emulator of a cross
// build that starts it), the files it writes in its folder, a client of it when it listens, and
// the settings file of a listening program.
#pragma once

#include "app/platform/Clock.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/LoopbackServer.h"
#include "support/PtyPair.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace headless_test {

using testing_support::LoopbackServer;
using testing_support::PtyPair;
using testing_support::ReadFile;

inline constexpr auto kDeadline = std::chrono::seconds(10);

// What starts a program of the build: itself, or the emulator of a cross build.
inline const std::vector<std::string> kRunner{VARNEL_RUNNER};

inline std::string ProgramPath() {
    return kRunner.empty() ? VARNEL_HEADLESS : kRunner.front();
}

inline std::vector<std::string> ProgramArgs(std::vector<std::string> args) {
    if (kRunner.empty())
        return args;
    std::vector<std::string> all(kRunner.begin() + 1, kRunner.end());
    all.push_back(VARNEL_HEADLESS);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

// The day's log of the folder (the program names it by the date), empty while there is none.
inline std::string TheLog() {
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().extension() == ".log")
            return ReadFile(entry.path());
    return {};
}

// The day's events file of the folder, empty while there is none.
inline std::string TheEvents() {
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().string().find(".events.log") != std::string::npos)
            return ReadFile(entry.path());
    return {};
}

inline SYSTEMTIME KnownTime() {
    SYSTEMTIME st{};
    st.wYear = 2026;
    st.wMonth = 12;
    st.wDay = 6;
    st.wHour = 10;
    st.wMinute = 14;
    st.wSecond = 14;
    return st;
}

// A client of the program listening at 127.0.0.1:port, from the loopback address source.
struct Client {
    Client(std::uint16_t port, const char* source = "127.0.0.1") {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, source, &from.sin_addr);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        connected = ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                    ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() { ::close(fd); }
    bool Send(const std::string& bytes) {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Takes what has arrived; false once the program closed the connection.
    bool Take() {
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                got.append(buf, static_cast<std::size_t>(n));
            else
                return n < 0 && errno == EAGAIN;
        }
    }
    int fd = -1;
    bool connected = false;
    std::string got;
};

// A port nobody uses now. It is picked below the system's range for outgoing connections, so
// that a connection another test makes meanwhile cannot take it before the program listens there.
inline std::uint16_t FreePort() {
    static std::mt19937 pick(std::random_device{}());
    std::uniform_int_distribution<int> below(20000, 32000);
    for (int attempt = 0; attempt < 500; ++attempt) {
        const auto port = static_cast<std::uint16_t>(below(pick));
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
        close(fd);
        if (free)
            return port;
    }
    LoopbackServer probe;
    const std::uint16_t port = probe.Port();
    probe.StopListening();
    return port;
}

// The settings file of a program listening at a free port of 127.0.0.1 with the pty as COM3, with
// further lines for [Socket] and [SYSTEM]; the port.
inline std::uint16_t WriteListening(const PtyPair& pty, const std::string& socket,
                                    const std::string& system) {
    const std::uint16_t port = FreePort();
    std::ofstream("VarnelConfig.ini", std::ios::binary)
        << "[Socket]\r\nPORT=" << port << "\r\nLISTEN=1\r\n"
        << socket << "[SYSTEM]\r\n"
        << system << "[Ports]\r\nCOM3=" << pty.SlavePath() << "\r\n";
    return port;
}

} // namespace headless_test
