// The plain-words reasons of a link that would not come up, as the user reads them.
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

// The same code reads differently by what the probe found at the path: the user is told what is
// wrong with this device, and how to fix it where that is known.
TEST(LinkErrors, SerialOpenReasonFollowsCodeAndDevice) {
    const auto reason = [](const char* path, long code, const DeviceProbe& probe) {
        return DescribeSerialOpenFailure("COM3", path, code, probe);
    };
    const DeviceProbe missing{};
    const DeviceProbe openable{true, true, "dialout"};
    EXPECT_EQ(reason("/dev/ttyS2", 2, missing), "/dev/ttyS2: no such device");
    EXPECT_EQ(reason("/dev/sda", 2, openable), "/dev/sda: not a serial port");
    EXPECT_EQ(reason("/dev/ttyS2", 2, {true, true, "dialout", comm::LineKind::noHardware}),
              "/dev/ttyS2: no serial chip behind this port — the system lists it, but this "
              "machine does not have it");
    EXPECT_EQ(reason("/dev/tty", 2, {true, true, "", comm::LineKind::notSerial}),
              "/dev/tty: a terminal of the system, not a serial port");

    // Access denied: busy, a group to join (whichever owns the device), no way in, or gone.
    EXPECT_EQ(reason("/dev/ttyUSB0", 5, openable), "/dev/ttyUSB0 is in use by another program");
    EXPECT_EQ(reason("/dev/ttyUSB0", 5, {true, false, "uucp"}),
              "/dev/ttyUSB0: permission denied — add your user to the uucp group and log in again");
    EXPECT_EQ(reason("/dev/ttyUSB0", 5, {true, false, ""}),
              "/dev/ttyUSB0: permission denied — your user may not open this device");
    EXPECT_EQ(reason("/dev/ttyUSB0", 5, missing), "/dev/ttyUSB0: no such device");

    // A code without words of its own keeps its number.
    EXPECT_EQ(reason("/dev/ttyS1", 1234, openable), "/dev/ttyS1: error 1234");
    // The name led nowhere (a "/" or ".." in it, or nothing typed).
    EXPECT_EQ(DescribeSerialOpenFailure("CO/", "", 2, missing), "CO/: no such port");
    EXPECT_EQ(DescribeSerialOpenFailure("", "", 2, missing), "no port name given");
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
    // A name the field holds exactly (seven characters) is kept: the one the user typed.
    const std::string typed = DescribeSerialLinesPresent({lines[0]}, "ttyUSB0");
    EXPECT_EQ(typed.substr(typed.rfind(' ') + 1), "ttyUSB0=/dev/ttyS0") << typed;
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
    EXPECT_EQ(DescribeConnectFailure("127.0.0.1", 8000, ECONNREFUSED),
              "127.0.0.1:8000: connection refused");
    EXPECT_EQ(DescribeConnectFailure("10.1.2.3", 502, ETIMEDOUT),
              "10.1.2.3:502: no answer (timed out) — check the address and that the server is up");
    EXPECT_EQ(DescribeConnectFailure("127.0.0.1", 8000, 0), "127.0.0.1:8000: connect failed");
    // The socket layer refuses these with EADDRNOTAVAIL; the reason names the input, the port
    // first.
    EXPECT_EQ(DescribeConnectFailure("127.0.0.1", 0, EADDRNOTAVAIL),
              "127.0.0.1:0: port 0 is not a server port");
    EXPECT_EQ(DescribeConnectFailure("0.0.0.0", 8000, EADDRNOTAVAIL),
              "0.0.0.0:8000: 0.0.0.0 is not a server address");
    EXPECT_EQ(DescribeConnectFailure("0.0.0.0", 0, EADDRNOTAVAIL),
              "0.0.0.0:0: port 0 is not a server port");
    // Anything else keeps its number and the system's words.
    const std::string other = DescribeConnectFailure("127.0.0.1", 8000, EPROTO);
    EXPECT_EQ(other.rfind("127.0.0.1:8000: error " + std::to_string(EPROTO) + " (", 0), 0u)
        << other;
}

TEST(LinkErrors, ReceiveFailureNamesWhatEndedTheConnection) {
    EXPECT_EQ(DescribeReceiveFailure(0), "the server closed the connection");
    EXPECT_EQ(DescribeReceiveFailure(ECONNRESET), "the server reset the connection");
    // Retransmissions given up (a pulled cable): nobody reset anything.
    EXPECT_EQ(DescribeReceiveFailure(ETIMEDOUT), "the connection timed out");
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
