// Alarm latches: one start and one clear per episode, nothing repeated while
// shown, acknowledge ends the latch; stale and missing readings; the link.
#include "alarms.h"

#include <gtest/gtest.h>

using namespace q274;

namespace {

struct Monitor {
    TAlarmMonitor M;
    qint64 Now = 0;
    Monitor(AlarmSettings s, std::array<bool, 4> watched = {true, true, true, true}) { M.SetSettings(s, watched); }
    std::vector<AlarmEvent> Read(int ch, const char *text, qint64 stepMs = 1000)
    {
        Now += stepMs;
        const QString t = QString::fromLatin1(text);
        bool ok = false;
        const double v = t.trimmed().toDouble(&ok);
        M.LineReceived(Now);
        M.Reading(ch, t, ok ? std::optional<double>(v) : std::nullopt, Now);
        return M.Evaluate(Now);
    }
};

} // namespace

TEST(Alarms, LimitsLatchUntilAcknowledgedAndNeverRepeatWhileShown)
{
    AlarmSettings s;
    s.Limits[1] = {10.0, 21.5};
    Monitor m(s);
    EXPECT_TRUE(m.Read(2, " 21.50").empty()) << "at the limit is not above it";
    auto e = m.Read(2, " 21.52");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0], (AlarmEvent{2, AlarmKind::High, true, QStringLiteral("21.52"),
                                QStringLiteral("ALARM Ch2: above the high limit 21.5  (21.52)")}));
    EXPECT_TRUE(m.Read(2, " 22.00").empty());
    e = m.Read(2, " 21.00");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_FALSE(e[0].Started);
    EXPECT_EQ(e[0].Text, QStringLiteral("Alarm cleared Ch2: above the high limit 21.5  (21.00)"));
    EXPECT_EQ(m.M.Shown(2), AlarmKind::High) << "latched until acknowledged";
    EXPECT_TRUE(m.Read(2, " 23.00").empty()) << "a new crossing while latched is not reported again";
    EXPECT_TRUE(m.Read(2, " 20.00").empty()) << "nor its clear";
    EXPECT_FALSE(m.M.Shown(1));

    m.M.Acknowledge();
    EXPECT_FALSE(m.M.AnyShown());
    e = m.Read(2, " 9.99");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].Kind, AlarmKind::Low);
    // Acknowledged while the cause goes on: shown, but no new start.
    m.M.Acknowledge();
    EXPECT_EQ(m.M.Shown(2), AlarmKind::Low);
    EXPECT_TRUE(m.Read(2, " 9.00").empty());
    EXPECT_EQ(m.Read(2, " 12.00").size(), 1u) << "its clear";
    EXPECT_FALSE(m.M.AnyShown());
}

// A lost link or sensor says nothing about the temperature: a heater left
// on while the board was gone must not read as "Alarm cleared".
TEST(Alarms, AnUnknownValueNeitherStartsNorClearsALimit)
{
    AlarmSettings s;
    s.Limits[0].High = 25;
    Monitor m(s);
    EXPECT_EQ(m.Read(1, " 26.00").size(), 1u);
    EXPECT_TRUE(m.Read(1, " -").empty());
    m.M.ReadingsCleared();
    EXPECT_TRUE(m.M.Evaluate(m.Now + 1000).empty());
    m.M.Acknowledge();
    EXPECT_EQ(m.M.Shown(1), AlarmKind::High) << "still above the limit as far as anyone knows";
    const auto e = m.Read(1, " 21.75");
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].Text, QStringLiteral("Alarm cleared Ch1: above the high limit 25  (21.75)"));
    s.Limits[1].Low = 10;
    m.M.SetSettings(s, {true, true, true, true});
    EXPECT_TRUE(m.Read(2, " -").empty()) << "no value: no start either";
}

TEST(Alarms, MissingOrStuckReadingsAndASilentLink)
{
    AlarmSettings s;
    s.NoReadingS = 10;
    s.SilentLinkS = 30;
    Monitor m(s, {true, false, false, false});
    m.M.SetLinkWanted(true, 0);
    // The value moves: no alarm; the same text for more than 10 s: stuck.
    for (const char *t : {" 18.00", " 18.01", " 18.01"})
        EXPECT_TRUE(m.Read(1, t, 6000).empty());
    EXPECT_TRUE(m.Read(1, " 18.01", 4000).empty()) << "10 s is not more than 10 s";
    auto e = m.Read(1, " 18.01", 1);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].Kind, AlarmKind::NoReading);
    EXPECT_EQ(m.Read(1, " -").size(), 1u) << "a change clears it";
    EXPECT_EQ(m.Read(1, " -", 10001).size(), 0u) << "latched: the missing sensor is not reported twice";
    // A channel nobody uses shows " -" all day without an alarm.
    EXPECT_TRUE(m.Read(2, " -", 60000).empty());
    EXPECT_FALSE(m.M.Shown(3));

    // The board falls silent: one alarm after 30 s, one clear at its next line.
    TAlarmMonitor link;
    link.SetSettings(s, {});
    link.SetLinkWanted(true, 1000);
    EXPECT_TRUE(link.Evaluate(31000).empty());
    e = link.Evaluate(31001);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].Text, QStringLiteral("ALARM: no reading from the board for more than 30 s"));
    EXPECT_EQ(link.Shown(4), AlarmKind::SilentLink);
    EXPECT_TRUE(link.Evaluate(90000).empty());
    link.LineReceived(90000);
    EXPECT_EQ(link.Evaluate(90001).size(), 1u);
    // Not wanted (the user disconnected): silence is no alarm.
    link.Acknowledge();
    link.SetLinkWanted(false, 90001);
    EXPECT_TRUE(link.Evaluate(500000).empty());
}
