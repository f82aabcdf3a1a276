// The system's serial ports: the tty devices the kernel has hardware for,
// plus the stable names udev makes for USB adapters.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace q274 {

// Lists the serial ports found under root (normally "/"): every entry of
// sys/class/tty that has a device link, except serial-core ports whose type
// reads 0 (no UART behind them), offered by its name (ttyS0, ttyUSB0, ...);
// and every entry of dev/serial/by-id as its full path under /dev. Sorted
// ignoring case, no duplicates. A sys/class/tty that cannot be read raises
// EComPort code 23 with the errno.
QStringList ListSerialPorts(const QString &root = QStringLiteral("/"));

// The port list the setup dialog offers. Tests install another source;
// an empty function restores the system's list.
using SerialPortLister = std::function<QStringList()>;
QStringList SystemSerialPorts();
void SetSerialPortLister(SerialPortLister lister);

} // namespace q274
