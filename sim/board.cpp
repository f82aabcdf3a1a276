#include "board.h"

#include <cmath>
#include <cstdio>

namespace q274 {

namespace {

bool isCommandLetter(char c) { return c == 'T' || c == 'S' || c == 'N' || c == 'F'; }
bool isIgnored(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

bool isValidCommand(std::string_view cmd)
{
    if (cmd == "?")
        return true;
    if (cmd.size() != 2)
        return false;
    const char letter = cmd[0], digit = cmd[1];
    switch (letter) {
    case 'T': return digit >= '0' && digit <= '4';
    case 'S': return digit == '0';
    case 'N':
    case 'F': return digit >= '1' && digit <= '4';
    default: return false;
    }
}

} // namespace

CommandParser::CommandParser(std::chrono::milliseconds gap) : FGap(gap) {}

std::vector<std::string> CommandParser::feed(std::string_view bytes, SimTime now)
{
    std::vector<std::string> out;
    for (char c : bytes)
        take(c, now, out);
    return out;
}

void CommandParser::take(char c, SimTime now, std::vector<std::string> &out)
{
    if (isIgnored(c))
        return;
    const bool starts = c == '?' || isCommandLetter(c);
    if (!FPending.empty()) {
        if (FPending.size() == 1 && isCommandLetter(FPending[0])) {
            if (c >= '0' && c <= '9') {
                // Letter and digit: complete, whether the board knows it or not.
                FPending += c;
                flush(out);
                return;
            }
            flush(out); // a letter without its digit; c starts afresh below
        } else if (starts) {
            flush(out); // junk ends where a real command begins
        } else {
            FPending += c;
            FDeadline = now + FGap;
            if (FPending.size() >= maxUnknown)
                flush(out);
            return;
        }
    }
    if (c == '?') {
        out.emplace_back(1, c);
        return;
    }
    FPending.assign(1, c);
    FDeadline = now + FGap;
}

void CommandParser::flush(std::vector<std::string> &out)
{
    if (!FPending.empty())
        out.push_back(std::move(FPending));
    FPending.clear();
}

std::vector<std::string> CommandParser::expire(SimTime now)
{
    std::vector<std::string> out;
    if (!FPending.empty() && now >= FDeadline)
        flush(out);
    return out;
}

std::optional<SimTime> CommandParser::deadline() const
{
    if (FPending.empty())
        return std::nullopt;
    return FDeadline;
}

std::string formatCelsius(double celsius)
{
    if (!std::isfinite(celsius))
        return Board::badField;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", celsius);
    std::string text(buf);
    if (text == "-0.00")
        text = "0.00";
    return text;
}

std::string escapeBytes(std::string_view bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        }
    }
    return out;
}

Board::Board(const BoardConfig &config, ThermalModel &model) : FConfig(config), FModel(model) {}

std::string Board::field(int channel)
{
    if (FConfig.noSensor.count(channel))
        return "?";
    if (FConfig.badValue.count(channel))
        return badField;
    return formatCelsius(FModel.reading(channel));
}

std::string Board::answer(std::string_view command)
{
    if (!isValidCommand(command)) {
        // Built by appending: GCC 12 warns wrongly about "E" + std::string
        // (-Wrestrict) in optimised builds.
        std::string reply(1, 'E');
        reply += escapeBytes(command);
        return reply;
    }
    if (command == "?")
        return identification;
    const char letter = command[0];
    const int digit = command[1] - '0';
    switch (letter) {
    case 'T':
        if (digit == 0)
            return "T0" + field(1) + "," + field(2) + "," + field(3) + "," + field(4);
        return std::string(command) + field(digit);
    case 'S': {
        char buf[8];
        std::snprintf(buf, sizeof buf, "S0%02X", FModel.relayBits());
        return buf;
    }
    default: // 'N' or 'F'
        FModel.setRelay(digit, letter == 'N');
        return std::string(command);
    }
}

} // namespace q274
