#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

namespace q274 {

namespace {

// Whole-string conversions: "12abc", "" and out-of-range values are rejected.
bool toDouble(const std::string &text, double &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool toLong(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end == text.c_str() + text.size();
}

std::string shortNumber(double d)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string> &args)
{
    ParsedOptions result;
    SimOptions &o = result.options;

    auto fail = [&](std::string message) {
        result.action = ParsedOptions::Action::Error;
        result.error = std::move(message);
        return result;
    };

    using Setter = std::function<std::string(const std::string &)>; // returns "" or an error
    auto number = [](double min, double max, double &target) -> Setter {
        return [min, max, &target](const std::string &v) -> std::string {
            double d;
            if (!toDouble(v, d) || d < min || d > max)
                return "expects a number from " + shortNumber(min) + " to " + shortNumber(max);
            target = d;
            return {};
        };
    };
    auto whole = [](long min, long max, auto assign) -> Setter {
        return [min, max, assign](const std::string &v) -> std::string {
            long n;
            if (!toLong(v, n) || n < min || n > max)
                return "expects a whole number from " + std::to_string(min) + " to " + std::to_string(max);
            assign(n);
            return {};
        };
    };
    auto channel = [&](auto assign) { return whole(1, 4, assign); };

    double hangup = 0;
    const std::map<std::string, Setter> valued = {
        {"--link",
         [&](const std::string &v) -> std::string {
             if (v.empty())
                 return "expects a path";
             o.link = v;
             return {};
         }},
        {"--trace",
         [&](const std::string &v) -> std::string {
             if (v.empty())
                 return "expects a path";
             o.trace = v;
             return {};
         }},
        {"--time-scale", number(1e-3, 1e6, o.timeScale)},
        {"--seed",
         [&](const std::string &v) -> std::string {
             // Any unsigned 64-bit value.
             errno = 0;
             char *end = nullptr;
             const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
             if (v.empty() || v[0] == '-' || errno != 0 || end != v.c_str() + v.size())
                 return "expects a whole number of 0 or more";
             o.thermal.seed = n;
             return {};
         }},
        {"--ambient", number(-100, 300, o.thermal.ambient)},
        {"--time-constant", number(1, 1e7, o.thermal.timeConstantS)},
        {"--heat-rate", number(0, 1000, o.thermal.relayRatePerMin)},
        {"--noise", number(0, 10, o.thermal.noise)},
        {"--cooling", channel([&](long ch) { o.thermal.cooling[ch - 1] = true; })},
        {"--gap", whole(1, 60000, [&](long n) { o.gapMs = static_cast<int>(n); })},
        {"--reply-delay", whole(0, 600000, [&](long n) { o.replyDelayMs = static_cast<int>(n); })},
        {"--split-gap", whole(0, 600000, [&](long n) { o.splitGapMs = static_cast<int>(n); })},
        {"--silent-after", whole(0, 1000000000, [&](long n) { o.silentAfter = n; })},
        {"--garbage-every", whole(1, 1000000000, [&](long n) { o.garbageEvery = n; })},
        {"--bad-value", channel([&](long ch) { o.board.badValue.insert(static_cast<int>(ch)); })},
        {"--no-sensor", channel([&](long ch) { o.board.noSensor.insert(static_cast<int>(ch)); })},
        {"--hangup-after", number(0, 1e7, hangup)},
        {"--hangup-after-replies", whole(1, 1000000000, [&](long n) { o.hangupAfterReplies = n; })},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (name == "--help" || name == "-h") {
            result.action = ParsedOptions::Action::Help;
            return result;
        }
        if (name == "--version") {
            result.action = ParsedOptions::Action::Version;
            return result;
        }
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto it = valued.find(name);
        if (it == valued.end()) {
            if (name.rfind("-", 0) == 0)
                return fail("unknown option '" + name + "'");
            return fail("unexpected argument '" + name + "'");
        }
        if (!value) {
            if (i + 1 >= args.size())
                return fail("option '" + name + "' needs a value");
            value = args[++i];
        }
        if (std::string problem = it->second(*value); !problem.empty())
            return fail("option '" + name + "' " + problem + ", got '" + *value + "'");
        if (name == "--hangup-after")
            o.hangupAfterS = hangup;
    }
    return result;
}

std::string helpText(const std::string &program)
{
    return "Usage: " + program + R"( [OPTION]...
Plays the Q274 temperature controller board on a pseudo-terminal.

The first line printed on standard output is the device path of the
pseudo-terminal (for example /dev/pts/7); point the program or a serial
terminal at it. The board answers every command ("?", "T0".."T4", "S0",
"N1".."N4", "F1".."F4") with one line ended by CR LF; anything else is
answered with "E" and what was received, after a short pause.

Options:
  --link PATH          also make a symbolic link PATH to the device (a stale
                       link is replaced; the link is removed at exit)
  --trace FILE         write the traffic to FILE, one line per event:
                         <ms> RX <command>     a command was received (an
                                               incomplete one when its pause
                                               ran out)
                         <ms> TX <reply>       a reply line was sent
                       <ms> is milliseconds since start (monotonic clock);
                       bytes outside printable ASCII appear as \xNN, "\" as \x5C;
                       the line end of replies is not shown
  --time-scale X       run the thermal model X times faster (default 1)
  --seed N             seed of the noise generator (default 1)
  --ambient C          ambient temperature in C (default 21)
  --time-constant S    simulated seconds of the drift toward ambient (default 600)
  --heat-rate R        C per simulated minute that a relay adds (default 2)
  --cooling CH         relay CH (1-4) cools its channel instead (repeatable)
  --noise C            readings scatter within +/- C (default 0.05)
  --gap MS             pause after which an incomplete or unknown command is
                       answered (default 300)

Faults, for tests and demonstrations:
  --reply-delay MS     answer each command MS milliseconds late
  --split-gap MS       send each reply in 3 pieces, MS milliseconds apart
  --silent-after N     answer only the first N commands, then stay silent
  --garbage-every N    send a line of junk before every Nth reply
  --bad-value CH       channel CH (1-4) reports "ERR" instead of a value
                       (repeatable)
  --no-sensor CH       channel CH (1-4) has no sensor and reports "?"
                       (repeatable)
  --hangup-after-replies N
                       close the device right after the Nth reply line has
                       gone out, then exit (a board lost in mid-conversation)
  --hangup-after S     after S seconds close the device (the program sees a
                       hang-up) and exit

  -h, --help           show this text and exit
      --version        show the version and exit

Exit status: 0 on a normal end (SIGINT, SIGTERM, a --hangup-after option), 1 when the
pseudo-terminal, the link or the trace file cannot be set up, 2 on a wrong
command line.
)";
}

} // namespace q274
