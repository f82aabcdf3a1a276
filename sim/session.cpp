#include "session.h"

#include <algorithm>

namespace q274 {

Session::Session(const SimOptions &options, SimTime start)
    : m_options(options),
      m_model(options.thermal),
      m_board(options.board, m_model),
      m_parser(std::chrono::milliseconds(options.gapMs)),
      m_modelTime(start),
      m_lastDue(start)
{
}

std::vector<std::string> Session::receive(std::string_view bytes, SimTime now)
{
    auto commands = m_parser.feed(bytes, now);
    for (const auto &c : commands)
        handle(c, now);
    return commands;
}

std::vector<std::string> Session::expire(SimTime now)
{
    auto commands = m_parser.expire(now);
    for (const auto &c : commands)
        handle(c, now);
    return commands;
}

void Session::tick(SimTime now)
{
    if (now <= m_modelTime)
        return;
    const std::chrono::duration<double> real = now - m_modelTime;
    m_model.advance(real.count() * m_options.timeScale);
    m_modelTime = now;
}

void Session::handle(const std::string &command, SimTime now)
{
    ++m_commands;
    // A silent board has stopped working: it neither answers nor switches.
    if (m_options.silentAfter && m_commands > *m_options.silentAfter)
        return;
    tick(now);
    schedule(m_board.answer(command), now);
}

void Session::schedule(const std::string &line, SimTime now)
{
    // Replies never overtake each other, whatever the delays.
    SimTime due = std::max(now + std::chrono::milliseconds(m_options.replyDelayMs), m_lastDue);
    ++m_replies;
    if (m_options.garbageEvery > 0 && m_replies % m_options.garbageEvery == 0)
        m_out.push_back({due, std::string(garbageLine) + "\r\n", garbageLine, true});

    const bool split = m_options.splitGapMs.has_value();
    const auto pieces = splitReply(line, split ? 3 : 1);
    const auto gap = std::chrono::milliseconds(split ? *m_options.splitGapMs : 0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            due += gap;
        const bool last = i + 1 == pieces.size();
        m_out.push_back({due, pieces[i], last ? line : std::string(), last});
    }
    m_lastDue = due;
}

std::vector<OutPiece> Session::takeDue(SimTime now)
{
    std::vector<OutPiece> due;
    while (!m_out.empty() && m_out.front().due <= now) {
        due.push_back(std::move(m_out.front()));
        m_out.pop_front();
    }
    return due;
}

std::optional<SimTime> Session::nextDeadline() const
{
    std::optional<SimTime> next = m_parser.deadline();
    if (!m_out.empty() && (!next || m_out.front().due < *next))
        next = m_out.front().due;
    return next;
}

std::vector<std::string> splitReply(const std::string &line, int pieces)
{
    std::vector<std::string> out;
    const std::size_t n = line.size();
    std::size_t from = 0;
    for (int k = 1; k < pieces; ++k) {
        const std::size_t to = n * static_cast<std::size_t>(k) / static_cast<std::size_t>(pieces);
        if (to > from) {
            out.push_back(line.substr(from, to - from));
            from = to;
        }
    }
    out.push_back(line.substr(from) + "\r\n");
    return out;
}

std::string formatTraceLine(long long ms, std::string_view direction, std::string_view text)
{
    return std::to_string(ms) + " " + std::string(direction) + " " + escapeBytes(text);
}

Tracer::~Tracer()
{
    if (m_file)
        std::fclose(m_file);
}

bool Tracer::open(const std::string &path)
{
    m_file = std::fopen(path.c_str(), "w");
    return m_file != nullptr;
}

void Tracer::write(SimTime now, std::string_view direction, std::string_view text)
{
    if (!m_file)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start).count();
    const std::string line = formatTraceLine(ms, direction, text) + "\n";
    std::fputs(line.c_str(), m_file);
    std::fflush(m_file);
}

}  // namespace q274
