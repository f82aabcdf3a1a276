// Saving a long log: the text-to-bytes step alone, and the whole save (bytes,
// write, fsync, rename) beside a plain write of the same bytes with fsync, as
// `dd conv=fsync` would do it. The files go to Q274_BENCH_DIR, or else to the
// folder of this program: a real disk, since tmpfs has no fsync cost.
#include "logencoder.h"
#include "logfiles.h"
#include "logmodel.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <memory>
#include <sys/statfs.h>
#include <unistd.h>

using namespace q274;

namespace {

// About 60 characters a line: data lines, a message every fourth line and,
// every thousandth, a message in non-ASCII text.
const TLogModel &LogOf(int lines)
{
    static std::map<int, std::unique_ptr<TLogModel>> logs;
    auto &log = logs[lines];
    if (!log) {
        log = std::make_unique<TLogModel>();
        for (int i = 0; i < lines; ++i) {
            const QString time = QStringLiteral("10/25/2008 3:%1:%2 PM")
                                     .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(i % 60, 2, 10, QLatin1Char('0'));
            if (i % 1000 == 999)
                log->AppendLine(
                    time + QString::fromUtf8("\t   Logging enabled in \u00b0C, \u0413\u0440\u0430\u0434\u0443\u0441"));
            else if (i % 4 == 0)
                log->AppendLine(time + QStringLiteral("\t   \t   \t   \t\t  Ch1: heat ON  (30.00)"));
            else
                log->AppendLine(time + QStringLiteral("\t24.06\t22.12\t  -\t  -\t  30.00\t  31.50"));
        }
    }
    return *log;
}

QString BenchFolder()
{
    const QByteArray chosen = qgetenv("Q274_BENCH_DIR");
    if (!chosen.isEmpty())
        return QString::fromLocal8Bit(chosen);
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? QFileInfo(QString::fromLocal8Bit(exe, n)).absolutePath() : QDir::currentPath();
}

// One folder for the whole run, removed at the end.
const QString &Folder()
{
    static QTemporaryDir dir(BenchFolder() + QStringLiteral("/save-bench-XXXXXX"));
    static const QString path = dir.path();
    return path;
}

double Seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

// The baseline: the bytes from memory in 1 MiB writes, fsync, close.
double DdWrite(const QString &path, const QByteArray &bytes)
{
    const auto start = std::chrono::steady_clock::now();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(std::min<qsizetype>(bytes.size() - at, 1 << 20)));
        if (n <= 0)
            break;
        at += n;
    }
    ::fsync(fd);
    ::close(fd);
    return Seconds(start);
}

// A whole save next to the baseline, turn about, so both see the same disk.
template <class Save> void WholeSave(benchmark::State &state, Save save)
{
    const TLogModel &log = LogOf(int(state.range(0)));
    const QByteArray bytes = LogFileBytes(log.Text());
    const QString target = Folder() + QStringLiteral("/saved.log"), plain = Folder() + QStringLiteral("/dd.bin");
    double saveTotal = 0, ddTotal = 0;
    for (auto _ : state) {
        ddTotal += DdWrite(plain, bytes);
        const auto start = std::chrono::steady_clock::now();
        save(target, log);
        const double took = Seconds(start);
        saveTotal += took;
        state.SetIterationTime(took);
    }
    if (QFileInfo(target).size() != bytes.size())
        state.SkipWithError("the saved file has the wrong size");
    const double mb = double(bytes.size()) * double(state.iterations()) / 1e6;
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["dd_MB/s"] = mb / ddTotal;
    state.counters["save_MB/s"] = mb / saveTotal;
    state.counters["x_dd"] = saveTotal / ddTotal;
    // The baseline's time per save, beside the save's own (the benchmark's time).
    state.counters["dd_ms"] = ddTotal * 1e3 / double(state.iterations());
    QFile::remove(target);
    QFile::remove(plain);
}

} // namespace

// The model's text (lines joined with CR LF) to bytes.
static void BM_SaveBytesFromText(benchmark::State &state)
{
    const QString text = LogOf(int(state.range(0))).Text();
    qsizetype size = 0;
    for (auto _ : state)
        size = LogFileBytes(text).size();
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_SaveBytesFromText)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The same text to bytes through the save's own buffer of a megabyte, each
// full buffer handed on and forgotten: the encoding a save of the text does,
// without the growing copy of the whole file in memory above.
static void BM_SaveBytesStreamed(benchmark::State &state)
{
    const QString text = LogOf(int(state.range(0))).Text();
    qsizetype size = 0;
    for (auto _ : state) {
        size = 0;
        TLogFileEncoder out(TLogFileEncoder::kChunk, [&size](const char *, qsizetype n) { size += n; });
        out.Text(text);
        out.LineEnd();
        out.Flush();
    }
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_SaveBytesStreamed)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The baseline of the two above: one pass reading the same text, nothing
// written (memchr for a byte the text never holds). Where the text no longer
// fits in the caches this is the memory's own pace, which the encoding pays too.
static void BM_ReadTextOnce(benchmark::State &state)
{
    const QString text = LogOf(int(state.range(0))).Text();
    const auto bytes = size_t(text.size()) * sizeof(QChar);
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memchr(text.constData(), 0xff, bytes));
    state.SetBytesProcessed(state.iterations() * qint64(bytes));
}
BENCHMARK(BM_ReadTextOnce)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The lines straight to bytes, as the window can hand them over.
static void BM_SaveBytesFromLines(benchmark::State &state)
{
    const QStringList &lines = LogOf(int(state.range(0))).Lines();
    qsizetype size = 0;
    for (auto _ : state)
        size = LogFileBytesFromLines(lines).size();
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_SaveBytesFromLines)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

static void BM_WholeSaveFromText(benchmark::State &state)
{
    WholeSave(state, [](const QString &path, const TLogModel &log) { WriteLogFile(path, log.Text()); });
}
BENCHMARK(BM_WholeSaveFromText)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

static void BM_WholeSaveFromLines(benchmark::State &state)
{
    WholeSave(state, [](const QString &path, const TLogModel &log) { WriteLogFileLines(path, log.Lines()); });
}
BENCHMARK(BM_WholeSaveFromLines)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

// What Save Log, Clear Log and autosave do: the model already holds the
// file's bytes, so the save is the write alone.
static void BM_WholeSaveFromModel(benchmark::State &state)
{
    WholeSave(state, [](const QString &path, const TLogModel &log) { WriteLogFileBytes(path, *log.FileBytes()); });
}
BENCHMARK(BM_WholeSaveFromModel)->Arg(10000)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    struct statfs fs {};
    const bool memory = ::statfs(QFile::encodeName(Folder()).constData(), &fs) == 0 && fs.f_type == TMPFS_MAGIC;
    benchmark::AddCustomContext("save folder",
                                (Folder() + (memory ? " (tmpfs: fsync costs nothing)" : "")).toStdString());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
