#include "alarmactions.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <QVariantMap>

namespace q274 {

QStringList AlarmEnvironment(const AlarmEvent &event)
{
    return {QStringLiteral("Q274_CHANNEL=%1").arg(event.Channel),
            QStringLiteral("Q274_KIND=") + AlarmKindName(event.Kind), QStringLiteral("Q274_READING=") + event.Reading,
            QStringLiteral("Q274_TEXT=") + event.Text};
}

TAlarmActions::TAlarmActions(std::function<void(const QString &)> log, QObject *parent)
    : QObject(parent), FLog(std::move(log))
{
}

TAlarmActions::~TAlarmActions()
{
    // A command still running when the window goes is not left behind.
    for (QProcess *p : findChildren<QProcess *>()) {
        p->disconnect(this);
        p->kill();
        p->waitForFinished(1000);
    }
}

void TAlarmActions::Notify(const AlarmEvent &event)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2))); // critical: stays until seen
    call << QStringLiteral("Q274TCstd") << uint(0) << QStringLiteral("dialog-warning")
         << QStringLiteral("Q274 alarm") << event.Text << QStringList() << hints << int(-1);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (!FNotifyFailedLogged)
            FLog(QStringLiteral("Desktop notification not sent: no session D-Bus"));
        FNotifyFailedLogged = true;
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError() && !FNotifyFailedLogged) {
            FNotifyFailedLogged = true;
            FLog(QStringLiteral("Desktop notification not sent: ") + w->error().message());
        }
    });
}

void TAlarmActions::RunCommand(const QString &command, const AlarmEvent &event)
{
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return;
    const QString program = words.takeFirst();
    auto *p = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &kv : AlarmEnvironment(event)) {
        const qsizetype eq = kv.indexOf(QLatin1Char('='));
        env.insert(kv.left(eq), kv.mid(eq + 1));
    }
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedChannels);
    p->setStandardInputFile(QProcess::nullDevice());
    auto *limit = new QTimer(p);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, p, [this, p, program] {
        FLog(QStringLiteral("Alarm command %1 still running after %2 s: killed").arg(program).arg(CommandLimitMs / 1000));
        p->kill();
    });
    connect(p, &QProcess::errorOccurred, this, [this, p, program](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            FLog(QStringLiteral("Alarm command %1 could not be started: %2").arg(program, p->errorString()));
            p->deleteLater();
        }
    });
    connect(p, &QProcess::finished, this, [this, p, program](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code != 0)
            FLog(QStringLiteral("Alarm command %1 ended with exit code %2").arg(program).arg(code));
        p->deleteLater();
    });
    p->start(program, words);
    limit->start(CommandLimitMs);
}

} // namespace q274
