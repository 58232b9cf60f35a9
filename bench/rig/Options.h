// varnel-benchrig's command line: what it runs, how, and for how long.
#pragma once

#include <string>
#include <vector>

namespace rig {

// The command line's help, printed by --help and after a wrong option.
extern const char* const kUsage;

struct Options {
    std::string contender = "socat";
    std::string command;
    bool ini = false;
    bool pressOpen = false;
    bool listen = false;
    bool yaml = false; // write ser2net.yaml
    double seconds = 60;
    double unpacedSeconds = 5;
    double frozenSeconds = 0; // 0: `seconds`
    std::vector<std::string> phases{"s2t", "t2s", "two-way", "req-resp", "t2s-max"};
    int runs = 1;
    double soakMinutes = 0;
    double soakPhase = 5;
    bool chaos = false;
    unsigned seed = 1;
    bool keep = false;
    bool strict = false;
    bool hex = false;
    bool fast = false;
    std::string winePrefix;
};

// Reads the command line into `o` and fills in what the contender implies (the settings file,
// pressing Open, the phases, the command). False on a wrong combination or a value out of range;
// --help and an unknown option print the help and exit.
bool ParseOptions(int argc, char** argv, Options& o);

} // namespace rig
