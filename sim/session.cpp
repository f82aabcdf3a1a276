#include "session.h"

#include <algorithm>

namespace q274 {

Session::Session(const SimOptions &options, SimTime start)
    : FOptions(options), FModel(options.thermal), FBoard(options.board, FModel),
      FParser(std::chrono::milliseconds(options.gapMs)), FModelTime(start), FLastDue(start)
{
}

std::vector<std::string> Session::receive(std::string_view bytes, SimTime now)
{
    auto commands = FParser.feed(bytes, now);
    for (const auto &c : commands)
        handle(c, now);
    return commands;
}

std::vector<std::string> Session::expire(SimTime now)
{
    auto commands = FParser.expire(now);
    for (const auto &c : commands)
        handle(c, now);
    return commands;
}

void Session::tick(SimTime now)
{
    if (now <= FModelTime)
        return;
    const std::chrono::duration<double> real = now - FModelTime;
    FModel.advance(real.count() * FOptions.timeScale);
    FModelTime = now;
}

void Session::handle(const std::string &command, SimTime now)
{
    ++FCommands;
    // A silent board has stopped working: it neither answers nor switches.
    if (FOptions.silentAfter && FCommands > *FOptions.silentAfter)
        return;
    tick(now);
    schedule(FBoard.answer(command), now);
}

void Session::schedule(const std::string &line, SimTime now)
{
    // Replies never overtake each other, whatever the delays.
    SimTime due = std::max(now + std::chrono::milliseconds(FOptions.replyDelayMs), FLastDue);
    ++FReplies;
    if (FOptions.garbageEvery > 0 && FReplies % FOptions.garbageEvery == 0)
        FOut.push_back({due, std::string(garbageLine) + "\r\n", garbageLine, true});

    const bool split = FOptions.splitGapMs.has_value();
    const auto pieces = splitReply(line, split ? 3 : 1);
    const auto gap = std::chrono::milliseconds(split ? *FOptions.splitGapMs : 0);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            due += gap;
        const bool last = i + 1 == pieces.size();
        FOut.push_back({due, pieces[i], last ? line : std::string(), last});
    }
    FLastDue = due;
}

std::vector<OutPiece> Session::takeDue(SimTime now)
{
    std::vector<OutPiece> due;
    while (!FOut.empty() && FOut.front().due <= now) {
        due.push_back(std::move(FOut.front()));
        FOut.pop_front();
    }
    return due;
}

std::optional<SimTime> Session::nextDeadline() const
{
    std::optional<SimTime> next = FParser.deadline();
    if (!FOut.empty() && (!next || FOut.front().due < *next))
        next = FOut.front().due;
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
    if (FFile)
        std::fclose(FFile);
}

bool Tracer::open(const std::string &path)
{
    FFile = std::fopen(path.c_str(), "w");
    return FFile != nullptr;
}

void Tracer::write(SimTime now, std::string_view direction, std::string_view text)
{
    if (!FFile)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - FStart).count();
    const std::string line = formatTraceLine(ms, direction, text) + "\n";
    std::fputs(line.c_str(), FFile);
    std::fflush(FFile);
}

} // namespace q274
