#include "serial/comm/linux/LineIoctl.h"

#include <asm/ioctls.h>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/ioctl.h>

namespace comm {

int Ioctl(int fd, unsigned long request, void* arg) {
    for (;;) {
        if (ioctl(fd, request, arg) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

namespace {

struct Speed {
    unsigned code;
    unsigned baud;
};

constexpr Speed kSpeeds[] = {
    {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
    {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
    {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
    {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
    {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
    {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
    {B3500000, 3500000}, {B4000000, 4000000},
};

// Set once a terminal answered the older call but not termios2: the system lacks termios2.
std::atomic<bool> g_withoutTermios2{false};

// The fields both records share; termios2 adds the two speeds at its end.
static_assert(offsetof(termios2, c_cc) == offsetof(termios, c_cc));
static_assert(sizeof(termios2::c_cc) == sizeof(termios::c_cc));

} // namespace

int GetLineSettings(int fd, termios2& t) {
    const int err = Ioctl(fd, TCGETS2, &t);
    if (err == 0)
        return 0;
    termios old{};
    if (Ioctl(fd, TCGETS, &old) != 0)
        return err;
    g_withoutTermios2.store(true);
    t = termios2{};
    std::memcpy(&t, &old, sizeof old);
    t.c_ispeed = t.c_ospeed = 0;
    for (const Speed& speed : kSpeeds)
        if ((old.c_cflag & CBAUD) == speed.code)
            t.c_ispeed = t.c_ospeed = speed.baud;
    return 0;
}

void PutRate(termios2& t, unsigned baud) {
    unsigned code = BOTHER;
    for (const Speed& speed : kSpeeds)
        if (speed.baud == baud)
            code = speed.code;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code | (code << IBSHIFT);
    t.c_ospeed = t.c_ispeed = baud;
}

int SetLineSettings(int fd, const termios2& t) {
    termios2 copy = t;
    if (!g_withoutTermios2.load())
        return Ioctl(fd, TCSETS2, &copy);
    termios old{};
    std::memcpy(&old, &t, sizeof old);
    if ((t.c_cflag & CBAUD) == BOTHER) {
        const Speed* found = nullptr;
        for (const Speed& speed : kSpeeds)
            if (speed.baud == t.c_ospeed)
                found = &speed;
        if (!found)
            return EINVAL;
        old.c_cflag = (old.c_cflag & ~(CBAUD | CIBAUD)) | found->code;
    }
    return Ioctl(fd, TCSETS, &old);
}

} // namespace comm
