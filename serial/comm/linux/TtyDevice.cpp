// Terminal devices. The kernel's termios2 interface is used throughout (it is the only one that
// takes any baud rate; LineIoctl.h; a standard rate still goes by its own speed code), so this file
// must not include the C library's <termios.h>.
#include "serial/comm/linux/TtyDevice.h"

#include "serial/comm/linux/Errors.h"
#include "serial/comm/linux/LineIoctl.h"
#include "serial/comm/linux/SerialLines.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace comm {
namespace {

class TtyDevice final : public Device {
public:
    // `found` holds the line settings in force before the open; the close puts them back, so
    // that whatever used the line before (a getty, a terminal program) finds it as it left it.
    TtyDevice(int fd, const termios2& found) : fd_(fd), found_(found) {}
    ~TtyDevice() override {
        if (breaking_)
            ioctl(fd_, TIOCCBRK);
        SetLineSettings(fd_, found_);
        ioctl(fd_, TIOCNXCL);
        flock(fd_, LOCK_UN);
        close(fd_);
    }

    int Fd() const override { return fd_; }
    ssize_t Read(void* buf, std::size_t n) override { return read(fd_, buf, n); }
    ssize_t Write(const void* buf, std::size_t n) override { return write(fd_, buf, n); }

    int GetLine(LineSettings& line) override {
        termios2 t{};
        if (int err = GetLineSettings(fd_, t))
            return err;
        line.baud = t.c_ospeed;
        switch (t.c_cflag & CSIZE) {
        case CS5:
            line.dataBits = 5;
            break;
        case CS6:
            line.dataBits = 6;
            break;
        case CS7:
            line.dataBits = 7;
            break;
        default:
            line.dataBits = 8;
            break;
        }
        if (!(t.c_cflag & PARENB))
            line.parity = 0;
        else if (t.c_cflag & CMSPAR)
            line.parity = (t.c_cflag & PARODD) ? 3 : 4;
        else
            line.parity = (t.c_cflag & PARODD) ? 1 : 2;
        line.stopBits = (t.c_cflag & CSTOPB) ? (line.dataBits == 5 ? 1 : 2) : 0;
        line.parityCheck = (t.c_iflag & INPCK) != 0;
        line.ctsRtsFlow = (t.c_cflag & CRTSCTS) != 0;
        line.xonXoffOut = (t.c_iflag & IXON) != 0;
        line.xonXoffIn = (t.c_iflag & IXOFF) != 0;
        line.xonChar = static_cast<char>(t.c_cc[VSTART]);
        line.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
        return 0;
    }

    int SetLine(const LineSettings& line) override {
        termios2 t{};
        if (int err = GetLineSettings(fd_, t))
            return err;
        MakeRaw(t);
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        PutRate(t, line.baud);
        static constexpr unsigned kSizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= kSizes[(line.dataBits < 5 ? 5 : line.dataBits > 8 ? 8 : line.dataBits) - 5];
        switch (line.parity) {
        case 1:
            t.c_cflag |= PARENB | PARODD;
            break;
        case 2:
            t.c_cflag |= PARENB;
            break;
        case 3:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case 4:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
        }
        if (line.stopBits != 0)
            t.c_cflag |= CSTOPB;
        if (line.ctsRtsFlow)
            t.c_cflag |= CRTSCTS;
        t.c_iflag &= ~(INPCK | IXON | IXOFF);
        if (line.parityCheck && line.parity != 0)
            t.c_iflag |= INPCK;
        if (line.xonXoffOut)
            t.c_iflag |= IXON;
        if (line.xonXoffIn)
            t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = static_cast<cc_t>(line.xonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(line.xoffChar);
        return SetLineSettings(fd_, t);
    }

    int GetModemLines(int& bits) override { return Ioctl(fd_, TIOCMGET, &bits); }
    int SetModemLines(int bits, bool on) override {
        return Ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits);
    }
    int SetBreak(bool on) override {
        int err = Ioctl(fd_, on ? TIOCSBRK : TIOCCBRK, nullptr);
        if (err == 0)
            breaking_ = on;
        return err;
    }

    int GetCounters(LineCounters& c) override {
        serial_icounter_struct ic{};
        if (int err = Ioctl(fd_, TIOCGICOUNT, &ic))
            return err;
        c.cts = static_cast<std::uint32_t>(ic.cts);
        c.dsr = static_cast<std::uint32_t>(ic.dsr);
        c.ring = static_cast<std::uint32_t>(ic.rng);
        c.dcd = static_cast<std::uint32_t>(ic.dcd);
        c.frame = static_cast<std::uint32_t>(ic.frame);
        c.overrun = static_cast<std::uint32_t>(ic.overrun);
        c.parity = static_cast<std::uint32_t>(ic.parity);
        c.brk = static_cast<std::uint32_t>(ic.brk);
        c.bufOverrun = static_cast<std::uint32_t>(ic.buf_overrun);
        return 0;
    }

    int InQueue(std::uint32_t& bytes) override { return Queue(FIONREAD, bytes); }
    int OutQueue(std::uint32_t& bytes) override { return Queue(TIOCOUTQ, bytes); }
    int DiscardInput() override { return Ioctl(fd_, TCFLSH, reinterpret_cast<void*>(TCIFLUSH)); }
    // Only bytes that still wait to be sent are discarded. A pty has no transmit queue (its
    // output queue reads 0 as soon as a write returned), and TCOFLUSH on it drops what the far
    // end has received but not read yet: bytes that have already left the port.
    int DiscardOutput() override {
        std::uint32_t waiting = 0;
        if (Queue(TIOCOUTQ, waiting) == 0 && waiting == 0)
            return 0;
        return Ioctl(fd_, TCFLSH, reinterpret_cast<void*>(TCOFLUSH));
    }
    // TCSBRK with a non-zero argument is tcdrain().
    int Drain() override { return Ioctl(fd_, TCSBRK, reinterpret_cast<void*>(1)); }

    static void MakeRaw(termios2& t) {
        t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IMAXBEL | IXANY);
        t.c_oflag &= ~OPOST;
        t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
    }

private:
    int Queue(unsigned long request, std::uint32_t& bytes) {
        int n = 0;
        if (int err = Ioctl(fd_, request, &n))
            return err;
        bytes = n < 0 ? 0 : static_cast<std::uint32_t>(n);
        return 0;
    }

    int fd_;
    termios2 found_;
    bool breaking_ = false; // a break left on is ended at close, not left to the next user
};

} // namespace

std::unique_ptr<Device> OpenTtyDevice(const char* path, std::uint32_t& error) {
    // Only serial lines are opened: the decision comes from stat and sysfs, before any open.
    const SerialLineFacts facts = ReadSerialLineFacts(path);
    const LineKind kind = JudgeSerialLine(facts);
    if (!MayOpen(kind)) {
        error = kind == LineKind::missing ? ErrnoToError(facts.statError, ErrnoContext::open) : 2;
        return nullptr;
    }
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = ErrnoToError(errno, ErrnoContext::open);
        return nullptr;
    }
    // The node may have been replaced between the decision and the open.
    struct stat st {};
    termios2 found{};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) != facts.major ||
        minor(st.st_rdev) != facts.minor || GetLineSettings(fd, found) != 0) {
        close(fd); // not the terminal that was judged, or a terminal that is gone
        error = 2;
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = ErrnoToError(errno, ErrnoContext::open);
        close(fd);
        return nullptr;
    }
    // TIOCEXCL keeps out other programs that do not take the lock (it does not stop root).
    ioctl(fd, TIOCEXCL);
    termios2 t = found;
    TtyDevice::MakeRaw(t);
    // A terminal set up without flow-control characters gets the usual ones.
    if (t.c_cc[VSTART] == t.c_cc[VSTOP]) {
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
    }
    if (int err = SetLineSettings(fd, t)) {
        error = ErrnoToError(err, ErrnoContext::io);
        ioctl(fd, TIOCNXCL);
        flock(fd, LOCK_UN);
        close(fd);
        return nullptr;
    }
    error = 0;
    return std::make_unique<TtyDevice>(fd, found);
}

} // namespace comm
