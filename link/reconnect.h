// Finding the same board again after a lost link: the pauses between
// attempts, and which device an attempt may open. A name that is a symbolic
// link (as under /dev/serial/by-id/) is opened by that name, so it follows
// the adapter wherever the kernel put it; a plain tty name of a USB adapter
// with a serial number is checked against that number, so a different
// adapter that took the old ttyUSBn name is never opened.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace q274 {

// Pause before attempt n (0-based) of a series: at once, then 1, 2, 4, 8, 16
// seconds, then every 30 s.
int ReconnectDelayMs(int attempt);

struct DeviceIdentity {
    QString PortName;   // as the user gave it
    bool FollowsLink = false;
    QString UsbSerial;  // empty: not a USB adapter with a serial number
};

// sysRoot and devRoot are "/sys" and "/dev" outside tests.
QString UsbSerialOf(const QString &devicePath, const QString &sysRoot = QStringLiteral("/sys"));
DeviceIdentity IdentityOf(const QString &portName, const QString &sysRoot = QStringLiteral("/sys"));
// The device an attempt opens; none while the board's adapter is not there.
std::optional<QString> ReconnectTarget(const DeviceIdentity &id, const QString &sysRoot = QStringLiteral("/sys"),
                                       const QString &devRoot = QStringLiteral("/dev"));

// One series of attempts after each lost link, until the board answers
// again or Stop. The series is logged once at its start and once when the
// board is found again; the attempts themselves are not.
class TReconnector : public QObject {
public:
    struct Hooks {
        // Opens the port on this device; false when it could not be opened.
        std::function<bool(const QString &device)> TryOpen;
        std::function<void(const QString &text)> Log;
        std::function<qint64()> NowMs; // empty: the monotonic clock
    };
    explicit TReconnector(Hooks hooks, QObject *parent = nullptr);

    bool Enabled = false;
    // The pauses; tests shorten them.
    std::function<int(int attempt)> DelayMs = ReconnectDelayMs;
    std::function<QString()> SysRoot = [] { return QStringLiteral("/sys"); };

    // The board answered on this port: the identity later attempts follow,
    // and the end of a running series.
    void Identified(const QString &portName);
    // The port closed without the user asking: start a series, or go on
    // with the running one.
    void ConnectionLost();
    // A connection the user wanted could not be made (at start, before the
    // board ever answered): try this port as if it had been lost.
    void StartFor(const QString &portName);
    // The user disconnected or the window closes.
    void Stop();

    bool Active() const { return FActive; }
    int Attempts() const { return FAttempt; }
    // Since the series began; 0 when none runs.
    qint64 LostForMs() const;
    const DeviceIdentity &Identity() const { return FIdentity; }

private:
    void Attempt();
    qint64 Now() const;

    Hooks FHooks;
    QTimer FTimer;
    DeviceIdentity FIdentity;
    bool FKnown = false;
    bool FActive = false;
    int FAttempt = 0;
    qint64 FSince = 0;
};

} // namespace q274
