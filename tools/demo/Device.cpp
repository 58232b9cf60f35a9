#include "tools/demo/Device.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace demo {

namespace {

constexpr auto kFirstLine = std::chrono::seconds(1);
constexpr auto kLinePeriod = std::chrono::seconds(3);

// The device's lines, in turn; %04u is the line counter. Chinese is in code page 936:
// 设备状态 正常, 温度, 电压, 测试数据.
constexpr const char* kLines[] = {
    "\xC9\xE8\xB1\xB8\xD7\xB4\xCC\xAC \xD5\xFD\xB3\xA3 (device OK) #%04u\r\n",
    "\xCE\xC2\xB6\xC8 23.5 C, \xB5\xE7\xD1\xB9 3.30 V #%04u\r\n",
    "\xB2\xE2\xCA\xD4\xCA\xFD\xBE\xDD hello from COM3 #%04u\r\n",
    "plain ASCII line #%04u\r\n",
};

bool KeepFromChildren(int fd) {
    return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

bool Device::Open() {
    char name[256] = {};
    if (openpty(m_master.Place(), m_slave.Place(), name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "varnel-demo: cannot create a pty: %s\n", std::strerror(errno));
        return false;
    }
    m_slavePath = name;
    termios tio{};
    bool ok = tcgetattr(m_slave.Get(), &tio) == 0;
    if (ok) {
        cfmakeraw(&tio);
        ok = tcsetattr(m_slave.Get(), TCSANOW, &tio) == 0;
    }
    ok = ok && KeepFromChildren(m_master.Get()) && KeepFromChildren(m_slave.Get()) &&
         fcntl(m_master.Get(), F_SETFL, fcntl(m_master.Get(), F_GETFL) | O_NONBLOCK) == 0;
    if (!ok) {
        std::fprintf(stderr, "varnel-demo: cannot set up the pty %s: %s\n", name,
                     std::strerror(errno));
        return false;
    }
    m_due = Clock::now() + kFirstLine;
    return true;
}

void Device::OnReadable() {
    char buf[4096];
    ssize_t n = read(m_master.Get(), buf, sizeof buf);
    if (n > 0) {
        Say("device", "<- COM3 " + ShowBlock(std::string_view(buf, static_cast<std::size_t>(n))));
    }
}

void Device::OnTime(Clock::time_point now) {
    if (now < m_due) {
        return;
    }
    m_due = now + kLinePeriod;
    int waiting = 0;
    if (ioctl(m_slave.Get(), TIOCINQ, &waiting) == 0 && waiting > 0) {
        if (!m_holding) {
            Say("device", "COM3 is not being read (press 打开 in Varnel); holding lines back");
            m_holding = true;
        }
        return;
    }
    m_holding = false;
    char line[128];
    ++m_lines;
    int len = std::snprintf(line, sizeof line, kLines[(m_lines - 1) % std::size(kLines)], m_lines);
    ssize_t n = write(m_master.Get(), line, static_cast<std::size_t>(len));
    if (n != len) {
        Say("device", "-> COM3 could not write the line: " +
                          std::string(n < 0 ? std::strerror(errno) : "short write"));
        return;
    }
    Say("device", "-> COM3 " + ShowBlock(std::string_view(line, static_cast<std::size_t>(len))));
}

} // namespace demo
