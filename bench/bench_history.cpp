// Reading a long log back for the chart: lines parsed a second by the
// history reader, beside counting the same file's lines as `wc -l` does (a
// read of 1 MiB pieces and a count of the line breaks), so the figure says
// what the parsing costs over just reading the bytes. The file: a month of
// data lines with a flood of relay events between them, written by the log
// model in de_DE, into Q274_BENCH_DIR or the program's folder.
#include "datalines.h"
#include "history.h"
#include "logfiles.h"
#include "logmodel.h"
#include "rstrings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

using namespace q274;

namespace {

struct Counting : HistorySink {
    qint64 Readings = 0;
    void Reading(qint64, int, double) override { ++Readings; }
    void Relay(qint64, int, bool) override {}
    void Connected(qint64) override {}
    void Disconnected(qint64) override {}
};

QString BenchFile()
{
    static const QString path = [] {
        QString dir = qEnvironmentVariable("Q274_BENCH_DIR");
        if (dir.isEmpty()) {
            char exe[4096];
            const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
            dir = n > 0 ? QFileInfo(QString::fromLocal8Bit(exe, n)).absolutePath() : QDir::currentPath();
        }
        const QString file = dir + QStringLiteral("/bench-history.log");
        // A month of data lines, a minute apart, with nine relay events
        // after each: about 430 000 lines, 32 MB.
        TLogModel log;
        log.Locale = QLocale(QLocale::German, QLocale::Germany);
        QDateTime now(QDate(2026, 11, 1), QTime(0, 0, 0));
        log.Clock = [&now] { return now; };
        log.Restart({QStringLiteral("Q274")}, MessageIndent);
        for (int minute = 0; minute < 31 * 24 * 60; ++minute) {
            log.LogMessage(ComposeDataFields({QStringLiteral(" 24,06"), QStringLiteral(" 22,12"),
                                              QStringLiteral(" -"), QStringLiteral(" 30,50")}));
            for (int e = 0; e < 9; ++e) {
                now = now.addSecs(6);
                log.LogMessage(MessageIndent + (e % 2 ? QStringLiteral("Ch1: heat OFF  (33,05)")
                                                      : QStringLiteral("Ch1: heat ON  (29,95)")));
            }
        }
        WriteLogFileLines(file, log.Lines());
        return file;
    }();
    return path;
}

void BM_HistoryRead(benchmark::State &state)
{
    const QString path = BenchFile();
    const StampFormat format(QLocale(QLocale::German, QLocale::Germany));
    qint64 lines = 0;
    for (auto _ : state) {
        Counting sink;
        HistoryLineReader reader(sink, format);
        ReadLogFile(path, reader);
        lines = reader.Counts().Lines;
        benchmark::DoNotOptimize(sink.Readings);
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = double(QFileInfo(path).size()) / 1e6;
}
BENCHMARK(BM_HistoryRead)->Unit(benchmark::kMillisecond);

// What `wc -l` does: read the bytes and count the line breaks.
void BM_CountLines(benchmark::State &state)
{
    const QByteArray path = QFile::encodeName(BenchFile());
    qint64 lines = 0;
    std::vector<char> buf(1 << 20);
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY);
        lines = 0;
        for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;)
            for (ssize_t i = 0; i < n; ++i)
                lines += buf[std::size_t(i)] == '\n';
        ::close(fd);
    }
    state.counters["lines/s"] = benchmark::Counter(double(lines), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CountLines)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
