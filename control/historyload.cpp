#include "historyload.h"

#include "logfiles.h"

#include <algorithm>
#include <limits>

namespace q274 {

namespace {

// Feeds what a file says into the recorder as the live run would have:
// readings while connected, relay changes, a stop at each disconnect.
class RecorderSink : public HistorySink {
public:
    explicit RecorderSink(TSampleRecorder &recorder) : FRecorder(recorder)
    {
        FRecorder.SetClock([this] { return FNow; });
    }
    qint64 Now() const { return FNow; }

    void Reading(qint64 time, int channel, double celsius) override
    {
        Advance(time);
        FRecorder.Start();
        FRecorder.AddReading(channel, celsius, FNow);
    }
    void Relay(qint64 time, int channel, bool on) override
    {
        Advance(time);
        FRecorder.Start();
        FRelays[std::size_t(channel - 1)] = on;
        FRecorder.AddRelays(FRelays);
    }
    void Connected(qint64 time) override
    {
        // A connection without a disconnect before it: the program ended
        // unexpectedly (a recovered journal); the line breaks there.
        Disconnected(time);
    }
    void Disconnected(qint64 time) override
    {
        Advance(time);
        FRecorder.Stop();
        FRelays.fill(false);
    }

private:
    // Stamps never run backwards in the history (a clock set back, files
    // that overlap): the recorder keeps its times sorted.
    void Advance(qint64 time) { FNow = std::max(FNow, time); }

    TSampleRecorder &FRecorder;
    qint64 FNow = std::numeric_limits<qint64>::min();
    std::array<bool, 4> FRelays{};
};

} // namespace

HistoryProbe ProbeHistoryFile(const QString &path, const QLocale &userLocale, const std::optional<QLocale> &known)
{
    HistoryProbe probe;
    probe.File.Path = path;
    try {
        const LogSample sample = SampleLogFile(path);
        probe.File.Size = sample.Size;
        if (known && !sample.Stamps.isEmpty()) {
            const StampFormat format(*known);
            if (std::all_of(sample.Stamps.begin(), sample.Stamps.end(),
                            [&format](const QString &s) { return format.Parse(s).has_value(); }))
                probe.Choices = {StampChoice{*known, {}}};
        }
        if (probe.Choices.empty())
            probe.Choices = DetectStampLocales(sample.Stamps, sample.DecimalSeparator, userLocale);
    } catch (const LogFileError &e) {
        probe.Error = QString::fromStdString(e.what());
        return probe;
    }
    if (!probe.Choices.empty()) {
        probe.File.Locale = probe.Choices.front().Locale;
        probe.File.FirstTime = FirstStampTime(path, probe.File.Locale);
    }
    return probe;
}

qint64 FirstStampTime(const QString &path, const QLocale &locale)
{
    try {
        const LogSample sample = SampleLogFile(path);
        const StampFormat format(locale);
        for (const QString &stamp : sample.Stamps)
            if (const std::optional<LocalStamp> s = format.Parse(stamp))
                return QDateTime(s->Date, QTime::fromMSecsSinceStartOfDay(s->MsOfDay)).toMSecsSinceEpoch();
    } catch (const LogFileError &) {
    }
    return 0;
}

HistoryResult LoadHistory(std::vector<HistoryFile> files, const std::atomic<bool> &cancel,
                          const std::function<void(qint64 done, qint64 total)> &progress)
{
    std::stable_sort(files.begin(), files.end(),
                     [](const HistoryFile &a, const HistoryFile &b) { return a.FirstTime < b.FirstTime; });
    HistoryResult result;
    result.History = std::make_unique<TSampleRecorder>();
    result.History->KeepMs = std::numeric_limits<qint64>::max() / 2;
    qint64 total = 0, before = 0;
    for (const HistoryFile &f : files)
        total += f.Size;

    RecorderSink sink(*result.History);
    for (const HistoryFile &f : files) {
        const StampFormat format(f.Locale);
        HistoryLineReader reader(sink, format);
        const ReadOutcome outcome = ReadLogFile(f.Path, reader, &cancel, [&](qint64 done) {
            if (progress)
                progress(before + done, total);
        });
        const HistoryCounts &c = reader.Counts();
        result.Counts.Lines += c.Lines;
        result.Counts.Skipped += c.Skipped;
        result.Counts.DataLines += c.DataLines;
        result.Counts.Events += c.Events;
        if (c.AnyStamp) {
            result.Counts.FirstTime = result.Counts.AnyStamp ? std::min(result.Counts.FirstTime, c.FirstTime)
                                                             : c.FirstTime;
            result.Counts.LastTime = std::max(result.Counts.LastTime, c.LastTime);
            result.Counts.AnyStamp = true;
        }
        if (!outcome.Error.isEmpty())
            result.Errors << outcome.Error;
        if (outcome.Cancelled) {
            result.Cancelled = true;
            break;
        }
        before += f.Size;
    }
    // A file ends where its last line is: what was on then stays on to
    // there, not to the moment the history is looked at.
    result.History->Stop();
    const qint64 end = sink.Now();
    result.History->SetClock([end] { return end; });
    return result;
}

} // namespace q274
