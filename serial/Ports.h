// What the program needs of the serial layer beside CSerial: the program's own port names, the
// serial ports this machine has, what kind of device a path is, whether an open found no such
// port, and the hook that lets a message loop hear of the layer's events. Everything above serial/
// reaches the layer through this header and Serial.h, never through the layer's backends.
#pragma once

#include "serial/comm/EventListener.h"
#include "serial/comm/PortName.h"
#include "serial/comm/SerialLines.h"

namespace comm {

// Whether an open that failed with this code found no such port (it may come back later).
inline bool MeansNoSuchPort(long error) {
    return error == static_cast<long>(ERROR_FILE_NOT_FOUND) ||
           error == static_cast<long>(ERROR_PATH_NOT_FOUND);
}

} // namespace comm
