// Wording that the reasons of every platform share: error numbers, the list of ports present and
// the hint to map a port name in the settings file.
#pragma once

#include "serial/Ports.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace linkerrors {

// Codes the serial layer records, in the communications API's numbering, that have a reason of
// their own on every platform.
inline constexpr long kFileNotFound = 2;
inline constexpr long kPathNotFound = 3;
inline constexpr long kTooManyOpenFiles = 4;
inline constexpr long kAccessDenied = 5;
inline constexpr long kNotEnoughMemory = 8;
inline constexpr long kNotReady = 21;
inline constexpr long kBadCommand = 22;
inline constexpr long kGeneralFailure = 31;
inline constexpr long kNotSupported = 50;
inline constexpr long kInvalidParameter = 87;
inline constexpr long kBrokenPipe = 109;
inline constexpr long kDeviceRemoved = 1617;

// The port field takes names of up to seven characters.
inline constexpr std::size_t kLongestPortName = 7;

inline std::string ErrorNumber(long code) {
    return "error " + std::to_string(code);
}

// How to use a serial line present: for the window, type its name in the port field or map it;
// for the program without a window (SpeakOfTheSettingsFile), map it in the settings file.
std::string HowToUseALine(const std::string& portName, const std::string& target, bool bNameFits);
// The settings file named in the reasons, and whether they speak of it instead of the window's
// fields.
const std::string& SettingsFileName();
bool SpeaksOfTheSettingsFile();

// The reason for a port name that led to no device: none given, or no such port.
std::string UnresolvedPortReason(const std::string& portName);
// The reasons of a failed open that read alike on every platform (too many open files, out of
// memory, a request the device rejected, no code, any other code by its number), for dev as the
// user knows it.
std::string CommonSerialReason(const std::string& dev, long errorCode);

// "Serial ports on this machine: A, B" with each port as shown(port), or that there is none
// (then the text is complete and the caller adds nothing).
std::string PortsPresent(const std::vector<comm::SerialLineEntry>& lines,
                         const std::function<std::string(const comm::SerialLineEntry&)>& shown);

// ", or map a port name to it in section [Ports] ... for example COM3=<target>", with the name
// that failed where the field could hold it.
std::string MappingHint(const std::string& portName, const std::string& target);

} // namespace linkerrors
