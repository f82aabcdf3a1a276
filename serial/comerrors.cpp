#include "comerrors.h"

#include <QCoreApplication>

#include <array>
#include <mutex>

namespace q274 {
namespace {

// Untranslated texts; QT_TRANSLATE_NOOP keeps them visible to lupdate.
const char *const kTexts[ComErrorCodeCount] = {
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
std::array<QString, ComErrorCodeCount> g_table;

void fillTable()
{
    for (int i = 0; i < ComErrorCodeCount; ++i)
        g_table[i] = QCoreApplication::translate("cport", kTexts[i]);
    g_tableFilled = true;
}

std::string composeMessage(int code, bool withSystem, int systemCode)
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
    if (code < 1 || code > ComErrorCodeCount)
        return QString();
    std::lock_guard<std::mutex> g(g_tableMutex);
    if (!g_tableFilled)
        fillTable();
    return g_table[code - 1];
}

void ReloadComErrorTexts()
{
    std::lock_guard<std::mutex> g(g_tableMutex);
    fillTable();
}

EComPort::EComPort(int code) : std::runtime_error(composeMessage(code, false, -1)), FCode(code), FSystemCode(-1) {}

EComPort::EComPort(int code, int systemCode)
    : std::runtime_error(composeMessage(code, true, systemCode)), FCode(code), FSystemCode(systemCode)
{
}

} // namespace q274
