#include "timestamp.h"

#include <gtest/gtest.h>

using namespace q274;

namespace {

QDateTime at(int h, int m, int s, int ms = 0) { return QDateTime(QDate(2008, 10, 25), QTime(h, m, s, ms)); }

const QLocale us(QStringLiteral("en_US"));
const QLocale german(QStringLiteral("de_DE"));

} // namespace

TEST(Timestamp, RegionalFormatsWithFourDigitYearAndNoZone)
{
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), us, false, 0), "10/25/2008 3:49:29 PM");
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), german, false, 0), "25.10.2008 15:49:29");
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), QLocale::c(), false, 0), "2008-10-25 15:49:29");
    EXPECT_EQ(FormatTimestamp(at(9, 5, 7), us, false, 0), "10/25/2008 9:05:07 AM");
    // Locales whose short date already has four digits keep them.
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), QLocale(QStringLiteral("en_GB")), false, 0), "25/10/2008 15:49:29");
}

TEST(Timestamp, MillisecondsSuffix)
{
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), us, true, 47), "10/25/2008 3:49:29 PM  (047)");
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), german, true, 999), "25.10.2008 15:49:29  (999)");
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29), us, true, 0), "10/25/2008 3:49:29 PM  (000)");
    // Taken from the date-time itself.
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29, 5), us, true), "10/25/2008 3:49:29 PM  (005)");
    EXPECT_EQ(FormatTimestamp(at(15, 49, 29, 5), us, false), "10/25/2008 3:49:29 PM");
}

TEST(Timestamp, FirstSecondAfterMidnightShowsDateAlone)
{
    EXPECT_EQ(FormatTimestamp(at(0, 0, 0, 500), us, false), "10/25/2008");
    EXPECT_EQ(FormatTimestamp(at(0, 0, 0, 500), us, true), "10/25/2008  (500)");
    EXPECT_EQ(FormatTimestamp(at(0, 0, 0), german, false, 0), "25.10.2008");
    EXPECT_EQ(FormatTimestamp(at(0, 0, 1), us, false, 0), "10/25/2008 12:00:01 AM");
    EXPECT_EQ(FormatTimestamp(at(0, 1, 0), german, false, 0), "25.10.2008 00:01:00");
}

TEST(Timestamp, PatternsAndSeparators)
{
    EXPECT_EQ(ShortDatePattern(us), "M/d/yyyy");
    EXPECT_EQ(LongTimePattern(us), "h:mm:ss AP");
    EXPECT_EQ(LongTimePattern(german), "HH:mm:ss");
    EXPECT_FALSE(LongTimePattern(QLocale(QStringLiteral("ko_KR"))).contains(u't'));
    EXPECT_EQ(LongTimePattern(QLocale(QLocale::Persian, QLocale::Iran)), "H:mm:ss"); // no empty "()"
    EXPECT_EQ(DateSeparator(us), "/");
    EXPECT_EQ(DateSeparator(german), ".");
    EXPECT_EQ(DateSeparator(QLocale::c()), "-");
    EXPECT_EQ(DateSeparator(QLocale(QStringLiteral("nl_NL"))), "-");
    EXPECT_EQ(DateSeparator(QLocale(QLocale::Arabic, QLocale::SaudiArabia)), "/"); // not its U+200F
    EXPECT_EQ(DecimalSeparator(us), ".");
    EXPECT_EQ(DecimalSeparator(german), ",");
}

TEST(Timestamp, MessageIndentLayout)
{
    EXPECT_EQ(MessageIndent.size(), 16);
    EXPECT_EQ(MessageIndent, QStringLiteral("\t   \t   \t   \t\t  "));
    EXPECT_EQ(LogLine("10/25/2008", MessageIndent + "Q274 found"), "10/25/2008" + MessageIndent + "Q274 found");
}

TEST(LogMessageFilter, EnabledWritesEverything)
{
    const LogDecision d = LogMessageDecision(true, MessageIndent + "Q274 found");
    EXPECT_TRUE(d.Write);
    EXPECT_TRUE(d.WithMsAllowed);
}

TEST(LogMessageFilter, DisabledPassesOnlyLoggingDisabledWithoutMilliseconds)
{
    const LogDecision passed = LogMessageDecision(false, MessageIndent + "Logging disabled");
    EXPECT_TRUE(passed.Write);
    EXPECT_FALSE(passed.WithMsAllowed);
    EXPECT_TRUE(LogMessageDecision(false, "x Logging disabled y").Write);
    EXPECT_FALSE(LogMessageDecision(false, MessageIndent + "logging disabled").Write);
    EXPECT_FALSE(LogMessageDecision(false, MessageIndent + "Logging enabled in Deg C").Write);
    EXPECT_FALSE(LogMessageDecision(false, "\t24.06\t22.12\t  -\t  -").Write);
    EXPECT_FALSE(LogMessageDecision(false, QString()).Write);
}
