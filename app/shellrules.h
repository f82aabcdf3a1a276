// Plain rules of the application shell, kept out of the widgets so tests call
// them directly: the keyboard shortcut table, the error box text, the
// disconnect question, and the application title.
#pragma once

#include <QString>
#include <Qt>

namespace q274 {

enum class ShortcutAction {
    None,
    Help,
    Close,
    Relay1,
    Relay2,
    Relay3,
    Relay4,
    Connect,
    ToggleLogging,
    About,
    ComPort,
    ClearLog,
    SaveLog,
    ShowControlPage,
    ShowLogPage,
    ToggleMilliseconds,
    ShowChartPage,
    OpenProfile,
    ShowAlarmsPage,
    AcknowledgeAlarm,
    FocusLogView,
};

// What a key press does in the main window. F1 and F6 act with any
// modifiers; for the others only Ctrl is tested; Shift and
// Alt may be held as well. Keypad digits act like the main-keyboard ones.
// nativeScanCode is the key's position (xkb keycode, as X11 and Wayland
// report it; 0 when unknown): the digit row counts by position, so Shift (or a
// layout that needs Shift for digits) does not turn Ctrl+1 into Ctrl+!.
ShortcutAction ShortcutFor(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0);

// The error box shows the message with "." appended when the message is not
// empty and its last character sorts after ".".
QString ErrorBoxText(const QString &message);

// "A monitoring and control session is in progress. " CR LF "Do you wish to disconnect?"
QString DisconnectQuestion();

// The application title: used for the error box and the help message box.
QString ApplicationTitle();
void SetApplicationTitle(const QString &title);

} // namespace q274
