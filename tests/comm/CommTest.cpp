// The comm layer on POSIX: what a port name resolves to, what may be opened and how, the serial
// lines present, and handles that are no port.
#include "serial/comm/Comm.h"
#include "OpenPort.h"
#include "serial/comm/PortName.h"
#include "serial/comm/linux/SerialLines.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace comm;
using comm_test::OpenPort;
using testing_support::NamedPty;
using testing_support::PtyPair;
using testing_support::ScopedPortName;
using testing_support::TempWorkDir;

namespace {

TEST(PortNameTest, ResolvesOrRefuses) {
    TempWorkDir dir;
    ScopedPortName mapped("COM3", "/dev/ttyUSB7");
    const std::string tooLong(kMaxPortNameLength + 1, 'a');
    struct Case {
        const char* name;
        DWORD error;
        const char* path;
    } cases[] = {
        {"COM3", 0, "/dev/ttyUSB7"},
        {"com3", 0, "/dev/ttyUSB7"},
        {"COM1", 0, "/dev/ttyS0"},
        {"com12", 0, "/dev/ttyS11"},
        {"COM0", 0, "/dev/COM0"},
        {"COM01", 0, "/dev/COM01"},
        {"ttyUSB0", 0, "/dev/ttyUSB0"},
        {"", 2, ""},
        {"pts/0", 2, ""},
        {"/dev/ttyS0", 2, ""},
        {"..", 2, ""},
        {"a..b", 2, ""},
        {"tty\n", 2, ""},
        {tooLong.c_str(), 2, ""},
        {nullptr, 2, ""},
    };
    for (const Case& c : cases) {
        std::string path;
        EXPECT_EQ(ResolvePortName(c.name, path), c.error) << (c.name ? c.name : "(null)");
        EXPECT_EQ(path, c.path) << (c.name ? c.name : "(null)");
    }
}

TEST(OpenTest, RefusesWhatIsNoPortWithoutOpeningIt) {
    TempWorkDir dir;
    { std::ofstream("plain.txt") << "x"; }
    mkdir("folder", 0700);
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    ScopedPortName file("COM5", dir.Path() + "/plain.txt");
    ScopedPortName folder("COM6", dir.Path() + "/folder");
    ScopedPortName missing("COM7", dir.Path() + "/nothing");
    ScopedPortName nonTty("COM8", "/dev/null");
    ScopedPortName fifo("COM9", dir.Path() + "/fifo");
    // Terminals that are no serial line: opening the first would switch the terminal this test
    // runs in to raw mode.
    ScopedPortName ownTerminal("COM10", "/dev/tty");
    ScopedPortName ptmx("COM11", "/dev/ptmx");
    // An open of the FIFO or of /dev/null would show as an event of the watch.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, "fifo", IN_OPEN), 0);
    ASSERT_GE(inotify_add_watch(watch, "/dev/null", IN_OPEN), 0);
    const int before = testing_support::OpenDescriptorCount();
    for (const char* name : {"COM5", "COM6", "COM7", "COM8", "COM9", "COM10", "COM11",
                             "ttyNoSuchDevice", "../null", ""}) {
        SetLastError(0);
        EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE) << name;
        EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND) << name;
    }
    EXPECT_EQ(testing_support::OpenDescriptorCount(), before);
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "a refused device was opened";
    close(watch);
}

// The decision on recorded facts, as stat and sysfs show them on machines with such devices.
TEST(SerialLineTest, OnlySerialLinesMayBeOpened) {
    auto tty = [](unsigned major, unsigned minor, const char* name, bool device, int type = -1,
                  bool io = true) {
        SerialLineFacts f;
        f.exists = f.charDevice = f.ttyClass = true;
        f.major = major;
        f.minor = minor;
        f.name = name;
        f.hasDevice = device;
        f.uartType = type;
        f.uartHasIo = io;
        return f;
    };
    SerialLineFacts missing;
    SerialLineFacts fifo;
    fifo.exists = true;
    SerialLineFacts null = tty(1, 3, "null", false);
    null.ttyClass = false;
    SerialLineFacts watchdog = tty(10, 130, "watchdog", true);
    watchdog.ttyClass = false;
    SerialLineFacts noSysfs = tty(188, 0, "", false);
    noSysfs.ttyClass = false;
    struct Case {
        const char* what;
        SerialLineFacts facts;
        LineKind kind;
    } cases[] = {
        {"ttyS0 with a 16550A", tty(4, 64, "ttyS0", true, 4), LineKind::serialLine},
        {"ttyUSB0", tty(188, 0, "ttyUSB0", true), LineKind::serialLine},
        {"ttyACM0", tty(166, 0, "ttyACM0", true), LineKind::serialLine},
        {"ttyAMA0 (memory mapped)", tty(204, 64, "ttyAMA0", true, 83), LineKind::serialLine},
        {"rfcomm0 before its link is up", tty(216, 0, "rfcomm0", false), LineKind::serialLine},
        {"pty slave", tty(136, 3, "", false), LineKind::ptySlave},
        {"pty slave, last major", tty(143, 9, "", false), LineKind::ptySlave},
        {"ttyS2 listed without a UART", tty(4, 66, "ttyS2", true, 0), LineKind::noHardware},
        {"ttyS3 without port or memory", tty(4, 67, "ttyS3", true, 4, false), LineKind::noHardware},
        {"/dev/tty", tty(5, 0, "tty", false), LineKind::notSerial},
        {"/dev/console", tty(5, 1, "console", false), LineKind::notSerial},
        {"/dev/ptmx", tty(5, 2, "ptmx", false), LineKind::notSerial},
        {"/dev/tty even with a device", tty(5, 0, "tty", true), LineKind::notSerial},
        {"/dev/console with a device", tty(5, 1, "console", true), LineKind::notSerial},
        {"/dev/ptmx with a device", tty(5, 2, "ptmx", true), LineKind::notSerial},
        {"tty0", tty(4, 0, "tty0", false), LineKind::notSerial},
        {"tty63", tty(4, 63, "tty63", true), LineKind::notSerial},
        {"ttyprintk", tty(5, 3, "ttyprintk", false), LineKind::notSerial},
        {"/dev/null", null, LineKind::notTerminal},
        {"watchdog", watchdog, LineKind::notTerminal},
        {"a device sysfs does not show", noSysfs, LineKind::notTerminal},
        {"FIFO", fifo, LineKind::notTerminal},
        {"nothing there", missing, LineKind::missing},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JudgeSerialLine(c.facts), c.kind) << c.what;
        EXPECT_EQ(MayOpen(JudgeSerialLine(c.facts)),
                  c.kind == LineKind::serialLine || c.kind == LineKind::ptySlave)
            << c.what;
    }
}

// The serial lines present, listed from a /dev and a /sys made up for the test.
TEST(SerialLineTest, ListsThePortsPresentWithTheirByIdNames) {
    namespace fs = std::filesystem;
    TempWorkDir dir;
    const fs::path sys = fs::path(dir.Path()) / "sys", dev = fs::path(dir.Path()) / "dev";
    auto device = [&](const char* name, const char* numbers, bool hardware, const char* type,
                      bool node = true) {
        fs::path d = sys / "class" / "tty" / name;
        fs::create_directories(d);
        fs::create_directory_symlink("../../../../class/tty", d / "subsystem");
        if (hardware)
            fs::create_directory_symlink("../../..", d / "device");
        std::ofstream(d / "dev") << numbers << "\n";
        if (*type)
            std::ofstream(d / "type") << type << "\n";
        if (node)
            std::ofstream(dev / name) << "";
    };
    fs::create_directories(dev / "serial" / "by-id");
    EXPECT_TRUE(ListSerialLines(dev.string(), sys.string()).empty());

    device("ttyUSB0", "188:0", true, "");
    device("ttyS0", "4:64", true, "4");
    device("ttyS2", "4:66", true, "0");        // no UART behind it
    device("ttyS5", "4:69", true, "4", false); // no node under /dev
    device("tty1", "4:1", false, "");          // a virtual console
    device("console", "5:1", false, "");
    fs::create_symlink("../../ttyUSB0",
                       dev / "serial" / "by-id" / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    const std::vector<SerialLineEntry> lines = ListSerialLines(dev.string(), sys.string());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].name, "ttyS0");
    EXPECT_EQ(lines[0].byId, "");
    EXPECT_EQ(lines[1].name, "ttyUSB0");
    EXPECT_EQ(lines[1].byId, "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

    // Windows lists its ports as people count them: COM2 before COM10, each name once.
    std::vector<SerialLineEntry> com{{"COM10", ""}, {"COM2", ""}, {"COM1", ""},
                                     {"CNCA0", ""}, {"COM2", ""}, {"COM1A", ""}};
    SortByPortNumber(com);
    std::string order;
    for (const SerialLineEntry& e : com)
        order += e.name + " ";
    EXPECT_EQ(order, "CNCA0 COM1 COM1A COM2 COM10 ");
}

// Whatever used the line before finds it as it left it: after a close, and after an open that
// only probes.
TEST(OpenTest, CloseRestoresTheLineSettingsFoundAtOpen) {
    NamedPty com4("COM4");
    PtyPair& pty = com4.pty;
    const int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    termios cooked{};
    ASSERT_EQ(tcgetattr(slave, &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG;
    cooked.c_iflag |= ICRNL;
    cooked.c_oflag |= OPOST;
    cfsetspeed(&cooked, B4800);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &cooked), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    auto same = [&] {
        termios now{};
        return tcgetattr(slave, &now) == 0 && now.c_iflag == before.c_iflag &&
               now.c_oflag == before.c_oflag && now.c_cflag == before.c_cflag &&
               now.c_lflag == before.c_lflag && cfgetospeed(&now) == cfgetospeed(&before) &&
               std::memcmp(now.c_cc, before.c_cc, sizeof now.c_cc) == 0;
    };

    HANDLE port = OpenPort("COM4");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(same()); // open makes the line raw
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = 115200;
    dcb.fOutX = 1;
    ASSERT_TRUE(SetCommState(port, &dcb));
    ASSERT_TRUE(CloseHandle(port));
    EXPECT_TRUE(same());

    port = OpenPort("COM4"); // what a probe does
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(port));
    EXPECT_TRUE(same());
    close(slave);
}

TEST(OpenTest, IsExclusiveWithinAndAcrossProcesses) {
    NamedPty com4("COM4");
    PtyPair& pty = com4.pty;
    HANDLE first = OpenPort("COM4");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenPort("COM4"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    pid_t child = fork();
    if (child == 0) {
        int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        bool refused = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        _exit(refused ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = OpenPort("COM4");
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST(HandleTest, StaleAndForeignHandlesFail) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    DWORD mask = 0;
    EXPECT_FALSE(GetCommMask(event, &mask)); // an event is no port
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_FALSE(GetCommModemStatus(nullptr, &mask));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

} // namespace
