// Log files opened on the Chart page: read off the user-interface thread into
// lighter curves beside the live run, the view moved to them, what could not
// be read reported, a long read cancelled, and the export of what is shown.
#include "chartpage.h"
#include "datalines.h"
#include "logfiles.h"
#include "logmodel.h"
#include "rstrings.h"

#include "support/scripteddialogs.h"
#include "support/support.h"

#include <QFile>
#include <QChart>
#include <QCoreApplication>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace q274;
using namespace q274test;

namespace {

// A day's autosave as the window writes it: a data line a minute from
// start, relay 1 on for the first ten minutes.
QString WriteDay(const QTemporaryDir &dir, const QString &name, const QDateTime &start, int minutes)
{
    TLogModel log;
    log.Locale = QLocale(QLocale::German, QLocale::Germany);
    QDateTime now = start;
    log.Clock = [&now] { return now; };
    log.Restart({QStringLiteral("Q274")}, MessageIndent);
    log.LogMessage(MessageIndent + rs::sComPortOpened);
    for (int i = 0; i < minutes; ++i) {
        if (i == 0)
            log.LogMessage(MessageIndent + QStringLiteral("Ch1: heat ON  (20,00)"));
        if (i == 10)
            log.LogMessage(MessageIndent + QStringLiteral("Ch1: heat OFF  (30,00)"));
        log.LogMessage(ComposeDataFields({QStringLiteral(" %1,00").arg(20 + i % 10), QStringLiteral(" 21,50"),
                                          QStringLiteral(" -"), QStringLiteral(" 19,25")}));
        now = now.addSecs(60);
    }
    const QString path = dir.filePath(name);
    WriteLogFileLines(path, log.Lines());
    return path;
}

struct Page {
    qint64 now = 1'800'000'000'000;
    TSampleRecorder rec{[this] { return now; }};
    TChannels channels;
    TChartPage page{rec, channels, [] { return false; }};
    Page() { page.resize(800, 420); }
};

} // namespace

TEST(ChartHistory, OpenedDaysJoinInTimeOrderBesideTheLiveRun)
{
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    const QDateTime day1(QDate(2026, 3, 13), QTime(10, 0)); // a day past 12: one reading
    // Given newest first: they are read in the order of their stamps.
    const QString second = WriteDay(dir, QStringLiteral("b.log"), day1.addDays(1), 30);
    const QString first = WriteDay(dir, QStringLiteral("a.log"), day1, 30);
    Page p;
    p.rec.Start();
    p.rec.AddReading(1, 25.0); // the live run, far later
    p.page.show();

    p.page.OpenLogs({second, first});
    EXPECT_TRUE(p.page.btnCancelLoad->isVisible()) << "reading goes on without holding the window";
    ASSERT_TRUE(p.page.WaitLoaded(5000));
    ASSERT_NE(p.page.History(), nullptr);
    EXPECT_TRUE(dialogs.requests.empty()) << dialogs.Texts().join(u'\n').toStdString();
    EXPECT_EQ(p.page.History()->SampleCount(1), 60u) << "a switching reading shares its second with a data line";
    EXPECT_EQ(p.page.History()->SampleCount(3), 60u) << "no reading: kept as a break";
    EXPECT_EQ(p.page.HistoryStatus(), QStringLiteral("60 data lines"));
    EXPECT_FALSE(p.page.Following());
    EXPECT_EQ(p.page.ViewFrom(), day1.toMSecsSinceEpoch());
    EXPECT_EQ(p.page.ViewTo(), day1.addDays(1).addSecs(29 * 60).toMSecsSinceEpoch());
    const auto runs = p.page.History()->Decimate(1, p.page.ViewFrom(), p.page.ViewTo(), 2000, false);
    EXPECT_EQ(runs.size(), 2u) << "each day's connection its own line";
    const auto bands = p.page.History()->RelayBands(1, p.page.ViewFrom(), p.page.ViewTo(), 1);
    ASSERT_EQ(bands.size(), 2u);
    EXPECT_EQ(bands[0].To - bands[0].From, 10 * 60'000);
    qsizetype drawn = 0;
    for (QLineSeries *s : p.page.HistorySeries[0].Lines)
        drawn += s->count();
    EXPECT_GT(drawn, 0);
    EXPECT_NE(p.page.HistorySeries[0].Lines[0]->pen().color(), p.page.Series[0].Lines[0]->pen().color());
    // The logs hold no set points: today's is drawn over the live run only.
    p.channels.Settings(1).Enabled = true;
    p.page.Redraw();
    EXPECT_EQ(p.page.Series[0].SetPoint->count(), 0) << "the live run is out of view";
    auto named = [&p](QLineSeries *line) {
        QCoreApplication::processEvents(); // the legend takes the markers' state in its layout pass
        const QList<QLegendMarker *> m = p.page.Chart->legend()->markers(line);
        return !m.isEmpty() && m[0]->isVisible();
    };
    EXPECT_TRUE(named(p.page.HistorySeries[0].Lines[0]));
    EXPECT_FALSE(named(p.page.Series[0].Lines[0])) << "only lines in view are named";

    // The export holds what is shown: both days, not the live reading.
    const QByteArray csv = p.page.ShownCsv(QTimeZone::utc());
    EXPECT_EQ(csv.count('\n'), 1 + 60 + 2) << "header, a row a minute, a break at each end";
    EXPECT_TRUE(csv.contains(",20,21.5,,19.25,1 0 0 0\r\n"));
    EXPECT_FALSE(csv.contains(",25,,,,"));
    p.page.btnFollow->click();
    EXPECT_TRUE(p.page.ShownCsv(QTimeZone::utc()).contains(",25,,,,")) << "following: the live run";
    p.page.Redraw();
    EXPECT_TRUE(named(p.page.Series[0].Lines[0]));
    EXPECT_FALSE(named(p.page.HistorySeries[0].Lines[0]));
    ASSERT_EQ(p.page.Series[0].SetPoint->count(), 2);
    EXPECT_EQ(qint64(p.page.Series[0].SetPoint->at(0).x()), std::max(p.page.ViewFrom(), *p.rec.FirstTime()));

    p.page.CloseLogs();
    EXPECT_EQ(p.page.History(), nullptr);
}

TEST(ChartHistory, UnreadableFilesAreSaidAndALongReadCanBeCancelled)
{
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    QFile binary(dir.filePath(QStringLiteral("core.log")));
    ASSERT_TRUE(binary.open(QIODevice::WriteOnly));
    binary.write(QByteArray("\x7f" "ELF\x02\x01\x01\0\0\0", 10).repeated(2000));
    binary.close();
    QFile(dir.filePath(QStringLiteral("empty.log"))).open(QIODevice::WriteOnly);
    QFile syslog(dir.filePath(QStringLiteral("syslog")));
    ASSERT_TRUE(syslog.open(QIODevice::WriteOnly));
    syslog.write("Dec  9 13:08:55 host systemd[1]: Started.\nDec  9 13:08:56 host kernel: usb 1-1: new device\n");
    syslog.close();
    const QString good = WriteDay(dir, QStringLiteral("good.log"), QDateTime(QDate(2026, 3, 13), QTime(10, 0)), 5);
    Page p;
    p.page.OpenLogs({dir.filePath(QStringLiteral("missing.log")), binary.fileName(), dir.filePath(QStringLiteral("empty.log")),
                     syslog.fileName(), good});
    ASSERT_TRUE(p.page.WaitLoaded(5000));
    ASSERT_EQ(dialogs.Kinds(), QStringList{QStringLiteral("error")});
    const QStringList said = dialogs.Texts()[0].split(u'\n');
    ASSERT_EQ(said.size(), 4) << "one line for each file not shown";
    EXPECT_TRUE(said[0].contains(QStringLiteral("missing.log")));
    EXPECT_TRUE(said[1].contains(QStringLiteral("core.log is not a log of this program")));
    EXPECT_TRUE(said[2].endsWith(QStringLiteral("empty.log is empty.")));
    EXPECT_TRUE(said[3].contains(QStringLiteral("syslog is not a log of this program")));
    ASSERT_NE(p.page.History(), nullptr) << "the readable file is still shown";
    EXPECT_EQ(p.page.History()->SampleCount(2), 5u);

    // A few megabytes of data lines, cancelled at once: nothing replaces
    // what was shown.
    QFile big(dir.filePath(QStringLiteral("big.log")));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    const QByteArray line("13.03.2026 10:00:00\t20,00\t21,50\t  -\t19,25\r\n");
    big.write(line.repeated((16 << 20) / line.size()));
    big.close();
    const TSampleRecorder *before = p.page.History();
    p.page.OpenLogs({big.fileName()});
    ASSERT_TRUE(p.page.Loading());
    p.page.btnCancelLoad->click();
    ASSERT_TRUE(p.page.WaitLoaded(5000));
    EXPECT_EQ(p.page.History(), before);
    EXPECT_TRUE(p.page.btnOpenLog->isEnabled());
}
