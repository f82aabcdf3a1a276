// Unattended operation in the window: the run's profile (applied at start,
// written back at every change), reconnecting to the same board, alarms on
// the read-outs with their notifications and command, and the safe state
// at a disconnect.
#include "mainwindow.h"

#include "alarmactions.h"
#include "alarmspage.h"
#include "dialogs.h"
#include "rstrings.h"
#include "shellrules.h"
#include "textrules.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTimer>

namespace q274 {

namespace {

const QColor kAlarmBackground(255, 196, 0); // amber: the badge text says which alarm
constexpr int kSafeStateLimitMs = 3000;

bool ReadOnlyFile(const QString &path)
{
    const QFileInfo info(path);
    const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    return info.exists() && (!info.isWritable() || !(info.permissions() & writeBits));
}

} // namespace

void TfrmMain::BuildAlarmsPage()
{
    FAlarmsPage = new TAlarmsPage;
    tabAlarms = FAlarmsPage;
    tabAlarms->setObjectName(QStringLiteral("tabAlarms"));
    pgMain->addTab(tabAlarms, QStringLiteral("Alarms"));
    FAlarmsPage->OnChanged = [this] { Guarded([this] { AlarmSettingsChanged(); }); };
    FAlarmsPage->OnAcknowledge = [this] { Guarded([this] { AcknowledgeAlarms(); }); };
    FAlarmsPage->OnOpenProfile = [this] { Guarded([this] { OpenProfileClick(); }); };
    FAlarmsPage->OnSaveProfileAs = [this] { Guarded([this] { SaveProfileAsClick(); }); };

    FAlarmClockStart.start();
    FAlarmActions = new TAlarmActions([this](const QString &text) { LogMessage(MessageIndent + text); }, this);
    FReconnector = new TReconnector(
        {[this](const QString &device) {
             try {
                 if (device != dmQ274->ComPort()->Port())
                     dmQ274->ComPort()->SetPort(device);
                 dmQ274->ComPort()->OpenPort();
                 return true;
             } catch (const std::exception &) {
                 return false; // not there yet: the next attempt follows
             }
         },
         [this](const QString &text) { LogMessage(MessageIndent + text); }, [this] { return AlarmNow(); }},
        this);
    FAlarmTick = new QTimer(this);
    FAlarmTick->setInterval(1000);
    connect(FAlarmTick, &QTimer::timeout, this, [this] { Guarded([this] { EvaluateAlarms(); }); });
    BuildBrokerBox();
}

qint64 TfrmMain::AlarmNow() const { return FAlarmClock ? FAlarmClock() : FAlarmClockStart.elapsed(); }

// ---------------------------------------------------------------- profile

Profile TfrmMain::CurrentProfile() const
{
    Profile p = FProfile;
    p.Fahrenheit = UseFahrenheit;
    p.Logging = chkLog->isChecked();
    for (int ch = 1; ch <= 4; ++ch)
        p.Channels[size_t(ch - 1)] = Channels.Settings(ch);
    p.Alarms = FAlarmsPage->Alarms();
    p.Unattended = FAlarmsPage->Unattended();
    p.Mqtt = FMqtt;
    return p;
}

namespace {
PortProfile PortOf(const TdmQ274 &dm)
{
    const int baud = BaudRateToInt(dm.ComPort()->BaudRate());
    return {dm.ComPort()->Port(), IsProfileBaud(baud) ? baud : 9600, dm.ErrorPolicy()};
}
} // namespace

bool TfrmMain::UseProfile(const QString &path)
{
    const ProfileRead r = ReadProfileFile(path);
    if (r.Status == ProfileRead::Status::Refused || r.Status == ProfileRead::Status::Unreadable) {
        LogMessage(MessageIndent + r.Error);
        return false;
    }
    FProfilePath = path;
    FProfileWriteReported = false;
    FAlarmsPage->ShowProfile(path);
    if (r.Status == ProfileRead::Status::Missing) {
        FProfile = CurrentProfile();
        FProfile.Port = PortOf(*dmQ274);
        LogMessage(MessageIndent + QStringLiteral("Profile %1 created with the current settings").arg(path));
        ProfileChanged();
        return true;
    }
    ApplyProfile(r.Value);
    LogMessage(MessageIndent + QStringLiteral("Profile %1 applied").arg(path));
    if (ReadOnlyFile(path)) {
        FProfileWriteReported = true;
        LogMessage(MessageIndent
                   + QStringLiteral("Profile %1 is read-only: changes are kept for this run only").arg(path));
    }
    return true;
}

void TfrmMain::ApplyProfile(const Profile &p)
{
    FApplyingProfile = true;
    const auto done = qScopeGuard([this] { FApplyingProfile = false; });
    TComPort &port = *dmQ274->ComPort();
    // An open connection keeps its port; the name is used from the next one.
    if (!p.Port.Name.isEmpty() && !port.Connected())
        port.SetPort(p.Port.Name);
    port.SetBaudRate(IntToBaudRate(p.Port.Baud));
    dmQ274->SetErrorPolicy(p.Port.Policy);
    cmbDeg->setCurrentIndex(p.Fahrenheit ? 1 : 0);
    chkLog->setChecked(p.Logging);
    for (int ch = 1; ch <= 4; ++ch) {
        const ChannelSettings &c = p.Channels[size_t(ch - 1)];
        TChannelPanel &panel = Panel(ch);
        panel.Enable->setChecked(c.Enabled);
        panel.SetPointSpinner->SetPosition(c.SetPoint);
        panel.DropoutSpinner->SetPosition(c.Dropout);
        panel.Mode->setCurrentIndex(panel.Mode->findText(c.Mode));
        panel.Override->setChecked(c.ManualOverrides);
    }
    FAlarmsPage->Show(p.Alarms, p.Unattended);
    FProfile = p;
    FMqtt = p.Mqtt;
    ApplySettings();
    AlarmSettingsChanged();
    // A profile without broker settings ends publishing started by another.
    if (p.HasMqtt || FMqttLink->Publisher())
        emit MqttSettingsChanged(FMqtt);
}

void TfrmMain::ProfileChanged()
{
    if (FApplyingProfile || FProfilePath.isEmpty())
        return;
    QString why;
    if (!WriteProfileFile(FProfilePath, CurrentProfile(), &why) && !FProfileWriteReported) {
        FProfileWriteReported = true;
        LogMessage(MessageIndent + QStringLiteral("Profile %1 could not be written (%2): changes are kept for this "
                                                  "run only")
                                       .arg(FProfilePath, why));
    }
}

void TfrmMain::SetMqttSettings(const MqttSettings &settings)
{
    FMqtt = settings;
    FProfile.HasMqtt = FProfile.HasMqtt || settings.Enabled();
    ProfileChanged();
    emit MqttSettingsChanged(FMqtt);
}

void TfrmMain::OpenProfileClick()
{
    const std::optional<QString> path = CurrentDialogs().AskOpenFileName(
        this, {QStringLiteral("Open Profile"), QStandardPaths::writableLocation(QStandardPaths::ConfigLocation),
               QString(), QStringLiteral("ini"), QStringLiteral("Profiles (*.ini);;All files (*)")});
    if (path && !UseProfile(*path))
        CurrentDialogs().ShowError(this, ApplicationTitle(), ReadProfileFile(*path).Error);
}

void TfrmMain::SaveProfileAsClick()
{
    const std::optional<QString> path = CurrentDialogs().AskSaveFileName(
        this, {QStringLiteral("Save Profile As"), QStandardPaths::writableLocation(QStandardPaths::ConfigLocation),
               QStringLiteral("q274.ini"), QStringLiteral("ini"), QStringLiteral("Profiles (*.ini)")});
    if (!path)
        return;
    Profile p = CurrentProfile();
    if (FProfilePath.isEmpty())
        p.Port = PortOf(*dmQ274);
    QString why;
    if (!WriteProfileFile(*path, p, &why)) {
        LogMessage(MessageIndent + QStringLiteral("Profile %1 could not be written (%2)").arg(*path, why));
        return;
    }
    FProfile = p;
    FProfilePath = *path;
    FProfileWriteReported = false;
    FAlarmsPage->ShowProfile(*path);
    LogMessage(MessageIndent + QStringLiteral("Profile saved as %1; later changes are written there").arg(*path));
}

void TfrmMain::StartUnattended()
{
    if (FProfilePath.isEmpty() || !FAlarmsPage->Unattended().ConnectAtStart || PortIsOpen())
        return;
    QTimer::singleShot(0, this, [this] {
        if (PortIsOpen())
            return;
        try {
            dmQ274->ToggleConnection();
        } catch (const std::exception &e) {
            // Nobody may be there to close a box: the log says it, and the
            // reconnect attempts go on where they are switched on.
            HandleAppException(e, false);
            FReconnector->StartFor(dmQ274->ComPort()->Port());
            if (FReconnector->Active())
                btnConn->setText(rs::sDisconnect);
        }
    });
}

// ---------------------------------------------------------------- alarms

void TfrmMain::AlarmSettingsChanged()
{
    if (!FAlarmsPage)
        return;
    const AlarmSettings a = FAlarmsPage->Alarms();
    std::array<bool, 4> watched{};
    for (int ch = 1; ch <= 4; ++ch) {
        const ChannelAlarmLimits &l = a.Limits[size_t(ch - 1)];
        watched[size_t(ch - 1)] = Channels.Settings(ch).Enabled || l.Low || l.High;
    }
    FAlarms.SetSettings(a, watched);
    FReconnector->Enabled = FAlarmsPage->Unattended().Reconnect;
    if (!FReconnector->Enabled && FReconnector->Active()) {
        FReconnector->Stop();
        btnConn->setText(PortIsOpen() ? rs::sDisconnect : rs::sConnect);
    }
    if (a.SilentLinkS > 0 || a.NoReadingS > 0)
        FAlarmTick->start();
    else
        FAlarmTick->stop();
    ProfileChanged();
}

void TfrmMain::AlarmReading(int channel)
{
    if (!FAlarmsPage)
        return;
    const qint64 now = AlarmNow();
    const QString readout = Channels.Readout(channel);
    FAlarms.LineReceived(now);
    FAlarms.Reading(channel, readout, ParseLocaleFloat(readout, DecimalSeparatorText.isEmpty()
                                                                    ? QChar('.')
                                                                    : DecimalSeparatorText.at(0)),
                    now);
    EvaluateAlarms();
}

void TfrmMain::LinkAlive()
{
    if (FAlarmsPage)
        FAlarms.LineReceived(AlarmNow());
}

void TfrmMain::EvaluateAlarms()
{
    const QString command = FAlarmsPage->Alarms().Command;
    const std::vector<AlarmEvent> events = FAlarms.Evaluate(AlarmNow());
    for (const AlarmEvent &e : events) {
        LogMessage(MessageIndent + e.Text);
        if (e.Started) {
            FAlarmActions->Notify(e);
            FAlarmActions->RunCommand(command, e);
        }
        emit AlarmChanged(e);
    }
    ShowAlarms();
    for (const AlarmEvent &e : events)
        AnnounceAlarm(e);
}

void TfrmMain::AnnounceAlarm(const AlarmEvent &event)
{
    // A screen reader hears the change where it shows: on the channel's
    // read-out, or on the strip of read-outs for the link. The description
    // holds the log line until the next change, so what is read later says
    // the same as what was announced.
    QWidget *where = event.Channel >= 1 ? static_cast<QWidget *>(Readout(event.Channel)) : pnlReadouts;
    where->setAccessibleDescription(event.Text);
    QAccessibleEvent alert(where, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

void TfrmMain::AcknowledgeAlarms()
{
    if (!FAlarms.AnyShown())
        return;
    FAlarms.Acknowledge();
    LogMessage(MessageIndent + QStringLiteral("Alarms acknowledged"));
    ShowAlarms();
}

void TfrmMain::ShowAlarms()
{
    QStringList shown;
    for (int ch = 1; ch <= 4; ++ch) {
        const std::optional<AlarmKind> kind = FAlarms.Shown(ch);
        QGroupBox *box = std::array<QGroupBox *, 4>{gbCh1, gbCh2, gbCh3, gbCh4}[size_t(ch - 1)];
        const QString title = rs::ChannelCaption(ch) + (kind ? QStringLiteral("  ") + AlarmBadge(*kind) : QString());
        if (box->title() == title)
            continue;
        box->setTitle(title);
        QPalette p = Readout(ch)->palette();
        p.setColor(QPalette::Window, kind ? kAlarmBackground : QColor(Qt::white));
        Readout(ch)->setPalette(p);
        if (!kind)
            Readout(ch)->setAccessibleDescription(QString());
    }
    if (!FAlarms.AnyShown())
        pnlReadouts->setAccessibleDescription(QString());
    for (int ch = 1; ch <= 4; ++ch)
        if (const auto kind = FAlarms.Shown(ch))
            shown << QStringLiteral("Ch%1 %2").arg(ch).arg(AlarmBadge(*kind));
    FAlarmsPage->ShowAlarmState(shown.isEmpty() ? QStringLiteral("No alarm")
                                                : QStringLiteral("Alarm: ") + shown.join(QStringLiteral(", ")));
}

// ---------------------------------------------------------------- connection

void TfrmMain::UnattendedConnected() { FAlarms.SetLinkWanted(true, AlarmNow()); }

void TfrmMain::UnattendedIdentified()
{
    const bool wasLost = FReconnector->Active();
    FReconnector->Identified(dmQ274->ComPort()->Port());
    LinkAlive();
    if (!wasLost)
        return;
    // What the relays did while the link was gone is unknown. Taken as on,
    // the first evaluation can only switch a relay off (one left on past its
    // band); the relay status that follows corrects the rest.
    int mask = 0;
    for (int ch = 1; ch <= 4; ++ch)
        if (Channels.Settings(ch).Enabled)
            mask |= 1 << (ch - 1);
    Channels.ApplyRelayStatus(QStringLiteral("0") + QString::number(mask, 16).toUpper());
}

void TfrmMain::UnattendedDisconnected()
{
    if (!FReconnector)
        return;
    FAlarms.ReadingsCleared();
    if (!FUserClosing)
        FReconnector->ConnectionLost();
    FAlarms.SetLinkWanted(FReconnector->Active(), AlarmNow());
    // While attempts go on, the button stops them.
    if (FReconnector->Active())
        btnConn->setText(rs::sDisconnect);
    ShowAlarms();
}

void TfrmMain::UserDisconnect()
{
    if (FReconnector->Active()) {
        FReconnector->Stop();
        FAlarms.SetLinkWanted(false, AlarmNow());
        LogMessage(MessageIndent + QStringLiteral("Reconnecting stopped"));
        btnConn->setText(rs::sConnect);
    }
    if (!PortIsOpen())
        return;
    SwitchOffControlledRelays();
    FUserClosing = true;
    const auto done = qScopeGuard([this] { FUserClosing = false; });
    FAlarms.SetLinkWanted(false, AlarmNow());
    dmQ274->ComPort()->ClosePort();
}

bool TfrmMain::SwitchOffControlledRelays()
{
    if (!FAlarmsPage->Unattended().RelaysOffOnDisconnect || !PortIsOpen())
        return false;
    QStringList names;
    dmQ274->Poller().StopTemperaturePolling(); // no queries between the commands
    for (int ch = 1; ch <= 4; ++ch)
        if (Channels.Settings(ch).Enabled) {
            dmQ274->Poller().QueueCommand(std::string{'F', char('0' + ch)});
            names << QStringLiteral("Ch%1").arg(ch);
        }
    if (names.isEmpty())
        return false;
    // Each command answered (stop and wait), then the close; a board that
    // does not answer holds the close for 3 s at most.
    QElapsedTimer waited;
    waited.start();
    TPoller &poller = dmQ274->Poller();
    while (PortIsOpen() && waited.elapsed() < kSafeStateLimitMs
           && !(poller.CommandQueue.Items().empty() && poller.ReadyToSend)) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const bool answered = poller.CommandQueue.Items().empty() && poller.ReadyToSend;
    LogMessage(MessageIndent
               + (answered ? QStringLiteral("Relays under thermostat control switched off: %1")
                           : QStringLiteral("Relays under thermostat control not confirmed off: %1"))
                     .arg(names.join(QStringLiteral(", "))));
    return answered;
}

} // namespace q274
