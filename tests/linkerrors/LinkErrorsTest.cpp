#include "app/linkerrors/LinkErrors.h"
#include "support/OrdinaryUser.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

TEST(LinkErrors, SerialOpenReasonFollowsCodeAndDevice) {
    const DeviceProbe missing{};
    const DeviceProbe denied{true, false, "dialout"};
    const DeviceProbe deniedNoGroup{true, false, ""};
    const DeviceProbe deniedOtherGroup{true, false, "uucp"};
    const DeviceProbe openable{true, true, "dialout"};
    const DeviceProbe noUart{true, true, "dialout", comm::LineKind::noHardware};
    const DeviceProbe console{true, true, "", comm::LineKind::notSerial};
    struct Case {
        const char* port;
        const char* path;
        long code;
        DeviceProbe probe;
        const char* want;
    } cases[] = {
        {"COM3", "/dev/ttyS2", 2, missing, "/dev/ttyS2: no such device"},
        {"COM3", "/dev/ttyS2", 3, missing, "/dev/ttyS2: no such device"},
        {"sda", "/dev/sda", 2, openable, "/dev/sda: not a serial port"},
        {"null", "/dev/null", 1, openable, "/dev/null: not a serial port"},
        {"COM3", "/dev/ttyS2", 2, noUart,
         "/dev/ttyS2: no serial chip behind this port — the system lists it, but this machine "
         "does not have it"},
        {"tty", "/dev/tty", 2, console, "/dev/tty: a terminal of the system, not a serial port"},
        {"COM1", "/dev/ttyUSB0", 5, denied,
         "/dev/ttyUSB0: permission denied — add your user to the dialout group and log in again"},
        {"COM1", "/dev/ttyUSB0", 5, deniedOtherGroup,
         "/dev/ttyUSB0: permission denied — add your user to the uucp group and log in again"},
        {"COM1", "/dev/ttyUSB0", 5, deniedNoGroup,
         "/dev/ttyUSB0: permission denied — your user may not open this device"},
        {"COM1", "/dev/ttyUSB0", 5, openable, "/dev/ttyUSB0 is in use by another program"},
        {"COM1", "/dev/ttyUSB0", 5, missing, "/dev/ttyUSB0: no such device"},
        {"COM2", "/dev/ttyS1", 31, openable,
         "/dev/ttyS1: the device does not respond — is the hardware there? (error 31)"},
        {"COM2", "/dev/ttyS1", 50, openable, "/dev/ttyS1: not a serial port (error 50)"},
        {"COM2", "/dev/ttyS1", 87, openable,
         "/dev/ttyS1: the device rejected the request (error 87)"},
        {"COM2", "/dev/ttyACM0", 1617, openable, "/dev/ttyACM0: the device was removed"},
        {"COM2", "/dev/ttyS1", 4, openable, "/dev/ttyS1: too many open files"},
        {"COM2", "/dev/ttyS1", 1234, openable, "/dev/ttyS1: error 1234"},
        {"COM2", "/dev/ttyS1", 0, openable, "/dev/ttyS1: could not be opened"},
        // The name led nowhere (a "/" or ".." in it, or nothing typed).
        {"CO/", "", 2, missing, "CO/: no such port"},
        {"", "", 2, missing, "no port name given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " code " + std::to_string(c.code));
        EXPECT_EQ(DescribeSerialOpenFailure(c.port, c.path, c.code, c.probe), c.want);
    }
}

TEST(LinkErrors, FailedOpenListsThePortsPresent) {
    EXPECT_EQ(DescribeSerialLinesPresent({}, "COM3"),
              "No serial port is present on this machine: plug the adapter in and try again.");
    const std::vector<comm::SerialLineEntry> lines = {
        {"ttyS0", ""}, {"ttyUSB0", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}};
    EXPECT_EQ(DescribeSerialLinesPresent(lines, "COM3"),
              "Serial ports on this machine: ttyS0, ttyUSB0 "
              "(usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0).\n"
              "To use one, type its name in the port field, or map a port name to it in section "
              "[Ports] of VarnelConfig.ini, for example "
              "COM3=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    // Without by-id names the example maps the device itself, under a name the field can hold.
    const std::string hint = DescribeSerialLinesPresent({lines[0]}, "COM10000");
    EXPECT_EQ(hint.substr(hint.rfind(' ') + 1), "COM3=/dev/ttyS0") << hint;
}

TEST(LinkErrors, SetupReasonNamesLineSettings) {
    EXPECT_EQ(DescribeSerialSetupFailure("COM3", "/dev/ttyUSB0", 87),
              "/dev/ttyUSB0: the port refused the line settings (error 87)");
    EXPECT_EQ(DescribeSerialSetupFailure("COM3", "/dev/ttyUSB0", 0),
              "/dev/ttyUSB0: the port refused the line settings");
    EXPECT_EQ(DescribeSerialSetupFailure("COM3", "", 50),
              "COM3: the port refused the line settings (error 50)");
    EXPECT_EQ(DescribeSerialSetupFailure("COM3", "/dev/ttyUSB0", 1617),
              "/dev/ttyUSB0: the device was removed");
}

// A device that went away, in the codes of Windows and of Wine; a cancelled or timed-out call, or
// one that found nothing at the name, is no removal.
TEST(LinkErrors, DeviceGoneFromTheCodesOfEitherSystem) {
    for (long code : {5L, 22L, 1617L, 21L, 109L})
        EXPECT_TRUE(MeansDeviceGone(code)) << code;
    for (long code : {0L, 2L, 31L, 87L, 995L, 1460L})
        EXPECT_FALSE(MeansDeviceGone(code)) << code;
}

TEST(LinkErrors, ConnectReasonFollowsErrno) {
    struct Case {
        const char* ip;
        unsigned port;
        int err;
        const char* want;
    } cases[] = {
        {"127.0.0.1", 8000, ECONNREFUSED, "127.0.0.1:8000: connection refused"},
        {"10.1.2.3", 502, ETIMEDOUT,
         "10.1.2.3:502: no answer (timed out) — check the address and that the server is up"},
        {"10.1.2.3", 502, EHOSTUNREACH,
         "10.1.2.3:502: no route to host — check the address and the network"},
        {"10.1.2.3", 502, ENETUNREACH,
         "10.1.2.3:502: network unreachable — check the network connection"},
        {"192.168.1.9", 80, EADDRNOTAVAIL, "192.168.1.9:80: address not available"},
        {"192.168.1.9", 80, ECONNRESET, "192.168.1.9:80: the server reset the connection"},
        {"192.168.1.255", 80, EACCES,
         "192.168.1.255:80: not permitted (a broadcast address or a firewall rule)"},
        {"127.0.0.1", 8000, EMFILE, "127.0.0.1:8000: too many open files"},
        {"127.0.0.1", 8000, 0, "127.0.0.1:8000: connect failed"},
        // The socket layer refuses these two with EADDRNOTAVAIL; the reason names the input.
        {"127.0.0.1", 0, EADDRNOTAVAIL, "127.0.0.1:0: port 0 is not a server port"},
        {"0.0.0.0", 8000, EADDRNOTAVAIL, "0.0.0.0:8000: 0.0.0.0 is not a server address"},
        {"0.0.0.0", 0, EADDRNOTAVAIL, "0.0.0.0:0: port 0 is not a server port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ip) + " errno " + std::to_string(c.err));
        EXPECT_EQ(DescribeConnectFailure(c.ip, c.port, c.err), c.want);
    }
    // Anything else keeps its number and the system's words.
    const std::string other = DescribeConnectFailure("127.0.0.1", 8000, EPROTO);
    EXPECT_EQ(other.rfind("127.0.0.1:8000: error " + std::to_string(EPROTO) + " (", 0), 0u)
        << other;
}

TEST(LinkErrors, ReceiveFailureNamesWhatEndedTheConnection) {
    struct Case {
        int err;
        const char* want;
    } cases[] = {
        {0, "the server closed the connection"},
        {ECONNRESET, "the server reset the connection"},
        // Retransmissions given up (a pulled cable): nobody reset anything.
        {ETIMEDOUT, "the connection timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("errno " + std::to_string(c.err));
        EXPECT_EQ(DescribeReceiveFailure(c.err), c.want);
    }
    // Anything else keeps its number and the system's words.
    EXPECT_EQ(DescribeReceiveFailure(EHOSTUNREACH),
              "error " + std::to_string(EHOSTUNREACH) + " (" + std::strerror(EHOSTUNREACH) + ")");
}

TEST(LinkErrors, ProbeTellsBusyFromMissing) {
    const fs::path dir = fs::temp_directory_path() / ("linkerrors-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path node = dir / "ttyFAKE0";
    std::ofstream(node).put('x');

    const DeviceProbe here = ProbeDevice(node.string());
    EXPECT_TRUE(here.exists);
    EXPECT_TRUE(here.mayOpen); // our own file
    EXPECT_FALSE(ProbeDevice((dir / "ttyNONE").string()).exists);
    EXPECT_FALSE(ProbeDevice("").exists);

    // Code 5 on a node this user may open: another program holds the port.
    EXPECT_EQ(DescribeSerialOpenFailure("COM3", node.string(), 5),
              node.string() + " is in use by another program");
    EXPECT_EQ(DescribeSerialOpenFailure("COM3", (dir / "ttyNONE").string(), 2),
              (dir / "ttyNONE").string() + ": no such device");

    // The hint names the device's group when that group may read and write, never root's.
    fs::permissions(node, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::group_write);
    if (const group* dialout = ::getgrnam("dialout");
        dialout && ::chown(node.c_str(), static_cast<uid_t>(-1), dialout->gr_gid) == 0) {
        EXPECT_EQ(ProbeDevice(node.string()).group, "dialout");
        fs::permissions(node, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(ProbeDevice(node.string()).group, "");
    }
    // A node of root's: root's group is never worth joining, and an ordinary user who may not
    // open it is told that it is a matter of permission (with the group to join where one may
    // read and write it), not that the port is busy. Only root can hand a node to root.
    if (::chown(node.c_str(), 0, 0) == 0) {
        fs::permissions(node, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::group_write);
        EXPECT_EQ(ProbeDevice(node.string()).group, "");
        EXPECT_TRUE(testing_support::RunAsOrdinaryUser([&] {
            EXPECT_EQ(DescribeSerialOpenFailure("COM3", node.string(), 5),
                      node.string() + ": permission denied — your user may not open this device");
            return !::testing::Test::HasFailure();
        }));
        const group* dialout = ::getgrnam("dialout");
        if (dialout && ::chown(node.c_str(), 0, dialout->gr_gid) == 0) {
            EXPECT_TRUE(testing_support::RunAsOrdinaryUser([&] {
                EXPECT_EQ(DescribeSerialOpenFailure("COM3", node.string(), 5),
                          node.string() + ": permission denied — add your user to the dialout "
                                          "group and log in again");
                return !::testing::Test::HasFailure();
            }));
        }
    }
    fs::remove_all(dir);
}

} // namespace
