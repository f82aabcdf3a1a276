// A run against the board simulator, saved through Save Log under one locale
// and opened as the Chart page opens it under another: every data line and
// relay switch gives back what the live recorder held when the line was
// written, at the second the line was stamped.
#include "historyload.h"
#include "mainwindow.h"
#include "rstrings.h"
#include "timestamp.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "childprocess.h"
#include "support/mainwidgets.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace q274;
using namespace q274test;

namespace {

struct Sample {
    char What; // R reading, S relay switch
    qint64 Time;
    int Channel;
    double Value; // a reading as the recorder keeps it (float); a switch: 1 on, 0 off
    bool operator==(const Sample &o) const
    {
        return What == o.What && Time == o.Time && Channel == o.Channel
               && (std::isnan(Value) ? std::isnan(o.Value) : Value == o.Value);
    }
};
void PrintTo(const Sample &s, std::ostream *os) { *os << s.What << s.Channel << '@' << s.Time << '=' << s.Value; }

struct Sink : HistorySink {
    std::vector<Sample> Seen;
    void Reading(qint64 t, int ch, double c) override { Seen.push_back({'R', t, ch, double(float(c))}); }
    void Relay(qint64 t, int ch, bool on) override { Seen.push_back({'S', t, ch, on ? 1.0 : 0.0}); }
    void Connected(qint64) override {}
    void Disconnected(qint64) override {}
};

struct Case {
    const char *Writer; // as LANG names them
    bool Ms;
    const char *Reader;
};
void PrintTo(const Case &c, std::ostream *os) { *os << c.Writer << (c.Ms ? "+ms" : "") << "->" << c.Reader; }

QLocale LocaleOf(const char *lang) { return QLocale(QString::fromLatin1(lang).section(u'.', 0, 0)); }

class HistoryRoundTrip : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(HistoryRoundTrip, SavedSessionOpensUnderAnotherLocaleAsRecorded)
{
    const Case c = GetParam();
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("board"));
    // Channel 3 without a sensor: its "-" must come back as no reading.
    ChildProcess sim(Q274_SIM_PATH, {"--link", link.toStdString(), "--no-sensor", "3", "--ambient", "20"});
    ASSERT_TRUE(sim.ReadLine(int(kPatience.count())).has_value()) << "the simulator did not start";

    ScriptedDialogs dialogs;
    TdmQ274 dm;
    dm.ComPort()->SetPort(link);
    auto w = std::make_unique<TfrmMain>(&dm);
    const QLocale writer = LocaleOf(c.Writer);
    w->SetLocale(writer);
    w->SetDecimalSeparator(DecimalSeparator(writer));
    w->SetDataLineInterval(1000);
    w->LogModel().ShowMilliseconds = c.Ms;
    Channel(*w, 1).EnableBox->setChecked(true);
    Channel(*w, 1).SetPointEdit->setText(QStringLiteral("30")); // above ambient: relay 1 goes on at once
    w->ApplySettings();

    // What the live recorder holds at the moment each line is stamped.
    std::vector<Sample> expected;
    QDateTime stamped;
    QString firstStamp; // as the page offers the readings of a file
    TLogModel &log = w->LogModel();
    log.Clock = [&stamped] { return stamped = QDateTime::currentDateTime(); };
    int dataLines = 0;
    log.OnAppend = [&, shown = log.OnAppend](const QString &line) {
        shown(line);
        const qint64 t = stamped.toMSecsSinceEpoch() / 1000 * 1000 + (c.Ms ? stamped.time().msec() : 0);
        const qsizetype tab = line.indexOf(u'\t');
        if (tab <= 0)
            return; // the banner, the blank line after a disconnect
        if (firstStamp.isEmpty())
            firstStamp = stamped.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        auto latest = [&](int ch) {
            const auto last = w->History().LastReading(ch);
            return last ? last->Value : -1000.0;
        };
        const QStringView rest = QStringView(line).sliced(tab);
        if (!rest.startsWith(MessageIndent)) {
            ++dataLines;
            for (int ch = 1; ch <= 4; ++ch)
                expected.push_back({'R', t, ch, latest(ch)});
        } else if (const QStringView text = rest.sliced(MessageIndent.size()); text.startsWith(u"Ch1: heat ")) {
            expected.push_back({'R', t, 1, latest(1)});
            expected.push_back({'S', t, 1, text.contains(u" ON ") ? 1.0 : 0.0});
        }
    };
    w->ShowLogBanner();
    w->Connection()->Poller().StartCommandSender();
    Ui(*w).btnConn->click();
    ASSERT_TRUE(RunUntil([&] { return dataLines >= 4; })) << log.Text().toStdString();
    Ui(*w).btnConn->click();
    ASSERT_FALSE(w->PortIsOpen());

    const QString path = dir.filePath(QStringLiteral("run.log"));
    dialogs.answers = {true};
    dialogs.saveAnswers = {path};
    Ui(*w).btnLogSave->click();
    ASSERT_TRUE(QFileInfo::exists(path));
    ASSERT_GE(expected.size(), 18u) << "four data lines and relay 1 switched on";

    // Where the dates read two ways (12/9 of an American file), the page
    // asks; the user picks the reading that gives the first line's time.
    const HistoryProbe probe = ProbeHistoryFile(path, LocaleOf(c.Reader));
    const auto chosen = std::find_if(probe.Choices.begin(), probe.Choices.end(),
                                     [&](const StampChoice &r) { return r.FirstStamp == firstStamp; });
    ASSERT_NE(chosen, probe.Choices.end()) << firstStamp.toStdString();
    if (QDate::currentDate().day() > 12) {
        EXPECT_EQ(probe.Choices.size(), 1u) << "a day above 12 leaves one reading";
    }
    const StampFormat format(chosen->Locale);
    Sink sink;
    HistoryLineReader reader(sink, format);
    ASSERT_TRUE(ReadLogFile(path, reader).Error.isEmpty());
    EXPECT_EQ(reader.Counts().Skipped, 0);
    EXPECT_EQ(reader.Counts().DataLines, dataLines);
    EXPECT_EQ(sink.Seen, expected);
}

INSTANTIATE_TEST_SUITE_P(Locales, HistoryRoundTrip,
                         ::testing::Values(Case{"de_DE.UTF-8", false, "en_US.UTF-8"},
                                           Case{"en_US.UTF-8", false, "de_DE.UTF-8"},
                                           Case{"fa_IR.UTF-8", false, "en_US.UTF-8"},
                                           Case{"en_US.UTF-8", true, "fa_IR.UTF-8"}));
