// The reasons of a port that would not open, from the codes Windows gives.
#include "app/linkerrors/LinkErrors.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Win32LinkErrors, OpenReasonFollowsTheSystemsCode) {
    const DeviceProbe listed{true, true, "", comm::LineKind::serialLine};
    const DeviceProbe missing{};
    struct Case {
        const char* path;
        long code;
        DeviceProbe probe;
        const char* want;
    } cases[] = {
        {"\\\\.\\COM3", 2, missing, "COM3: no such port"},
        {"\\\\.\\COM12", 3, missing, "COM12: no such port"},
        {"\\\\.\\COM3", 2, listed,
         "COM3: the port is listed but did not open — unplug the adapter and plug it in again"},
        {"\\\\.\\COM3", 5, listed,
         "COM3 is in use by another program — close it (a terminal, another Varnel) and try "
         "again"},
        {"\\\\.\\COM3", 32, listed,
         "COM3 is in use by another program — close it (a terminal, another Varnel) and try "
         "again"},
        {"\\\\.\\COM4", 1617, listed, "COM4: the device was removed — plug it in again"},
        {"\\\\.\\COM4", 1167, listed, "COM4: the device was removed — plug it in again"},
        {"\\\\.\\COM4", 31, listed,
         "COM4: the device does not respond — unplug the adapter and plug it in again (error 31)"},
        {"\\\\.\\NUL", 1, listed, "NUL: not a serial port (error 1)"},
        {"\\\\.\\COM4", 123, missing, "COM4: not a valid port name"},
        {"\\\\.\\COM4", 1234, listed, "COM4: error 1234"},
        {"", 2, missing, "COM9: no such port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " code " + std::to_string(c.code));
        EXPECT_EQ(DescribeSerialOpenFailure("COM9", c.path, c.code, c.probe), c.want);
    }
    // Nothing that the drivers list under such a name: no port, whatever the code.
    EXPECT_FALSE(ProbeDevice("\\\\.\\COM97").exists);
    EXPECT_EQ(DescribeSerialOpenFailure("COM97", "\\\\.\\COM97", 2), "COM97: no such port");
}

TEST(Win32LinkErrors, FailedOpenListsThePortsTheDriversRegistered) {
    EXPECT_EQ(DescribeSerialLinesPresent({}, "COM3"),
              "No serial port is present on this machine: plug the adapter in and try again.");
    EXPECT_EQ(DescribeSerialLinesPresent({{"COM1", ""}, {"COM4", ""}}, "COM3"),
              "Serial ports on this machine: COM1, COM4.\n"
              "To use one, type its name in the port field.");
    // A name too long for the field is mapped to one that fits.
    EXPECT_EQ(DescribeSerialLinesPresent({{"COM1", ""}, {"CNCA0001", ""}}, "COM3"),
              "Serial ports on this machine: COM1, CNCA0001.\n"
              "To use one, type its name in the port field, or map a port name to it in section "
              "[Ports] of VarnelConfig.ini, for example COM3=CNCA0001");
    // The list comes from the registry, sorted by number, whatever it holds under Wine.
    const std::vector<comm::SerialLineEntry> present = comm::ListSerialLines();
    for (std::size_t i = 1; i < present.size(); ++i)
        EXPECT_NE(present[i - 1].name, present[i].name);
    EXPECT_EQ(DescribeSerialSetupFailure("COM3", "\\\\.\\COM3", 87),
              "COM3: the port refused the line settings (error 87)");
}

} // namespace
