#include "rstrings.h"

#include <gtest/gtest.h>

using namespace q274;

TEST(MessageTable, HoldsAll48EntriesWithTheLoggingDisabledTextTwice)
{
    const QStringList all = rs::AllMessages();
    EXPECT_EQ(all.size(), 48);
    EXPECT_EQ(all.count(QStringLiteral("Logging disabled")), 2);
    for (const QString &s : all)
        EXPECT_FALSE(s.isEmpty());
}

TEST(MessageTable, KeepsTrailingAndInnerBlanksWordForWord)
{
    EXPECT_EQ(rs::sConnecting, QStringLiteral("Connecting to Q274... "));
    EXPECT_EQ(rs::sSessionInProgress, QStringLiteral("A monitoring and control session is in progress. "));
    EXPECT_EQ(rs::sErrOverrun, QStringLiteral("A character Buffer Overrun has occured.  The next character is lost."));
    EXPECT_EQ(rs::sErrIO, QStringLiteral("An I/O error occured during communication with the device."));
    EXPECT_EQ(rs::sOn, QStringLiteral(" - ON"));
    EXPECT_EQ(rs::sOff, QStringLiteral(" - OFF"));
    EXPECT_EQ(rs::sRelayControl, QStringLiteral(" Relay Control "));
    EXPECT_EQ(rs::sComPortPrefix, QStringLiteral("COM port:"));
    EXPECT_EQ(rs::sApplicationError, QStringLiteral("Application ERROR:"));
}

TEST(MessageTable, ChannelCaptionsAndRelayButtonsByNumber)
{
    EXPECT_EQ(rs::ChannelCaption(1), QStringLiteral(" Ch 1 "));
    EXPECT_EQ(rs::ChannelCaption(4), QStringLiteral(" Ch 4 "));
    EXPECT_EQ(rs::RelayButtonCaption(3), QStringLiteral("R3 Manual"));
    EXPECT_THROW(rs::ChannelCaption(0), std::out_of_range);
    EXPECT_THROW(rs::RelayButtonCaption(5), std::out_of_range);
}
