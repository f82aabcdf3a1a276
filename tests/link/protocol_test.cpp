// Reply assembly and the reply syntax: what the board sends becomes the
// right lines, fields and read-out texts.
#include "protocol.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace q274;

TEST(ReplyAssembler, JoinsPiecesAndCutsAtAnyLineEnd)
{
    ReplyAssembler a;
    EXPECT_EQ(a.Feed("?Tempe").Status, ReplyAssembler::LineStatus::Waiting);
    EXPECT_EQ(a.Feed("rature Monitor").Status, ReplyAssembler::LineStatus::Waiting);
    auto r = a.Feed(" v2.1\r\n");
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, "?Temperature Monitor v2.1");
    EXPECT_TRUE(a.Buffer().isEmpty());

    r = a.Feed("S005\n");
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, "S005");
}

TEST(ReplyAssembler, ReadHoldingTwoRepliesGivesOneMergedLine)
{
    ReplyAssembler a;
    auto r = a.Feed("T124.06\r\nT2");
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, "T124.06T2");
    EXPECT_TRUE(a.Buffer().isEmpty());
}

TEST(ReplyAssembler, SplitCrLfGivesReplyThenEmptyLine)
{
    ReplyAssembler a;
    auto r = a.Feed("T3?\r");
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, "T3?");
    r = a.Feed("\n");
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, "");
}

TEST(ReplyAssembler, TrimsBlanksAndControlCharactersAndKeepsLatin1)
{
    ReplyAssembler a;
    auto r = a.Feed(std::string("\t  ?Temperature x\xB0 \x01\r"));
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, QString::fromLatin1("?Temperature x\xB0"));
}

TEST(ReplyAssembler, OverflowDropsBufferPast4096)
{
    ReplyAssembler a;
    EXPECT_EQ(a.Feed(std::string(4096, 'x')).Status, ReplyAssembler::LineStatus::Waiting);
    EXPECT_EQ(a.Buffer().size(), 4096);
    EXPECT_EQ(a.Feed("y").Status, ReplyAssembler::LineStatus::Overflow);
    EXPECT_TRUE(a.Buffer().isEmpty());
    // The same overlong line going on is not reported again.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a.Feed(std::string(4097, 'x')).Status, ReplyAssembler::LineStatus::Waiting);
    EXPECT_LE(a.Buffer().size(), ReplyAssembler::kMaxLength);
    // The next reply arrives clean, and a later overlong line counts again.
    auto r = a.Feed("S00\r");
    ASSERT_EQ(r.Status, ReplyAssembler::LineStatus::Line);
    EXPECT_EQ(r.Line, "S00");
    EXPECT_EQ(a.Feed(std::string(4097, 'x')).Status, ReplyAssembler::LineStatus::Overflow);
}

TEST(ReplyAssembler, ClearDropsUnfinishedLine)
{
    ReplyAssembler a;
    a.Feed("T12");
    a.Clear();
    EXPECT_EQ(a.Feed("?Temperature\r").Line, "?Temperature");
}

TEST(ReplyClassification, Identification)
{
    EXPECT_TRUE(IsIdentificationReply("?Temperature Monitor & Controller v2.1"));
    EXPECT_FALSE(IsIdentificationReply("Temperature"));
    EXPECT_EQ(IdentificationText("?Temperature Monitor & Controller v2.1"), "Temperature Monitor & Controller v2.1");
    // Leftovers of an earlier connection in front are dropped too.
    EXPECT_EQ(IdentificationText("T12?Temperature A?Temperature B"), "Temperature A?Temperature B");
}

TEST(ReplyClassification, StatusAndTemperature)
{
    EXPECT_TRUE(IsRelayStatusReply("S005"));
    EXPECT_TRUE(IsRelayStatusReply("xS0"));
    EXPECT_EQ(RelayStatusText("S005"), "05");
    EXPECT_EQ(RelayStatusText("S"), "");

    for (const char *line : {"T0 1,2,3,4", "T124.06", "xxT4", "T3?", "T2"})
        EXPECT_TRUE(IsTemperatureReply(line)) << line;
    for (const char *line : {"T5 1", "S00", "t1", "T", ""})
        EXPECT_FALSE(IsTemperatureReply(line)) << line;
    EXPECT_TRUE(IsAllChannelReply("T024.06,1,2,3"));
    EXPECT_FALSE(IsAllChannelReply("T124.06"));
}

TEST(ReplyClassification, SingleChannel)
{
    auto r = ParseChannelReply("T224.06");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Channel, 2);
    EXPECT_EQ(r->Value, "24.06");
    r = ParseChannelReply("T3?");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Channel, 3);
    EXPECT_EQ(r->Value, "?");
    EXPECT_FALSE(ParseChannelReply("TX1"));
    EXPECT_FALSE(ParseChannelReply("T51"));
    EXPECT_FALSE(ParseChannelReply("T0"));
    EXPECT_FALSE(ParseChannelReply("T"));
}

TEST(SplitAllChannels, FieldsAndMissingSensors)
{
    auto f = SplitAllChannels("T024.06,22.12,?,?");
    EXPECT_EQ(f[0], "24.06");
    EXPECT_EQ(f[1], "22.12");
    EXPECT_EQ(f[2], "-");
    EXPECT_EQ(f[3], "-");
}

TEST(SplitAllChannels, FewerCommasGiveEmptyFieldsWithoutEatingText)
{
    auto f = SplitAllChannels("T024.06,22.12");
    EXPECT_EQ(f[0], "24.06");
    EXPECT_EQ(f[1], "");
    EXPECT_EQ(f[2], "");
    EXPECT_EQ(f[3], "22.12");

    f = SplitAllChannels("T0");
    for (const auto &field : f)
        EXPECT_EQ(field, "");

    // Extra commas stay in the fourth field.
    f = SplitAllChannels("T01,2,3,4,5");
    EXPECT_EQ(f[3], "4,5");
}

TEST(ReadoutText, CelsiusKeepsBoardTextWithLocaleSeparator)
{
    EXPECT_EQ(ReadoutText("24.06", false, '.'), " 24.06");
    EXPECT_EQ(ReadoutText("24.06", false, ','), " 24,06");
    // Only the first "." is turned.
    EXPECT_EQ(ReadoutText("1.2.3", false, ','), " 1,2.3");
    // Celsius shows what the board sent, even when it is not a number.
    EXPECT_EQ(ReadoutText("", false, '.'), " ");
}

TEST(ReadoutText, NoSensorMarkerAsTheCallerSays)
{
    EXPECT_EQ(ReadoutText("?", false, '.'), " -");
    EXPECT_EQ(ReadoutText("?", true, '.'), " -");
    EXPECT_EQ(ReadoutText("-", true, ',', "-"), " -");
    EXPECT_EQ(ReadoutText("-", false, '.'), " -"); // shown as received
    EXPECT_FALSE(ReadoutText("-", true, '.'));     // not the marker here: no number
}

TEST(ReadoutText, FahrenheitWithTwoDecimals)
{
    EXPECT_EQ(ReadoutText("24.06", true, '.'), " 75.31");
    EXPECT_EQ(ReadoutText("22.12", true, '.'), " 71.82");
    EXPECT_EQ(ReadoutText("24.06", true, ','), " 75,31");
    EXPECT_EQ(ReadoutText("30", true, '.'), " 86.00");
    EXPECT_FALSE(ReadoutText("", true, '.'));
    EXPECT_FALSE(ReadoutText("2x", true, '.'));
}

TEST(ReadoutText, FahrenheitBeyondTheDoubleRangeIsNoNumber)
{
    // 1e308 C is a double, its Fahrenheit value is not: it read " inf".
    EXPECT_FALSE(ReadoutText("1e308", true, '.'));
    EXPECT_FALSE(ReadoutText("-1e308", true, ','));
    EXPECT_TRUE(ReadoutText("1e307", true, '.'));
}

// Locales whose separator is neither "." nor ",": Celsius shows the board's
// text, Fahrenheit the locale's separator with ASCII digits; both read back.
TEST(ReadoutText, EveryLocaleReadsBackWhatItShows)
{
    for (const QLocale &locale :
         {QLocale(QLocale::Persian, QLocale::Iran), QLocale(QLocale::Arabic, QLocale::SaudiArabia), QLocale::c()}) {
        SCOPED_TRACE(locale.name().toStdString());
        const QChar sep = locale.decimalPoint().at(0);
        EXPECT_EQ(sep, locale.language() == QLocale::C ? QChar('.') : QChar(0x066B));
        const QString celsius = ReadoutText("24.06", false, sep).value_or("?");
        EXPECT_EQ(celsius, " 24.06");
        EXPECT_EQ(ParseLocaleFloat(celsius, sep), 24.06);
        const QString fahrenheit = ReadoutText("24.06", true, sep).value_or("?");
        EXPECT_EQ(fahrenheit, QStringLiteral(" 75") + sep + QStringLiteral("31"));
        EXPECT_EQ(ParseLocaleFloat(fahrenheit, sep), 75.31);
        EXPECT_EQ(ReadoutText("-5.25", true, sep), QStringLiteral(" 22") + sep + QStringLiteral("55"));
        EXPECT_FALSE(ParseLocaleFloat("24.06" + QString(sep) + "1", sep));
    }
}

TEST(ParseRelayStatus, HexDigitsLowFourBits)
{
    EXPECT_EQ(ParseRelayStatus("0"), 0u);
    EXPECT_EQ(ParseRelayStatus("00"), 0u);
    EXPECT_EQ(ParseRelayStatus("F"), 15u);
    EXPECT_EQ(ParseRelayStatus("f"), 15u);
    EXPECT_EQ(ParseRelayStatus("1"), 1u);
    EXPECT_EQ(ParseRelayStatus("8"), 8u);
    EXPECT_EQ(ParseRelayStatus("05"), 5u);
    EXPECT_EQ(ParseRelayStatus(" 5 "), 5u);
    EXPECT_EQ(ParseRelayStatus("1F"), 15u);
    EXPECT_EQ(ParseRelayStatus("10"), 0u);
    EXPECT_EQ(ParseRelayStatus("FFFFFFFFFFFFFFFFFFFF3"), 3u);
}

TEST(ParseRelayStatus, RejectsBadText)
{
    for (const char *text : {"", "  ", "G", "0x5", "$5", "5 5", "-1", "+1", "5h"})
        EXPECT_FALSE(ParseRelayStatus(text)) << text;
}
