// The chart's time axis: the window while following, round ticks in local
// time across zones and summer time, labels in the locale's clock.
#include "charttime.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace q274;

namespace {
constexpr qint64 kMin = 60'000;
constexpr qint64 kHour = 60 * kMin;
constexpr qint64 kDay = 24 * kHour;

qint64 At(const char *iso, const QTimeZone &zone)
{
    return QDateTime(QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).date(),
                     QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).time(), zone)
        .toMSecsSinceEpoch();
}
} // namespace

TEST(ChartTime, FollowWindowFitsANewRunUntilItFillsTheSpan)
{
    // Three minutes of a new run in the default hour: the three minutes.
    TimeWindow w = FollowWindow(1'000'000, 1'000'000 + 3 * kMin, kHour, 10'000);
    EXPECT_EQ(w.From, 1'000'000);
    EXPECT_EQ(w.To, 1'000'000 + 3 * kMin);
    // Two hours of data: the last hour.
    w = FollowWindow(0, 2 * kHour, kHour, 10'000);
    EXPECT_EQ(w.From, kHour);
    EXPECT_EQ(w.To, 2 * kHour);
    // One reading, and "All": never narrower than the least span.
    w = FollowWindow(5000, 5000, kHour, 10'000);
    EXPECT_EQ(w.To - w.From, 10'000);
    EXPECT_EQ(FollowWindow(100, 9 * kDay, 0, 10'000).From, 100);
}

TEST(ChartTime, TickStepIsRoundAndKeepsTheCount)
{
    EXPECT_EQ(TickStep(kHour, 7), 10 * kMin);
    EXPECT_EQ(TickStep(10 * kMin, 7), 2 * kMin);
    EXPECT_EQ(TickStep(3 * kMin, 7), 30'000);
    EXPECT_EQ(TickStep(kDay, 7), 6 * kHour);
    EXPECT_EQ(TickStep(8 * kHour, 7), 2 * kHour);
    for (const qint64 span : {20'000LL, 7 * kMin, 5 * kHour, 3 * kDay, 60 * kDay, 400 * kDay})
        for (const int n : {2, 5, 9}) {
            const qint64 step = TickStep(span, n);
            EXPECT_LT(span / step, n) << span << " " << n;
        }
}

TEST(ChartTime, TicksFallOnRoundLocalTimes)
{
    // India is 5:30 ahead of UTC: round local minutes are not round in UTC.
    const QTimeZone india("Asia/Kolkata");
    ASSERT_TRUE(india.isValid());
    const qint64 from = At("2026-12-09T04:31:58", india);
    const std::vector<qint64> ticks = TickTimes(from, from + kHour, 10 * kMin, india);
    ASSERT_EQ(ticks.size(), 6u);
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(ticks.front(), india).time(), QTime(4, 40));
    for (const qint64 t : ticks) {
        const QTime local = QDateTime::fromMSecsSinceEpoch(t, india).time();
        EXPECT_EQ(local.minute() % 10, 0);
        EXPECT_EQ(local.second(), 0);
    }

    // The spring change of summer time in Berlin: hourly ticks on the
    // local hours that exist, once each.
    const QTimeZone berlin("Europe/Berlin");
    const qint64 night = At("2026-03-29T00:30:00", berlin);
    const std::vector<qint64> hours = TickTimes(night, night + 4 * kHour, kHour, berlin);
    ASSERT_EQ(hours.size(), 4u); // 01:00, 03:00, 04:00, 05:00 (02:00 does not exist)
    EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(hours[1], berlin).time(), QTime(3, 0));
    for (std::size_t i = 1; i < hours.size(); ++i)
        EXPECT_EQ(hours[i] - hours[i - 1], kHour);

    // Day ticks at local midnight; nothing for an empty or reversed window.
    const std::vector<qint64> days = TickTimes(night, night + 5 * kDay, kDay, berlin);
    ASSERT_EQ(days.size(), 5u);
    for (const qint64 t : days)
        EXPECT_EQ(QDateTime::fromMSecsSinceEpoch(t, berlin).time(), QTime(0, 0));
    EXPECT_TRUE(TickTimes(night, night - 1, kMin, berlin).empty());
}

TEST(ChartTime, LabelsInTheLocalesClock)
{
    const QTimeZone utc = QTimeZone::utc();
    const qint64 t = At("2026-12-09T16:40:00", utc);
    const QLocale us(QLocale::English, QLocale::UnitedStates), de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(TickLabel(t, 5 * kMin, de, utc), QStringLiteral("16:40"));
    EXPECT_TRUE(TickLabel(t, 5 * kMin, us, utc).startsWith(QStringLiteral("4:40"))) << "12-hour clock";
    EXPECT_EQ(TickLabel(t + 15'000, 5'000, de, utc), QStringLiteral("16:40:15")) << "seconds below a minute";
    const qint64 midnight = At("2026-12-10T00:00:00", utc);
    EXPECT_EQ(TickLabel(midnight, kHour, de, utc), QStringLiteral("10.12.26"));
    EXPECT_EQ(TickLabel(midnight, kDay, us, utc), QStringLiteral("12/10/26"));
}
