// What the system says about a socket's options for finding a dead peer, for the tests of the
// bridge's socket layer (whose header hides the system's names). -1 where the system does not
// tell.
#pragma once

#include <cstdint>

namespace testing_support {

struct DeadPeerOptions {
    int keepAlive;       // 1 on, 0 off
    int idleS;           // silence before the first probe
    int intervalS;       // between probes
    int probes;          // probes before the connection is given up
    int unacknowledgedS; // longest wait for an acknowledgement
};
DeadPeerOptions DeadPeerOptionsOf(std::intptr_t socket);

} // namespace testing_support
