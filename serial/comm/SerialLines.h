// Which devices are serial lines: the kinds a port's device can be, and the list of serial ports
// present on this machine, for the reasons given when a port would not open. Each backend reads
// them from its own system (linux/SerialLines.h: stat and sysfs; win32: the registry).
#pragma once

#include <string>
#include <vector>

namespace comm {

enum class LineKind {
    serialLine,  // a terminal of a serial driver (ttyS, ttyUSB, ttyACM, ttyAMA, rfcomm ...)
    ptySlave,    // the slave end of a pseudo-terminal (virtual ports, test rigs)
    missing,     // nothing at that path
    notTerminal, // something that is no terminal at all: a file, a FIFO, /dev/null, a watchdog
    notSerial,  // a terminal that is no serial line: /dev/tty, the console, a virtual console, ptmx
    noHardware, // a legacy UART that the kernel lists although there is no chip behind it
};

// Only these two kinds are ever opened.
inline bool MayOpen(LineKind kind) {
    return kind == LineKind::serialLine || kind == LineKind::ptySlave;
}

// A serial port present on this machine.
struct SerialLineEntry {
    std::string name; // device name: under /dev (ttyUSB0) on Linux, COMn on Windows
    std::string byId; // its name under /dev/serial/by-id, empty if it has none
};

// The serial ports present on this machine now, sorted by name; pseudo-terminals are not listed.
std::vector<SerialLineEntry> ListSerialLines();

// What a device path is, decided without opening it (Linux: stat and sysfs; Windows: whether the
// serial drivers list the port).
LineKind JudgeDevicePath(const std::string& devicePath);

// Port names in the order people count them, each once: COM2 before COM10, by the number after
// the letters, then by name.
void SortByPortNumber(std::vector<SerialLineEntry>& lines);

} // namespace comm
