// Hot paths of a long unattended run: every received chunk goes through the
// reply assembler and router, every reply through the read-out and thermostat
// rules, every log line through the timestamp, and a day's log through the
// file writer.
#include "bench_common.h"
#include "commandqueue.h"
#include "comport.h"
#include "datalines.h"
#include "logfiles.h"
#include "protocol.h"
#include "thermostat.h"
#include "timestamp.h"
#include "uisync.h"

#include <QTemporaryDir>

#include <atomic>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace q274;

static void BM_ReplyAssembly(benchmark::State &state)
{
    // A typical all-channel reply arriving in three reads.
    ReplyAssembler a;
    std::int64_t lines = 0;
    for (auto _ : state) {
        a.Feed("T024.0");
        a.Feed("6,22.12,?");
        auto r = a.Feed(",?\r\n");
        lines += r.Status == ReplyAssembler::LineStatus::Line;
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(lines);
}
BENCHMARK(BM_ReplyAssembly);

static void BM_AllChannelReadouts(benchmark::State &state)
{
    const QString line = QStringLiteral("T024.06,22.12,?,-3.50");
    const bool fahrenheit = state.range(0) != 0;
    for (auto _ : state) {
        const auto fields = SplitAllChannels(line);
        for (const QString &f : fields)
            benchmark::DoNotOptimize(ReadoutText(f, fahrenheit, u'.', QStringLiteral("-")));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AllChannelReadouts)->Arg(0)->Arg(1);

static void BM_Thermostat(benchmark::State &state)
{
    std::array<ChannelSettings, 4> settings{};
    for (auto &s : settings)
        s.Enabled = true;
    const std::array<QString, 4> readouts{QStringLiteral(" 24.06"), QStringLiteral(" 35.00"), QStringLiteral(" -"),
                                          QStringLiteral(" 30.00")};
    const std::array<bool, 4> relayOn{false, true, false, false};
    for (auto _ : state)
        benchmark::DoNotOptimize(RunChannelControl(settings, readouts, u'.', relayOn));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Thermostat);

static void BM_Timestamp(benchmark::State &state)
{
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    const QDateTime t(QDate(2008, 10, 25), QTime(15, 49, 29, 47));
    for (auto _ : state)
        benchmark::DoNotOptimize(FormatTimestamp(t, locale, true));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Timestamp);

static void BM_SenderTick(benchmark::State &state)
{
    CommandSender sender;
    bool ready = true;
    std::size_t written = 0;
    for (auto _ : state) {
        sender.QueueCommand("T1");
        sender.Tick(true, ready, [&](const std::string &s) { written += s.size(); });
        ready = true;
    }
    benchmark::DoNotOptimize(written);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SenderTick);

QString DayOfLog(int lines)
{
    QString text;
    const QString data = QStringLiteral("10/25/2008 3:49:37 PM\t24.06\t22.12\t  -\t  -\n");
    const QString msg = QStringLiteral("10/25/2008 3:49:37 PM\t   \t   \t   \t\t  Ch1: heat ON  (30.00)\n");
    for (int i = 0; i < lines; ++i)
        text += (i % 4 == 0) ? msg : data;
    return text;
}

static void BM_LogFileBytes(benchmark::State &state)
{
    const QString text = DayOfLog(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(LogFileBytes(text));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_LogFileBytes)->Arg(2000)->Arg(50000);

static void BM_WriteLogFile(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString text = DayOfLog(int(state.range(0)));
    const QString path = dir.path() + QStringLiteral("/day.log");
    for (auto _ : state)
        WriteLogFile(path, text);
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_WriteLogFile)->Arg(2000)->Arg(50000)->Unit(benchmark::kMillisecond);

// Round trip of the blocking hand-off: a worker waits for the UI thread.
static void BM_HandOff(benchmark::State &state)
{
    std::atomic<bool> stop{false}, ready{false};
    std::thread ui([&] {
        UiSync::SetMainThread();
        ready = true;
        UiSync::WaitUntil([&] { return stop.load(); }, std::chrono::milliseconds(1));
    });
    while (!ready.load())
        std::this_thread::yield();
    int counter = 0;
    for (auto _ : state)
        UiSync::Synchronize([&] { ++counter; });
    stop = true;
    UiSync::Wake();
    ui.join();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HandOff)->UseRealTime();

int OpenBoardEnd()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    return master;
}

// Write a command and read it back through a pseudo-terminal with the port
// component.
static void BM_PortWriteRead(benchmark::State &state)
{
    const int master = OpenBoardEnd();
    TComPort port;
    port.SetPort(QString::fromLocal8Bit(ptsname(master)));
    port.SetEvents(0); // no event thread: measure the transfers alone
    port.OpenPort();
    char buf[64];
    std::string reply;
    for (auto _ : state) {
        port.WriteText("T1");
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 1000);
        benchmark::DoNotOptimize(::read(master, buf, sizeof buf));
        ::write(master, "T121.53\r\n", 9);
        int got = 0;
        while (got < 9) {
            const int n = port.PendingInput();
            if (n > 0)
                got += port.ReadText(reply, n);
        }
    }
    port.ClosePort();
    ::close(master);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PortWriteRead)->UseRealTime();

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
