// Command recognition, the board's answers and the thermal model.
#include <gtest/gtest.h>

#include <cmath>

#include "board.h"
#include "thermal_model.h"

using namespace q274;
using namespace std::chrono_literals;

namespace {

ThermalConfig quietConfig()
{
    ThermalConfig c;
    c.noise = 0;
    return c;
}

} // namespace

TEST(CommandParser, RecognisesCommandsWithoutTerminator)
{
    CommandParser p;
    const SimTime t0{};
    EXPECT_EQ(p.feed("?T0T3S0N2F4", t0), (std::vector<std::string>{"?", "T0", "T3", "S0", "N2", "F4"}));
    EXPECT_FALSE(p.deadline());
    // Line ends and blanks between or inside commands are ignored.
    EXPECT_EQ(p.feed("T\r\n1 \tS", t0), (std::vector<std::string>{"T1"}));
    EXPECT_EQ(p.feed("0\r\n", t0), (std::vector<std::string>{"S0"}));
}

TEST(CommandParser, CommandSplitOverReadsIsJoined)
{
    CommandParser p;
    const SimTime t0{};
    EXPECT_TRUE(p.feed("T", t0).empty());
    ASSERT_TRUE(p.deadline());
    EXPECT_EQ(p.feed("2", t0 + 100ms), (std::vector<std::string>{"T2"}));
    EXPECT_FALSE(p.deadline());
}

TEST(CommandParser, IncompleteOrUnknownIsHandedOutAfterTheGap)
{
    CommandParser p(300ms);
    const SimTime t0{};
    EXPECT_TRUE(p.feed("T", t0).empty());
    EXPECT_TRUE(p.expire(t0 + 299ms).empty());
    EXPECT_EQ(p.expire(t0 + 300ms), (std::vector<std::string>{"T"}));

    // Each further junk byte restarts the gap: a person typing "hello".
    EXPECT_TRUE(p.feed("he", t0).empty());
    EXPECT_TRUE(p.feed("llo", t0 + 200ms).empty());
    EXPECT_TRUE(p.expire(t0 + 400ms).empty());
    EXPECT_EQ(p.expire(t0 + 500ms), (std::vector<std::string>{"hello"}));
}

TEST(CommandParser, ResynchronisesOnTheNextRealCommand)
{
    CommandParser p;
    const SimTime t0{};
    // Junk ends where a command starts; a letter without digit ends at the next letter.
    EXPECT_EQ(p.feed("xyT1", t0), (std::vector<std::string>{"xy", "T1"}));
    EXPECT_EQ(p.feed("TS0", t0), (std::vector<std::string>{"T", "S0"}));
    EXPECT_EQ(p.feed("N?", t0), (std::vector<std::string>{"N", "?"}));
    // Letter plus a digit the board does not know is complete at once.
    EXPECT_EQ(p.feed("T9N0", t0), (std::vector<std::string>{"T9", "N0"}));
    EXPECT_FALSE(p.deadline());
}

TEST(CommandParser, UnknownInputIsBounded)
{
    CommandParser p;
    const auto out = p.feed(std::string(CommandParser::maxUnknown * 2 + 5, 'x'), SimTime{});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].size(), CommandParser::maxUnknown);
    EXPECT_TRUE(p.deadline());
}

TEST(BoardFormat, CelsiusWithTwoDecimals)
{
    EXPECT_EQ(formatCelsius(24.06), "24.06");
    EXPECT_EQ(formatCelsius(21), "21.00");
    EXPECT_EQ(formatCelsius(-5.125), "-5.12");
    EXPECT_EQ(formatCelsius(-0.001), "0.00");
    EXPECT_EQ(formatCelsius(std::nan("")), "ERR");
    EXPECT_EQ(escapeBytes(std::string("a\x01\xff\\", 4)), "a\\x01\\xFF\\x5C");
}

TEST(Board, AnswersEveryCommand)
{
    ThermalConfig c = quietConfig();
    c.ambient = 20;
    c.startOffset = {4.06, 2.12, 0.5, -1.25};
    ThermalModel model(c);
    Board board({}, model);

    EXPECT_EQ(board.answer("?"), "?Temperature Monitor & Controller v2.1");
    EXPECT_EQ(board.answer("T0"), "T024.06,22.12,20.50,18.75");
    EXPECT_EQ(board.answer("T1"), "T124.06");
    EXPECT_EQ(board.answer("T4"), "T418.75");
    EXPECT_EQ(board.answer("S0"), "S000");
    EXPECT_EQ(board.answer("N1"), "N1");
    EXPECT_EQ(board.answer("N3"), "N3");
    EXPECT_EQ(board.answer("S0"), "S005");
    EXPECT_EQ(board.answer("N4"), "N4");
    EXPECT_EQ(board.answer("N2"), "N2");
    EXPECT_EQ(board.answer("S0"), "S00F");
    EXPECT_EQ(board.answer("F3"), "F3");
    EXPECT_EQ(board.answer("F3"), "F3"); // switching off twice is harmless
    EXPECT_EQ(board.answer("S0"), "S00B");
    EXPECT_TRUE(model.relay(1));
    EXPECT_FALSE(model.relay(3));
}

TEST(Board, UnknownCommandsAnswerWithE)
{
    ThermalModel model(quietConfig());
    Board board({}, model);
    EXPECT_EQ(board.answer("T5"), "ET5");
    EXPECT_EQ(board.answer("N0"), "EN0");
    EXPECT_EQ(board.answer("S1"), "ES1");
    EXPECT_EQ(board.answer("hello"), "Ehello");
    // Control bytes are not sent back raw: the reply stays one clean line.
    EXPECT_EQ(board.answer(std::string("\x1b[2J\r", 5)), "E\\x1B[2J\\x0D");
    EXPECT_EQ(model.relayBits(), 0u);
}

TEST(Board, NoSensorAndBadValueFields)
{
    ThermalConfig c = quietConfig();
    c.startOffset = {0, 0, 0, 0};
    ThermalModel model(c);
    Board board({{3, 4}, {2}}, model);
    EXPECT_EQ(board.answer("T0"), "T021.00,ERR,?,?");
    EXPECT_EQ(board.answer("T2"), "T2ERR");
    EXPECT_EQ(board.answer("T3"), "T3?");
    EXPECT_EQ(board.answer("T1"), "T121.00");
}

TEST(ThermalModel, DriftsTowardAmbient)
{
    ThermalConfig c = quietConfig();
    c.ambient = 20;
    c.timeConstantS = 100;
    c.startOffset = {10, -10, 0, 5};
    ThermalModel m(c);
    m.advance(100); // one time constant: 1/e of the difference remains
    EXPECT_NEAR(m.temperature(1), 20 + 10 / std::exp(1.0), 1e-9);
    EXPECT_NEAR(m.temperature(2), 20 - 10 / std::exp(1.0), 1e-9);
    EXPECT_DOUBLE_EQ(m.temperature(3), 20);
    m.advance(1e6);
    EXPECT_NEAR(m.temperature(4), 20, 1e-9);
    // Many small steps give the same result as one large step.
    ThermalModel a(c), b(c);
    a.advance(60);
    for (int i = 0; i < 600; ++i)
        b.advance(0.1);
    EXPECT_NEAR(a.temperature(1), b.temperature(1), 1e-9);
}

TEST(ThermalModel, RelayHeatsOrCools)
{
    ThermalConfig c = quietConfig();
    c.ambient = 21;
    c.startOffset = {0, 0, 0, 0};
    c.relayRatePerMin = 2;
    c.cooling = {false, true, false, false};
    ThermalModel m(c);
    m.setRelay(1, true);
    m.setRelay(2, true);
    m.advance(60);
    // Near ambient the drift is small: about the full rate per minute.
    EXPECT_GT(m.temperature(1), 22.8);
    EXPECT_LT(m.temperature(1), 23.0);
    EXPECT_LT(m.temperature(2), 19.2);
    EXPECT_GT(m.temperature(2), 19.0);
    EXPECT_DOUBLE_EQ(m.temperature(3), 21);
    // Heating levels off where heating and loss balance.
    m.advance(1e6);
    EXPECT_NEAR(m.temperature(1), 21 + 2.0 / 60 * c.timeConstantS, 1e-6);
    // Off again: back toward ambient.
    m.setRelay(1, false);
    const double hot = m.temperature(1);
    m.advance(60);
    EXPECT_LT(m.temperature(1), hot);
    EXPECT_GT(m.temperature(1), 21);
}

TEST(ThermalModel, NoiseIsSmallAndFollowsTheSeed)
{
    ThermalConfig c;
    c.noise = 0.05;
    c.seed = 42;
    ThermalModel a(c), b(c);
    c.seed = 43;
    ThermalModel other(c);
    bool differs = false;
    for (int i = 0; i < 200; ++i) {
        const double ra = a.reading(1);
        EXPECT_DOUBLE_EQ(ra, b.reading(1));
        EXPECT_LE(std::abs(ra - a.temperature(1)), 0.05);
        differs = differs || ra != other.reading(1);
    }
    EXPECT_TRUE(differs);
}

TEST(ThermalModel, IgnoresChannelsOutOfRangeAndBackwardTime)
{
    ThermalModel m(quietConfig());
    const double t1 = m.temperature(1);
    m.setRelay(0, true);
    m.setRelay(5, true);
    m.advance(-100);
    EXPECT_EQ(m.relayBits(), 0u);
    EXPECT_DOUBLE_EQ(m.temperature(1), t1);
}
