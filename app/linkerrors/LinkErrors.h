// Plain-words reasons for a link that would not come up, for the tooltips of the two status
// lines. The status texts themselves stay as they are; these say why, from the error code that
// the failing call recorded, and name the fix where one is known.
#pragma once

#include "serial/Ports.h"

#include <cstddef>
#include <string>
#include <vector>

// What the file system says about a serial device node, as far as the reason needs it.
struct DeviceProbe {
    bool exists = false;  // the path names something
    bool mayOpen = false; // the current user may open it for reading and writing
    std::string group;    // the group that owns it, empty if unknown
    comm::LineKind kind = comm::LineKind::notTerminal; // what the serial layer made of it
};

// The program without a window: the reasons speak of its settings file (the file's name as the
// user knows it), which is where a fix goes, not of the window's fields. Set once at start.
void SpeakOfTheSettingsFile(const std::string& fileName);

// Looks at the device node (stat, access and sysfs); no open, so it never disturbs the port.
DeviceProbe ProbeDevice(const std::string& devicePath);

// Why opening the port failed. errorCode is the code the serial layer recorded (2 no such
// device, 5 access denied or held by another program, ...); devicePath is where the port name
// led, empty when the name led nowhere. Code 5 means either a permission problem or a port that
// another program holds: the probe tells them apart.
std::string DescribeSerialOpenFailure(const std::string& portName, const std::string& devicePath,
                                      long errorCode, const DeviceProbe& probe);
// The same, probing devicePath itself.
std::string DescribeSerialOpenFailure(const std::string& portName, const std::string& devicePath,
                                      long errorCode);

// The serial lines present and how to use one, or that there is none: the second part of the
// tooltip of a failed open. portName is the name that failed, used in the example mapping.
std::string DescribeSerialLinesPresent(const std::vector<comm::SerialLineEntry>& lines,
                                       const std::string& portName);
// The same for the serial lines present on this machine now.
std::string DescribeSerialLinesPresent(const std::string& portName);

// Why the port opened but refused the line settings (baud rate, data bits, parity, stop bits).
std::string DescribeSerialSetupFailure(const std::string& portName, const std::string& devicePath,
                                       long errorCode);

// Whether a port's call that failed with errorCode means that the device went away (a USB adapter
// unplugged, a board that reset): 5 or 22 after the removal and 1617 on the call pending then; a
// pseudo-terminal whose far end closed gives 21 and 109 under Wine. Not 995: a cancelled call.
bool MeansDeviceGone(long errorCode);

// Why the connect to ip:port failed; errnoValue is the error the socket layer recorded.
std::string DescribeConnectFailure(const std::string& ip, unsigned port, int errnoValue);

// Why listening at ip:port failed; errnoValue is the error the socket layer recorded.
std::string DescribeListenFailure(const std::string& ip, unsigned port, int errnoValue);

// What ended a connection from the far side: a receive that failed with errnoValue, or that found
// the end of the stream (0).
std::string DescribeReceiveFailure(int errnoValue);
// The reason given when the server has not read for so long that the bytes waiting for it passed
// their bound.
std::string DescribeStalledServer();
// The tooltip of the network status line after a disconnect: what happened (reason, empty for a
// disconnect by the button) and how many bytes from the serial port the server never got. Empty
// when there is nothing to say.
std::string DescribeDisconnect(const std::string& server, const std::string& reason,
                               std::size_t undelivered);
