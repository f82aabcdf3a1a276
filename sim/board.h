// The board's side of the protocol: cutting the received byte stream into
// commands, and answering each command with one reply line.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "thermal_model.h"

namespace q274 {

using SimClock = std::chrono::steady_clock;
using SimTime = SimClock::time_point;

// Commands carry no terminator, so they are recognised by their characters:
// "?" alone, or one of T S N F followed by a digit. CR, LF, blanks and tabs are
// ignored. Anything else is collected and handed out as one unknown command
// once no byte has arrived for `gap` (so a person typing gets an answer too),
// or as soon as a byte arrives that starts a real command.
class CommandParser {
public:
    static constexpr std::size_t maxUnknown = 32;

    explicit CommandParser(std::chrono::milliseconds gap = std::chrono::milliseconds(300));

    std::vector<std::string> feed(std::string_view bytes, SimTime now);
    // Hands out a pending incomplete command whose gap has passed.
    std::vector<std::string> expire(SimTime now);
    std::optional<SimTime> deadline() const;

private:
    void take(char c, SimTime now, std::vector<std::string> &out);
    void flush(std::vector<std::string> &out);

    std::chrono::milliseconds FGap;
    std::string FPending;
    SimTime FDeadline{};
};

struct BoardConfig {
    std::set<int> noSensor; // channels answering "?"
    std::set<int> badValue; // channels answering a non-numeric field
};

// Formats a temperature as the board does: Celsius, two decimals, "." as the
// decimal point; never "-0.00".
std::string formatCelsius(double celsius);
// Printable form of arbitrary bytes (for unknown-command answers and traces):
// printable ASCII stays, everything else becomes \xNN.
std::string escapeBytes(std::string_view bytes);

class Board {
public:
    static constexpr const char *identification = "?Temperature Monitor & Controller v2.1";
    static constexpr const char *badField = "ERR";

    Board(const BoardConfig &config, ThermalModel &model);

    // The reply line for one command, without the line end. Relay commands
    // switch the model's relay before answering.
    std::string answer(std::string_view command);

private:
    std::string field(int channel);

    BoardConfig FConfig;
    ThermalModel &FModel;
};

} // namespace q274
