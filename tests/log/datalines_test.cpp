#include "datalines.h"

#include <gtest/gtest.h>

#include <limits>

using namespace q274;

TEST(DataFields, ValuesTrimmedAndMissingReadingsThreeCharacters)
{
    EXPECT_EQ(ComposeDataFields({" 24.06", " 22.12", " -", " -"}), "\t24.06\t22.12\t  -\t  -");
    // Fahrenheit as displayed, with the display's decimal separator.
    EXPECT_EQ(ComposeDataFields({" 75.31", " 71,82", " -12.50", " 212.00"}), "\t75.31\t71,82\t-12.50\t212.00");
    EXPECT_EQ(ComposeDataFields({QStringLiteral(" 75\u066B31"), " 24.06", " -", " -"}),
              QStringLiteral("\t75\u066B31\t24.06\t  -\t  -"));
    // Control characters and blanks on both ends go, inner ones stay.
    EXPECT_EQ(ComposeDataFields({"\t24.06\r\n", "  1 2  ", "-", ""}), "\t24.06\t1 2\t  -\t  -");
}

TEST(StartAlignment, HoldsEarlyAndLateReplies)
{
    EXPECT_EQ(StartAlignmentSleepMs(80), 95); // written at about .175
    EXPECT_EQ(StartAlignmentSleepMs(0), 175);
    EXPECT_EQ(StartAlignmentSleepMs(124), 51);
    EXPECT_EQ(StartAlignmentSleepMs(125), 0);
    EXPECT_EQ(StartAlignmentSleepMs(500), 0);
    EXPECT_EQ(StartAlignmentSleepMs(850), 0);
    EXPECT_EQ(StartAlignmentSleepMs(851), 275);
    EXPECT_EQ(StartAlignmentSleepMs(900), 275); // written at about 1.175
}

TEST(Pacing, DueFortyFiveMillisecondsEarly)
{
    const std::uint32_t ref = 1000000;
    EXPECT_FALSE(DataLinePacing(ref + 59954, ref, 60000, 500, 350).Due);
    EXPECT_TRUE(DataLinePacing(ref + 59955, ref, 60000, 500, 350).Due);
    EXPECT_TRUE(DataLinePacing(ref + 60000, ref, 60000, 500, 350).Due);
    EXPECT_TRUE(DataLinePacing(ref + 200000, ref, 60000, 500, 350).Due);
    EXPECT_FALSE(DataLinePacing(ref, ref, 60000, 500, 350).Due);
    // Not due: no alignment wait either.
    EXPECT_EQ(DataLinePacing(ref + 100, ref, 60000, 120, 350).SleepMs, 0);
}

TEST(Pacing, AlignmentOnlyMovesLaterTowardsTheMark)
{
    const std::uint32_t ref = 5000;
    auto sleepAt = [&](int ms) { return DataLinePacing(ref + 60000, ref, 60000, ms, 350).SleepMs; };
    EXPECT_EQ(sleepAt(120), 230);
    EXPECT_EQ(sleepAt(0), 350);
    EXPECT_EQ(sleepAt(347), 3);
    EXPECT_EQ(sleepAt(348), 0);
    EXPECT_EQ(sleepAt(349), 0);
    EXPECT_EQ(sleepAt(350), 0);
    EXPECT_EQ(sleepAt(999), 0);
    // Before the first connection the reference millisecond is 0: no wait.
    EXPECT_EQ(DataLinePacing(ref + 60000, ref, 60000, 120, 0).SleepMs, 0);
}

TEST(Pacing, WaitReachesTheFirstPassThatFindsTheLineDue)
{
    const std::uint32_t ref = 0xFFFFFF00u; // the counter wraps on the way
    // 59955 ms after the reference it is due: the 1999th pass, 59970 ms in.
    EXPECT_EQ(DataLineWaitMs(ref, ref, 60000), 59970);
    EXPECT_TRUE(DataLineDue(ref + 59970, ref, 60000));
    EXPECT_FALSE(DataLineDue(ref + 59940, ref, 60000));
    // From a later pass the same moment on the same 30 ms steps.
    EXPECT_EQ(DataLineWaitMs(ref + 1000, ref, 60000), 58980);
    EXPECT_EQ(DataLineWaitMs(ref + 59925, ref, 60000), 30);
    // Due already, or far past: the next pass.
    EXPECT_EQ(DataLineWaitMs(ref + 59960, ref, 60000), 30);
    EXPECT_EQ(DataLineWaitMs(ref + 200000, ref, 60000), 30);
    EXPECT_EQ(DataLineWaitMs(ref, ref, 0), 30);
}

TEST(Pacing, TickCounterWrapAround)
{
    const std::uint32_t max = std::numeric_limits<std::uint32_t>::max();
    const std::uint32_t ref = max - 1000; // 1001 ms before the wrap
    EXPECT_FALSE(DataLineDue(ref + 59954u, ref, 60000));
    EXPECT_TRUE(DataLineDue(ref + 59955u, ref, 60000));
    EXPECT_FALSE(DataLineDue(500u, ref, 60000)); // 1501 ms elapsed across the wrap
    EXPECT_TRUE(DataLineDue(ref + 70000u, ref, 60000));
}

TEST(Pacing, NeverEarlierThanIntervalLessTolerance)
{
    // Walk 30 ms passes with an arbitrary start phase and check every first
    // due point.
    for (std::uint32_t phase = 0; phase < 30; ++phase) {
        const std::uint32_t ref = 0xFFFF0000u + phase * 7;
        std::uint32_t tick = ref;
        while (!DataLineDue(tick, ref, 60000))
            tick += 30;
        const std::uint32_t elapsed = tick - ref;
        EXPECT_GE(elapsed, 59955u);
        EXPECT_LT(elapsed, 59955u + 30u);
    }
}
