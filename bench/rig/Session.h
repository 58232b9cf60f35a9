// One run's setting of the rig: a fresh folder, the pty, the server (or, when the contender
// listens, its clients), the contender's own settings written for it, and the contender started
// and connected; taken down again afterwards.
#pragma once

#include "bench/rig/Options.h"
#include "bench/rig/Rig.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rig {

struct Session {
    std::string folder;
    Pty pty;
    Server server;
    Contender contender;
    bool keep = false;
    std::string wineLink;   // the prefix's COM3, linked to the pty
    std::string deviceLink; // with --chaos: the link the settings name as COM3
    // With --listen: the contender's port, the clients that read and one that never does.
    std::uint16_t listenPort = 0;
    std::vector<int> clients;
    int frozen = -1;

    // Sets the run up as the options say; false, with the reason in `error`, when a part fails.
    bool Up(const Options& o, std::string& error);
    // Connects or closes clients until `count` read, and one is frozen when `withFrozen`.
    bool Arrange(std::size_t count, bool withFrozen, Clock::time_point deadline);
    void Down();
};

} // namespace rig
