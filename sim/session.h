// One simulated board on its line: commands in, reply pieces out, with the
// optional faults (late, split, garbage and missing replies). No I/O here:
// the caller feeds bytes and times and writes the pieces that fall due.
#pragma once

#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board.h"
#include "options.h"
#include "thermal_model.h"

namespace q274 {

struct OutPiece {
    SimTime due;
    std::string bytes;
    std::string line; // the whole line (without CR LF) when this piece ends it, else empty
    bool endsLine = false;
};

class Session {
public:
    static constexpr const char *garbageLine = "#~%&! line noise !&%~#";

    Session(const SimOptions &options, SimTime start);
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Returns the commands recognised in these bytes, in order (answered or not).
    std::vector<std::string> receive(std::string_view bytes, SimTime now);
    // Incomplete commands whose gap has passed; answered like any other.
    std::vector<std::string> expire(SimTime now);
    // Runs the thermal model up to now.
    void tick(SimTime now);

    // Removes and returns the pieces due at now, in sending order.
    std::vector<OutPiece> takeDue(SimTime now);
    // Earliest time something needs doing (pending piece or command gap).
    std::optional<SimTime> nextDeadline() const;

    ThermalModel &model() { return FModel; }
    long commandsReceived() const { return FCommands; }

private:
    void handle(const std::string &command, SimTime now);
    void schedule(const std::string &line, SimTime now);

    SimOptions FOptions;
    ThermalModel FModel;
    Board FBoard;
    CommandParser FParser;
    SimTime FModelTime;
    SimTime FLastDue;
    std::deque<OutPiece> FOut;
    long FCommands = 0;
    long FReplies = 0;
};

// Splits a reply line (CR LF added) into up to `pieces` parts; the line end is
// always in the last part, so no part before it can be taken for a whole line.
std::vector<std::string> splitReply(const std::string &line, int pieces);

// "<ms> <dir> <escaped text>"
std::string formatTraceLine(long long ms, std::string_view direction, std::string_view text);

class Tracer {
public:
    explicit Tracer(SimTime start) : FStart(start) {}
    ~Tracer();
    Tracer(const Tracer &) = delete;
    Tracer &operator=(const Tracer &) = delete;

    bool open(const std::string &path); // false with errno set
    void write(SimTime now, std::string_view direction, std::string_view text);

private:
    SimTime FStart;
    std::FILE *FFile = nullptr;
};

} // namespace q274
