// The chart's history: what is recorded when, the gaps, the reduction for
// drawing and the CSV export.
#include "samplerecorder.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace q274;

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

struct History {
    qint64 now = 1'700'000'000'000; // 2023-11-14T22:13:20Z
    TSampleRecorder rec{[this] { return now; }};
};

std::vector<double> Values(const TSampleRecorder::Run &run)
{
    std::vector<double> v;
    for (const auto &p : run)
        v.push_back(p.Value);
    return v;
}

} // namespace

TEST(SampleRecorder, RecordsOnlyWhileConnectedAndBreaksLinesAtGaps)
{
    History h;
    h.rec.AddReading(1, 20.0);
    EXPECT_EQ(h.rec.SampleCount(1), 0u) << "nothing before the connection opens";
    EXPECT_FALSE(h.rec.LastTime());

    int changes = 0;
    h.rec.OnChanged = [&changes] { ++changes; };
    h.rec.Start();
    const qint64 t0 = h.now;
    for (double v : {20.0, 21.0, 22.0}) {
        h.rec.AddReading(1, v);
        h.now += 1000;
    }
    h.rec.AddReading(1, kNone); // a reply without a reading
    h.now += 1000;
    h.rec.AddReading(1, 23.0);
    h.rec.Stop();
    h.now += 60'000;
    h.rec.AddReading(1, 99.0); // disconnected: dropped
    h.rec.Start();
    h.rec.AddReading(1, 24.0);
    h.now += 1000;
    h.rec.AddReading(1, 25.0);

    EXPECT_EQ(h.rec.SampleCount(1), 7u);
    EXPECT_EQ(h.rec.SampleCount(2), 0u);
    EXPECT_EQ(changes, 8) << "seven readings and one disconnect";
    EXPECT_EQ(h.rec.FirstTime(), t0);
    EXPECT_EQ(h.rec.LastTime(), h.now);

    // Enough columns that nothing is reduced: the line breaks at the reply
    // without a reading and at the disconnect.
    const auto runs = h.rec.Decimate(1, t0, h.now, 1000, false);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(Values(runs[0]), (std::vector<double>{20, 21, 22}));
    EXPECT_EQ(Values(runs[1]), (std::vector<double>{23}));
    EXPECT_EQ(Values(runs[2]), (std::vector<double>{24, 25}));
    EXPECT_EQ(runs[0][1].Time, t0 + 1000);

    // A clock set back never unsorts the history.
    h.now -= 3'600'000;
    h.rec.AddReading(1, 26.0);
    const auto all = h.rec.Decimate(1, t0, std::numeric_limits<qint64>::max(), 1000, false);
    EXPECT_EQ(all.back().back().Value, 26.0);
    EXPECT_GE(all.back().back().Time, all.back().front().Time);
}

TEST(SampleRecorder, DecimationKeepsEachColumnsExtremesInTheChosenUnit)
{
    History h;
    h.rec.Start();
    const qint64 t0 = h.now;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(15.0f, 35.0f);
    std::vector<std::pair<qint64, float>> all;
    for (int i = 0; i < 20'000; ++i) {
        const float v = noise(rng);
        h.rec.AddReading(2, v);
        all.push_back({h.now, v});
        h.now += 900;
    }
    // A view inside the history: 100 columns of the middle half.
    const qint64 from = t0 + 4'500'000, to = t0 + 13'500'000;
    constexpr int kColumns = 100;
    const auto runs = h.rec.Decimate(2, from, to, kColumns, false);
    ASSERT_EQ(runs.size(), 1u);
    const auto &run = runs[0];
    EXPECT_LE(run.size(), std::size_t(2 * kColumns + 2));
    EXPECT_LT(run.front().Time, from) << "the line runs in from the left edge";
    EXPECT_GT(run.back().Time, to) << "and out at the right edge";
    for (std::size_t i = 1; i < run.size(); ++i)
        ASSERT_LT(run[i - 1].Time, run[i].Time) << "points in time order";

    const double span = double(to - from);
    for (int col = 0; col < kColumns; ++col) {
        float lo = 1e9f, hi = -1e9f;
        for (const auto &[t, v] : all)
            if (t >= from && t <= to && std::min(int(double(t - from) * kColumns / span), kColumns - 1) == col) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        double seenLo = 1e9, seenHi = -1e9;
        for (const auto &p : run)
            if (p.Time >= from && p.Time <= to
                && std::min(int(double(p.Time - from) * kColumns / span), kColumns - 1) == col) {
                seenLo = std::min(seenLo, p.Value);
                seenHi = std::max(seenHi, p.Value);
            }
        ASSERT_EQ(seenLo, double(lo)) << "column " << col;
        ASSERT_EQ(seenHi, double(hi)) << "column " << col;
    }

    // The same history in Fahrenheit: converted at drawing, same shape.
    const auto fahrenheit = h.rec.Decimate(2, from, to, kColumns, true);
    ASSERT_EQ(fahrenheit[0].size(), run.size());
    for (std::size_t i = 0; i < run.size(); ++i)
        EXPECT_NEAR(fahrenheit[0][i].Value, run[i].Value * 1.8 + 32, 1e-9);

    EXPECT_TRUE(h.rec.Decimate(2, to, from, kColumns, false).empty());
    EXPECT_TRUE(h.rec.Decimate(3, from, to, kColumns, false).empty());
}

TEST(SampleRecorder, RelayBandsFollowTheStatusReplies)
{
    History h;
    const qint64 t0 = h.now;
    h.rec.Start();
    h.rec.AddRelays({true, false, false, false}); // t0: relay 1 on
    h.now += 10'000;
    h.rec.AddRelays({true, false, false, false}); // repeated: no change
    h.rec.AddRelays({false, true, false, false}); // t0+10 s: 1 off, 2 on
    h.now += 500;
    h.rec.AddRelays({true, true, false, false}); // t0+10.5 s: 1 on again
    h.now += 9'500;
    h.rec.Stop(); // t0+20 s: both end with the connection

    using B = std::vector<std::pair<qint64, qint64>>;
    auto bands = [&](int ch, qint64 from, qint64 to, qint64 join) {
        B out;
        for (const auto &b : h.rec.RelayBands(ch, from, to, join))
            out.push_back({b.From - t0, b.To - t0});
        return out;
    };
    EXPECT_EQ(bands(1, t0, t0 + 60'000, 0), (B{{0, 10'000}, {10'500, 20'000}}));
    EXPECT_EQ(bands(1, t0, t0 + 60'000, 1000), (B{{0, 20'000}})) << "a gap under one column is joined";
    EXPECT_EQ(bands(1, t0 + 5000, t0 + 12'000, 0), (B{{5000, 10'000}, {10'500, 12'000}})) << "clipped";
    EXPECT_EQ(bands(2, t0, t0 + 60'000, 0), (B{{10'000, 20'000}}));
    EXPECT_TRUE(bands(3, t0, t0 + 60'000, 0).empty());

    // While connected, a relay still on reaches the present.
    h.now += 5000;
    h.rec.Start();
    h.rec.AddRelays({false, false, true, false});
    h.now += 3000;
    EXPECT_EQ(bands(3, t0, t0 + 60'000, 0), (B{{25'000, 28'000}}));
}

TEST(SampleRecorder, CsvHoldsEveryMomentInCelsiusWithLocalTimeAndGaps)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); // "," would be wrong
    History h;
    h.now = 1'711'846'799'250; // 2024-03-31T00:59:59.250Z: Berlin at 01:59:59 +01:00
    h.rec.Start();
    h.rec.AddRelays({false, true, false, false});
    for (int ch = 1; ch <= 4; ++ch)
        h.rec.AddReading(ch, ch == 3 ? kNone : 20.0 + ch + 0.06); // an all-channel reply
    h.now += 1000;                                                // summer time has begun: 03:00:00.250 +02:00
    h.rec.AddReading(2, -5.5);
    h.rec.AddRelays({true, true, false, true});
    h.rec.AddReading(4, 150.0);
    h.rec.Stop(); // at the same moment: its readings keep their relay states
    h.now += 5000;
    h.rec.Start();
    h.rec.AddReading(1, 19.99);

    const QByteArray csv = h.rec.CsvBytes(QTimeZone("Europe/Berlin"));
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(csv.toStdString(), "time,ch1,ch2,ch3,ch4,relays\r\n"
                                 "2024-03-31T01:59:59.250+01:00,21.06,22.06,,24.06,0 1 0 0\r\n"
                                 "2024-03-31T03:00:00.250+02:00,,-5.5,,150,1 1 0 1\r\n"
                                 "2024-03-31T03:00:00.250+02:00,,,,,\r\n"
                                 "2024-03-31T03:00:05.250+02:00,19.99,,,,\r\n");

    // West of Greenwich and before the epoch's offset rules: a fixed zone.
    History w;
    w.now = 5; // 1970-01-01T00:00:00.005Z
    w.rec.Start();
    w.rec.AddReading(1, 0.5);
    EXPECT_EQ(w.rec.CsvBytes(QTimeZone(-(3 * 3600 + 30 * 60))).toStdString(),
              "time,ch1,ch2,ch3,ch4,relays\r\n1969-12-31T20:30:00.005-03:30,0.5,,,,\r\n");
}

TEST(SampleRecorder, AWeekOfReadingsFitsInFiftyMegabytes)
{
    History h;
    h.rec.Start();
    constexpr int kPerDay = 100'000;
    for (int i = 0; i < 7 * kPerDay; ++i) {
        for (int ch = 1; ch <= 4; ++ch)
            h.rec.AddReading(ch, 20.0 + (i % 100) * 0.01);
        h.now += 864;
    }
    EXPECT_EQ(h.rec.SampleCount(4), std::size_t(7 * kPerDay));
    EXPECT_LT(h.rec.MemoryBytes(), std::size_t(50) << 20);
}

TEST(SampleRecorder, ABabblingLineKeepsAtMostTwoSamplesASecond)
{
    History h;
    const qint64 t0 = h.now;
    h.rec.Start();
    // Ten seconds of readings and relay flips every millisecond.
    for (int i = 0; i < 10'000; ++i, ++h.now) {
        h.rec.AddReading(1, 20.0 + (i % 100) * 0.01);
        h.rec.AddRelays({i % 2 == 0, false, false, false});
    }
    EXPECT_EQ(h.rec.SampleCount(1), 20u);
    const auto runs = h.rec.Decimate(1, t0, h.now, 1000, false);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].size(), 20u);
    EXPECT_FLOAT_EQ(float(runs[0].back().Value), 20.99f) << "a slot keeps its latest reading";
    EXPECT_EQ(runs[0].back().Time, h.now - 1);
    EXPECT_LE(h.rec.RelayBands(1, 0, h.now, 0).size(), 10u);

    // The board's own pace is kept whole: one reading per channel each 0.9 s.
    h.now += 900;
    h.rec.AddReading(2, 21.0);
    h.now += 900;
    h.rec.AddReading(2, 21.5);
    EXPECT_EQ(h.rec.SampleCount(2), 2u);
    // A flip back within the slot leaves no trace.
    h.now += 1000;
    h.rec.AddRelays({false, true, false, false});
    h.now += 100;
    h.rec.AddRelays({false, false, false, false});
    EXPECT_TRUE(h.rec.RelayBands(2, 0, h.now, 0).empty());
}

TEST(SampleRecorder, HistoryOlderThanAMonthIsLetGoAChunkAtATime)
{
    History h;
    const qint64 t0 = h.now;
    h.rec.Start();
    h.rec.AddRelays({true, false, false, false}); // on all along
    h.rec.Stop();
    h.rec.Start();
    // 60 days of a reading a minute: 86 400 readings, about ten chunks.
    for (int i = 0; i < 60 * 1440; ++i, h.now += 60'000)
        h.rec.AddReading(1, 20.0 + (i % 50) * 0.1);
    h.rec.AddRelays({true, false, false, false});
    const qint64 first = *h.rec.FirstTime();
    EXPECT_LT(first, h.now - TSampleRecorder::kKeepMs);
    EXPECT_GT(first, h.now - TSampleRecorder::kKeepMs - 2 * qint64(SampleColumn::kChunk) * 60'000);
    EXPECT_LT(h.rec.SampleCount(1), 31u * 1440 + 2 * SampleColumn::kChunk);

    // What is kept still draws and exports as one stretch from its start.
    const auto runs = h.rec.Decimate(1, t0, h.now, 700, false);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_GE(runs[0].front().Time, first);
    EXPECT_EQ(h.rec.CsvBytes(QTimeZone::utc()).count('\n'), qsizetype(h.rec.SampleCount(1)) + 1);
    EXPECT_EQ(h.rec.RelayBands(1, first, h.now, 0).size(), 1u) << "the relay state before the cut is kept";
}
