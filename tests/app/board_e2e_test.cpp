// The whole program path against the real board simulator over its
// pseudo-terminal: the window (offscreen) connects, identifies the board,
// polls, switches a relay by its thermostat and ends the connection in each
// of the ways a user meets.
#include "chartpage.h"
#include "dmq274.h"
#include "mainwindow.h"
#include "rstrings.h"
#include "shellrules.h"
#include "uisync.h"

#include <QAreaSeries>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "childprocess.h"
#include "support/mainwidgets.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>

using namespace q274;
using namespace q274test;

namespace {

// One simulator process with its link and trace in a temporary folder;
// terminated when the object goes.
class Simulator {
public:
    explicit Simulator(QStringList options)
    {
        link = dir.filePath(QStringLiteral("board"));
        tracePath = dir.filePath(QStringLiteral("trace.txt"));
        options << QStringLiteral("--link") << link << QStringLiteral("--trace") << tracePath;
        std::vector<std::string> args;
        for (const QString &o : options)
            args.push_back(o.toStdString());
        process = std::make_unique<q274test::ChildProcess>(Q274_SIM_PATH, args);
        // The device path comes first on standard output once the link exists.
        devicePath = QString::fromStdString(process->ReadLine(int(kPatience.count())).value_or(std::string()));
    }

    struct Event {
        int ms;
        QString dir; // "RX" or "TX"
        QString text;
    };
    std::vector<Event> Trace() const
    {
        std::vector<Event> out;
        QFile f(tracePath);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &raw : f.readAll().split('\n')) {
            const QString line = QString::fromLatin1(raw);
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts.size() < 2)
                continue;
            out.push_back({parts[0].toInt(), parts[1], line.section(QLatin1Char(' '), 2)});
        }
        return out;
    }
    // Time of the first event after index from (or nullopt) whose text starts with prefix.
    static std::optional<std::size_t> Find(const std::vector<Event> &trace, const QString &dir, const QString &prefix,
                                           std::size_t from = 0)
    {
        for (std::size_t i = from; i < trace.size(); ++i)
            if (trace[i].dir == dir && trace[i].text.startsWith(prefix))
                return i;
        return std::nullopt;
    }

    QTemporaryDir dir;
    QString link, tracePath, devicePath;
    std::unique_ptr<q274test::ChildProcess> process;
};

// Scripted answers; also keeps what the log view held at every question.
class Answers : public ScriptedDialogs {
public:
    std::function<QString()> snapshot;
    QStringList logAtQuestion;
    bool AskYesNo(QWidget *parent, const QString &title, const QString &text, DialogIcon icon) override
    {
        if (snapshot)
            logAtQuestion << snapshot();
        return ScriptedDialogs::AskYesNo(parent, title, text, icon);
    }
};

class BoardE2E : public ::testing::Test {
protected:
    void Start(const QStringList &simOptions)
    {
        sim = std::make_unique<Simulator>(simOptions);
        ASSERT_FALSE(sim->devicePath.isEmpty()) << "the simulator did not start";
        dm.ComPort()->SetPort(sim->link);
        w = std::make_unique<TfrmMain>(&dm);
        w->SetDecimalSeparator(QStringLiteral("."));
        dialogs.snapshot = [this] { return Ui(*w).memLog->toPlainText(); };
        // What showing the window starts, without painting it: Qt paints
        // through its own thread pool, which the thread checker cannot see into.
        w->ShowLogBanner();
        w->Connection()->Poller().StartCommandSender();
    }
    void TearDown() override
    {
        dialogs.snapshot = nullptr;
        w.reset();
        if (dm.ComPort()->Connected())
            dm.ComPort()->ClosePort();
        sim.reset();
    }

    // Event messages, without timestamp and indent.
    QStringList Messages() const { return q274test::Messages(Ui(*w).memLog->toPlainText(), q274test::kIndent); }
    bool Logged(const QString &text) const { return Messages().contains(text); }
    bool LoggedStart(const QString &prefix) const
    {
        for (const QString &m : Messages())
            if (m.startsWith(prefix))
                return true;
        return false;
    }

    void ConnectAndIdentify()
    {
        Ui(*w).btnConn->click();
        ASSERT_TRUE(RunUntil([&] { return Logged(rs::sQ274Found); }))
            << Messages().join(QLatin1Char('|')).toStdString();
    }

    Answers dialogs;
    TdmQ274 dm;
    std::unique_ptr<Simulator> sim;
    std::unique_ptr<TfrmMain> w;
};

TEST_F(BoardE2E, ConnectIdentifiesPollsAndDisconnectsAtOnce)
{
    Start({});
    ConnectAndIdentify();
    EXPECT_EQ(Ui(*w).btnConn->text(), rs::sDisconnect);
    QStringList m = Messages();
    const qsizetype opened = m.indexOf(rs::sComPortOpened);
    ASSERT_GE(opened, 0);
    ASSERT_GE(m.size(), opened + 4);
    EXPECT_EQ(m.mid(opened, 4), (QStringList{rs::sComPortOpened, rs::sConnecting,
                                             QStringLiteral("Temperature Monitor & Controller v2.1"), rs::sQ274Found}));

    // Poll until the rotation has asked for channel 2.
    ASSERT_TRUE(RunUntil([&] { return Simulator::Find(sim->Trace(), "RX", "T2").has_value(); }));
    EXPECT_NE(Ui(*w).lblCh1->text(), QStringLiteral(" -"));
    EXPECT_EQ(Ui(*w).lblCh1->palette().color(QPalette::WindowText), QColor(0, 0, 128));

    const auto trace = sim->Trace();
    const auto id = Simulator::Find(trace, "TX", "?Temperature");
    const auto t0 = Simulator::Find(trace, "RX", "T0");
    const auto t0Reply = Simulator::Find(trace, "TX", "T0");
    const auto s0 = Simulator::Find(trace, "RX", "S0");
    const auto t1 = Simulator::Find(trace, "RX", "T1");
    ASSERT_TRUE(id && t0 && t0Reply && s0 && t1);
    // "T0" leaves about 250 ms after identification (the sender adds up to 75 ms).
    const int toT0 = trace[*t0].ms - trace[*id].ms;
    EXPECT_GE(toT0, 240);
    EXPECT_LE(toT0, 900);
    // "T1" about 900 ms after it.
    const int toT1 = trace[*t1].ms - trace[*t0].ms;
    EXPECT_GE(toT1, 800);
    EXPECT_LE(toT1, 1600);
    // "S0" about 200 ms after the first all-channel reading, before "T1".
    EXPECT_GT(*s0, *t0Reply);
    EXPECT_LT(*s0, *t1);
    EXPECT_GE(trace[*s0].ms - trace[*t0Reply].ms, 180);
    // "T0" only once per connection.
    EXPECT_FALSE(Simulator::Find(trace, "RX", "T0", *t0 + 1));

    // Connect while connected disconnects at once, without a question.
    Ui(*w).btnConn->click();
    EXPECT_FALSE(w->PortIsOpen());
    EXPECT_EQ(Ui(*w).btnConn->text(), rs::sConnect);
    EXPECT_EQ(Messages().last(), rs::sDisconnected);
    EXPECT_EQ(Ui(*w).lblCh1->text(), QStringLiteral(" -"));
    EXPECT_TRUE(dialogs.requests.empty());
    EXPECT_TRUE(w->Connection()->Poller().CommandQueue.Items().empty());

    // A new connection starts the rotation at "T1" again and queries "T0" once more.
    const std::size_t before = sim->Trace().size();
    ConnectAndIdentify();
    ASSERT_TRUE(RunUntil([&] { return Simulator::Find(sim->Trace(), "RX", "T1", before).has_value(); }));
    const auto again = sim->Trace();
    const auto t0b = Simulator::Find(again, "RX", "T0", before);
    const auto t1b = Simulator::Find(again, "RX", "T1", before);
    ASSERT_TRUE(t0b && t1b);
    EXPECT_LT(*t0b, *t1b);
    EXPECT_FALSE(Simulator::Find(again, "RX", "T2", before).has_value()
                 && *Simulator::Find(again, "RX", "T2", before) < *t1b);
}

TEST_F(BoardE2E, HeatControlSwitchesRelayOneOnAndOff)
{
    // Two degrees per real second while the relay heats; ambient well below the set point.
    Start({QStringLiteral("--time-scale"), QStringLiteral("60"), QStringLiteral("--ambient"), QStringLiteral("20"),
           QStringLiteral("--heat-rate"), QStringLiteral("2")});
    Channel(*w, 1).EnableBox->setChecked(true);
    Channel(*w, 1).SetPointEdit->setText(QStringLiteral("24"));
    Channel(*w, 1).DropoutEdit->setText(QStringLiteral("2"));
    w->ApplySettings();
    ASSERT_TRUE(w->ChannelState().Settings(1).Enabled);
    ASSERT_EQ(w->ChannelState().Settings(1).SetPoint, 24);
    ConnectAndIdentify();

    bool sawRed = false, backAfterRed = false;
    const QColor red(255, 0, 0), background(221, 219, 213);
    ASSERT_TRUE(RunUntil(
        [&] {
            const QColor fill = Channel(*w, 1).Indicator->BrushColor();
            if (fill == red) {
                EXPECT_TRUE(w->ChannelState().RelayOn(1));
                sawRed = true;
            } else if (sawRed && fill == background) {
                EXPECT_FALSE(w->ChannelState().RelayOn(1));
                backAfterRed = true;
            }
            return backAfterRed && LoggedStart(QStringLiteral("Ch1: heat OFF  ("));
        },
        40s))
        << Messages().join(QLatin1Char('|')).toStdString();

    const QStringList m = Messages();
    qsizetype on = -1, off = -1;
    for (qsizetype i = 0; i < m.size(); ++i) {
        if (on < 0 && m[i].startsWith(QStringLiteral("Ch1: heat ON  (")))
            on = i;
        if (off < 0 && m[i].startsWith(QStringLiteral("Ch1: heat OFF  (")))
            off = i;
    }
    ASSERT_GE(on, 0);
    EXPECT_GT(off, on);
    // Switched off at set point + dropout or above, with the reading as shown.
    const QString offReading = m[off].section(QLatin1Char('('), 1).chopped(1);
    EXPECT_GE(offReading.toDouble(), 26.0) << m[off].toStdString();
    const QString onReading = m[on].section(QLatin1Char('('), 1).chopped(1);
    EXPECT_LE(onReading.toDouble(), 24.0) << m[on].toStdString();

    // Every relay command on the wire is followed by a status query.
    const auto trace = sim->Trace();
    ASSERT_TRUE(Simulator::Find(trace, "RX", "N1").has_value());
    ASSERT_TRUE(Simulator::Find(trace, "RX", "F1").has_value());
    for (std::size_t i = 0; i < trace.size(); ++i) {
        const QString &t = trace[i].text;
        if (trace[i].dir == "RX" && (t.startsWith('N') || t.startsWith('F'))) {
            const auto status = Simulator::Find(trace, "RX", "S0", i + 1);
            // Only the last command may still wait for its query.
            if (!status) {
                EXPECT_GE(i + 4, trace.size()) << t.toStdString();
            }
        }
    }
    EXPECT_TRUE(Channel(*w, 1).EnableBox->isChecked());
}

TEST_F(BoardE2E, NoBoardEndsWithTheWatchdog)
{
    Start({QStringLiteral("--silent-after"), QStringLiteral("0")});
    dm.SetWatchdogInterval(600);
    Ui(*w).btnConn->click();
    ASSERT_TRUE(RunUntil([&] { return Logged(rs::sDisconnected); }));
    const QStringList m = Messages();
    const qsizetype opened = m.indexOf(rs::sComPortOpened);
    ASSERT_GE(opened, 0);
    EXPECT_EQ(m.mid(opened), (QStringList{rs::sComPortOpened, rs::sConnecting, rs::sCouldNotConnect, rs::sClosingPort,
                                          rs::sDisconnected}));
    EXPECT_FALSE(w->PortIsOpen());
    EXPECT_EQ(Ui(*w).btnConn->text(), rs::sConnect);
}

TEST_F(BoardE2E, CloseSequenceWhileConnected)
{
    Start({});
    ConnectAndIdentify();

    // No: the window stays, the port stays open, nothing more is asked.
    dialogs.answers = {false};
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->PortIsOpen());
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].text, DisconnectQuestion());
    EXPECT_EQ(dialogs.requests[0].icon, DialogIcon::Warning);

    // Yes, then No to saving: the disconnect lines are in the view before the
    // save question comes.
    dialogs.requests.clear();
    dialogs.logAtQuestion.clear();
    dialogs.answers = {true, false};
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->PortIsOpen());
    ASSERT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(dialogs.requests[0].text, DisconnectQuestion());
    EXPECT_EQ(dialogs.requests[1].text, QStringLiteral("Save the Log?"));
    ASSERT_EQ(dialogs.logAtQuestion.size(), 2);
    EXPECT_FALSE(dialogs.logAtQuestion[0].contains(rs::sDisconnected));
    EXPECT_TRUE(dialogs.logAtQuestion[1].contains(rs::sDisconnected));
}

TEST_F(BoardE2E, CloseWithLoggingOffAsksOnlyToDisconnect)
{
    Start({});
    ConnectAndIdentify();
    Ui(*w).chkLog->setChecked(false);
    dialogs.answers = {true};
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->PortIsOpen());
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].text, DisconnectQuestion());
}

TEST_F(BoardE2E, HangUpEndsTheConnectionWithALoggedLine)
{
    Start({QStringLiteral("--hangup-after"), QStringLiteral("2")});
    ConnectAndIdentify();
    ASSERT_TRUE(RunUntil([&] { return Logged(rs::sDisconnected); }));
    const QStringList m = Messages();
    const QString error = QStringLiteral("  ") + rs::sComPortPrefix + QStringLiteral("  ") + rs::sErrIO;
    ASSERT_TRUE(m.contains(error)) << m.join(QLatin1Char('|')).toStdString();
    EXPECT_LT(m.indexOf(error), m.indexOf(rs::sDisconnected));
    EXPECT_FALSE(w->PortIsOpen());
    EXPECT_FALSE(w->Connection()->Poller().tmrTemp->Enabled());
    EXPECT_EQ(Ui(*w).lblCh1->text(), QStringLiteral(" -"));
}

TEST_F(BoardE2E, PortThatCannotBeOpenedReachesTheErrorHandler)
{
    Start({});
    const QString device = sim->dir.filePath(QStringLiteral("no-such-device"));
    dm.ComPort()->SetPort(device);
    Ui(*w).btnConn->click();
    EXPECT_FALSE(w->PortIsOpen());
    EXPECT_EQ(Ui(*w).btnConn->text(), rs::sConnect);
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].kind, QStringLiteral("error"));
    EXPECT_TRUE(dialogs.requests[0].text.startsWith(QStringLiteral("Unable to open com port (win error code: 2)")))
        << dialogs.requests[0].text.toStdString();
    EXPECT_TRUE(LoggedStart(rs::sApplicationError + QStringLiteral(" Unable to open com port")));
    // Then, after the table's text, which device and what to do.
    EXPECT_EQ(Messages().last(), device + QStringLiteral(": No such file or directory \u2014 is the board plugged in?"));
}

} // namespace

TEST_F(BoardE2E, ChartPageRecordsTheCurveAndTheRelayWhileConnected)
{
    Start({QStringLiteral("--time-scale"), QStringLiteral("60"), QStringLiteral("--ambient"), QStringLiteral("20"),
           QStringLiteral("--heat-rate"), QStringLiteral("2")});
    Channel(*w, 1).EnableBox->setChecked(true);
    Channel(*w, 1).SetPointEdit->setText(QStringLiteral("24"));
    w->ApplySettings();
    w->FormKeyDown(Qt::Key_G, Qt::ControlModifier);
    ASSERT_EQ(Ui(*w).pgMain->currentWidget(), Ui(*w).tabChart);
    ConnectAndIdentify();

    // Readings of every channel arrive, and the heating relay is recorded on.
    ASSERT_TRUE(RunUntil([&] {
        return w->History().SampleCount(1) >= 5 && w->ChannelState().RelayOn(1) && w->History().SampleCount(4) >= 5;
    })) << Messages().join(QLatin1Char('|')).toStdString();
    const qint64 last = *w->History().LastTime();
    // The window is not painted here (see Start); draw the page as showing it would.
    Ui(*w).Chart->Redraw();
    QList<QPointF> points;
    for (QLineSeries *s : Ui(*w).Chart->Series[0].Lines)
        points += s->points();
    ASSERT_GE(points.size(), 2);
    EXPECT_EQ(Ui(*w).Chart->ViewTo(), last) << "following the newest data";
    EXPECT_GT(qint64(points.back().x()), Ui(*w).Chart->ViewFrom());
    EXPECT_GT(Ui(*w).Chart->Series[0].Relay->upperSeries()->count(), 2) << "the relay's band";
    EXPECT_EQ(Ui(*w).Chart->Series[0].SetPoint->at(0).y(), 24.0);

    const std::size_t before = w->History().SampleCount(1);
    Ui(*w).btnConn->click(); // disconnect: recording stops
    ASSERT_TRUE(RunUntil([&] { return !w->History().Recording(); }));
    Pump(300ms);
    EXPECT_EQ(w->History().SampleCount(1), before);
    EXPECT_TRUE(w->History().CsvBytes().endsWith(",,,,,\r\n")) << "the disconnect ends the export with a gap row";
}
