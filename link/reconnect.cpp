#include "reconnect.h"

#include "comport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace q274 {

int ReconnectDelayMs(int attempt)
{
    if (attempt <= 0)
        return 0;
    if (attempt >= 6)
        return 30000;
    return 1000 << (attempt - 1);
}

namespace {

const QString kReconnecting = QStringLiteral("Link lost: reconnecting automatically to %1");
const QString kReconnected = QStringLiteral("Reconnected after %1 attempt(s), %2 s without the board");

QString ReadTrimmed(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

// The serial number of the USB device a tty belongs to: the nearest folder
// above the tty's device that has both a vendor id and a serial number.
QString SerialOfTty(const QString &tty, const QString &sysRoot)
{
    QString dir = QFileInfo(sysRoot + QStringLiteral("/class/tty/") + tty + QStringLiteral("/device"))
                      .canonicalFilePath();
    const QString top = QFileInfo(sysRoot).canonicalFilePath();
    for (int depth = 0; !dir.isEmpty() && dir.startsWith(top) && dir != top && depth < 12; ++depth) {
        if (QFile::exists(dir + QStringLiteral("/idVendor")) && QFile::exists(dir + QStringLiteral("/serial")))
            return ReadTrimmed(dir + QStringLiteral("/serial"));
        dir = QFileInfo(dir).path();
    }
    return {};
}

QString TtyName(const QString &devicePath)
{
    const QFileInfo info(devicePath);
    const QString real = info.canonicalFilePath();
    return QFileInfo(real.isEmpty() ? devicePath : real).fileName();
}

} // namespace

QString UsbSerialOf(const QString &devicePath, const QString &sysRoot)
{
    return SerialOfTty(TtyName(devicePath), sysRoot);
}

DeviceIdentity IdentityOf(const QString &portName, const QString &sysRoot)
{
    DeviceIdentity id;
    id.PortName = portName;
    const QString path = QString::fromStdString(DevicePathForPort(portName));
    id.FollowsLink = QFileInfo(path).isSymLink();
    if (!id.FollowsLink)
        id.UsbSerial = UsbSerialOf(path, sysRoot);
    return id;
}

std::optional<QString> ReconnectTarget(const DeviceIdentity &id, const QString &sysRoot, const QString &devRoot)
{
    const QString path = QString::fromStdString(DevicePathForPort(id.PortName));
    if (id.FollowsLink || id.UsbSerial.isEmpty())
        return id.PortName;
    if (UsbSerialOf(path, sysRoot) == id.UsbSerial)
        return id.PortName;
    // The adapter came back under another name.
    const QStringList ttys = 
        QDir(sysRoot + QStringLiteral("/class/tty")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &tty : ttys)
        if (SerialOfTty(tty, sysRoot) == id.UsbSerial)
            return devRoot + QLatin1Char('/') + tty;
    return std::nullopt;
}

TReconnector::TReconnector(Hooks hooks, QObject *parent) : QObject(parent), FHooks(std::move(hooks))
{
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] { Attempt(); });
}

qint64 TReconnector::Now() const
{
    if (FHooks.NowMs)
        return FHooks.NowMs();
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

qint64 TReconnector::LostForMs() const { return FActive ? Now() - FSince : 0; }

void TReconnector::Identified(const QString &portName)
{
    if (FActive)
        FHooks.Log(kReconnected.arg(FAttempt).arg((Now() - FSince + 500) / 1000));
    FTimer.stop();
    FActive = false;
    FAttempt = 0;
    // A series keeps the identity it started with: the device it found may
    // carry another name than the one the user chose.
    if (!FKnown || portName == FIdentity.PortName) {
        FIdentity = IdentityOf(portName, SysRoot());
        FKnown = true;
    }
}

void TReconnector::ConnectionLost()
{
    if (!Enabled || !FKnown)
        return;
    if (!FActive) {
        FActive = true;
        FAttempt = 0;
        FSince = Now();
        FHooks.Log(kReconnecting.arg(FIdentity.PortName));
    }
    FTimer.start(DelayMs(FAttempt));
}

void TReconnector::StartFor(const QString &portName)
{
    if (!FKnown) {
        FIdentity = IdentityOf(portName, SysRoot());
        FKnown = true;
    }
    ConnectionLost();
}

void TReconnector::Stop()
{
    FTimer.stop();
    FActive = false;
    FAttempt = 0;
}

void TReconnector::Attempt()
{
    if (!FActive)
        return;
    ++FAttempt;
    const std::optional<QString> target = ReconnectTarget(FIdentity, SysRoot());
    // An opened port waits for the board's answer; a close brings us back.
    if (target && FHooks.TryOpen(*target))
        return;
    if (FActive)
        FTimer.start(DelayMs(FAttempt));
}

} // namespace q274
