// Finding the same board again: the pauses of a series, and which device an
// attempt may open, on a made-up sysfs with two USB adapters.
#include "reconnect.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace q274;

namespace {

void Write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// An adapter with a serial number whose tty is called tty.
void Adapter(const QString &sys, const QString &usbPort, const QString &serial, const QString &tty)
{
    const QString usb = sys + QStringLiteral("/devices/pci0/usb1/") + usbPort;
    Write(usb + QStringLiteral("/idVendor"), "0403\n");
    Write(usb + QStringLiteral("/serial"), serial.toUtf8() + '\n');
    const QString iface = usb + QLatin1Char('/') + usbPort + QStringLiteral(":1.0/") + tty;
    QDir().mkpath(iface);
    QDir().mkpath(sys + QStringLiteral("/class/tty"));
    QFile::remove(sys + QStringLiteral("/class/tty/") + tty);
    QDir().mkpath(sys + QStringLiteral("/class/tty/") + tty);
    QFile::link(iface, sys + QStringLiteral("/class/tty/") + tty + QStringLiteral("/device"));
}

} // namespace

TEST(Reconnect, PausesGrowToThirtySeconds)
{
    std::vector<int> pauses;
    for (int i = 0; i < 9; ++i)
        pauses.push_back(ReconnectDelayMs(i));
    EXPECT_EQ(pauses, (std::vector<int>{0, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000}));
}

TEST(Reconnect, AttemptsFollowTheAdapterAndNeverOpenAnotherOne)
{
    QTemporaryDir dir;
    const QString sys = dir.filePath(QStringLiteral("sys"));
    const QString dev = dir.filePath(QStringLiteral("dev"));
    QDir().mkpath(dev);
    Write(dev + QStringLiteral("/ttyUSB0"), "");
    Adapter(sys, QStringLiteral("1-1"), QStringLiteral("BOARD1"), QStringLiteral("ttyUSB0"));

    const DeviceIdentity id = IdentityOf(dev + QStringLiteral("/ttyUSB0"), sys);
    EXPECT_FALSE(id.FollowsLink);
    EXPECT_EQ(id.UsbSerial, QStringLiteral("BOARD1"));
    EXPECT_EQ(ReconnectTarget(id, sys, dev), dev + QStringLiteral("/ttyUSB0"));

    // The adapter comes back as ttyUSB1 and another one took ttyUSB0.
    QDir(sys).removeRecursively();
    Adapter(sys, QStringLiteral("1-2"), QStringLiteral("OTHER"), QStringLiteral("ttyUSB0"));
    EXPECT_EQ(ReconnectTarget(id, sys, dev), std::nullopt) << "the other adapter is never opened";
    Adapter(sys, QStringLiteral("1-1"), QStringLiteral("BOARD1"), QStringLiteral("ttyUSB1"));
    EXPECT_EQ(ReconnectTarget(id, sys, dev), dev + QStringLiteral("/ttyUSB1"));

    // A link name is its own identity: the attempt opens the link.
    const QString link = dir.filePath(QStringLiteral("usb-FTDI_BOARD1-if00-port0"));
    QFile::link(dev + QStringLiteral("/ttyUSB0"), link);
    const DeviceIdentity byId = IdentityOf(link, sys);
    EXPECT_TRUE(byId.FollowsLink);
    EXPECT_EQ(ReconnectTarget(byId, sys, dev), link);
    // Without a serial number (an on-board UART, a pseudo-terminal) the name is all there is.
    EXPECT_EQ(ReconnectTarget(IdentityOf(dev + QStringLiteral("/ttyS0"), sys), sys, dev), dev + QStringLiteral("/ttyS0"));
}
