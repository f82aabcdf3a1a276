// The system's port list read from fake sysfs trees.
#include "comerrors.h"
#include "portlist.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

using namespace q274;

namespace {

// A fake root with sys/class/tty and, optionally, dev/serial/by-id.
struct FakeRoot {
    QTemporaryDir dir;
    QString Path(const QString &rel) const { return dir.path() + QLatin1Char('/') + rel; }
    void Tty(const QString &name, bool withDevice = true, const char *type = nullptr)
    {
        const QString entry = Path(QStringLiteral("sys/class/tty/") + name);
        ASSERT_TRUE(QDir().mkpath(entry));
        if (withDevice) {
            ASSERT_TRUE(QDir().mkpath(entry + QStringLiteral("/device")));
        }
        if (type) {
            QFile f(entry + QStringLiteral("/type"));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(type);
        }
    }
    void ById(const QString &name)
    {
        ASSERT_TRUE(QDir().mkpath(Path(QStringLiteral("dev/serial/by-id"))));
        QFile f(Path(QStringLiteral("dev/serial/by-id/") + name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
};

} // namespace

TEST(PortList, SortsIgnoringCaseAndDropsVirtualAndPhantomPorts)
{
    FakeRoot root;
    ASSERT_TRUE(root.dir.isValid());
    root.Tty(QStringLiteral("COM2"));
    root.Tty(QStringLiteral("COM10"));
    root.Tty(QStringLiteral("COM1"));
    root.Tty(QStringLiteral("ttyS0"), true, "4\n"); // a real 16550A
    root.Tty(QStringLiteral("ttyS1"), true, "0\n"); // registered, no UART behind it
    root.Tty(QStringLiteral("ttyUSB0"));
    root.Tty(QStringLiteral("tty5"), false); // virtual console: no device link
    root.Tty(QStringLiteral("ptmx"), false);
    root.Tty(QStringLiteral("com3"));

    EXPECT_EQ(ListSerialPorts(root.dir.path()),
              (QStringList{QStringLiteral("COM1"), QStringLiteral("COM10"), QStringLiteral("COM2"),
                           QStringLiteral("com3"), QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")}));
}

TEST(PortList, StableUsbNamesAreFullPaths)
{
    FakeRoot root;
    root.Tty(QStringLiteral("ttyACM0"));
    root.ById(QStringLiteral("usb-Q274_Board_0001-if00"));
    root.ById(QStringLiteral("usb-FTDI_FT232R_A1-if00-port0"));

    EXPECT_EQ(ListSerialPorts(root.dir.path() + QLatin1Char('/')),
              (QStringList{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"),
                           QStringLiteral("/dev/serial/by-id/usb-Q274_Board_0001-if00"), QStringLiteral("ttyACM0")}));
}

TEST(PortList, UnreadableTreeIsRegistryError)
{
    QTemporaryDir empty;
    try {
        ListSerialPorts(empty.path());
        FAIL() << "no error for a missing sys/class/tty";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 23);
        EXPECT_EQ(e.SystemErrorCode(), ENOENT);
        EXPECT_TRUE(e.Message().startsWith(QStringLiteral("Registry error")));
    }

    // A file where the folder should be fails for root too (permissions would not).
    FakeRoot root;
    ASSERT_TRUE(QDir().mkpath(root.Path(QStringLiteral("sys/class"))));
    QFile f(root.Path(QStringLiteral("sys/class/tty")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    try {
        ListSerialPorts(root.dir.path());
        FAIL() << "no error for a tty entry that is not a folder";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 23);
        EXPECT_EQ(e.SystemErrorCode(), ENOTDIR);
    }
}

TEST(PortList, EmptySystemGivesEmptyList)
{
    FakeRoot root;
    ASSERT_TRUE(QDir().mkpath(root.Path(QStringLiteral("sys/class/tty"))));
    EXPECT_TRUE(ListSerialPorts(root.dir.path()).isEmpty());
}
