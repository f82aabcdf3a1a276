// Relay status bits and the manual relay buttons.
#include "relays.h"

#include "protocol.h"

#include <gtest/gtest.h>

using namespace q274;

TEST(RelayFlags, StatusTextsToFlags)
{
    using F = std::array<bool, 4>;
    auto flags = [](const char *text) { return RelayFlags(*ParseRelayStatus(QString::fromLatin1(text))); };
    EXPECT_EQ(flags("0"), (F{false, false, false, false}));
    EXPECT_EQ(flags("F"), (F{true, true, true, true}));
    EXPECT_EQ(flags("1"), (F{true, false, false, false}));
    EXPECT_EQ(flags("8"), (F{false, false, false, true}));
    EXPECT_EQ(flags("5"), (F{true, false, true, false}));
    EXPECT_EQ(flags("1F"), (F{true, true, true, true}));
    EXPECT_EQ(RelayFlags(0x12u), (F{false, true, false, false}));
}

TEST(ManualPress, IgnoredWhileNotConnected)
{
    EXPECT_FALSE(ManualPress(1, false, ChannelSettings{}, false));
    EXPECT_FALSE(ManualPress(1, false, ChannelSettings{}, true));
}

TEST(ManualPress, TogglesFromReportedStateAndEndsAutomaticControl)
{
    ChannelSettings s;
    s.Enabled = true;
    auto a = ManualPress(2, true, s, false);
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->ClearEnabled);
    EXPECT_EQ(a->Command, "N2");
    EXPECT_EQ(a->Message, "Manual - R2 - ON");

    a = ManualPress(1, true, s, true);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Command, "F1");
    EXPECT_EQ(a->Message, "Manual - R1 - OFF");

    // Two presses before a status reply decide the same way.
    auto again = ManualPress(1, true, s, true);
    EXPECT_EQ(again->Command, a->Command);
}

TEST(ManualPress, OverrideOffKeepsAutomaticControl)
{
    ChannelSettings s;
    s.Enabled = true;
    s.ManualOverrides = false;
    auto a = ManualPress(4, true, s, true);
    ASSERT_TRUE(a);
    EXPECT_FALSE(a->ClearEnabled);
    EXPECT_EQ(a->Command, "F4");
    EXPECT_EQ(a->Message, "Manual - R4 - OFF");
}
