// The reasons of the serial port's failures that depend on Linux: what the device node, its group
// and sysfs say, and the serial lines this machine has.
#include "app/linkerrors/LinkErrors.h"
#include "app/linkerrors/Wording.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace linkerrors;

namespace {

// Codes of this platform only (the rest are in Wording.h).
constexpr long kNotATerminal = 1;

std::string GroupName(gid_t gid) {
    std::vector<char> buf(4096);
    group g{};
    group* found = nullptr;
    while (getgrgid_r(gid, &g, buf.data(), buf.size(), &found) == ERANGE && buf.size() < 65536)
        buf.resize(buf.size() * 2);
    return found ? std::string(found->gr_name) : std::string();
}

} // namespace

DeviceProbe ProbeDevice(const std::string& devicePath) {
    DeviceProbe probe;
    struct stat st {};
    if (devicePath.empty() || ::stat(devicePath.c_str(), &st) != 0)
        return probe;
    probe.exists = true;
    probe.kind = comm::JudgeDevicePath(devicePath);
    probe.mayOpen = ::access(devicePath.c_str(), R_OK | W_OK) == 0;
    // Only a group that may read and write the device is worth joining; root's group never is.
    if (st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        probe.group = GroupName(st.st_gid);
    return probe;
}

std::string DescribeSerialOpenFailure(const std::string& portName, const std::string& devicePath,
                                      long errorCode, const DeviceProbe& probe) {
    if (devicePath.empty())
        return UnresolvedPortReason(portName);
    const std::string& dev = devicePath;
    switch (errorCode) {
    case kFileNotFound:
    case kPathNotFound:
        if (!probe.exists)
            return dev + ": no such device";
        if (probe.kind == comm::LineKind::noHardware)
            return dev + ": no serial chip behind this port — the system lists it, but this "
                         "machine does not have it";
        if (probe.kind == comm::LineKind::notSerial)
            return dev + ": a terminal of the system, not a serial port";
        return dev + ": not a serial port";
    case kNotATerminal:
        return dev + ": not a serial port";
    case kAccessDenied:
        if (!probe.exists)
            return dev + ": no such device";
        if (probe.mayOpen)
            return dev + " is in use by another program";
        if (!probe.group.empty() && SpeaksOfTheSettingsFile())
            return dev + ": permission denied — the bridge's user is not in the " + probe.group +
                   " group; add it (a service: Group=" + probe.group + " in its unit)";
        if (SpeaksOfTheSettingsFile())
            return dev + ": permission denied — no group of the bridge's user may read and " +
                   "write it; serial ports belong to group dialout, which varnel@.service runs " +
                   "it in (a udev rule can give this device to dialout)";
        if (!probe.group.empty())
            return dev + ": permission denied — add your user to the " + probe.group +
                   " group and log in again";
        return dev + ": permission denied — your user may not open this device";
    case kGeneralFailure:
        return dev + ": the device does not respond — is the hardware there? (error 31)";
    case kNotSupported:
        return dev + ": not a serial port (error 50)";
    case kDeviceRemoved:
        return dev + ": the device was removed";
    default:
        return CommonSerialReason(dev, errorCode);
    }
}

std::string DescribeSerialLinesPresent(const std::vector<comm::SerialLineEntry>& lines,
                                       const std::string& portName) {
    std::string text = PortsPresent(lines, [](const comm::SerialLineEntry& line) {
        return line.byId.empty() ? line.name : line.name + " (" + line.byId + ")";
    });
    if (lines.empty())
        return text;
    // The example maps a port that has a by-id name if there is one: most likely the adapter.
    auto example = std::find_if(lines.begin(), lines.end(), [](const comm::SerialLineEntry& line) {
        return !line.byId.empty();
    });
    const std::string path = example == lines.end() ? "/dev/" + lines.front().name
                                                    : "/dev/serial/by-id/" + example->byId;
    return text + HowToUseALine(portName, path, false);
}
