// The program's message table: every user-visible text of the window and of
// the log, word for word (several end in a blank on purpose), plus the
// captions that ApplyCaptions puts on the main window.
#pragma once

#include <QString>
#include <QStringList>

namespace q274 {

// Separates a message from its timestamp: TAB, 3 blanks, TAB, 3 blanks,
// TAB, 3 blanks, TAB, TAB, 2 blanks (16 characters).
inline const QString MessageIndent = QStringLiteral("\t   \t   \t   \t\t  ");

} // namespace q274

namespace q274::rs {

// Captions.
extern const QString sCh1, sCh2, sCh3, sCh4; // " Ch 1 " .. " Ch 4 "
extern const QString sRelayControl;          // " Relay Control "
extern const QString sEnabled, sSetPoint, sDropout, sMode;
extern const QString sManualOverridesControl;
extern const QString sR1Manual, sR2Manual, sR3Manual, sR4Manual;
extern const QString sTemperatureDisplay, sEnableLogging;
extern const QString sTabControl, sTabLog;

// Board connection.
extern const QString sConnect, sDisconnect, sComPortOpened;
extern const QString sConnecting; // ends in a blank
extern const QString sQ274Found, sDataError, sCouldNotConnect, sClosingPort;
extern const QString sDisconnected, sComPortPrefix;
extern const QString sErrParity, sErrFrame, sErrOverrun, sErrRxOver, sErrTxFull;
extern const QString sErrBreak, sErrIO, sErrMode;

// Channel control.
extern const QString sLoggingInDeg, sManualR, sOn, sOff;

// Logging.
extern const QString sLoggingEnabledInDeg;
extern const QString sLoggingDisabled;       // the logging-state line
extern const QString sLoggingDisabledFilter; // what LogMessage lets through
extern const QString sLogCleared, sLogSavedCleared;

// Application shell.
extern const QString sSessionInProgress; // ends in a blank
extern const QString sDoYouWishToDisconnect, sApplicationError;

// Every entry of the table, in table order (48 entries).
QStringList AllMessages();

// Caption of channel box N (1..4) and of manual relay button N.
QString ChannelCaption(int channel);
QString RelayButtonCaption(int channel);

} // namespace q274::rs
