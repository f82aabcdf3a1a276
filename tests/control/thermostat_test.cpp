// The switching rule at and around its thresholds, in both modes.
#include "thermostat.h"

#include <gtest/gtest.h>

using namespace q274;

namespace {

ChannelSettings channel(const char *mode, int setPoint = 30, int dropout = 3)
{
    ChannelSettings s;
    s.Enabled = true;
    s.Mode = QString::fromLatin1(mode);
    s.SetPoint = setPoint;
    s.Dropout = dropout;
    return s;
}

// "N1", "F1" or "" for no command.
std::string commandFor(const ChannelSettings &s, const char *readout, bool relayOn, QChar sep = '.')
{
    auto d = ControlChannel(1, s, QString::fromLatin1(readout), sep, relayOn);
    if (!d)
        return {};
    EXPECT_EQ(d->Kind, ChannelDecision::Switch);
    return d->Command;
}

} // namespace

TEST(ControlChannel, HeatThresholdsIncludeEquality)
{
    const auto heat = channel("Heat");
    EXPECT_EQ(commandFor(heat, " 30.00", false), "N1");
    EXPECT_EQ(commandFor(heat, " 30.01", false), "");
    EXPECT_EQ(commandFor(heat, " 32.99", true), "");
    EXPECT_EQ(commandFor(heat, " 33.00", true), "F1");
    EXPECT_EQ(commandFor(heat, " 25.00", true), "");  // already on
    EXPECT_EQ(commandFor(heat, " 40.00", false), ""); // already off
}

TEST(ControlChannel, CoolThresholdsIncludeEquality)
{
    const auto cool = channel("Cool");
    EXPECT_EQ(commandFor(cool, " 30.00", false), "N1");
    EXPECT_EQ(commandFor(cool, " 29.99", false), "");
    EXPECT_EQ(commandFor(cool, " 27.01", true), "");
    EXPECT_EQ(commandFor(cool, " 27.00", true), "F1");
    EXPECT_EQ(commandFor(cool, " 35", true), "");
}

TEST(ControlChannel, CoolBandBelowMinusFifteen)
{
    const auto cool = channel("Cool", -15, 25);
    EXPECT_EQ(commandFor(cool, " -39.99", true), "");
    EXPECT_EQ(commandFor(cool, " -40", true), "F1");
    EXPECT_EQ(commandFor(cool, " -41.5", true), "F1");
    EXPECT_EQ(commandFor(cool, " -15", false), "N1");
}

TEST(ControlChannel, MessagesCarryTheReadoutAsShown)
{
    auto d = ControlChannel(1, channel("Heat"), " 30.00", '.', false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Message, "Ch1: heat ON  (30.00)");
    d = ControlChannel(3, channel("Heat"), " 33,50 ", ',', true);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Command, "F3");
    EXPECT_EQ(d->Message, "Ch3: heat OFF  (33,50)");
    d = ControlChannel(4, channel("Cool"), " 31", '.', false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Command, "N4");
    EXPECT_EQ(d->Message, "Ch4: cool ON  (31)");
    d = ControlChannel(2, channel("Cool"), " 20.5", '.', true);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Command, "F2");
    EXPECT_EQ(d->Message, "Ch2: cool OFF  (20.5)");
}

TEST(ControlChannel, FahrenheitReadoutComparedAsShown)
{
    // Set point 86 read as degrees of the unit shown.
    EXPECT_EQ(commandFor(channel("Heat", 86), " 86.00", false), "N1");
    EXPECT_EQ(commandFor(channel("Heat", 86), " 86,01", false, ','), "");
}

TEST(ControlChannel, UnreadableReadoutIsADataError)
{
    auto d = ControlChannel(2, channel("Heat"), " 2x", '.', false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Kind, ChannelDecision::DataError);
    EXPECT_EQ(d->Channel, 2);
    EXPECT_TRUE(d->Command.empty());
    // A "." is not the separator of a "," locale.
    d = ControlChannel(1, channel("Heat"), " 24.06", ',', false);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Kind, ChannelDecision::DataError);
}

TEST(ControlChannel, UnknownModeDoesNothing) { EXPECT_EQ(commandFor(channel("heat"), " 0", false), ""); }

TEST(RunChannelControl, SkipsDisabledAndMissingAndKeepsGoingAfterBadData)
{
    std::array<ChannelSettings, 4> s{channel("Heat"), channel("Heat"), channel("Heat"), channel("Cool")};
    s[1].Enabled = false;
    const std::array<QString, 4> readouts{" -", " 20.00", " bad", " 35.00"};
    const std::array<bool, 4> relays{false, false, false, false};
    auto decisions = RunChannelControl(s, readouts, '.', relays);
    ASSERT_EQ(decisions.size(), 2u);
    EXPECT_EQ(decisions[0].Kind, ChannelDecision::DataError);
    EXPECT_EQ(decisions[0].Channel, 3);
    EXPECT_EQ(decisions[1].Command, "N4");
    EXPECT_EQ(decisions[1].Message, "Ch4: cool ON  (35.00)");
}

TEST(RunChannelControl, ArabicSeparatorReadoutsAreControlled)
{
    // Celsius read-outs keep the board's ".", Fahrenheit ones carry U+066B;
    // right after a unit switch both kinds are on show at once.
    const QChar sep(0x066B);
    const std::array<ChannelSettings, 4> s{channel("Heat"), channel("Heat", 86), channel("Cool"), channel("Cool", 86)};
    const std::array<QString, 4> readouts{" 30.00", QStringLiteral(" 86\u066B00"), " 27.00",
                                          QStringLiteral(" 83\u066B00")};
    auto decisions = RunChannelControl(s, readouts, sep, {false, false, true, true});
    ASSERT_EQ(decisions.size(), 4u);
    EXPECT_EQ(decisions[0].Command, "N1");
    EXPECT_EQ(decisions[1].Command, "N2");
    EXPECT_EQ(decisions[1].Message, QStringLiteral("Ch2: heat ON  (86\u066B00)"));
    EXPECT_EQ(decisions[2].Command, "F3");
    EXPECT_EQ(decisions[3].Command, "F4");
}

TEST(RunChannelControl, RepeatsUntilTheStatusReplyArrives)
{
    std::array<ChannelSettings, 4> s{channel("Heat"), channel("Heat"), {}, {}};
    std::array<QString, 4> readouts{" 25.00", " 31.00", " -", " -"};
    std::array<bool, 4> relays{false, false, false, false};
    auto first = RunChannelControl(s, readouts, '.', relays);
    // A reply for channel 2 only: channel 1 is evaluated again as well.
    readouts[1] = " 31.50";
    auto second = RunChannelControl(s, readouts, '.', relays);
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].Command, "N1");
    EXPECT_EQ(second[0].Message, first[0].Message);
    // Once the relay is reported on, nothing more in the band.
    relays[0] = true;
    EXPECT_TRUE(RunChannelControl(s, readouts, '.', relays).empty());
}
