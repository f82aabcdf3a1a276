// The log view at up to a million lines: the window's own wiring (TLogModel,
// its journal and memLog on the visible Log page) beside a bare
// QPlainTextEdit that only calls appendPlainText, the same lines and the same
// paint per event-loop turn for both.
//
// - Append/N/K: cost per appended line with N lines in the view, K lines per
//   turn, each turn ending in processEvents and a repaint of the viewport.
// - Sustained: 10,000 lines a second arriving in turns of a millisecond;
//   lines/s reached and the cores used, Qt painting at its own pace.
// - Memory: resident memory grown by a million 60-character lines.
// - Clear: Clear Log / autosave at a million lines: the longest event-loop
//   turn during it and after it, and the save alone beside it.
#include "journal.h"
#include "logfiles.h"
#include "logmodel.h"
#include "logview.h"
#include "look.h"
#include "mainwindow.h"
#include "rstrings.h"
#include "uisync.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <optional>
#include <stdlib.h>
#include <string>

using namespace q274;

namespace {

QTemporaryDir *gHome = nullptr;

// Log line number i: 60 characters, as a data line of four channels.
QString Line(qint64 i)
{
    QString s = QStringLiteral("10:31:%1\t%2\t21.50\t22.75\t23.00\t24.25")
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(i % 100000000, 8, 10, QLatin1Char('0'));
    s.append(QString(60 - s.size(), QLatin1Char(' ')));
    return s;
}

long ResidentBytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10) * 1024;
    return -1;
}

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// One of the two subjects: the program's window, or a bare QPlainTextEdit
// set up as memLog is.
struct Subject {
    virtual ~Subject() = default;
    virtual void Append(const QString &line) = 0;
    virtual QPlainTextEdit *View() = 0;
    virtual qint64 Count() = 0;
    // Writes what the view holds back, if anything.
    virtual void Settle() {}
    // Empties the view.
    virtual void Restart() = 0;
    qint64 next = 0;

    void Turn()
    {
        QApplication::processEvents();
        View()->viewport()->repaint();
    }
    // Lines appended at once, where the subject can take them faster than one by one.
    virtual void AppendMany(const QStringList &lines)
    {
        for (const QString &line : lines)
            Append(line);
    }
    // Grows the view to n lines in large turns.
    void FillTo(qint64 n)
    {
        while (Count() < n) {
            QStringList lines;
            for (qint64 k = Count(); k < n && lines.size() < 10000; ++k)
                lines << Line(next++);
            AppendMany(lines);
            Turn();
        }
        Settle();
        Turn();
    }
};

struct Window : Subject {
    std::unique_ptr<TfrmMain> w;
    Window()
    {
        w = std::make_unique<TfrmMain>();
        w->StartJournal(gHome->filePath(QStringLiteral("journal")));
        w->show(); // writes the banner
        w->ShowLogPage();
        QApplication::processEvents();
    }
    void Append(const QString &line) override { w->AppendLogLine(line); }
    QPlainTextEdit *View() override { return LogView(); }
    qint64 Count() override { return w->LogModel().Count(); }
    void Settle() override { LogView()->Flush(); }
    TLogView *LogView() const { return w->findChild<TLogView *>(QStringLiteral("memLog")); }
    void Restart() override { w->ShowLogBanner(); }
};

struct Bare : Subject {
    QPlainTextEdit view;
    Bare()
    {
        view.setReadOnly(true);
        view.setLineWrapMode(QPlainTextEdit::NoWrap);
        view.setUndoRedoEnabled(false);
        view.setFont(QFont(QStringLiteral("monospace"), 10));
        view.resize(840, 470);
        view.show();
        QApplication::processEvents();
    }
    void Append(const QString &line) override { view.appendPlainText(line); }
    // One append of many lines makes the same blocks as many appends, in a
    // fraction of the time: filling a bare view line by line to a million
    // took longer than the whole rest of the run.
    void AppendMany(const QStringList &lines) override { view.appendPlainText(lines.join(QLatin1Char('\n'))); }
    QPlainTextEdit *View() override { return &view; }
    qint64 Count() override { return view.blockCount(); }
    void Restart() override { view.clear(); }
};

// The growing subjects of Append, kept from one size to the next.
template <class T> std::unique_ptr<T> &Kept()
{
    static std::unique_ptr<T> s;
    return s;
}

template <class T> T &Keep()
{
    if (!Kept<T>())
        Kept<T>() = std::make_unique<T>();
    return *Kept<T>();
}

void DropKept()
{
    Kept<Window>().reset();
    Kept<Bare>().reset();
    ::malloc_trim(0);
}

template <class T> void Append(benchmark::State &state)
{
    T &s = Keep<T>();
    const qint64 n = state.range(0);
    const int k = int(state.range(1));
    s.FillTo(n);
    qint64 lines = 0;
    // Where a turn's time goes: the appends, the events (the frame's edit),
    // the repaint.
    double appendNs = 0, eventsNs = 0, paintNs = 0;
    QElapsedTimer t;
    for (auto _ : state) {
        t.start();
        for (int i = 0; i < k; ++i)
            s.Append(Line(s.next++));
        appendNs += double(t.nsecsElapsed());
        t.start();
        QApplication::processEvents();
        eventsNs += double(t.nsecsElapsed());
        t.start();
        s.View()->viewport()->repaint();
        paintNs += double(t.nsecsElapsed());
        lines += k;
        if (s.Count() > 2 * n) { // measured near n lines, not far beyond
            s.Settle();          // every line appended is written within the timing
            s.Turn();
            state.PauseTiming();
            s.Restart();
            s.FillTo(n);
            state.ResumeTiming();
        }
    }
    s.Settle();
    s.Turn();
    // The last line written (the window's text ends in a line break).
    QTextCursor last(s.View()->document());
    last.movePosition(QTextCursor::End);
    if (last.atBlockStart() || s.View()->document()->characterAt(last.position() - 1) == QChar::LineSeparator)
        last.movePosition(QTextCursor::Left);
    const QRect r = s.View()->cursorRect(last);
    if (r.top() < 0 || r.bottom() > s.View()->viewport()->height())
        state.SkipWithError(QStringLiteral("the view does not show the last line: %1..%2 of %3, bar %4 of %5")
                                .arg(r.top())
                                .arg(r.bottom())
                                .arg(s.View()->viewport()->height())
                                .arg(s.View()->verticalScrollBar()->value())
                                .arg(s.View()->verticalScrollBar()->maximum())
                                .toStdString()
                                .c_str());
    state.counters["lines"] = double(s.Count());
    state.counters["append_us"] = appendNs * 1e-3 / double(state.iterations());
    state.counters["events_us"] = eventsNs * 1e-3 / double(state.iterations());
    state.counters["paint_us"] = paintNs * 1e-3 / double(state.iterations());
    state.counters["per_line"] =
        benchmark::Counter(double(lines), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Args(benchmark::internal::Benchmark *b)
{
    for (int n : {1000, 10000, 100000, 1000000})
        for (int k : {1, 100})
            b->Args({n, k});
    b->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
}

template <class T> void Sustained(benchmark::State &state)
{
    DropKept();
    auto s = std::make_unique<T>();
    const int rate = int(state.range(0));
    int paints = 0;
    struct Counter : QObject {
        int *n;
        explicit Counter(int *c) : n(c) {}
        bool eventFilter(QObject *, QEvent *e) override
        {
            *n += e->type() == QEvent::Paint;
            return false;
        }
    } counter(&paints);
    s->View()->viewport()->installEventFilter(&counter);
    for (auto _ : state) {
        const qint64 span = 3000; // ms
        const double cpu0 = ProcessCpuSeconds();
        QElapsedTimer wall;
        wall.start();
        paints = 0;
        // Lines arrive in many small turns: every millisecond the ones due.
        qint64 sent = 0;
        QEventLoop loop;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            const qint64 now = wall.elapsed();
            for (const qint64 due = std::min(now, span) * rate / 1000; sent < due; ++sent)
                s->Append(Line(s->next++));
            if (now >= span)
                loop.quit();
        });
        tick.start();
        loop.exec();
        QApplication::processEvents();
        const double secs = double(wall.nsecsElapsed()) * 1e-9;
        state.counters["lines_per_s"] = double(sent) / secs;
        state.counters["cores"] = (ProcessCpuSeconds() - cpu0) / secs;
        state.counters["paints_per_s"] = paints / secs;
        state.SetIterationTime(secs);
    }
    s->View()->viewport()->removeEventFilter(&counter);
}

template <class T> void Memory(benchmark::State &state)
{
    DropKept();
    const qint64 n = state.range(0);
    for (auto _ : state) {
        ::malloc_trim(0);
        const long before = ResidentBytes();
        auto s = std::make_unique<T>();
        while (s->next < n) {
            for (int k = 0; k < 100 && s->next < n; ++k)
                s->Append(Line(s->next++));
            s->Turn();
        }
        const long grown = ResidentBytes() - before;
        state.counters["bytes_per_line"] = double(grown) / double(n);
        // Beyond one copy of the text in UTF-16 (the view's own) and its line break.
        state.counters["beyond_text"] = double(grown) / double(n) - 61 * 2;
        state.PauseTiming();
        s.reset();
        ::malloc_trim(0);
        state.ResumeTiming();
    }
}

double Ms(const QElapsedTimer &t) { return double(t.nsecsElapsed()) * 1e-6; }

// Clear Log with its save, or the autosave (the same steps), with a million
// lines, as the user feels it: the longest turn of a running event loop while
// Clear Log runs in it (the save included, since the window waits for it), and
// the longest of the turns in the half second after (the old view is deleted
// in a later turn). A zero-time timer fires on every turn, so the gap between
// two of its calls is the time the loop was busy with anything else. The save
// alone, written the same way to the same place, is given beside it and never
// taken away from it. The file goes to memory when it can (/dev/shm), so the
// disk's mood does not dominate; restart_ms times the steps after the save.
void Clear(benchmark::State &state)
{
    DropKept();
    const qint64 n = state.range(0);
    Window s;
    QTemporaryDir shm(QFileInfo(QStringLiteral("/dev/shm")).isDir()
                          ? QStringLiteral("/dev/shm/q274bench-XXXXXX")
                          : QDir::tempPath() + QStringLiteral("/q274bench-XXXXXX"));
    const QString path = shm.filePath(QStringLiteral("autosave.log"));
    for (auto _ : state) {
        state.PauseTiming();
        s.FillTo(n);
        s.Settle();
        s.Turn();
        // The save alone: the bytes the window saves, written the same way.
        const QByteArray bytes = s.w->LogModel().FileBytes().value_or(LogFileBytes(s.w->LogText()));
        QElapsedTimer t;
        t.start();
        WriteLogFileBytes(path, bytes);
        const double saveMs = Ms(t);
        state.ResumeTiming();

        QEventLoop loop;
        QTimer beat;
        beat.setInterval(0);
        QElapsedTimer sinceBeat, sinceClear;
        double clearTurnMs = 0, laterTurnMs = 0;
        bool cleared = false;
        QObject::connect(&beat, &QTimer::timeout, &loop, [&] {
            const double gap = Ms(sinceBeat);
            sinceBeat.start();
            if (!cleared)
                return;
            if (clearTurnMs == 0) { // the first beat after the clear's own turn
                clearTurnMs = gap;
                sinceClear.start();
                return;
            }
            laterTurnMs = std::max(laterTurnMs, gap);
            if (sinceClear.elapsed() >= 500)
                loop.quit();
        });
        QTimer::singleShot(50, &loop, [&] {
            s.w->SaveLogAndClear(path);
            s.View()->viewport()->repaint();
            cleared = true;
        });
        sinceBeat.start();
        beat.start();
        loop.exec();
        beat.stop();

        // The clear's steps after the save, timed on their own: what Clear
        // Log does when the user does not keep the log.
        state.PauseTiming();
        s.FillTo(n);
        s.Settle();
        s.Turn();
        t.restart();
        s.w->ShowLogBanner();
        s.w->LogMessage(q274::MessageIndent + QStringLiteral("Log contents have been cleared"));
        const double restartMs = Ms(t);
        state.ResumeTiming();
        state.counters["save_ms"] = saveMs;
        state.counters["clear_turn_ms"] = clearTurnMs;
        state.counters["later_turn_ms"] = laterTurnMs;
        state.counters["restart_ms"] = restartMs;
        s.next = 0;
    }
}

// The steps of a clear one by one, each on a million lines: building the
// text (what the save took before the model kept the file's bytes), the
// model's restart, the view's and the journal's.
void ClearSteps(benchmark::State &state)
{
    DropKept();
    const qint64 n = state.range(0);
    for (auto _ : state) {
        TLogModel model;
        TLogView view;
        view.resize(840, 470);
        view.show();
        TJournal journal(gHome->filePath(QStringLiteral("steps")), 1);
        journal.Restart({});
        for (qint64 i = 0; i < n; ++i) {
            const QString line = Line(i);
            model.AppendLine(line);
            view.AppendLine(line);
            if (i % 10000 == 0) {
                journal.Sync();
                QApplication::processEvents();
            }
            journal.Append(line);
        }
        view.Flush();
        QApplication::processEvents();
        journal.Sync();

        QElapsedTimer t;
        t.start();
        const QString text = model.Text();
        state.counters["text_ms"] = Ms(t);
        t.restart();
        const std::optional<QByteArray> bytes = model.FileBytes();
        state.counters["file_bytes_ms"] = Ms(t);
        t.restart();
        model.Restart({QStringLiteral("Q274")}, QStringLiteral("\t"));
        state.counters["model_restart_ms"] = Ms(t);
        t.restart();
        view.Restart(QStringLiteral("\tQ274\n\n\n"));
        state.counters["view_restart_ms"] = Ms(t);
        t.restart();
        journal.Restart(model.Lines());
        state.counters["journal_restart_ms"] = Ms(t);
        journal.Remove();
    }
}

} // namespace

// Memory first, while the heap is fresh. Resident memory is a count, not a
// time: it comes out the same to a fraction of a percent on every run, while a
// run of the bare view takes minutes, so it is measured once whatever the
// repetitions asked for.
BENCHMARK_TEMPLATE(Memory, Window)->Arg(1000000)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Memory, Bare)->Arg(1000000)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Append, Window)->Apply(Args);
BENCHMARK_TEMPLATE(Append, Bare)->Apply(Args);
BENCHMARK_TEMPLATE(Sustained, Window)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Sustained, Bare)->Arg(10000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Clear)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
// A look inside Clear Log, not a figure of the README: once.
BENCHMARK(ClearSteps)->Arg(1000000)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // A home of its own: the window's log folder and journal go there.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir home;
    gHome = &home;
    setenv("HOME", home.path().toLocal8Bit().constData(), 1);
    setenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    UiSync::SetMainThread();
    SetApplicationLook(); // the window as the program shows it
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DropKept();
    return 0;
}
