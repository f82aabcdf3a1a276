#include "mainwindow.h"

#include "about.h"
#include "accessnames.h"
#include "application.h"
#include "chartpage.h"
#include "comerrors.h"
#include "dialogs.h"
#include "help.h"
#include "logfiles.h"
#include "look.h"
#include "protocol.h"
#include "relays.h"
#include "rstrings.h"
#include "shellrules.h"
#include "storeditems.h"
#include "textrules.h"
#include "thermostat.h"
#include "timestamp.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetricsF>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QWindow>

#include <stdexcept>

namespace q274 {

namespace {

const QColor kBackground = kLayoutBackground;
const QColor kReadoutOpen(0, 0, 128);
const QColor kReadoutClosed(128, 128, 128);
const QColor kOutlineEnabled(255, 0, 0);
const QColor kOutlineDisabled(106, 106, 106);
const QColor kFillUnknown(192, 192, 192);
const QColor kFillOn(255, 0, 0);

QFont SansFont(int pixels, bool bold = false) { return LayoutFont(pixels, bold); }

} // namespace

TfrmMain::TfrmMain(TdmQ274 *dm, QWidget *parent) : QWidget(parent), dmQ274(dm)
{
    if (!dmQ274) {
        FOwnedDm = std::make_unique<TdmQ274>();
        dmQ274 = FOwnedDm.get();
    }
    // Polling stops with every disconnect; the data lines end with it.
    dmQ274->Poller().OnPollingStopped = [this] { StopDataLogging(); };
    setObjectName(QStringLiteral("frmMain"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setWindowTitle(ApplicationTitle());
    // The layout's colours and font, whatever the desktop theme. The
    // application-wide ones are set at start-up (SetApplicationLook).
    setPalette(LayoutPalette());
    setAutoFillBackground(true);
    setFont(SansFont(12));

    MakeMqttLink();
    BuildLayout();
    FollowLog();
    FormCreate();
    dmQ274->SetHost(this);
}

TfrmMain::~TfrmMain()
{
    if (FRecovery.joinable())
        FRecovery.join();
    EndDataLineWorker();
    // Nothing may reach a window that is being taken apart: the connection
    // loses its host and polling its stop callback.
    dmQ274->SetHost(nullptr);
    dmQ274->Poller().OnPollingStopped = nullptr;
    // A normal end: the log's journal is not needed any more.
    if (FJournal && !FKeepJournal)
        FJournal->Remove();
    // The handler captures this window.
    SetAppExceptionHandler({});
}

void TfrmMain::ShowLogPage() { pgMain->setCurrentWidget(tabLog); }

// ---------------------------------------------------------------- creation

void TfrmMain::FormCreate()
{
    SetAppExceptionHandler([this](const std::exception &e) { HandleAppException(e); });

    MessageIndent = q274::MessageIndent;
    Locale = UserLocale();
    DecimalSeparatorText = q274::DecimalSeparator(Locale);
    DateSeparatorText = q274::DateSeparator(Locale);

    dmQ274->Poller().CommandQueue.Clear();
    dmQ274->Poller().TemperaturesEnabled = false;
    FirstSamplePending = false;
    UseFahrenheit = false;
    Log.ShowMilliseconds = false;
    Channels.ClearRelays();
    Log.LastAutosaveTime = QDateTime::currentDateTime();
    Log.AutosaveCount = 0;
    lblSaveCount->setText(QStringLiteral("0"));
    // No control chooses these two, so they are set once here: a value set
    // later (a run setting, a test) outlasts every change of the controls.
    SetAutosaveInterval(QStringLiteral("24h"));
    DataLineInterval = DataLineWorker::kDefaultInterval;

    LogFolder = LogFolderPath();
    pgMain->setCurrentWidget(tabControl);
    ColourReadouts(false);
    ShowEnabledChannels();
    ApplyCaptions();
    ApplySettings();
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (FShown)
        return;
    FShown = true;
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    Guarded([this] { FormShow(); });
}

void TfrmMain::FormShow()
{
    btnConn->setFocus();
    ShowLogBanner();
    dmQ274->Poller().StartCommandSender();
}

// ---------------------------------------------------------------- settings

void TfrmMain::ApplySettings()
{
    UseFahrenheit = cmbDeg->currentText() == QLatin1String("F");
    for (int ch = 1; ch <= 4; ++ch)
        Channels.Settings(ch) = Panel(ch).Read();
    ShowEnabledChannels();
    if (Chart) // unit, set points and enabled channels are drawn
        Chart->ScheduleRedraw();
    AlarmSettingsChanged(); // the channels watched; a profile's write-back
    PublishSettings();
}

void TfrmMain::SetAutosaveInterval(const QString &name) { Log.AutosaveInterval = AutosaveIntervalDays(name); }

void TfrmMain::ShowEnabledChannels()
{
    for (int ch = 1; ch <= 4; ++ch)
        Indicator(ch)->SetPenColor(Channels.Settings(ch).Enabled ? kOutlineEnabled : kOutlineDisabled);
}

void TfrmMain::SetRelayIndicator(int channel, RelayFill fill)
{
    const QColor c = fill == RelayFill::On ? kFillOn : fill == RelayFill::Off ? kBackground : kFillUnknown;
    Indicator(channel)->SetBrushColor(c);
    Indicator(channel)->setAccessibleName(RelayLampAccessibleName(
        channel, fill == RelayFill::Unknown ? std::nullopt : std::optional<bool>(fill == RelayFill::On)));
}

void TfrmMain::ClearReadouts()
{
    Channels.ClearReadouts();
    for (int ch = 1; ch <= 4; ++ch)
        ShowReadoutText(ch);
}

void TfrmMain::ShowReadoutText(int channel)
{
    Readout(channel)->setText(Channels.Readout(channel));
    Readout(channel)->setAccessibleName(ReadoutAccessibleName(channel, Channels.Readout(channel), UseFahrenheit));
}

void TfrmMain::ColourReadouts(bool portOpen)
{
    for (int ch = 1; ch <= 4; ++ch)
        SetTextColor(Readout(ch), portOpen ? kReadoutOpen : kReadoutClosed);
}

void TfrmMain::cmbDegChange()
{
    LogMessage(MessageIndent + rs::sLoggingInDeg + QLatin1Char(' ') + cmbDeg->currentText());
    ApplySettings();
}

// ---------------------------------------------------------------- keys

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    // The window's own system window receives each key press exactly once,
    // before it goes on to the focused control. Acting there, and not at the
    // widgets the key travels through, keeps a shortcut from acting again
    // when its handler ran a modal box that left no control focused.
    if (event->type() == QEvent::KeyPress && watched == static_cast<QObject *>(windowHandle())) {
        auto *ke = static_cast<QKeyEvent *>(event);
        Guarded([this, ke] { FormKeyDown(ke->key(), ke->modifiers(), ke->nativeScanCode()); });
    }
    // Esc on the log view is the one key taken from a control.
    if (event->type() == QEvent::KeyPress && watched == memLog
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        LeaveLogView();
        return true;
    }
    return QWidget::eventFilter(watched, event); // other keys are never consumed
}

bool TfrmMain::FormKeyDown(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode)
{
    switch (ShortcutFor(key, modifiers, nativeScanCode)) {
    case ShortcutAction::None: return false;
    case ShortcutAction::Help: btnHelpClick(); break;
    case ShortcutAction::Close: close(); break;
    case ShortcutAction::Relay1: btnR1Click(1); break;
    case ShortcutAction::Relay2: btnR1Click(2); break;
    case ShortcutAction::Relay3: btnR1Click(3); break;
    case ShortcutAction::Relay4: btnR1Click(4); break;
    case ShortcutAction::Connect: btnConnClick(); break;
    case ShortcutAction::ToggleLogging:
        chkLog->setChecked(!chkLog->isChecked());
        chkLogClick();
        break;
    case ShortcutAction::About: btnAboutClick(); break;
    case ShortcutAction::ComPort: btnCOMClick(); break;
    case ShortcutAction::ClearLog: btnClearLogClick(); break;
    case ShortcutAction::SaveLog: btnLogSaveClick(); break;
    case ShortcutAction::ShowControlPage: pgMain->setCurrentWidget(tabControl); break;
    case ShortcutAction::ShowLogPage: pgMain->setCurrentWidget(tabLog); break;
    case ShortcutAction::ShowChartPage: pgMain->setCurrentWidget(tabChart); break;
    case ShortcutAction::ToggleMilliseconds: Log.ShowMilliseconds = !Log.ShowMilliseconds; break;
    case ShortcutAction::OpenProfile: OpenProfileClick(); break;
    case ShortcutAction::ShowAlarmsPage: pgMain->setCurrentWidget(tabAlarms); break;
    case ShortcutAction::AcknowledgeAlarm: AcknowledgeAlarms(); break;
    case ShortcutAction::FocusLogView: FocusLogView(); break;
    }
    return true;
}

// ---------------------------------------------------------------- closing

void TfrmMain::closeEvent(QCloseEvent *event)
{
    try {
        if (PortIsOpen()) {
            if (!CurrentDialogs().AskYesNo(this, QStringLiteral("Warning"), DisconnectQuestion(),
                                           DialogIcon::Warning)) {
                event->ignore();
                return;
            }
            ClosePortForExit();
        }
        // Closing stops reconnecting, also while attempts wait for the board.
        FReconnector->Stop();
        if (chkLog->isChecked())
            AskSaveLog();
    } catch (const std::exception &e) {
        // A failed save (or close) ends this close attempt; the window stays.
        event->ignore();
        HandleAppException(e);
        return;
    }
    event->accept();
}

// ---------------------------------------------------------------- errors

void TfrmMain::HandleAppException(const std::exception &error, bool showBox)
{
    const QString message = QString::fromUtf8(error.what());
    LogMessage(MessageIndent + rs::sApplicationError + QLatin1Char(' ') + message);
    if (showBox)
        CurrentDialogs().ShowError(this, ApplicationTitle(), ErrorBoxText(message));
    // The table's text names neither the device nor a way out.
    const auto *portError = dynamic_cast<const EComPort *>(&error);
    if (portError && portError->PortErrorCode() == CError_OpenFailed && portError->SystemErrorCode() > 0)
        LogMessage(MessageIndent
                   + PortOpenAdvice(QString::fromStdString(DevicePathForPort(dmQ274->ComPort()->Port())),
                                    portError->SystemErrorCode()));
}

void TfrmMain::Guarded(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        HandleAppException(e);
    } catch (...) {
        HandleAppException(std::runtime_error("Unknown error"));
    }
}

// ---------------------------------------------------------------- entry points

bool TfrmMain::PortIsOpen() const { return dmQ274->ComPort()->Connected(); }
void TfrmMain::ClosePortForExit() { UserDisconnect(); }

void TfrmMain::btnConnClick()
{
    // Disconnect (also while reconnect attempts wait) ends the connection the
    // user's way: no further attempts, the safe state where it is wanted.
    if (PortIsOpen() || FReconnector->Active())
        UserDisconnect();
    else
        dmQ274->ToggleConnection(); // open failures travel on to HandleAppException
}

void TfrmMain::btnCOMClick()
{
    dmQ274->ComPort()->EditSettings();
    const int baud = BaudRateToInt(dmQ274->ComPort()->BaudRate());
    FProfile.Port = {dmQ274->ComPort()->Port(), IsProfileBaud(baud) ? baud : 9600, dmQ274->ErrorPolicy()};
    ProfileChanged();
}
void TfrmMain::btnHelpClick() { ShowHelp(); }
void TfrmMain::btnAboutClick() { ShowAbout(this); }
void TfrmMain::btnLogSaveClick() { AskSaveLog(); }

// ---------------------------------------------------------------- connection

void TfrmMain::ShowConnected()
{
    btnConn->setText(rs::sDisconnect);
    LogMessage(MessageIndent + rs::sComPortOpened);
    ColourReadouts(PortIsOpen());
    Log.LastAutosaveTime = AutosaveNow();
    Recorder.Start();
    FMqttLink->Link(true);
    UnattendedConnected();
}

void TfrmMain::ShowDisconnected()
{
    // Polling, its one-shots and the queue were stopped by the connection.
    // The chart's history ends here, before the cleared relays below.
    Recorder.Stop();
    btnConn->setText(rs::sConnect);
    LogMessage(MessageIndent + rs::sDisconnected);
    AppendLogLine(QStringLiteral(" "));
    ShowRelayStatus(QStringLiteral("00"));
    ClearReadouts();
    ColourReadouts(PortIsOpen());
    FMqttLink->Link(false);
    UnattendedDisconnected();
}

void TfrmMain::BoardIdentified()
{
    FirstSamplePending = true;
    UnattendedIdentified();
}

// ---------------------------------------------------------------- polling


// ---------------------------------------------------------------- read-outs

namespace {
QChar SeparatorOf(const QString &text) { return text.isEmpty() ? QChar('.') : text.at(0); }
} // namespace

void TfrmMain::LogDataErrorOnce(bool &logged)
{
    if (logged)
        return;
    logged = true;
    LogMessage(MessageIndent + kDataErrorText);
}

bool TfrmMain::ShowReadout(int channel, const QString &value, const QString &noSensor, qint64 time)
{
    const bool ok = Channels.ShowValue(channel, value, noSensor, UseFahrenheit, SeparatorOf(DecimalSeparatorText));
    ShowReadoutText(channel);
    // The board sends Celsius with "."; no sensor or no number: a break in the line.
    const std::optional<double> celsius =
        ok && value != noSensor ? ParseLocaleFloat(value, QChar('.')) : std::optional<double>();
    Recorder.AddReading(channel, celsius.value_or(qQNaN()), time);
    FMqttLink->Reading(channel, celsius);
    AlarmReading(channel);
    return ok;
}

void TfrmMain::HandleTemperatureReply(const QString &line)
{
    if (IsAllChannelReply(line)) {
        ShowAllTemperatures(line);
        return;
    }
    const std::optional<ChannelReply> reply = ParseChannelReply(line);
    if (!reply) {
        LogMessage(MessageIndent + kDataErrorText);
        return;
    }
    ShowChannelTemperature(reply->Channel, reply->Value);
}

void TfrmMain::ShowChannelTemperature(int channel, const QString &value)
{
    bool dataErrorLogged = false;
    if (channel < 1 || channel > 4) {
        LogDataErrorOnce(dataErrorLogged);
        return;
    }
    if (!ShowReadout(channel, value, QStringLiteral("?"), Recorder.Now()))
        LogDataErrorOnce(dataErrorLogged);
    if (dmQ274->Poller().TemperaturesEnabled)
        RunChannelControl(dataErrorLogged);
}

void TfrmMain::ShowAllTemperatures(const QString &line)
{
    bool dataErrorLogged = false;
    const std::array<QString, 4> fields = SplitAllChannels(line);
    const qint64 now = Recorder.Now();
    for (int ch = 1; ch <= 4; ++ch)
        if (!ShowReadout(ch, fields[std::size_t(ch - 1)], QStringLiteral("-"), now))
            LogDataErrorOnce(dataErrorLogged);
    if (FirstSamplePending)
        StartDataLogging();
    if (dmQ274->Poller().TemperaturesEnabled)
        RunChannelControl(dataErrorLogged);
}

// ---------------------------------------------------------------- channel control

void TfrmMain::RunChannelControl()
{
    bool dataErrorLogged = false;
    RunChannelControl(dataErrorLogged);
}

void TfrmMain::RunChannelControl(bool &dataErrorLogged)
{
    for (const ChannelDecision &d : Channels.RunChannelControl(SeparatorOf(DecimalSeparatorText))) {
        if (d.Kind == ChannelDecision::DataError) {
            LogDataErrorOnce(dataErrorLogged);
            continue;
        }
        dmQ274->Poller().QueueCommand(d.Command);
        LogMessage(MessageIndent + d.Message);
    }
}

void TfrmMain::ShowRelayStatus(const QString &statusText)
{
    if (!Channels.ApplyRelayStatus(statusText)) {
        // Flags and fills keep what the last good reply said.
        LogMessage(MessageIndent + kDataErrorText);
        return;
    }
    for (int ch = 1; ch <= 4; ++ch)
        SetRelayIndicator(ch, Channels.RelayOn(ch) ? RelayFill::On : RelayFill::Off);
    Recorder.AddRelays({Channels.RelayOn(1), Channels.RelayOn(2), Channels.RelayOn(3), Channels.RelayOn(4)});
    PublishRelays();
    LinkAlive();
}

void TfrmMain::btnR1Click(int channel)
{
    const std::optional<ManualAction> action = Channels.ManualPress(channel, PortIsOpen());
    if (!action)
        return;
    if (action->ClearEnabled)
        EnableBox(channel)->setChecked(false);
    ApplySettings();
    dmQ274->Poller().QueueCommand(action->Command);
    LogMessage(MessageIndent + action->Message);
}

} // namespace q274
