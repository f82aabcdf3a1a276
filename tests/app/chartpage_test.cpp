// The Chart page: fed by the window's read-outs and relay replies, drawn
// only when visible and at most ten times a second, following the newest
// data until the user pans, and exporting what was recorded.
#include "chartpage.h"
#include "mainwindow.h"
#include "shellrules.h"

#include "support/mainwidgets.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <QAreaSeries>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>

#include <QGraphicsTextItem>

#include <gtest/gtest.h>

#include <cmath>

using namespace q274;
using namespace q274test;

TEST(ChartWindow, ThirdPageFedByReadoutsAndRelaysWhileConnected)
{
    TfrmMain w;
    ASSERT_EQ(Ui(w).pgMain->count(), 4); // Control, Log, Chart, Alarms
    EXPECT_EQ(Ui(w).pgMain->tabText(2), QStringLiteral("Chart"));
    EXPECT_EQ(Ui(w).pgMain->tabBar()->tabRect(2).size(), Ui(w).pgMain->tabBar()->tabRect(1).size());
    w.FormKeyDown(Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(Ui(w).pgMain->currentWidget(), Ui(w).tabChart);

    w.HandleTemperatureReply(QStringLiteral("T024.06,22.12,?,?"));
    EXPECT_EQ(w.History().SampleCount(1), 0u) << "nothing recorded before the connection opens";

    qint64 clock = 1'700'000'000'000;
    w.History().SetClock([&clock] { return clock += 1000; }); // a reply a second
    w.History().Start();                                      // what ShowConnected does
    Ui(w).cmbDeg->setCurrentIndex(1);                         // F on the read-outs; the history stays in C
    w.ShowRelayStatus(QStringLiteral("5"));
    w.HandleTemperatureReply(QStringLiteral("T024.06,22.12,?,?"));
    w.HandleTemperatureReply(QStringLiteral("T3-5.5"));
    w.HandleTemperatureReply(QStringLiteral("T3?"));
    EXPECT_EQ(w.History().SampleCount(1), 1u);
    EXPECT_EQ(w.History().SampleCount(3), 3u);
    const auto runs = w.History().Decimate(3, 0, std::numeric_limits<qint64>::max(), 1000, false);
    ASSERT_EQ(runs.size(), 1u) << "no sensor breaks the line";
    EXPECT_EQ(runs[0].back().Value, -5.5);

    w.ShowDisconnected();
    EXPECT_FALSE(w.History().Recording());
    const QByteArray csv = w.History().CsvBytes(QTimeZone::utc());
    const QList<QByteArray> rows = csv.split('\n');
    ASSERT_EQ(rows.size(), 6) << csv.toStdString(); // header, 3 readings, the gap, the end
    EXPECT_TRUE(rows[1].endsWith(",24.06,22.12,,,1 0 1 0\r")) << "one reply, one row: " << rows[1].toStdString();
    EXPECT_TRUE(rows[2].endsWith(",,,-5.5,,1 0 1 0\r"));
    EXPECT_TRUE(rows[3].endsWith(",,,,,1 0 1 0\r")) << "a reply without a reading";
    EXPECT_TRUE(rows[4].endsWith("Z,,,,,\r") || rows[4].endsWith("+00:00,,,,,\r"))
        << "the disconnect, not the cleared relays" << rows[4].toStdString();
}

namespace {

struct Page {
    qint64 now = 1'700'000'000'000;
    TSampleRecorder rec{[this] { return now; }};
    TChannels channels;
    bool fahrenheit = false;
    TChartPage page{rec, channels, [this] { return fahrenheit; }};

    Page()
    {
        rec.OnChanged = [this] { page.ScheduleRedraw(); };
        page.resize(700, 420);
        rec.Start();
    }
    // A reading a second on channel 1, rising by 0.1 per reading.
    void Readings(int n, double from = 20.0)
    {
        for (int i = 0; i < n; ++i) {
            rec.AddReading(1, from + 0.1 * i);
            now += 1000;
        }
    }
    QList<QPointF> Points(int ch)
    {
        QList<QPointF> all;
        for (QLineSeries *s : page.Series[std::size_t(ch - 1)].Lines)
            all += s->points();
        return all;
    }
};

} // namespace

TEST(ChartPage, DrawsOnlyWhenVisibleAndAtMostTenTimesASecond)
{
    Page p;
    p.Readings(100);
    EXPECT_EQ(p.page.RedrawCount(), 0) << "hidden: nothing drawn";
    p.page.show();
    EXPECT_EQ(p.page.RedrawCount(), 1) << "shown: drawn at once";
    p.Readings(50);
    EXPECT_EQ(p.page.RedrawCount(), 1) << "fifty readings wait for one coalesced redraw";
    ASSERT_TRUE(RunUntil([&] { return p.page.RedrawCount() == 2; }));
    EXPECT_FALSE(p.Points(1).isEmpty());
    p.page.hide();
    p.Readings(10);
    Pump(std::chrono::milliseconds(250));
    EXPECT_EQ(p.page.RedrawCount(), 2);
}

TEST(ChartPage, AxisNumbersUseTheLocalesSeparator)
{
    Page p;
    p.page.LabelLocale = [] { return QLocale(QLocale::German, QLocale::Germany); };
    p.Readings(60);
    p.page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&p.page));
    p.page.Redraw();
    Pump(std::chrono::milliseconds(50)); // the axes are laid out
    QStringList labels;
    for (QGraphicsItem *item : p.page.View->scene()->items())
        if (auto *text = dynamic_cast<QGraphicsTextItem *>(item))
            labels << text->toPlainText();
    ASSERT_TRUE(labels.contains(QStringLiteral("22,0"))) << labels.join(u' ').toStdString();
    EXPECT_FALSE(labels.contains(QStringLiteral("22.0")));
}

TEST(ChartPage, UnitSetPointsAndRelayBandsAtDrawTime)
{
    Page p;
    p.rec.AddRelays({true, false, false, false});
    p.Readings(60);
    p.rec.AddRelays({false, false, false, false});
    ChannelSettings &s = p.channels.Settings(1);
    s.Enabled = true;
    s.SetPoint = 25;
    s.Dropout = 3;
    p.page.Redraw();
    auto &series = p.page.Series[0];
    ASSERT_EQ(series.SetPoint->count(), 2);
    EXPECT_EQ(series.SetPoint->at(0).y(), 25.0);
    EXPECT_EQ(series.Threshold->at(0).y(), 28.0) << "heat: off at set point + dropout";
    EXPECT_EQ(series.SetPoint->at(1).x(), double(p.page.ViewTo()));
    // The axis holds the data (20 .. 25.9) and both lines, with a margin.
    EXPECT_LT(p.page.ValueAxis->min(), 20.0);
    EXPECT_GT(p.page.ValueAxis->max(), 28.0);
    EXPECT_LE(p.page.ValueAxis->max(), 30.0);
    EXPECT_GT(series.Relay->upperSeries()->count(), 2) << "a band for the minute the relay was on";
    EXPECT_TRUE(p.page.Series[1].SetPoint->points().isEmpty()) << "disabled channel: no lines";
    for (QLegendMarker *m : p.page.Chart->legend()->markers(p.page.Series[1].Lines[0]))
        EXPECT_FALSE(m->isVisible()) << "no legend entry for a channel without readings";

    s.Mode = kModeCool;
    p.fahrenheit = true; // the history redrawn in F; set points are in the unit shown
    p.page.Redraw();
    EXPECT_EQ(series.Threshold->at(0).y(), 22.0) << "cool: off at set point - dropout";
    const QList<QPointF> f = p.Points(1);
    ASSERT_FALSE(f.isEmpty());
    EXPECT_NEAR(f.front().y(), 20.0 * 1.8 + 32, 1e-4);
    EXPECT_EQ(p.page.ValueAxis->titleText(), QStringLiteral("°F"));
}

TEST(ChartPage, FollowsTheNewestUntilPannedAndZoomsTheTimeAxis)
{
    Page p;
    p.Readings(7200); // two hours
    p.page.Redraw();
    ASSERT_TRUE(p.page.Following());
    EXPECT_EQ(p.page.ViewTo(), *p.rec.LastTime());
    EXPECT_EQ(p.page.ViewTo() - p.page.ViewFrom(), 3'600'000) << "one hour at the start";

    p.page.Zoom(0.5, p.page.ViewFrom());
    p.page.Redraw();
    EXPECT_TRUE(p.page.Following()) << "zooming while following keeps the newest in view";
    EXPECT_EQ(p.page.ViewTo() - p.page.ViewFrom(), 1'800'000);
    EXPECT_EQ(p.page.ViewTo(), *p.rec.LastTime());

    p.page.Pan(-600'000);
    EXPECT_FALSE(p.page.Following());
    EXPECT_TRUE(p.page.btnFollow->isEnabled());
    const qint64 to = p.page.ViewTo();
    EXPECT_EQ(to, *p.rec.LastTime() - 600'000);
    p.Readings(10);
    p.page.Redraw();
    EXPECT_EQ(p.page.ViewTo(), to) << "panned: new data leaves the view alone";

    p.page.Zoom(0.5, to); // around the right edge
    EXPECT_EQ(p.page.ViewTo(), to);
    EXPECT_EQ(p.page.ViewTo() - p.page.ViewFrom(), 900'000);

    p.page.btnFollow->click();
    EXPECT_TRUE(p.page.Following());
    p.page.Redraw();
    EXPECT_EQ(p.page.ViewTo(), *p.rec.LastTime());
    EXPECT_EQ(p.page.ViewTo() - p.page.ViewFrom(), 900'000) << "back to the newest at the zoom last seen";

    p.page.cmbRange->setCurrentIndex(4); // all
    p.page.Redraw();
    EXPECT_EQ(p.page.ViewFrom(), *p.rec.FirstTime());
}

TEST(ChartPage, ExportsTheRecordedCsvAndAPicture)
{
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    Page p;
    p.Readings(30);
    p.page.Folder = [&dir] { return dir.path(); };

    p.page.btnExport->click(); // cancelled
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].save.initialFolder, dir.path());
    EXPECT_EQ(dialogs.requests[0].save.defaultSuffix, QStringLiteral("csv"));
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    const QString csv = dir.filePath(QStringLiteral("history.csv"));
    dialogs.saveAnswers.push_back(csv);
    p.page.btnExport->click();
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), p.rec.CsvBytes());

    const QString png = dir.filePath(QStringLiteral("chart.png"));
    dialogs.saveAnswers.push_back(png);
    p.page.btnPicture->click();
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), p.page.View->size());

    dialogs.saveAnswers.push_back(dir.filePath(QStringLiteral("missing/x.csv")));
    p.page.btnExport->click();
    EXPECT_EQ(dialogs.Kinds().back(), QStringLiteral("error")) << "a failed export is reported";
}
