// Leaving the program running: the profile through the window, reconnecting
// to the same simulator after it was killed and started again, the safe
// state at a disconnect, and an alarm reaching a notification server on a
// session D-Bus of the test's own and the user's command.
#include "alarmactions.h"
#include "alarmspage.h"
#include "mainwindow.h"
#include "rstrings.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QVariantMap>

#include "childprocess.h"
#include "support/mainwidgets.h"
#include "support/scripteddialogs.h"
#include "support/support.h"

#include <gtest/gtest.h>

#ifdef Q274_CAN_ACTIVATE_ACCESSIBILITY
#include <private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#endif

#include <memory>

using namespace q274;
using namespace q274test;

namespace {

QStringList Log(const TfrmMain &w) { return Messages(Ui(w).memLog->toPlainText(), kIndent); }
int Count(const QStringList &lines, const QString &prefix)
{
    int n = 0;
    for (const QString &l : lines)
        n += l.startsWith(prefix);
    return n;
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// The simulator behind a link name, with its trace.
struct Sim {
    Sim(const QString &link, const QString &trace)
        : Process(Q274_SIM_PATH, {"--link", link.toStdString(), "--trace", trace.toStdString()}), Trace(trace)
    {
        Device = Process.ReadLine(int(kPatience.count())).value_or(std::string());
    }
    bool Received(const char *command) const
    {
        for (const QByteArray &l : ReadAll(Trace).split('\n'))
            if (l.contains(QByteArray(" RX ") + command))
                return true;
        return false;
    }
    ChildProcess Process;
    QString Trace;
    std::string Device;
};

} // namespace

TEST(Unattended, ProfileAppliedWrittenBackAndRefusedWhole)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    const QString path = dir.filePath(QStringLiteral("run.ini"));
    WriteAll(path, "[channel2]\nenabled = true\nsetpoint = 18\nmode = Cool\n[channel3]\nhigh_alarm = 40\n"
                   "[run]\nunit = F\nreconnect = true\n");
    {
        TfrmMain w;
        ASSERT_TRUE(w.UseProfile(path));
        EXPECT_TRUE(w.UsesFahrenheit());
        EXPECT_TRUE(w.ChannelState().Settings(2).Enabled);
        EXPECT_EQ(Channel(w, 2).SetPointEdit->text(), QStringLiteral("18"));
        EXPECT_EQ(Channel(w, 2).ModeList->currentText(), kModeCool);
        EXPECT_EQ(w.AlarmsPage()->High[2]->text(), QStringLiteral("40"));
        EXPECT_TRUE(w.AlarmsPage()->Reconnect->isChecked());
        // A change in the window is in the file at once.
        Channel(w, 2).SetPointSpinner->Click(true);
        const ProfileParse back = ParseProfile(ReadAll(path));
        ASSERT_TRUE(back.Value);
        EXPECT_EQ(back.Value->Channels[1].SetPoint, 19);
        EXPECT_EQ(*back.Value, w.CurrentProfile());

        // Read-only: reported once, the run goes on, the file stays.
        QFile::setPermissions(path, QFile::ReadOwner);
        ASSERT_TRUE(w.UseProfile(path));
        Channel(w, 2).SetPointSpinner->Click(true);
        Channel(w, 2).SetPointSpinner->Click(true);
        EXPECT_EQ(Channel(w, 2).SetPointEdit->text(), QStringLiteral("21"));
        EXPECT_EQ(ParseProfile(ReadAll(path)).Value->Channels[1].SetPoint, 19);
        EXPECT_EQ(Count(Log(w), QStringLiteral("Profile %1 is read-only").arg(path)), 1);
        EXPECT_EQ(Count(Log(w), QStringLiteral("Profile %1 could not be written").arg(path)), 0);
    }
    // A damaged file: one message naming the line; nothing applied, nothing written.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QByteArray damaged = "[channel1]\nenabled = true\nsetpoint = 18\ndropout = 40\n";
    WriteAll(path, damaged);
    TfrmMain w;
    EXPECT_FALSE(w.UseProfile(path));
    EXPECT_EQ(Log(w).last(), QStringLiteral("Profile %1 refused, line 4: [channel1] dropout \"40\" is out of range (2 to 25)")
                                 .arg(path));
    EXPECT_FALSE(w.ChannelState().Settings(1).Enabled);
    Channel(w, 1).SetPointSpinner->Click(true);
    EXPECT_EQ(ReadAll(path), damaged);

    // A missing profile is created from the window's settings.
    const QString fresh = dir.filePath(QStringLiteral("new.ini"));
    ASSERT_TRUE(w.UseProfile(fresh));
    EXPECT_EQ(*ParseProfile(ReadAll(fresh)).Value, w.CurrentProfile());
}

TEST(Unattended, ReconnectsToTheSameBoardAndTheThermostatTakesOver)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    const QString link = dir.filePath(QStringLiteral("usb-Q274_board-if00"));
    auto sim = std::make_unique<Sim>(link, dir.filePath(QStringLiteral("t1")));
    ASSERT_FALSE(sim->Device.empty());
    const QString profile = dir.filePath(QStringLiteral("run.ini"));
    WriteAll(profile, QStringLiteral("[port]\nname = %1\n[run]\nreconnect = true\nconnect_at_start = true\n"
                                     "[channel1]\nenabled = true\nsetpoint = 10\ndropout = 2\n")
                          .arg(link)
                          .toUtf8());
    TdmQ274 dm;
    TfrmMain w(&dm);
    w.SetDecimalSeparator(QStringLiteral("."));
    w.Reconnector().DelayMs = [](int attempt) { return ReconnectDelayMs(attempt) / 4; };
    w.ShowLogBanner();
    w.Connection()->Poller().StartCommandSender();
    ASSERT_TRUE(w.UseProfile(profile));
    w.StartUnattended();
    ASSERT_TRUE(RunUntil([&] { return sim->Received("S0"); })) << Log(w).join('|').toStdString();
    EXPECT_FALSE(sim->Received("F1")) << "21 C is above the band, and the relay was reported off";

    sim.reset(); // killed: the port hangs up
    ASSERT_TRUE(RunUntil([&] { return !w.PortIsOpen(); }));
    EXPECT_TRUE(w.Reconnector().Active());
    EXPECT_EQ(Ui(w).btnConn->text(), rs::sDisconnect);
    // Another adapter turns up under another name meanwhile: never opened.
    Sim other(dir.filePath(QStringLiteral("usb-Other_adapter-if00")), dir.filePath(QStringLiteral("t2")));
    Pump(3s);
    sim = std::make_unique<Sim>(link, dir.filePath(QStringLiteral("t3")));
    ASSERT_TRUE(RunUntil([&] { return sim->Received("F1"); }, 8s)) << Log(w).join('|').toStdString();
    const QStringList log = Log(w);
    EXPECT_EQ(Count(log, rs::sQ274Found), 2);
    EXPECT_EQ(Count(log, QStringLiteral("Link lost: reconnecting automatically to ")), 1);
    EXPECT_EQ(Count(log, QStringLiteral("Reconnected after ")), 1);
    EXPECT_EQ(Count(log, QStringLiteral("Ch1: heat OFF  (")), 1);
    EXPECT_FALSE(other.Received("?"));
    EXPECT_FALSE(w.Reconnector().Active());

    // Disconnect: the user's end, no attempts follow.
    Ui(w).btnConn->click();
    Pump(300ms);
    EXPECT_FALSE(w.PortIsOpen());
    EXPECT_FALSE(w.Reconnector().Active());
}

TEST(Unattended, DisconnectSwitchesTheThermostatRelaysOffFirst)
{
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    const QString link = dir.filePath(QStringLiteral("board"));
    Sim sim(link, dir.filePath(QStringLiteral("t")));
    const QString profile = dir.filePath(QStringLiteral("run.ini"));
    // Channel 2 heats (its relay goes on), channel 3 is off control.
    WriteAll(profile, QStringLiteral("[port]\nname = %1\n[run]\nrelays_off_on_disconnect = true\n"
                                     "[channel2]\nenabled = true\nsetpoint = 100\n")
                          .arg(link)
                          .toUtf8());
    TdmQ274 dm;
    TfrmMain w(&dm);
    w.SetDecimalSeparator(QStringLiteral("."));
    w.ShowLogBanner();
    w.Connection()->Poller().StartCommandSender();
    ASSERT_TRUE(w.UseProfile(profile));
    Ui(w).btnConn->click();
    ASSERT_TRUE(RunUntil([&] { return w.ChannelState().RelayOn(2); })) << Log(w).join('|').toStdString();
    Ui(w).btnConn->click();
    EXPECT_FALSE(w.PortIsOpen());
    EXPECT_TRUE(sim.Received("F2"));
    EXPECT_FALSE(sim.Received("F3"));
    const QStringList log = Log(w);
    const qsizetype off = log.indexOf(QStringLiteral("Relays under thermostat control switched off: Ch2"));
    ASSERT_GE(off, 0) << log.join('|').toStdString();
    EXPECT_LT(off, log.lastIndexOf(rs::sDisconnected));
}

namespace {

// The desktop's notification server, as far as the test needs one.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList Bodies;
public slots:
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &body, const QStringList &,
                const QVariantMap &, int)
    {
        Bodies << body;
        return uint(Bodies.size());
    }
};

} // namespace

TEST(Unattended, AlarmNotifiesRunsTheCommandOnceAndClearsOnAcknowledge)
{
    QTemporaryDir dir;
    ChildProcess bus("/usr/bin/dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                              "--address=unix:path=" + dir.filePath(QStringLiteral("bus")).toStdString()});
    const std::string address = bus.ReadLine(int(kPatience.count())).value_or(std::string());
    ASSERT_FALSE(address.empty()) << "dbus-daemon did not start";
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(address));
    QDBusConnection listener = QDBusConnection::connectToBus(QString::fromStdString(address), QStringLiteral("server"));
    NotificationServer server;
    ASSERT_TRUE(listener.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                                        QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(listener.registerService(QStringLiteral("org.freedesktop.Notifications")));

    ScriptedDialogs dialogs;
    TfrmMain w;
    const QString envFile = dir.filePath(QStringLiteral("env"));
    // The shell here is the user's own choice of program; ours never runs one.
    AlarmSettings a;
    a.Limits[0].High = 25;
    // Only the alarm's own variables: the caller's environment (a build's
    // Q274_PCH, say) reaches the command as well.
    a.Command =
        QStringLiteral("/bin/sh -c \"env | grep -E '^Q274_(CHANNEL|KIND|READING|TEXT)=' | sort >> $0\" %1").arg(envFile);
    w.AlarmsPage()->Show(a, {});
    w.AlarmsPage()->OnChanged();
    qint64 now = 0;
    w.SetAlarmClock([&now] { return now; });
    auto reading = [&](const char *text) {
        now += 1000;
        w.ChannelState().ShowValue(1, QString::fromLatin1(text), QStringLiteral("?"), false, QChar('.'));
        w.ShowChannelTemperature(1, QString::fromLatin1(text));
    };
    reading("24.00");
    reading("25.50");
    reading("26.00");
    reading("24.00");
    ASSERT_TRUE(RunUntil([&] { return !server.Bodies.isEmpty() && ReadAll(envFile).contains("Q274_TEXT"); }));
    Pump(300ms);
    EXPECT_EQ(server.Bodies, QStringList{QStringLiteral("ALARM Ch1: above the high limit 25  (25.50)")});
    EXPECT_EQ(ReadAll(envFile), "Q274_CHANNEL=1\nQ274_KIND=high\nQ274_READING=25.50\n"
                                "Q274_TEXT=ALARM Ch1: above the high limit 25  (25.50)\n");
    const QStringList log = Log(w);
    EXPECT_EQ(Count(log, QStringLiteral("ALARM Ch1")), 1);
    EXPECT_EQ(Count(log, QStringLiteral("Alarm cleared Ch1")), 1);
    // Shown in words as well as in colour until acknowledged (Ctrl+D).
    EXPECT_EQ(Ui(w).gbCh1->title(), rs::ChannelCaption(1) + QStringLiteral("  HIGH"));
    EXPECT_TRUE(w.FormKeyDown(Qt::Key_D, Qt::ControlModifier));
    EXPECT_EQ(Ui(w).gbCh1->title(), rs::ChannelCaption(1));
    EXPECT_EQ(Ui(w).lblCh1->palette().color(QPalette::Window), QColor(Qt::white));

    // A command that hangs is killed after its limit, and the log says so;
    // words are never read by a shell.
    w.AlarmActions().CommandLimitMs = 300;
    const QString marker = dir.filePath(QStringLiteral("marker"));
    w.AlarmActions().RunCommand(QStringLiteral("/bin/sleep 30; touch %1").arg(marker), {});
    w.AlarmActions().RunCommand(QStringLiteral("/bin/sleep 30"), {});
    ASSERT_TRUE(RunUntil([&] { return Count(Log(w), QStringLiteral("Alarm command /bin/sleep still running")) == 1; }));
    EXPECT_FALSE(QFile::exists(marker));
    listener.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
}

namespace {

// What assistive technology was told, as it reads it at that moment.
struct Heard {
    QObject *Object;
    QAccessible::Event Type;
    QString Name, Description;
};
std::vector<Heard> gHeard;
void Hear(QAccessibleEvent *e)
{
    QAccessibleInterface *a = e->accessibleInterface();
    gHeard.push_back({e->object(), e->type(), a ? a->text(QAccessible::Name) : QString(),
                      a ? a->text(QAccessible::Description) : QString()});
}

// As when a screen reader listens: without one, Qt sends no events at all.
// False where this build cannot switch it.
bool SetAccessibilityActive(bool on)
{
#ifdef Q274_CAN_ACTIVATE_ACCESSIBILITY
    QPlatformAccessibility *platform = QGuiApplicationPrivate::platformIntegration()->accessibility();
    if (platform)
        platform->setActive(on);
    return platform && QAccessible::isActive() == on;
#else
    Q_UNUSED(on);
    return false;
#endif
}

} // namespace

// A screen reader hears each alarm start and each clear once, on the
// channel's read-out and in the log's words; readings are heard with their
// unit; acknowledging announces nothing new.
TEST(Unattended, AlarmChangesAreAnnouncedOnceEach)
{
    ScriptedDialogs dialogs;
    TfrmMain w;
    AlarmSettings a;
    a.Limits[0].High = 25;
    w.AlarmsPage()->Show(a, {});
    w.AlarmsPage()->OnChanged();
    qint64 now = 0;
    w.SetAlarmClock([&now] { return now; });
    gHeard.clear();
    if (!SetAccessibilityActive(true))
        GTEST_SKIP() << "Qt's private Gui headers (qt6-base-private-dev) are needed to switch accessibility on";
    QAccessible::installUpdateHandler(Hear);
    const auto restore = qScopeGuard([] {
        QAccessible::installUpdateHandler(nullptr);
        SetAccessibilityActive(false);
    });
    for (const char *text : {"24.00", "25.50", "26.00", "24.00", "24.50"}) {
        now += 1000;
        w.ChannelState().ShowValue(1, QString::fromLatin1(text), QStringLiteral("?"), false, QChar('.'));
        w.ShowChannelTemperature(1, QString::fromLatin1(text));
    }
    EXPECT_TRUE(w.FormKeyDown(Qt::Key_D, Qt::ControlModifier));

    QStringList alerts;
    int names = 0;
    for (const Heard &h : gHeard) {
        if (h.Type == QAccessible::Alert)
            alerts << (h.Object == Ui(w).lblCh1 ? h.Description : QStringLiteral("elsewhere: ") + h.Description);
        if (h.Type == QAccessible::NameChanged && h.Object == Ui(w).lblCh1) {
            ++names;
            EXPECT_TRUE(h.Name.endsWith(QStringLiteral(" °C"))) << h.Name.toStdString();
        }
    }
    EXPECT_EQ(alerts, (QStringList{QStringLiteral("ALARM Ch1: above the high limit 25  (25.50)"),
                                   QStringLiteral("Alarm cleared Ch1: above the high limit 25  (24.00)")}));
    EXPECT_GE(names, 5);
    EXPECT_TRUE(Ui(w).lblCh1->accessibleDescription().isEmpty()) << "acknowledged, yet still described as an alarm";
}

#include "unattended_test.moc"
