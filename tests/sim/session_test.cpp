// Reply scheduling with the fault options, driven by a made-up clock; and the
// command line.
#include <gtest/gtest.h>

#include <cmath>

#include "options.h"
#include "session.h"

using namespace q274;
using namespace std::chrono_literals;

namespace {

SimOptions quiet()
{
    SimOptions o;
    o.thermal.noise = 0;
    o.thermal.startOffset = {0, 0, 0, 0};
    return o;
}

std::string joined(const std::vector<OutPiece> &pieces)
{
    std::string s;
    for (const auto &p : pieces)
        s += p.bytes;
    return s;
}

} // namespace

TEST(Session, AnswersAtOnceByDefault)
{
    const SimTime t0{};
    Session s(quiet(), t0);
    EXPECT_EQ(s.receive("?T1", t0), (std::vector<std::string>{"?", "T1"}));
    const auto out = s.takeDue(t0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes, "?Temperature Monitor & Controller v2.1\r\n");
    EXPECT_TRUE(out[0].endsLine);
    EXPECT_EQ(out[0].line, "?Temperature Monitor & Controller v2.1");
    EXPECT_EQ(out[1].bytes, "T121.00\r\n");
    EXPECT_FALSE(s.nextDeadline());
}

TEST(Session, ReplyDelayKeepsOrder)
{
    SimOptions o = quiet();
    o.replyDelayMs = 200;
    const SimTime t0{};
    Session s(o, t0);
    s.receive("S0", t0);
    s.receive("N1", t0 + 50ms);
    ASSERT_TRUE(s.nextDeadline());
    EXPECT_EQ(*s.nextDeadline(), t0 + 200ms);
    EXPECT_TRUE(s.takeDue(t0 + 199ms).empty());
    // The relay switched on receipt; the answers keep their order.
    EXPECT_EQ(joined(s.takeDue(t0 + 200ms)), "S000\r\n");
    EXPECT_EQ(joined(s.takeDue(t0 + 250ms)), "N1\r\n");
    EXPECT_EQ(s.model().relayBits(), 1u);
}

TEST(Session, SplitRepliesFormTheSameLine)
{
    SimOptions o = quiet();
    o.splitGapMs = 40;
    const SimTime t0{};
    Session s(o, t0);
    s.receive("T2", t0);
    const auto first = s.takeDue(t0);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_FALSE(first[0].endsLine);
    EXPECT_EQ(*s.nextDeadline(), t0 + 40ms);
    const auto second = s.takeDue(t0 + 40ms);
    const auto third = s.takeDue(t0 + 80ms);
    ASSERT_EQ(second.size(), 1u);
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(first[0].bytes + second[0].bytes + third[0].bytes, "T221.00\r\n");
    EXPECT_TRUE(third[0].endsLine);
    EXPECT_EQ(third[0].line, "T221.00");
    // A command arriving meanwhile is answered after the split reply, not inside it.
    s.receive("S0T1", t0 + 81ms);
    s.receive("F1", t0 + 82ms);
    EXPECT_EQ(joined(s.takeDue(t0 + 1s)), "S000\r\nT121.00\r\nF1\r\n");
}

TEST(Session, SplitReplyKeepsTheLineEndInTheLastPiece)
{
    EXPECT_EQ(splitReply("N1", 3), (std::vector<std::string>{"N", "1\r\n"}));
    EXPECT_EQ(splitReply("S005", 3), (std::vector<std::string>{"S", "0", "05\r\n"}));
    EXPECT_EQ(splitReply("T0", 1), (std::vector<std::string>{"T0\r\n"}));
}

TEST(Session, GarbageLineBeforeEveryNthReply)
{
    SimOptions o = quiet();
    o.garbageEvery = 2;
    const SimTime t0{};
    Session s(o, t0);
    s.receive("S0S0S0S0", t0);
    const auto out = s.takeDue(t0);
    ASSERT_EQ(out.size(), 6u);
    const std::string junk = std::string(Session::garbageLine) + "\r\n";
    EXPECT_EQ(joined(out), "S000\r\n" + junk + "S000\r\nS000\r\n" + junk + "S000\r\n");
    // The junk line carries nothing the program would take for a reply.
    for (const char *marker : {"?Temperature", "S0", "T0", "T1", "T2", "T3", "T4", "\r", "\n"})
        EXPECT_EQ(std::string(Session::garbageLine).find(marker), std::string::npos) << marker;
}

TEST(Session, SilentAfterNCommands)
{
    SimOptions o = quiet();
    o.silentAfter = 2;
    const SimTime t0{};
    Session s(o, t0);
    EXPECT_EQ(s.receive("?N1N2S0", t0).size(), 4u);
    EXPECT_EQ(joined(s.takeDue(t0)), "?Temperature Monitor & Controller v2.1\r\nN1\r\n");
    // A silent board does not carry out commands either.
    EXPECT_EQ(s.model().relayBits(), 1u);
    EXPECT_EQ(s.commandsReceived(), 4);
}

TEST(Session, IncompleteCommandAnsweredAfterGap)
{
    SimOptions o = quiet();
    o.gapMs = 300;
    const SimTime t0{};
    Session s(o, t0);
    EXPECT_TRUE(s.receive("T\r", t0).empty());
    EXPECT_EQ(*s.nextDeadline(), t0 + 300ms);
    EXPECT_TRUE(s.expire(t0 + 100ms).empty());
    EXPECT_EQ(s.expire(t0 + 300ms), (std::vector<std::string>{"T"}));
    EXPECT_EQ(joined(s.takeDue(t0 + 300ms)), "ET\r\n");
}

TEST(Session, TimeScaleSpeedsUpTheModel)
{
    SimOptions o = quiet();
    o.thermal.startOffset = {10, 10, 10, 10};
    o.thermal.timeConstantS = 600;
    const SimTime t0{};
    SimOptions fast = o;
    fast.timeScale = 10;
    Session normal(o, t0), quick(fast, t0), reference(o, t0);
    normal.tick(t0 + 600s);
    quick.tick(t0 + 60s);
    EXPECT_NEAR(quick.model().temperature(1), normal.model().temperature(1), 1e-9);
    EXPECT_LT(quick.model().temperature(1), 21 + 10 * 0.37);
    // Time that runs backward does not move the model.
    reference.tick(t0 - 10s);
    EXPECT_DOUBLE_EQ(reference.model().temperature(1), 31);
    // Answers use the model as of the command's arrival.
    quick.receive("T1", t0 + 120s);
    const std::string reply = joined(quick.takeDue(t0 + 120s));
    ASSERT_EQ(reply.substr(0, 2), "T1");
    EXPECT_NEAR(std::stod(reply.substr(2)), 21 + 10 * std::exp(-2.0), 0.006);
}

TEST(Trace, LineFormat)
{
    EXPECT_EQ(formatTraceLine(1234, "RX", "T1"), "1234 RX T1");
    EXPECT_EQ(formatTraceLine(0, "TX", std::string("E\x03", 2)), "0 TX E\\x03");
}

TEST(Options, DefaultsAndValues)
{
    auto p = parseOptions({});
    ASSERT_EQ(p.action, ParsedOptions::Action::Run);
    EXPECT_DOUBLE_EQ(p.options.timeScale, 1);
    EXPECT_FALSE(p.options.splitGapMs);
    EXPECT_FALSE(p.options.hangupAfterS);

    p = parseOptions({"--link",
                      "/tmp/x",
                      "--time-scale=10",
                      "--seed",
                      "7",
                      "--no-sensor",
                      "3",
                      "--no-sensor=4",
                      "--bad-value",
                      "2",
                      "--cooling",
                      "1",
                      "--reply-delay",
                      "50",
                      "--split-gap",
                      "0",
                      "--silent-after",
                      "0",
                      "--garbage-every",
                      "5",
                      "--hangup-after",
                      "1.5",
                      "--trace",
                      "t.log",
                      "--ambient",
                      "-5"});
    ASSERT_EQ(p.action, ParsedOptions::Action::Run) << p.error;
    const SimOptions &o = p.options;
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_DOUBLE_EQ(o.timeScale, 10);
    EXPECT_EQ(o.thermal.seed, 7u);
    EXPECT_EQ(o.board.noSensor, (std::set<int>{3, 4}));
    EXPECT_EQ(o.board.badValue, (std::set<int>{2}));
    EXPECT_TRUE(o.thermal.cooling[0]);
    EXPECT_EQ(o.replyDelayMs, 50);
    EXPECT_EQ(o.splitGapMs, 0);
    EXPECT_EQ(o.silentAfter, 0);
    EXPECT_EQ(o.garbageEvery, 5);
    EXPECT_EQ(o.hangupAfterS, 1.5);
    EXPECT_EQ(o.trace, "t.log");
    EXPECT_DOUBLE_EQ(o.thermal.ambient, -5);

    EXPECT_EQ(parseOptions({"--trace", "x", "-h"}).action, ParsedOptions::Action::Help);
}

TEST(Options, RejectsWrongInput)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--frobnicate"},         {"stray"},
        {"--no-sensor", "5"},     {"--no-sensor", "0"},
        {"--bad-value"},          {"--time-scale", "0"},
        {"--time-scale", "fast"}, {"--reply-delay", "-1"},
        {"--seed", "-3"},         {"--garbage-every", "0"},
        {"--split-gap", "12ms"},  {"--hangup-after", "nan"},
        {"--link", ""},           {"--silent-after", "99999999999999999999"},
    };
    for (const auto &args : bad) {
        const auto p = parseOptions(args);
        EXPECT_EQ(p.action, ParsedOptions::Action::Error) << args[0];
        EXPECT_NE(p.error.find(args[0]), std::string::npos) << p.error;
    }
}

TEST(Options, HelpNamesEveryOption)
{
    const std::string help = helpText("q274-board-sim");
    for (const char *name :
         {"--link", "--trace", "--time-scale", "--seed", "--ambient", "--time-constant", "--heat-rate", "--cooling",
          "--noise", "--gap", "--reply-delay", "--split-gap", "--silent-after", "--garbage-every", "--bad-value",
          "--no-sensor", "--hangup-after", "--help"})
        EXPECT_NE(help.find(name), std::string::npos) << name;
}
