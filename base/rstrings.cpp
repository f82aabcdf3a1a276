#include "rstrings.h"

#include <stdexcept>

namespace q274::rs {

const QString sCh1 = QStringLiteral(" Ch 1 ");
const QString sCh2 = QStringLiteral(" Ch 2 ");
const QString sCh3 = QStringLiteral(" Ch 3 ");
const QString sCh4 = QStringLiteral(" Ch 4 ");
const QString sRelayControl = QStringLiteral(" Relay Control ");
const QString sEnabled = QStringLiteral("Enabled");
const QString sSetPoint = QStringLiteral("SetPoint");
const QString sDropout = QStringLiteral("Dropout");
const QString sMode = QStringLiteral("Mode");
const QString sManualOverridesControl = QStringLiteral("Manual Overrides Control");
const QString sR1Manual = QStringLiteral("R1 Manual");
const QString sR2Manual = QStringLiteral("R2 Manual");
const QString sR3Manual = QStringLiteral("R3 Manual");
const QString sR4Manual = QStringLiteral("R4 Manual");
const QString sTemperatureDisplay = QStringLiteral("Temperature Display");
const QString sEnableLogging = QStringLiteral("Enable Logging");
const QString sTabControl = QStringLiteral("Control");
const QString sTabLog = QStringLiteral("Log");

const QString sConnect = QStringLiteral("Connect");
const QString sDisconnect = QStringLiteral("Disconnect");
const QString sComPortOpened = QStringLiteral("COM Port opened");
const QString sConnecting = QStringLiteral("Connecting to Q274... ");
const QString sQ274Found = QStringLiteral("Q274 found");
const QString sDataError = QStringLiteral("Data error. Waiting for next data.");
const QString sCouldNotConnect = QStringLiteral("Could not connect to the Q274 board");
const QString sClosingPort = QStringLiteral("Closing the COM port...");
const QString sDisconnected = QStringLiteral("Disconnected");
const QString sComPortPrefix = QStringLiteral("COM port:");
const QString sErrParity = QStringLiteral("The hardware detected a Parity error.");
const QString sErrFrame = QStringLiteral("The hardware detected a Frame error.");
const QString sErrOverrun = QStringLiteral("A character Buffer Overrun has occured.  The next character is lost.");
const QString sErrRxOver = QStringLiteral("An Input Buffer Overflow has occurred.");
const QString sErrTxFull = QStringLiteral("The Output Buffer is full.");
const QString sErrBreak = QStringLiteral("The hardware detected a Break condition.");
const QString sErrIO = QStringLiteral("An I/O error occured during communication with the device.");
const QString sErrMode = QStringLiteral("The requested mode is not supported.");

const QString sLoggingInDeg = QStringLiteral("Logging in Deg");
const QString sManualR = QStringLiteral("Manual - R");
const QString sOn = QStringLiteral(" - ON");
const QString sOff = QStringLiteral(" - OFF");

const QString sLoggingEnabledInDeg = QStringLiteral("Logging enabled in Deg");
const QString sLoggingDisabled = QStringLiteral("Logging disabled");
const QString sLoggingDisabledFilter = QStringLiteral("Logging disabled");
const QString sLogCleared = QStringLiteral("Log contents have been cleared");
const QString sLogSavedCleared = QStringLiteral("Previous Log contents saved, Log screen cleared");

const QString sSessionInProgress = QStringLiteral("A monitoring and control session is in progress. ");
const QString sDoYouWishToDisconnect = QStringLiteral("Do you wish to disconnect?");
const QString sApplicationError = QStringLiteral("Application ERROR:");

QStringList AllMessages()
{
    return {sCh1,
            sCh2,
            sCh3,
            sCh4,
            sRelayControl,
            sEnabled,
            sSetPoint,
            sDropout,
            sMode,
            sManualOverridesControl,
            sR1Manual,
            sR2Manual,
            sR3Manual,
            sR4Manual,
            sTemperatureDisplay,
            sEnableLogging,
            sTabControl,
            sTabLog,
            sConnect,
            sDisconnect,
            sComPortOpened,
            sConnecting,
            sQ274Found,
            sDataError,
            sCouldNotConnect,
            sClosingPort,
            sDisconnected,
            sComPortPrefix,
            sErrParity,
            sErrFrame,
            sErrOverrun,
            sErrRxOver,
            sErrTxFull,
            sErrBreak,
            sErrIO,
            sErrMode,
            sLoggingInDeg,
            sManualR,
            sOn,
            sOff,
            sLoggingEnabledInDeg,
            sLoggingDisabled,
            sLoggingDisabledFilter,
            sLogCleared,
            sLogSavedCleared,
            sSessionInProgress,
            sDoYouWishToDisconnect,
            sApplicationError};
}

QString ChannelCaption(int channel)
{
    switch (channel) {
    case 1: return sCh1;
    case 2: return sCh2;
    case 3: return sCh3;
    case 4: return sCh4;
    }
    throw std::out_of_range("channel number must be 1 to 4");
}

QString RelayButtonCaption(int channel)
{
    switch (channel) {
    case 1: return sR1Manual;
    case 2: return sR2Manual;
    case 3: return sR3Manual;
    case 4: return sR4Manual;
    }
    throw std::out_of_range("channel number must be 1 to 4");
}

} // namespace q274::rs
