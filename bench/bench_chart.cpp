// The chart's costs: recording a reading on the user-interface thread, and a
// redraw (decimation of four channels, relay bands, the Qt Charts series)
// with a day and a week of history, at the page's drawing width.
#include "chartpage.h"
#include "samplerecorder.h"

#include <QApplication>
#include <QComboBox>

#include <benchmark/benchmark.h>
#include <stdlib.h>

using namespace q274;

namespace {

constexpr qint64 kStart = 1'700'000'000'000;
constexpr int kPerDay = 100'000; // readings per channel per day
constexpr qint64 kStep = 86'400'000 / kPerDay;

// days of four channels warming and cooling, the relay of channel 1 cycling.
void Fill(TSampleRecorder &rec, qint64 &now, int days)
{
    rec.Start();
    for (int i = 0; i < days * kPerDay; ++i) {
        const double phase = double(i % 2000) / 2000.0;
        for (int ch = 1; ch <= 4; ++ch)
            rec.AddReading(ch, 20.0 + ch + 6.0 * (phase < 0.5 ? phase : 1.0 - phase));
        if (i % 1000 == 0)
            rec.AddRelays({(i / 1000) % 2 == 0, false, false, false});
        now += kStep;
    }
}

} // namespace

static void BM_ChartAppend(benchmark::State &state)
{
    qint64 now = kStart;
    auto rec = std::make_unique<TSampleRecorder>([&now] { return now; });
    rec->Start();
    std::size_t n = 0;
    for (auto _ : state) {
        rec->AddReading(int(n % 4) + 1, 21.5);
        now += 225;                                // each channel every 0.9 s, the board's pace
        if (++n == 7 * 4 * std::size_t(kPerDay)) { // a week: start again
            state.PauseTiming();
            rec = std::make_unique<TSampleRecorder>([&now] { return now; });
            rec->Start();
            n = 0;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ChartAppend);

// Arg: days of history; the whole of it in view ("All").
static void BM_ChartDecimate(benchmark::State &state)
{
    qint64 now = kStart;
    TSampleRecorder rec([&now] { return now; });
    Fill(rec, now, int(state.range(0)));
    for (auto _ : state)
        for (int ch = 1; ch <= 4; ++ch) {
            benchmark::DoNotOptimize(rec.Decimate(ch, kStart, now, 700, false));
            benchmark::DoNotOptimize(rec.RelayBands(ch, kStart, now, (now - kStart) / 700));
        }
    state.counters["MB"] = double(rec.MemoryBytes()) / (1 << 20);
}
BENCHMARK(BM_ChartDecimate)->Arg(1)->Arg(7)->Unit(benchmark::kMillisecond);

static void BM_ChartRedraw(benchmark::State &state)
{
    qint64 now = kStart;
    TSampleRecorder rec([&now] { return now; });
    TChannels channels;
    channels.Settings(1).Enabled = true;
    Fill(rec, now, int(state.range(0)));
    TChartPage page(rec, channels, [] { return false; });
    page.resize(720, 420);
    page.cmbRange->setCurrentIndex(4); // all
    page.Redraw();
    for (auto _ : state)
        page.Redraw();
}
BENCHMARK(BM_ChartRedraw)->Arg(1)->Arg(7)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
