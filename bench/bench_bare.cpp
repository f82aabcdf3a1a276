// Bare baselines for the hot paths: the same job done the plainest way with
// the standard library, Qt or system calls, measured in the same run. Their
// ratios, not the times, are what carry from one run or machine to the next:
// a shared machine's pace moves both alike.
#include "bench_common.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <QTemporaryDir>

#include <array>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

// Appending the three reads to a string and cutting the line at CR LF.
static void BM_BareAssembly(benchmark::State &state)
{
    std::string buffer;
    for (auto _ : state) {
        buffer += "T024.0";
        buffer += "6,22.12,?";
        buffer += ",?\r\n";
        const auto end = buffer.find("\r\n");
        std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 2);
        benchmark::DoNotOptimize(line);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareAssembly);

// Splitting at commas, each number read and written back with two decimals.
static void BM_BareReadouts(benchmark::State &state)
{
    const QString line = QStringLiteral("T024.06,22.12,?,-3.50");
    const bool fahrenheit = state.range(0) != 0;
    for (auto _ : state) {
        const QStringList fields = line.mid(2).split(u',');
        for (const QString &f : fields) {
            bool ok = false;
            double v = f.toDouble(&ok);
            if (fahrenheit)
                v = v * 9 / 5 + 32;
            benchmark::DoNotOptimize(ok ? QString::number(v, 'f', 2) : QStringLiteral("-"));
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareReadouts)->Arg(0)->Arg(1);

// Four read-outs read as numbers and compared with a band each.
static void BM_BareThermostat(benchmark::State &state)
{
    const std::array<QString, 4> readouts{QStringLiteral(" 24.06"), QStringLiteral(" 35.00"), QStringLiteral(" -"),
                                          QStringLiteral(" 30.00")};
    for (auto _ : state) {
        std::array<int, 4> action{};
        for (int i = 0; i < 4; ++i) {
            bool ok = false;
            const double v = readouts[i].trimmed().toDouble(&ok);
            action[i] = !ok ? 0 : (v < 24.5 ? 1 : (v > 25.5 ? -1 : 0));
        }
        benchmark::DoNotOptimize(action);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareThermostat);

// The same text from Qt's formatter with the en_US patterns written out.
static void BM_BareTimestamp(benchmark::State &state)
{
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    const QDateTime t(QDate(2008, 10, 25), QTime(15, 49, 29, 47));
    for (auto _ : state) {
        QString text = locale.toString(t, QStringLiteral("M/d/yyyy h:mm:ss AP"));
        text += QStringLiteral("  (%1)").arg(t.time().msec(), 3, 10, QLatin1Char('0'));
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareTimestamp);

// A queue of strings: one command in, one out to a writer.
static void BM_BareSenderTick(benchmark::State &state)
{
    std::deque<std::string> queue;
    std::size_t written = 0;
    for (auto _ : state) {
        queue.emplace_back("T1");
        written += queue.front().size();
        queue.pop_front();
    }
    benchmark::DoNotOptimize(written);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareSenderTick);

// Qt's UTF-8 conversion of the same text (no CR LF, which the file needs).
static void BM_BareFileBytes(benchmark::State &state)
{
    const QString text = DayOfLog(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(text.toUtf8());
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_BareFileBytes)->Arg(50000);

// The bytes written to a new file with write(), fsync() and rename().
static void BM_BareSave(benchmark::State &state)
{
    QTemporaryDir dir;
    const QByteArray bytes = DayOfLog(int(state.range(0))).toUtf8();
    const QByteArray tmp = (dir.path() + QStringLiteral("/day.tmp")).toLocal8Bit();
    const QByteArray path = (dir.path() + QStringLiteral("/day.log")).toLocal8Bit();
    for (auto _ : state) {
        const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size() || ::fsync(fd) != 0) {
            state.SkipWithError("write failed");
            break;
        }
        ::close(fd);
        ::rename(tmp.constData(), path.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_BareSave)->Arg(50000)->Unit(benchmark::kMillisecond);

// A worker hands a call to another thread and waits for it: one mutex, one
// condition variable each way.
static void BM_BareHandOff(benchmark::State &state)
{
    std::mutex m;
    std::condition_variable cv;
    bool pending = false, stop = false;
    int counter = 0;
    std::thread other([&] {
        std::unique_lock lock(m);
        for (;;) {
            cv.wait(lock, [&] { return pending || stop; });
            if (stop)
                return;
            ++counter;
            pending = false;
            cv.notify_all();
        }
    });
    for (auto _ : state) {
        std::unique_lock lock(m);
        pending = true;
        cv.notify_all();
        cv.wait(lock, [&] { return !pending; });
    }
    {
        std::lock_guard lock(m);
        stop = true;
    }
    cv.notify_all();
    other.join();
    benchmark::DoNotOptimize(counter);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BareHandOff)->UseRealTime();

// The command and its reply through the same pseudo-terminal with plain
// write(), poll() and read() on a raw file descriptor.
static void BM_BarePortWriteRead(benchmark::State &state)
{
    const int master = OpenBoardEnd();
    const int fd = ::open(ptsname(master), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
    char buf[64];
    for (auto _ : state) {
        benchmark::DoNotOptimize(::write(fd, "T1", 2));
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 1000);
        benchmark::DoNotOptimize(::read(master, buf, sizeof buf));
        benchmark::DoNotOptimize(::write(master, "T121.53\r\n", 9));
        int got = 0;
        while (got < 9) {
            pollfd q{fd, POLLIN, 0};
            ::poll(&q, 1, 1000);
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got += int(n);
        }
    }
    ::close(fd);
    ::close(master);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BarePortWriteRead)->UseRealTime();
