// A whole run by keyboard alone, in a real X server: what a user who cannot
// use a mouse does to run a thermostat, seen in what reaches the board.
#include "x11session.h"

#include <gtest/gtest.h>

using namespace q274x11;

namespace {

// Tab presses from Connect (focused at the start) to channel 1's set point:
// the page tabs, channel 1's Enabled box, its set point.
constexpr const char *kTabsToSetPoint1 = "Tab Tab Tab";
// From channel 1's Enabled box on to channel 2's set point: set point,
// dropout, mode, overrides box, relay button of channel 1, Enabled of 2, its
// set point.
constexpr const char *kTabsToSetPoint2 = "Tab Tab Tab Tab Tab Tab Tab";

// The board's trace has a received command.
bool Received(const Session &s, const std::string &command)
{
    return !Find(s.Trace(), " RX " + command).empty();
}

} // namespace

// Channel 1 at 31.8 C: with the set point 30 its heater stays off, two Up
// presses (32) switch it on. Channel 2 at 30.5 C, its relay on by hand, set
// point 28: the dropout 3 keeps the relay on (off from 31), one Down (2)
// switches it off (from 30).
TEST(X11Keyboard, AWholeRunWithoutAMouse)
{
    Session s;
    if (!s.Unavailable().empty())
        GTEST_SKIP() << s.Unavailable();
    ASSERT_TRUE(s.StartBoard({"--ambient", "31", "--noise", "0", "--heat-rate", "0"}));
    ASSERT_TRUE(s.StartProgram()) << "no main window";

    s.Press(s.Main(), kTabsToSetPoint1);
    s.Press(s.Main(), "Up Up shift+Tab space");
    s.Press(s.Main(), "ctrl+n");
    ASSERT_TRUE(WaitFor([&] { return Received(s, "N1"); }, 8s)) << "channel 1's relay did not switch on";

    s.Press(s.Main(), "ctrl+2");
    ASSERT_TRUE(WaitFor([&] { return Received(s, "N2"); }, 3s)) << "Ctrl+2 did not switch relay 2 on";
    s.Press(s.Main(), kTabsToSetPoint2);
    s.Press(s.Main(), "Down Down Tab Down shift+Tab shift+Tab space");
    ASSERT_TRUE(WaitFor([&] { return Received(s, "F2"); }, 3s)) << "channel 2's relay did not switch off";
    EXPECT_TRUE(Find(s.Trace(), " RX F1").empty()) << "channel 1 was switched off";
}

// The Alarms page by keys alone: Ctrl+K, Tab to channel 1's high limit, 30
// below the 31 C the board reads; the alarm starts once at the first reading
// and stays latched until Ctrl+D acknowledges it.
TEST(X11Keyboard, AlarmsPageLimitLatchAndAcknowledge)
{
    Session s;
    if (!s.Unavailable().empty())
        GTEST_SKIP() << s.Unavailable();
    ASSERT_TRUE(s.StartBoard({"--ambient", "31", "--noise", "0", "--heat-rate", "0"}));
    ASSERT_TRUE(s.StartProgram()) << "no main window";

    // From Connect: the page tabs, channel 1's low limit, its high limit.
    s.Press(s.Main(), "ctrl+k Tab Tab Tab");
    s.Type(s.Main(), "30");
    s.Press(s.Main(), "Tab ctrl+n");
    // Several readings above the limit: still one start.
    ASSERT_TRUE(WaitFor([&] { return Find(s.Trace(), " RX T").size() >= 4; }, 8s)) << "the board was not polled";
    s.Press(s.Main(), "ctrl+d");
    const auto log = s.SaveLog(s.Dir() + "/alarm.log");
    ASSERT_TRUE(log) << "the log could not be saved";
    const auto started = Find(*log, "ALARM Ch1: above the high limit 30");
    const auto acknowledged = Find(*log, "Alarms acknowledged");
    ASSERT_EQ(started.size(), 1u) << "the alarm did not start exactly once";
    ASSERT_EQ(acknowledged.size(), 1u) << "Ctrl+D did not acknowledge a shown alarm";
    EXPECT_LT(started[0], acknowledged[0]);
}
