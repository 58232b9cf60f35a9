// The reasons of the serial port's failures on Windows, from the system's error codes. A port
// that another program holds is refused with access denied (or a sharing violation): serial
// ports are opened exclusively, and there are no device permissions to fix at a desk.
#include "app/linkerrors/LinkErrors.h"
#include "app/linkerrors/Wording.h"

using namespace linkerrors;

namespace {

// The system's codes that a user meets when opening a port, beside those in Wording.h.
constexpr long kInvalidFunction = 1;
constexpr long kSharingViolation = 32;
constexpr long kSemaphoreTimeout = 121;
constexpr long kInvalidName = 123;
constexpr long kNoSuchDevice = 433;
constexpr long kDeviceNotConnected = 1167;

// The name the user knows: \\.\COM12 is COM12.
std::string Shown(const std::string& devicePath) {
    return devicePath.rfind("\\\\.\\", 0) == 0 ? devicePath.substr(4) : devicePath;
}

} // namespace

// Windows has no device node to look at without opening it: the port exists when the serial
// drivers list it. Who may open it is not known before the open.
DeviceProbe ProbeDevice(const std::string& devicePath) {
    DeviceProbe probe;
    if (devicePath.empty())
        return probe;
    probe.kind = comm::JudgeDevicePath(devicePath);
    probe.exists = probe.kind != comm::LineKind::missing;
    probe.mayOpen = probe.exists;
    return probe;
}

std::string DescribeSerialOpenFailure(const std::string& portName, const std::string& devicePath,
                                      long errorCode, const DeviceProbe& probe) {
    if (devicePath.empty())
        return UnresolvedPortReason(portName);
    const std::string dev = Shown(devicePath);
    switch (errorCode) {
    case kFileNotFound:
    case kPathNotFound:
    case kNoSuchDevice:
        if (probe.exists)
            return dev + ": the port is listed but did not open — unplug the adapter and plug it "
                         "in again";
        return dev + ": no such port";
    case kInvalidName:
        return dev + ": not a valid port name";
    case kAccessDenied:
    case kSharingViolation:
        return dev + " is in use by another program — close it (a terminal, another Varnel) "
                     "and try again";
    case kInvalidFunction:
    case kNotSupported:
        return dev + ": not a serial port (" + ErrorNumber(errorCode) + ")";
    case kGeneralFailure:
    case kSemaphoreTimeout:
        return dev + ": the device does not respond — unplug the adapter and plug it in again (" +
               ErrorNumber(errorCode) + ")";
    case kDeviceNotConnected:
    case kDeviceRemoved:
        return dev + ": the device was removed — plug it in again";
    default:
        return CommonSerialReason(dev, errorCode);
    }
}

std::string DescribeSerialLinesPresent(const std::vector<comm::SerialLineEntry>& lines,
                                       const std::string& portName) {
    std::string text =
        PortsPresent(lines, [](const comm::SerialLineEntry& line) { return line.name; });
    if (lines.empty())
        return text;
    const std::string& example = lines.back().name; // the newest adapter has the highest number
    return text + HowToUseALine(portName, example, example.size() <= kLongestPortName);
}
