// Command line of the board simulator.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board.h"
#include "thermal_model.h"

namespace q274 {

struct SimOptions {
    std::string link;       // symbolic link to the pty's slave device
    std::string trace;      // traffic trace file
    double timeScale = 1.0; // simulated seconds per real second
    ThermalConfig thermal;
    BoardConfig board;
    int gapMs = 300; // silence that ends an incomplete command
    int replyDelayMs = 0;
    std::optional<int> splitGapMs;   // split each reply in 3 pieces this far apart
    std::optional<long> silentAfter; // answer only this many commands
    long garbageEvery = 0;           // 0: never
    std::optional<double> hangupAfterS;
    std::optional<long> hangupAfterReplies; // hang up as soon as this many replies went out
};

struct ParsedOptions {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    SimOptions options;
    std::string error; // for Action::Error
};

// args excludes the program name.
ParsedOptions parseOptions(const std::vector<std::string> &args);
std::string helpText(const std::string &program);

} // namespace q274
