// Read-outs, thermostat, relay status, manual presses and disconnect state,
// driven through the main window without a board (the port, when open, on a
// pseudo-terminal nobody answers).
#include "mainwindow.h"
#include "protocol.h"
#include "rstrings.h"

#include "support/mainwidgets.h"
#include "support/ptyport.h"
#include "support/support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace q274;
using q274test::Channel;
using q274test::Ui;

namespace {

const QColor kRed(255, 0, 0);
const QColor kBackground(221, 219, 213);
const QColor kSilver(192, 192, 192);

class ControlWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        w.SetDecimalSeparator(QStringLiteral("."));
        Ui(w).memLog->clear();
        // A second between log lines: each rejected line here is its own
        // event, not part of a flood.
        w.LogModel().Clock = [t = QDateTime::currentDateTime()]() mutable { return t = t.addSecs(1); };
    }

    // The event messages of the log view, without timestamp and indent.
    QStringList Messages() const { return q274test::Messages(Ui(w).memLog->toPlainText(), q274test::kIndent); }

    std::vector<std::string> Queue() const
    {
        return {w.Connection()->Poller().CommandQueue.Items().begin(), w.Connection()->Poller().CommandQueue.Items().end()};
    }

    QStringList Readouts() const
    {
        return {Ui(w).lblCh1->text(), Ui(w).lblCh2->text(), Ui(w).lblCh3->text(), Ui(w).lblCh4->text()};
    }

    void Enable(int channel, int setPoint = 30, int dropout = 3, const QString &mode = kModeHeat)
    {
        Channel(w, channel).EnableBox->setChecked(true);
        Channel(w, channel).SetPointEdit->setText(QString::number(setPoint));
        Channel(w, channel).DropoutEdit->setText(QString::number(dropout));
        Channel(w, channel).ModeList->setCurrentText(mode);
        w.ApplySettings();
    }

    void Polling() { w.Connection()->Poller().TemperaturesEnabled = true; }

    // The manual buttons act only while the port is open.
    void Connect()
    {
        q274test::ConnectThrough(w, pty);
        Ui(w).memLog->clear();
    }

    q274test::Pty pty;
    TfrmMain w;
};

using Q = std::vector<std::string>;

TEST_F(ControlWindow, AllChannelReadoutsInCelsiusAndFahrenheit)
{
    w.HandleTemperatureReply(QStringLiteral("T024.06,22.12,?,?"));
    EXPECT_EQ(Readouts(), (QStringList{" 24.06", " 22.12", " -", " -"}));

    Ui(w).cmbDeg->setCurrentText(QStringLiteral("F"));
    EXPECT_TRUE(w.UsesFahrenheit());
    EXPECT_EQ(Messages().last(), rs::sLoggingInDeg + QStringLiteral(" F"));
    // The unit switch converts nothing on the spot.
    EXPECT_EQ(Ui(w).lblCh1->text(), QStringLiteral(" 24.06"));
    w.HandleTemperatureReply(QStringLiteral("T024.06,22.12,?,?"));
    EXPECT_EQ(Readouts(), (QStringList{" 75.31", " 71.82", " -", " -"}));
    EXPECT_FALSE(Messages().contains(kDataErrorText));
}

TEST_F(ControlWindow, CommaSeparatorLocale)
{
    w.SetDecimalSeparator(QStringLiteral(","));
    w.HandleTemperatureReply(QStringLiteral("T024.06,22.12,?,?"));
    EXPECT_EQ(Readouts(), (QStringList{" 24,06", " 22,12", " -", " -"}));
    Ui(w).cmbDeg->setCurrentText(QStringLiteral("F"));
    w.HandleTemperatureReply(QStringLiteral("T024.06,22.12,?,?"));
    EXPECT_EQ(Readouts(), (QStringList{" 75,31", " 71,82", " -", " -"}));
    w.HandleTemperatureReply(QStringLiteral("T3-5.5"));
    EXPECT_EQ(Ui(w).lblCh3->text(), QStringLiteral(" 22,10"));
}

TEST_F(ControlWindow, SingleChannelRepliesAndRejectedLines)
{
    w.HandleTemperatureReply(QStringLiteral("T021.00,22.00,23.00,24.00"));
    w.HandleTemperatureReply(QStringLiteral("T3?"));
    EXPECT_EQ(Readouts(), (QStringList{" 21.00", " 22.00", " -", " 24.00"}));
    w.HandleTemperatureReply(QStringLiteral("T425.50"));
    EXPECT_EQ(Ui(w).lblCh4->text(), QStringLiteral(" 25.50"));

    // Second character not a digit, and a channel without a read-out: the
    // data error, nothing changes.
    for (const char *bad : {"TX21.00", "T521.00", "T921.00"}) {
        const QStringList before = Readouts();
        Ui(w).memLog->clear();
        w.HandleTemperatureReply(QString::fromLatin1(bad));
        EXPECT_EQ(Readouts(), before) << bad;
        EXPECT_EQ(Messages(), QStringList{kDataErrorText}) << bad;
    }
}

TEST_F(ControlWindow, ValueThatIsNotANumberShowsNoReadingAndOthersGoOn)
{
    Enable(1);
    Enable(2);
    Enable(4);
    Polling();
    // One bad field: logged once for the line, channels 1 and 4 still controlled.
    w.HandleTemperatureReply(QStringLiteral("T025.00,ERR,?,26.00"));
    EXPECT_EQ(Readouts(), (QStringList{" 25.00", " -", " -", " 26.00"}));
    EXPECT_EQ(Messages(), (QStringList{kDataErrorText, "Ch1: heat ON  (25.00)", "Ch4: heat ON  (26.00)"}));
    EXPECT_EQ(Queue(), (Q{"N1", "N4"}));

    // Two bad fields still give one message; Fahrenheit cannot convert them either.
    Ui(w).cmbDeg->setCurrentText(QStringLiteral("F"));
    w.Connection()->Poller().CommandQueue.Clear();
    Ui(w).memLog->clear();
    w.HandleTemperatureReply(QStringLiteral("T0abc,ERR,20.00,x"));
    EXPECT_EQ(Readouts(), (QStringList{" -", " -", " 68.00", " -"}));
    EXPECT_EQ(Messages(), QStringList{kDataErrorText});
    EXPECT_TRUE(Queue().empty());

    // A single bad channel: its read-out goes to " -", channel 1 is controlled
    // from its last reading.
    Ui(w).cmbDeg->setCurrentText(QStringLiteral("C"));
    w.HandleTemperatureReply(QStringLiteral("T125.00"));
    w.Connection()->Poller().CommandQueue.Clear();
    Ui(w).memLog->clear();
    w.HandleTemperatureReply(QStringLiteral("T4 bad"));
    EXPECT_EQ(Ui(w).lblCh4->text(), QStringLiteral(" -"));
    EXPECT_EQ(Messages(), (QStringList{kDataErrorText, "Ch1: heat ON  (25.00)"}));
    EXPECT_EQ(Queue(), Q{"N1"});

    // An all-channel reply with missing fields: the last one goes to channel 4.
    Ui(w).memLog->clear();
    w.HandleTemperatureReply(QStringLiteral("T021.00,22.00"));
    EXPECT_EQ(Readouts(), (QStringList{" 21.00", " -", " -", " 22.00"}));
    EXPECT_EQ(Messages().count(kDataErrorText), 1);
}

TEST_F(ControlWindow, HeatThermostatRepeatsUntilTheStatusReplyComes)
{
    Enable(1);
    Polling();
    w.HandleTemperatureReply(QStringLiteral("T130.01"));
    EXPECT_TRUE(Queue().empty());
    w.HandleTemperatureReply(QStringLiteral("T130.00"));
    EXPECT_EQ(Queue(), Q{"N1"});
    // A reply for channel 2 re-evaluates channel 1 from its read-out.
    w.HandleTemperatureReply(QStringLiteral("T225.00"));
    EXPECT_EQ(Queue(), (Q{"N1", "N1"}));
    EXPECT_EQ(Messages(), (QStringList{"Ch1: heat ON  (30.00)", "Ch1: heat ON  (30.00)"}));

    w.ShowRelayStatus(QStringLiteral("1"));
    w.Connection()->Poller().CommandQueue.Clear();
    Ui(w).memLog->clear();
    w.HandleTemperatureReply(QStringLiteral("T125.00"));
    w.HandleTemperatureReply(QStringLiteral("T132.99"));
    EXPECT_TRUE(Queue().empty());
    w.HandleTemperatureReply(QStringLiteral("T133.00"));
    EXPECT_EQ(Queue(), Q{"F1"});
    EXPECT_EQ(Messages(), QStringList{"Ch1: heat OFF  (33.00)"});

    // Disabled: nothing, whatever the reading.
    Channel(w, 1).EnableBox->setChecked(false);
    w.ApplySettings();
    w.Connection()->Poller().CommandQueue.Clear();
    w.HandleTemperatureReply(QStringLiteral("T140.00"));
    EXPECT_TRUE(Queue().empty());
}

TEST_F(ControlWindow, CoolThermostatAndFahrenheitReadings)
{
    Enable(3, -15, 25, kModeCool);
    Polling();
    w.HandleTemperatureReply(QStringLiteral("T3-15.00"));
    EXPECT_EQ(Queue(), Q{"N3"});
    EXPECT_EQ(Messages(), QStringList{"Ch3: cool ON  (-15.00)"});
    w.ShowRelayStatus(QStringLiteral("4"));
    w.Connection()->Poller().CommandQueue.Clear();
    w.HandleTemperatureReply(QStringLiteral("T3-39.99"));
    EXPECT_TRUE(Queue().empty());
    w.HandleTemperatureReply(QStringLiteral("T3-40.00"));
    EXPECT_EQ(Queue(), Q{"F3"});
    EXPECT_EQ(Messages().last(), QStringLiteral("Ch3: cool OFF  (-40.00)"));

    // Fahrenheit: 30 C reads 86.00, compared with the set point 86.
    Channel(w, 3).EnableBox->setChecked(false);
    Enable(1, 86, 3, kModeHeat);
    Ui(w).cmbDeg->setCurrentText(QStringLiteral("F"));
    w.Connection()->Poller().CommandQueue.Clear();
    w.HandleTemperatureReply(QStringLiteral("T130.00"));
    EXPECT_EQ(Ui(w).lblCh1->text(), QStringLiteral(" 86.00"));
    EXPECT_EQ(Queue(), Q{"N1"});
    EXPECT_EQ(Messages().last(), QStringLiteral("Ch1: heat ON  (86.00)"));
}

TEST_F(ControlWindow, ThermostatRunsOnlyWhilePolling)
{
    Enable(1);
    w.HandleTemperatureReply(QStringLiteral("T020.00,20.00,20.00,20.00"));
    EXPECT_TRUE(Queue().empty());
}

TEST_F(ControlWindow, ControlChangesKeepTheIntervalsChosenForTheRun)
{
    // Every kind of control, as a user works it; none of them may put the
    // data-line or autosave interval back.
    w.SetDataLineInterval(1000);
    w.SetAutosaveInterval(QStringLiteral("6h"));
    q274test::Named<QCheckBox>(w, "chkEnable2")->click();
    q274test::Named<TUpDown>(w, "UpDown1")->UpButton()->click();
    q274test::Named<TUpDown>(w, "UpDown2")->UpButton()->click();
    q274test::Named<QComboBox>(w, "cmbMode3")->setCurrentText(kModeCool);
    q274test::Named<QCheckBox>(w, "chkM4")->click();
    Ui(w).cmbDeg->setCurrentText(QStringLiteral("F"));
    Connect();
    q274test::Named<QPushButton>(w, "btnR1")->click();

    EXPECT_EQ(w.DataLineIntervalMs(), 1000);
    EXPECT_DOUBLE_EQ(w.LogModel().AutosaveInterval, 0.25);
    // The changes themselves were taken.
    EXPECT_TRUE(w.ChannelState().Settings(2).Enabled);
    EXPECT_EQ(w.ChannelState().Settings(1).SetPoint, 31);
    EXPECT_EQ(w.ChannelState().Settings(1).Dropout, 4);
    EXPECT_EQ(w.ChannelState().Settings(3).Mode, kModeCool);
    EXPECT_FALSE(w.ChannelState().Settings(4).ManualOverrides);
    EXPECT_TRUE(w.UsesFahrenheit());
}

TEST_F(ControlWindow, RelayStatusSetsFlagsAndFillsTogether)
{
    for (int ch = 1; ch <= 4; ++ch)
        EXPECT_EQ(Channel(w, ch).Indicator->BrushColor(), kSilver);
    struct Case {
        const char *text;
        std::array<bool, 4> on;
    };
    const Case cases[] = {{"0", {false, false, false, false}}, {"F", {true, true, true, true}},
                          {"1", {true, false, false, false}},  {"8", {false, false, false, true}},
                          {"5", {true, false, true, false}},   {"05", {true, false, true, false}},
                          {"1a", {false, true, false, true}}};
    for (const Case &c : cases) {
        w.ShowRelayStatus(QString::fromLatin1(c.text));
        for (int ch = 1; ch <= 4; ++ch) {
            EXPECT_EQ(w.ChannelState().RelayOn(ch), c.on[std::size_t(ch - 1)]) << c.text << " relay " << ch;
            EXPECT_EQ(Channel(w, ch).Indicator->BrushColor(), c.on[std::size_t(ch - 1)] ? kRed : kBackground)
                << c.text << " relay " << ch;
        }
    }
    EXPECT_TRUE(Messages().isEmpty());

    // Not hexadecimal: the data error, flags and fills stay.
    w.ShowRelayStatus(QStringLiteral("5"));
    for (const char *bad : {"", "G", "5x", "-1"}) {
        Ui(w).memLog->clear();
        w.ShowRelayStatus(QString::fromLatin1(bad));
        EXPECT_EQ(Messages(), QStringList{kDataErrorText}) << bad;
        EXPECT_TRUE(w.ChannelState().RelayOn(1) && !w.ChannelState().RelayOn(2) && w.ChannelState().RelayOn(3)
                    && !w.ChannelState().RelayOn(4))
            << bad;
        EXPECT_EQ(Channel(w, 1).Indicator->BrushColor(), kRed) << bad;
    }
}

TEST_F(ControlWindow, ManualPressIsIgnoredWhileThePortIsClosed)
{
    Enable(1);
    Channel(w, 1).RelayButton->click();
    w.FormKeyDown(Qt::Key_1, Qt::ControlModifier);
    EXPECT_TRUE(Queue().empty());
    EXPECT_TRUE(Messages().isEmpty());
    EXPECT_TRUE(Channel(w, 1).EnableBox->isChecked());
}

TEST_F(ControlWindow, ManualPressWithOverrideEndsAutomaticControl)
{
    Connect();
    Enable(1);
    Polling();
    Channel(w, 1).RelayButton->click();
    EXPECT_FALSE(Channel(w, 1).EnableBox->isChecked());
    EXPECT_FALSE(w.ChannelState().Settings(1).Enabled);
    EXPECT_EQ(Channel(w, 1).Indicator->PenColor(), QColor(106, 106, 106));
    EXPECT_EQ(Queue(), Q{"N1"});
    EXPECT_EQ(Messages(), QStringList{"Manual - R1 - ON"});
    // No status reply yet: the same decision again.
    Channel(w, 1).RelayButton->click();
    EXPECT_EQ(Queue(), (Q{"N1", "N1"}));
    // Automatic control has ended: a cold reading sends nothing.
    w.Connection()->Poller().CommandQueue.Clear();
    w.HandleTemperatureReply(QStringLiteral("T110.00"));
    EXPECT_TRUE(Queue().empty());

    w.ShowRelayStatus(QStringLiteral("1"));
    Channel(w, 1).RelayButton->click();
    EXPECT_EQ(Queue(), Q{"F1"});
    EXPECT_EQ(Messages().last(), QStringLiteral("Manual - R1 - OFF"));
    // The relay state does not follow the press, only the status reply.
    EXPECT_TRUE(w.ChannelState().RelayOn(1));
    EXPECT_EQ(Channel(w, 1).Indicator->BrushColor(), kRed);
}

TEST_F(ControlWindow, ManualPressWithoutOverrideKeepsControl)
{
    Connect();
    Enable(2);
    Channel(w, 2).OverrideBox->setChecked(false);
    w.ApplySettings();
    Polling();
    w.ShowRelayStatus(QStringLiteral("2"));
    Channel(w, 2).RelayButton->click();
    EXPECT_TRUE(Channel(w, 2).EnableBox->isChecked());
    EXPECT_EQ(Queue(), Q{"F2"});
    EXPECT_EQ(Messages(), QStringList{"Manual - R2 - OFF"});

    // Between the thresholds the manual state holds; at the set point control
    // takes over again.
    w.ShowRelayStatus(QStringLiteral("0"));
    w.Connection()->Poller().CommandQueue.Clear();
    w.HandleTemperatureReply(QStringLiteral("T231.00"));
    EXPECT_TRUE(Queue().empty());
    w.HandleTemperatureReply(QStringLiteral("T230.00"));
    EXPECT_EQ(Queue(), Q{"N2"});
}

TEST_F(ControlWindow, CtrlDigitsOnBothKeyboardsPressTheRelayButtons)
{
    Connect();
    w.FormKeyDown(Qt::Key_3, Qt::ControlModifier);
    w.FormKeyDown(Qt::Key_4, Qt::ControlModifier | Qt::KeypadModifier);
    w.FormKeyDown(Qt::Key_1, Qt::ControlModifier | Qt::ShiftModifier);
    w.FormKeyDown(Qt::Key_2, Qt::NoModifier);
    EXPECT_EQ(Queue(), (Q{"N3", "N4", "N1"}));
    EXPECT_EQ(Messages(), (QStringList{"Manual - R3 - ON", "Manual - R4 - ON", "Manual - R1 - ON"}));
}

TEST_F(ControlWindow, DisconnectResetsTheWindowAndCancelsOneShots)
{
    w.BoardIdentified();
    w.Connection()->Poller().StartTemperaturePolling();
    w.Connection()->Poller().tmrRStatus->SetEnabled(true);
    w.Connection()->Poller().tmrTempTimer();
    w.Connection()->Poller().tmrTempTimer();
    w.Connection()->Poller().QueueCommand("N1");
    w.ShowRelayStatus(QStringLiteral("F"));
    w.SetFirstSamplePending(false); // no data-line worker here
    w.HandleTemperatureReply(QStringLiteral("T021.00,22.00,23.00,24.00"));
    Ui(w).btnConn->setText(rs::sDisconnect);
    Ui(w).memLog->clear();

    w.Connection()->ComPortAfterClose(); // as when the port closes
    EXPECT_FALSE(w.Connection()->Poller().tmrTStatus->Enabled());
    EXPECT_FALSE(w.Connection()->Poller().tmrTemp->Enabled());
    EXPECT_FALSE(w.Connection()->Poller().tmrRStatus->Enabled());
    EXPECT_FALSE(w.Connection()->Poller().TemperaturesEnabled);
    EXPECT_EQ(w.Connection()->Poller().NextChannel(), 1);
    EXPECT_TRUE(Queue().empty());
    EXPECT_EQ(Ui(w).btnConn->text(), rs::sConnect);
    EXPECT_EQ(Readouts(), (QStringList{" -", " -", " -", " -"}));
    for (int ch = 1; ch <= 4; ++ch) {
        EXPECT_FALSE(w.ChannelState().RelayOn(ch));
        EXPECT_EQ(Channel(w, ch).Indicator->BrushColor(), kBackground);
        EXPECT_EQ(Channel(w, ch).Readout->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    }
    const QStringList lines = Ui(w).memLog->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].endsWith(q274test::kIndent + rs::sDisconnected));
    EXPECT_EQ(lines[1], QStringLiteral(" "));

    // The rotation starts again at channel 1.
    w.Connection()->Poller().StartTemperaturePolling();
    w.Connection()->Poller().tmrTempTimer();
    EXPECT_EQ(Queue(), Q{"T1"});
}

} // namespace
