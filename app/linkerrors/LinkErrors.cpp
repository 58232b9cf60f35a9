#include "app/linkerrors/LinkErrors.h"
#include "app/linkerrors/Wording.h"

#include <cerrno>
#include <cstring>
#include <utility>

using linkerrors::ErrorNumber;
using linkerrors::kDeviceRemoved;

namespace {

// The reason a table gives the code, or nullptr.
using ReasonRow = std::pair<long, const char*>;
template <std::size_t N> const char* ReasonFor(const ReasonRow (&table)[N], long code) {
    for (const auto& [rowCode, text] : table)
        if (rowCode == code)
            return text;
    return nullptr;
}

} // namespace

namespace linkerrors {

std::string UnresolvedPortReason(const std::string& portName) {
    return portName.empty() ? "no port name given" : portName + ": no such port";
}

std::string CommonSerialReason(const std::string& dev, long errorCode) {
    static constexpr ReasonRow kAlike[] = {
        {kTooManyOpenFiles, "too many open files"},
        {kNotEnoughMemory, "out of memory"},
        {kInvalidParameter, "the device rejected the request (error 87)"},
        {0, "could not be opened"},
    };
    const char* text = ReasonFor(kAlike, errorCode);
    return dev + ": " + (text ? std::string(text) : ErrorNumber(errorCode));
}

std::string PortsPresent(const std::vector<comm::SerialLineEntry>& lines,
                         const std::function<std::string(const comm::SerialLineEntry&)>& shown) {
    if (lines.empty())
        return "No serial port is present on this machine: plug the adapter in and try again.";
    std::string text = "Serial ports on this machine: ";
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (i == 0 ? "" : ", ") + shown(lines[i]);
    return text;
}

namespace {

std::string g_strSettingsFile = "VarnelConfig.ini";
bool g_bSettingsFileWording = false;

std::string MappingExample(const std::string& portName, const std::string& target) {
    return (portName.empty() || portName.size() > kLongestPortName ? std::string("COM3")
                                                                   : portName) +
           "=" + target;
}

} // namespace

std::string MappingHint(const std::string& portName, const std::string& target) {
    return ", or map a port name to it in section [Ports] of " + SettingsFileName() +
           ", for example " + MappingExample(portName, target);
}

std::string HowToUseALine(const std::string& portName, const std::string& target, bool bNameFits) {
    if (SpeaksOfTheSettingsFile())
        return ".\nTo use one, map a port name to it in section [Ports] of " + SettingsFileName() +
               ", for example " + MappingExample(portName, target) +
               ", and choose that port with COM= in section [COM]";
    return ".\nTo use one, type its name in the port field" +
           (bNameFits ? std::string(".") : MappingHint(portName, target));
}

const std::string& SettingsFileName() {
    return g_strSettingsFile;
}

bool SpeaksOfTheSettingsFile() {
    return g_bSettingsFileWording;
}

} // namespace linkerrors

void SpeakOfTheSettingsFile(const std::string& fileName) {
    linkerrors::g_strSettingsFile = fileName;
    linkerrors::g_bSettingsFileWording = true;
}

std::string DescribeSerialOpenFailure(const std::string& portName, const std::string& devicePath,
                                      long errorCode) {
    return DescribeSerialOpenFailure(portName, devicePath, errorCode, ProbeDevice(devicePath));
}

std::string DescribeSerialLinesPresent(const std::string& portName) {
    return DescribeSerialLinesPresent(comm::ListSerialLines(), portName);
}

std::string DescribeSerialSetupFailure(const std::string& portName, const std::string& devicePath,
                                       long errorCode) {
    // A name in Windows' device namespace (\\.\COM12) is shown as the user knows it.
    std::string subject = devicePath.empty() ? portName : devicePath;
    if (subject.rfind("\\\\.\\", 0) == 0)
        subject.erase(0, 4);
    if (errorCode == kDeviceRemoved)
        return subject + ": the device was removed";
    std::string text = subject + ": the port refused the line settings";
    if (errorCode != 0)
        text += " (" + ErrorNumber(errorCode) + ")";
    return text;
}

std::string DescribeConnectFailure(const std::string& ip, unsigned port, int errnoValue) {
    const std::string where = ip + ":" + std::to_string(port);
    // The socket layer turns these two away itself: neither names a server.
    if (port == 0)
        return where + ": port 0 is not a server port";
    if (ip == "0.0.0.0")
        return where + ": 0.0.0.0 is not a server address";
    constexpr const char* kNotPermitted = "not permitted (a broadcast address or a firewall rule)";
    static constexpr ReasonRow kReasons[] = {
        {ECONNREFUSED, "connection refused"},
        {ETIMEDOUT, "no answer (timed out) — check the address and that the server is up"},
        {EHOSTUNREACH, "no route to host — check the address and the network"},
        {ENETUNREACH, "network unreachable — check the network connection"},
        {EADDRNOTAVAIL, "address not available"},
        {ECONNRESET, "the server reset the connection"},
        {EACCES, kNotPermitted},
        {EPERM, kNotPermitted},
        {EMFILE, "too many open files"},
        {ENFILE, "too many open files"},
        {0, "connect failed"},
    };
    if (const char* text = ReasonFor(kReasons, errnoValue))
        return where + ": " + text;
    return where + ": " + ErrorNumber(errnoValue) + " (" + std::strerror(errnoValue) + ")";
}

std::string DescribeListenFailure(const std::string& ip, unsigned port, int errnoValue) {
    const std::string where = ip + ":" + std::to_string(port);
    switch (errnoValue) {
    case EADDRINUSE:
        return where + " is in use by another program — stop it, or choose another PORT";
    case EADDRNOTAVAIL:
        return where + ": no interface of this machine has the address " + ip +
               " — use 127.0.0.1, 0.0.0.0 or an address of this machine";
    case EACCES:
    case EPERM:
        return where + ": not permitted — ports below 1024 need administrator rights";
    case EINVAL:
        return where + ": not an address to listen at — use a.b.c.d";
    default:
        return where + ": " + ErrorNumber(errnoValue) + " (" + std::strerror(errnoValue) + ")";
    }
}

std::string DescribeReceiveFailure(int errnoValue) {
    switch (errnoValue) {
    case 0:
        return "the server closed the connection";
    case ECONNRESET:
        return "the server reset the connection";
    case ETIMEDOUT:
        return "the connection timed out";
    default:
        return ErrorNumber(errnoValue) + " (" + std::strerror(errnoValue) + ")";
    }
}

std::string DescribeStalledServer() {
    return "the server stopped reading";
}

std::string DescribeDisconnect(const std::string& server, const std::string& reason,
                               std::size_t undelivered) {
    if (reason.empty() && undelivered == 0)
        return "";
    std::string text = server + ": " + reason;
    if (undelivered > 0) {
        if (!reason.empty())
            text += "; ";
        text += std::to_string(undelivered) + (undelivered == 1 ? " byte" : " bytes") +
                " from the serial port could not be delivered";
    }
    return text;
}

bool MeansDeviceGone(long errorCode) {
    using namespace linkerrors;
    switch (errorCode) {
    case kAccessDenied:
    case kBadCommand:
    case kDeviceRemoved:
    case kNotReady:
    case kBrokenPipe:
        return true;
    default:
        return false;
    }
}
