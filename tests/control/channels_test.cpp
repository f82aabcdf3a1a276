// The channels without a window: a reply's value becomes the read-out the
// thermostat reads, and a manual press ends automatic control.
#include "channels.h"

#include <gtest/gtest.h>

using namespace q274;

TEST(Channels, ReadoutsFeedTheThermostatAndPressesEndControl)
{
    TChannels c;
    c.Settings(2).Enabled = true; // Heat at 30, dropout 3
    EXPECT_TRUE(c.ShowValue(2, QStringLiteral("24.06"), QStringLiteral("?"), false, QChar('.')));
    EXPECT_EQ(c.Readout(2), QStringLiteral(" 24.06"));
    // Not a number: shown as no reading, so the thermostat skips it.
    EXPECT_FALSE(c.ShowValue(1, QStringLiteral("ERR"), QStringLiteral("?"), false, QChar('.')));
    EXPECT_EQ(c.Readout(1), QStringLiteral(" -"));
    const auto decisions = c.RunChannelControl(QChar('.'));
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0].Command, "N2");

    ASSERT_TRUE(c.ApplyRelayStatus(QStringLiteral("02")));
    EXPECT_TRUE(c.RelayOn(2));
    EXPECT_FALSE(c.ApplyRelayStatus(QStringLiteral("zz")));
    EXPECT_TRUE(c.RelayOn(2)) << "an unreadable status keeps the flags";

    EXPECT_FALSE(c.ManualPress(2, false)) << "ignored while the port is closed";
    const auto press = c.ManualPress(2, true);
    ASSERT_TRUE(press);
    EXPECT_EQ(press->Command, "F2");
    EXPECT_FALSE(c.Settings(2).Enabled);
}
