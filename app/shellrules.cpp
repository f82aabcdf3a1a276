#include "shellrules.h"

#include "rstrings.h"

#include <mutex>

namespace q274 {

ShortcutAction ShortcutFor(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode)
{
    // xkb keycodes of the digit row keys 1 to 4 (evdev codes 2..5, plus 8).
    constexpr quint32 kDigitRow1 = 10, kDigitRow4 = 13;
    if (key == Qt::Key_F1)
        return ShortcutAction::Help;
    if (key == Qt::Key_F6)
        return ShortcutAction::FocusLogView;
    if (!(modifiers & Qt::ControlModifier))
        return ShortcutAction::None;
    switch (key) {
    case Qt::Key_Q: return ShortcutAction::Close;
    case Qt::Key_1: return ShortcutAction::Relay1;
    case Qt::Key_2: return ShortcutAction::Relay2;
    case Qt::Key_3: return ShortcutAction::Relay3;
    case Qt::Key_4: return ShortcutAction::Relay4;
    case Qt::Key_N: return ShortcutAction::Connect;
    case Qt::Key_E: return ShortcutAction::ToggleLogging;
    case Qt::Key_B: return ShortcutAction::About;
    case Qt::Key_P: return ShortcutAction::ComPort;
    case Qt::Key_R: return ShortcutAction::ClearLog;
    case Qt::Key_S: return ShortcutAction::SaveLog;
    case Qt::Key_T: return ShortcutAction::ShowControlPage;
    case Qt::Key_L: return ShortcutAction::ShowLogPage;
    case Qt::Key_M: return ShortcutAction::ToggleMilliseconds;
    case Qt::Key_G: return ShortcutAction::ShowChartPage;
    case Qt::Key_O: return ShortcutAction::OpenProfile;
    case Qt::Key_K: return ShortcutAction::ShowAlarmsPage;
    case Qt::Key_D: return ShortcutAction::AcknowledgeAlarm;
    default: break;
    }
    if (nativeScanCode >= kDigitRow1 && nativeScanCode <= kDigitRow4 && !(modifiers & Qt::KeypadModifier))
        return ShortcutAction(int(ShortcutAction::Relay1) + int(nativeScanCode - kDigitRow1));
    return ShortcutAction::None;
}

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString DisconnectQuestion() { return rs::sSessionInProgress + QStringLiteral("\r\n") + rs::sDoYouWishToDisconnect; }

namespace {
std::mutex titleMutex;
QString &TitleStore()
{
    static QString title = QStringLiteral("Q274 Temperature Controller Standard");
    return title;
}
} // namespace

QString ApplicationTitle()
{
    std::lock_guard lock(titleMutex);
    return TitleStore();
}

void SetApplicationTitle(const QString &title)
{
    std::lock_guard lock(titleMutex);
    TitleStore() = title;
}

} // namespace q274
