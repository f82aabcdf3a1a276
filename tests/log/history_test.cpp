// Log files read back: files written by the log model under one locale read
// under another give the readings, relay switches and breaks they hold;
// broken, foreign, empty and binary files are counted, not trusted.
#include "datalines.h"
#include "history.h"
#include "timestamp.h"
#include "logfiles.h"
#include "logmodel.h"
#include "rstrings.h"

#include <QFile>
#include <QRandomGenerator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

#include <unistd.h>

using namespace q274;

namespace {

struct Event {
    char What; // R reading, S relay switch, C connect, D disconnect
    qint64 Time;
    int Channel;
    double Value;
    bool operator==(const Event &o) const
    {
        return What == o.What && Time == o.Time && Channel == o.Channel
               && ((std::isnan(Value) && std::isnan(o.Value)) || std::abs(Value - o.Value) < 1e-9);
    }
};

struct Sink : HistorySink {
    std::vector<Event> Seen;
    void Reading(qint64 t, int ch, double c) override { Seen.push_back({'R', t, ch, c}); }
    void Relay(qint64 t, int ch, bool on) override { Seen.push_back({'S', t, ch, on ? 1.0 : 0.0}); }
    void Connected(qint64 t) override { Seen.push_back({'C', t, 0, 0}); }
    void Disconnected(qint64 t) override { Seen.push_back({'D', t, 0, 0}); }
};

// A run as the window logs it, in locale, with what it logged as events.
struct Session {
    TLogModel Log;
    QDateTime Now;
    std::vector<Event> Expected;
    QString Sep;
    QStringList Before;
    QStringList Lines() const { return Before + Log.Lines(); }

    Session(const QLocale &locale, bool ms)
    {
        Log.Locale = locale;
        Log.ShowMilliseconds = ms;
        Log.Clock = [this] { return Now; };
        Sep = locale.decimalPoint();
        // Across midnight, so one data line carries the date alone.
        Now = QDateTime(QDate(2026, 3, 13), QTime(23, 57, 0, 350));
        Log.Restart({QStringLiteral("Q274 Temperature Controller")}, MessageIndent);
        Message(rs::sLoggingEnabledInDeg + QStringLiteral(" C"));
        Message(rs::sComPortOpened);
        Expected.push_back({'C', Stamp(), 0, 0});
        Message(QStringLiteral("RefMS:  350"));
        for (int i = 0; i < 4; ++i) {
            Data({20.0 + i, 21.5, qQNaN(), -3.25});
            Now = Now.addSecs(60);
        }
        Now = QDateTime(QDate(2026, 3, 14), QTime(0, 0, 0, 350));
        Data({25.0, 21.5, 18.0, 19.0});
        Now = Now.addSecs(7);
        Message(QStringLiteral("Ch1: heat ON  (") + Number(29.44) + u')');
        Expected.push_back({'R', Stamp(), 1, 29.44});
        Expected.push_back({'S', Stamp(), 1, 1});
        Message(QStringLiteral("Manual - R3 - OFF"));
        Expected.push_back({'S', Stamp(), 3, 0});
        // Clear Log: the banner again, then on as before (the file holds
        // both parts, as two saves joined would).
        Before = Log.Lines();
        Log.Restart({QStringLiteral("Q274 Temperature Controller")}, MessageIndent);
        Message(rs::sLogCleared);
        Now = Now.addSecs(53);
        Message(rs::sLoggingInDeg + QStringLiteral(" F"));
        Data({86.0, 32.0, 50.0, 212.0}, true);
        Message(rs::sDisconnected);
        Expected.push_back({'D', Stamp(), 0, 0});
        Log.AppendLine(QStringLiteral(" "));
    }
    qint64 Stamp() const { return Now.toMSecsSinceEpoch() / 1000 * 1000 + (Log.ShowMilliseconds ? 350 : 0); }
    QString Number(double v) const { return QString::number(v, 'f', 2).replace(u'.', Sep); }
    void Message(const QString &text) { Log.LogMessage(MessageIndent + text); }
    void Data(std::array<double, 4> shown, bool fahrenheit = false)
    {
        std::array<QString, 4> captions;
        for (std::size_t i = 0; i < 4; ++i)
            captions[i] = std::isnan(shown[i]) ? QStringLiteral(" -") : u' ' + Number(shown[i]);
        Log.LogMessage(ComposeDataFields(captions));
        for (std::size_t i = 0; i < 4; ++i)
            Expected.push_back({'R', Stamp(), int(i + 1), fahrenheit ? (shown[i] - 32) / 1.8 : shown[i]});
    }
};

HistoryCounts ReadBack(const QString &path, Sink &sink, const QLocale &as)
{
    const LogSample sample = SampleLogFile(path);
    const std::vector<StampChoice> choices = DetectStampLocales(sample.Stamps, sample.DecimalSeparator, as);
    EXPECT_EQ(choices.size(), 1u) << (choices.empty() ? "none" : "several") << " readings of " << path.toStdString();
    if (choices.empty())
        return {};
    const StampFormat format(choices.front().Locale);
    HistoryLineReader reader(sink, format);
    const ReadOutcome outcome = ReadLogFile(path, reader);
    EXPECT_TRUE(outcome.Error.isEmpty());
    return reader.Counts();
}

QString WriteFile(const QTemporaryDir &dir, const char *name, const QByteArray &bytes)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

} // namespace

TEST(History, FilesOfEveryLocaleReadBackUnderAnother)
{
    QTemporaryDir dir;
    const QLocale us(QLocale::English, QLocale::UnitedStates), de(QLocale::German, QLocale::Germany),
        fa(QLocale::Persian, QLocale::Iran);
    struct Case {
        QLocale Writer;
        bool Ms;
        QLocale Reader;
    } cases[] = {{de, false, us}, {us, false, de}, {fa, false, us}, {de, true, fa}, {QLocale::c(), true, de}};
    for (const Case &c : cases) {
        Session run(c.Writer, c.Ms);
        const QString path = dir.filePath(c.Writer.name() + (c.Ms ? QStringLiteral("-ms.log") : QStringLiteral(".log")));
        WriteLogFileLines(path, run.Lines());
        Sink sink;
        const HistoryCounts counts = ReadBack(path, sink, c.Reader);
        SCOPED_TRACE(c.Writer.name().toStdString());
        EXPECT_EQ(counts.Skipped, 0);
        EXPECT_EQ(counts.DataLines, 6);
        EXPECT_EQ(counts.Events, 2);
        EXPECT_EQ(sink.Seen, run.Expected);
    }
}

TEST(History, AmbiguousDatesOfferEveryReadingUntilADayTellsThemApart)
{
    const QLocale us(QLocale::English, QLocale::UnitedStates), gb(QLocale::English, QLocale::UnitedKingdom);
    TLogModel log;
    log.Locale = gb;
    QDateTime now(QDate(2026, 3, 9), QTime(14, 0, 5));
    log.Clock = [&] { return now; };
    log.LogMessage(MessageIndent + rs::sComPortOpened);
    const QStringList early{log.Lines().front().section(u'\t', 0, 0)};
    const std::vector<StampChoice> two = DetectStampLocales(early, QStringLiteral("."), gb);
    ASSERT_GE(two.size(), 2u) << "09/03/2026 reads as 9 March and as 3 September";
    EXPECT_EQ(two.front().Locale, gb) << "the user's own reading first";
    EXPECT_NE(two[0].FirstStamp, two[1].FirstStamp);
    now = QDateTime(QDate(2026, 3, 13), QTime(9, 0, 0));
    log.LogMessage(MessageIndent + rs::sDisconnected);
    const std::vector<StampChoice> one =
        DetectStampLocales(early + QStringList{log.Lines().back().section(u'\t', 0, 0)}, QStringLiteral("."), us);
    // Even for a user whose own locale reads it otherwise.
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one.front().FirstStamp, QStringLiteral("2026-03-09T14:00:05"));
}

TEST(History, BrokenForeignEmptyAndBinaryFilesAreCountedNotTrusted)
{
    QTemporaryDir dir;
    Session run(QLocale(QLocale::German, QLocale::Germany), false);
    QStringList lines = run.Lines();
    lines.insert(8, QStringLiteral("13.03.2026 23:58:00\t20,0\t21,5")); // a field short
    lines.insert(8, QStringLiteral("13.03.2026 25:61:00\t20,0\t21,5\t1\t2"));
    lines.insert(8, QStringLiteral("garbage without a tab"));
    lines.insert(8, QStringLiteral("13.03.2026 23:58:00\t20,0\tabc\t1\t2"));
    const QString broken = dir.filePath(QStringLiteral("broken.log"));
    WriteLogFileLines(broken, lines);
    Sink sink;
    const HistoryCounts counts = ReadBack(broken, sink, QLocale::c());
    EXPECT_EQ(counts.Skipped, 4);
    EXPECT_EQ(sink.Seen, run.Expected) << "the good lines around them all read";

    // Another program's log, an empty file: no stamp of ours to read.
    const QString syslog = WriteFile(dir, "syslog", "Dec  9 13:08:54 host kernel: [ 0.000000] Linux version\n"
                                                    "Dec  9 13:08:55 host systemd[1]: Started.\n");
    EXPECT_TRUE(DetectStampLocales(SampleLogFile(syslog).Stamps, {}).empty());
    const QString empty = WriteFile(dir, "empty.log", {});
    EXPECT_TRUE(SampleLogFile(empty).Stamps.isEmpty());
    EXPECT_THROW(SampleLogFile(dir.filePath(QStringLiteral("missing.log"))), LogFileError);

    // Binary: random bytes with a 3 MB stretch and no line break in it. The
    // stretch is one skipped line, not a line kept in memory.
    QByteArray binary(3 << 20, 'x');
    QRandomGenerator gen(7);
    for (int i = 0; i < (1 << 20); ++i)
        binary.append(char(gen.bounded(256)));
    const QString bin = WriteFile(dir, "binary.log", binary);
    Sink none;
    const StampFormat c(QLocale::c());
    HistoryLineReader reader(none, c);
    qint64 lastProgress = 0;
    const ReadOutcome outcome = ReadLogFile(bin, reader, nullptr, [&](qint64 done) { lastProgress = done; });
    EXPECT_TRUE(outcome.Error.isEmpty());
    EXPECT_EQ(lastProgress, binary.size());
    EXPECT_GT(reader.Counts().Skipped, 0);
    EXPECT_TRUE(none.Seen.empty());

    std::atomic<bool> cancel{true};
    EXPECT_TRUE(ReadLogFile(bin, reader, &cancel).Cancelled);
    EXPECT_FALSE(ReadLogFile(dir.filePath(QStringLiteral("missing.log")), reader).Error.isEmpty());
}

namespace {
qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}
// Reading 2 GB takes seconds; the sanitizer builds run the same reader on
// the smaller files above, and their own allocators (the address
// sanitizer's quarantine) would blur the memory figure anyway.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
} // namespace

TEST(History, ATwoGigabyteFileIsReadToItsEndInBoundedMemory)
{
    if (kSanitized)
        GTEST_SKIP() << "read in the plain build only";
    // A run, 2.1 GB of nothing (a sparse hole: a disk that lost its blocks,
    // a file preallocated), the run again. Both ends read, the hole is one
    // skipped line, and memory stays far below the file's size.
    QTemporaryDir dir;
    Session run(QLocale(QLocale::German, QLocale::Germany), false);
    const QString path = dir.filePath(QStringLiteral("big.log"));
    WriteLogFileLines(path, run.Lines());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray once = f.readAll();
    constexpr qint64 kHole = 2100LL << 20;
    ASSERT_TRUE(f.resize(once.size() + kHole)) << "no sparse files here";
    ASSERT_TRUE(f.seek(once.size() + kHole));
    f.write("\r\n" + once);
    f.close();

    Sink sink;
    const StampFormat format(QLocale(QLocale::German, QLocale::Germany));
    HistoryLineReader reader(sink, format);
    const qint64 before = ResidentBytes();
    qint64 peak = before, lastProgress = 0;
    const ReadOutcome outcome = ReadLogFile(path, reader, nullptr, [&](qint64 done) {
        lastProgress = done;
        peak = std::max(peak, ResidentBytes());
    });
    EXPECT_TRUE(outcome.Error.isEmpty());
    EXPECT_EQ(lastProgress, QFileInfo(path).size());
    EXPECT_EQ(reader.Counts().Skipped, 1);
    std::vector<Event> twice = run.Expected;
    twice.insert(twice.end(), run.Expected.begin(), run.Expected.end());
    EXPECT_EQ(sink.Seen, twice);
    EXPECT_LT(peak - before, qint64(64) << 20) << peak - before;
}
