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

}  // namespace

CommandParser::CommandParser(std::chrono::milliseconds gap) : m_gap(gap) {}

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
    if (!m_pending.empty()) {
        if (m_pending.size() == 1 && isCommandLetter(m_pending[0])) {
            if (c >= '0' && c <= '9') {
                // Letter and digit: complete, whether the board knows it or not.
                m_pending += c;
                flush(out);
                return;
            }
            flush(out);  // a letter without its digit; c starts afresh below
        } else if (starts) {
            flush(out);  // junk ends where a real command begins
        } else {
            m_pending += c;
            m_deadline = now + m_gap;
            if (m_pending.size() >= maxUnknown)
                flush(out);
            return;
        }
    }
    if (c == '?') {
        out.emplace_back(1, c);
        return;
    }
    m_pending.assign(1, c);
    m_deadline = now + m_gap;
}

void CommandParser::flush(std::vector<std::string> &out)
{
    if (!m_pending.empty())
        out.push_back(std::move(m_pending));
    m_pending.clear();
}

std::vector<std::string> CommandParser::expire(SimTime now)
{
    std::vector<std::string> out;
    if (!m_pending.empty() && now >= m_deadline)
        flush(out);
    return out;
}

std::optional<SimTime> CommandParser::deadline() const
{
    if (m_pending.empty())
        return std::nullopt;
    return m_deadline;
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

Board::Board(const BoardConfig &config, ThermalModel &model) : m_config(config), m_model(model) {}

std::string Board::field(int channel)
{
    if (m_config.noSensor.count(channel))
        return "?";
    if (m_config.badValue.count(channel))
        return badField;
    return formatCelsius(m_model.reading(channel));
}

std::string Board::answer(std::string_view command)
{
    if (!isValidCommand(command))
        return "E" + escapeBytes(command);
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
        std::snprintf(buf, sizeof buf, "S0%02X", m_model.relayBits());
        return buf;
    }
    default:  // 'N' or 'F'
        m_model.setRelay(digit, letter == 'N');
        return std::string(command);
    }
}

}  // namespace q274
