#include "comerrors.h"

#include <QCoreApplication>

#include <array>
#include <cerrno>
#include <system_error>
#include <mutex>

namespace q274 {
namespace {

// Untranslated texts; QT_TRANSLATE_NOOP keeps them visible to lupdate.
const char *const kTexts[kComErrorCodeCount] = {
    QT_TRANSLATE_NOOP("cport", "Unable to open com port"),
    QT_TRANSLATE_NOOP("cport", "WriteFile function failed"),
    QT_TRANSLATE_NOOP("cport", "ReadFile function failed"),
    QT_TRANSLATE_NOOP("cport", "Invalid Async parameter"),
    QT_TRANSLATE_NOOP("cport", "PurgeComm function failed"),
    QT_TRANSLATE_NOOP("cport", "Unable to get async status"),
    QT_TRANSLATE_NOOP("cport", "SetCommState function failed"),
    QT_TRANSLATE_NOOP("cport", "SetCommTimeouts failed"),
    QT_TRANSLATE_NOOP("cport", "SetupComm function failed"),
    QT_TRANSLATE_NOOP("cport", "ClearCommError function failed"),
    QT_TRANSLATE_NOOP("cport", "GetCommModemStatus function failed"),
    QT_TRANSLATE_NOOP("cport", "EscapeCommFunction function failed"),
    QT_TRANSLATE_NOOP("cport", "TransmitCommChar function failed"),
    QT_TRANSLATE_NOOP("cport", "Cannot set property while connected"),
    QT_TRANSLATE_NOOP("cport", "EnumPorts function failed"),
    QT_TRANSLATE_NOOP("cport", "Failed to store settings"),
    QT_TRANSLATE_NOOP("cport", "Failed to load settings"),
    QT_TRANSLATE_NOOP("cport", "Link (un)registration failed"),
    QT_TRANSLATE_NOOP("cport", "Cannot change led state if ComPort is selected"),
    QT_TRANSLATE_NOOP("cport", "Cannot wait for event if event thread is created"),
    QT_TRANSLATE_NOOP("cport", "WaitForEvent method failed"),
    QT_TRANSLATE_NOOP("cport", "A component is linked to OnRxBuf event"),
    QT_TRANSLATE_NOOP("cport", "Registry error"),
};

const char *const kSuffix = QT_TRANSLATE_NOOP("cport", " (win error code: %d)");

// Errors may be created on the event thread too, so the table is guarded.
std::mutex g_tableMutex;
bool g_tableFilled = false;
std::array<QString, kComErrorCodeCount> g_table;

void FillTable()
{
    for (int i = 0; i < kComErrorCodeCount; ++i)
        g_table[i] = QCoreApplication::translate("cport", kTexts[i]);
    g_tableFilled = true;
}

std::string ComposeMessage(int code, bool withSystem, int systemCode)
{
    QString text = ComErrorText(code);
    if (withSystem) {
        // The suffix is looked up for every error; the number replaces %d.
        QString suffix = QCoreApplication::translate("cport", kSuffix);
        suffix.replace(QStringLiteral("%d"), QString::number(systemCode));
        text += suffix;
    }
    return text.toStdString();
}

} // namespace

QString ComErrorText(int code)
{
    if (code < 1 || code > kComErrorCodeCount)
        return QString();
    std::lock_guard<std::mutex> g(g_tableMutex);
    if (!g_tableFilled)
        FillTable();
    return g_table[code - 1];
}

QString PortOpenAdvice(const QString &device, int systemCode)
{
    const QString reason = QString::fromStdString(std::generic_category().message(systemCode));
    const char *todo = nullptr;
    switch (systemCode) {
    case EACCES:
    case EPERM: todo = QT_TRANSLATE_NOOP("cport", "add your user to the dialout group and log in again"); break;
    case ENOENT:
    case ENODEV:
    case ENXIO: todo = QT_TRANSLATE_NOOP("cport", "is the board plugged in?"); break;
    case EBUSY:
    case EWOULDBLOCK:
        todo = QT_TRANSLATE_NOOP("cport", "another program is using the port; close it, then connect again");
        break;
    default: break;
    }
    QString line = device + QStringLiteral(": ") + reason;
    if (todo)
        line += QStringLiteral(" \u2014 ") + QCoreApplication::translate("cport", todo);
    return line;
}

void ReloadComErrorTexts()
{
    std::lock_guard<std::mutex> g(g_tableMutex);
    FillTable();
}

EComPort::EComPort(int code) : std::runtime_error(ComposeMessage(code, false, -1)), FCode(code), FSystemCode(-1) {}

EComPort::EComPort(int code, int systemCode)
    : std::runtime_error(ComposeMessage(code, true, systemCode)), FCode(code), FSystemCode(systemCode)
{
}

} // namespace q274
