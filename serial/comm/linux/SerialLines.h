// Which device nodes are serial lines: the decision made before a path is opened, and the list of
// serial lines present on this machine. Both look only at stat and sysfs and never open a device,
// since opening some devices has side effects (a watchdog is armed, a terminal changes mode).
#pragma once

#include "serial/comm/SerialLines.h"

#include <string>
#include <vector>

namespace comm {

// What stat and sysfs say about a path, as far as the decision needs it.
struct SerialLineFacts {
    bool exists = false; // stat succeeded
    int statError = 0;   // errno of a failed stat
    bool charDevice = false;
    unsigned major = 0, minor = 0;
    // From sysfs (/sys/dev/char/MAJOR:MINOR), false or empty where sysfs says nothing.
    bool ttyClass = false;  // the device belongs to the tty class
    bool hasDevice = false; // a device of a bus or a platform driver stands behind it
    std::string name;       // the kernel's name for it, such as ttyUSB0
    int uartType = -1;      // the serial core's port type (0: no UART found); -1 not shown
    bool uartHasIo = true;  // false when the serial core shows neither an I/O port nor memory
};

// Reads the facts of `path` (links followed) from stat and from the sysfs under `sysRoot`.
SerialLineFacts ReadSerialLineFacts(const std::string& path, const std::string& sysRoot = "/sys");

// The decision, on facts alone.
LineKind JudgeSerialLine(const SerialLineFacts& facts);

// The serial lines that sysfs under `sysRoot` shows with hardware behind them and that have a
// node under `devRoot`, sorted by name (ListSerialLines() reads /dev and /sys).
std::vector<SerialLineEntry> ListSerialLines(const std::string& devRoot,
                                             const std::string& sysRoot);

} // namespace comm
