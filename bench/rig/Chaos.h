// The chaos soak: both directions at line rate while the server restarts every 1 to 2 minutes
// (closing or resetting the connection) and the device vanishes and returns every 3 to 5 minutes
// behind a symbolic link. Every byte is accounted for across the connections.
#pragma once

#include "bench/rig/Rig.h"

#include <cstdint>
#include <string>

namespace rig {

struct ChaosPlan {
    double minutes = 10;
    std::string link; // the path the contender's settings name as the device
    unsigned seed = 1;
};

// Runs the plan against a contender that reconnects by itself; prints a line per minute and a
// last line `soak_end ...`. False when a byte was lost, altered or repeated outside an abortive
// cut, or a side did not come back.
bool RunChaos(const ChaosPlan& plan, Pty& pty, Server& server, Contender& contender);

} // namespace rig
