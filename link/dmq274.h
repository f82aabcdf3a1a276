// The board connection: opens and closes the serial port, identifies the
// board, guards the conversation with the reply watchdog, assembles received
// bytes into reply lines and routes each line to the part of the window that
// owns it. Lives for the whole run; everything runs on the UI thread.
#pragma once

#include "comport.h"
#include "poller.h"
#include "protocol.h"

#include <QObject>
#include <QString>
#include <QTimer>

namespace q274 {

// What the connection needs from the main window.
class TdmQ274Host {
public:
    virtual ~TdmQ274Host() = default;
    // Appends one timestamped line (the caller passes MessageIndent + text).
    virtual void LogMessage(const QString &text) = 0;
    // Connected state: caption, "COM Port opened", read-out colour, autosave clock.
    virtual void ShowConnected() = 0;
    // Disconnected state after every close.
    virtual void ShowDisconnected() = 0;
    virtual void ShowRelayStatus(const QString &statusText) = 0;
    virtual void HandleTemperatureReply(const QString &line) = 0;
    // The board answered the identification: FirstSamplePending, tmrTStatus.
    virtual void BoardIdentified() = 0;
};

inline const QString kErrorPolicyHide = QStringLiteral("HideErrorsAndContinue");
inline const QString kErrorPolicyLog = QStringLiteral("LogErrorsAndContinue");
inline const QString kErrorPolicyStop = QStringLiteral("StopOnErrors");

// The message for a set of line errors: the last present condition in the
// fixed order parity, frame, overrun, input overflow, output full, break,
// I/O, mode wins. Empty for an empty set.
QString LineErrorMessage(TComErrors errors);

class TdmQ274 : public QObject {
public:
    // port: the serial port to talk through (taken over); none: a TComPort.
    explicit TdmQ274(QObject *owner = nullptr, TComPort *port = nullptr);
    ~TdmQ274() override;

    void SetHost(TdmQ274Host *host) { FHost = host; }

    // The serial port, owned.
    TComPort *ComPort() const { return FComPort; }
    // Polling and stop-and-wait over ComPort.
    TPoller &Poller() { return FPoller; }
    const TPoller &Poller() const { return FPoller; }

    // The watchdog that drops a silent board (10 s after the last line).
    const QTimer &Watchdog() const { return tmrTimeout; }
    void SetWatchdogInterval(int ms) { tmrTimeout.setInterval(ms); }
    void StopWatchdog() { tmrTimeout.stop(); }

    // The last port error's message as logged.
    const QString &PortErrorText() const { return FPortErrorText; }
    // From opening the port until the board's identification arrives.
    bool AwaitingIdentification() const { return FAwaitingIdentification; }
    void SetAwaitingIdentification(bool awaiting) { FAwaitingIdentification = awaiting; }
    // What a port error does (kErrorPolicyHide, ...); the port's setup
    // dialog edits it in place through ErrorPolicySetting.
    const QString &ErrorPolicy() const { return FErrorPolicy; }
    void SetErrorPolicy(const QString &policy) { FErrorPolicy = policy; }
    QString *ErrorPolicySetting() { return &FErrorPolicy; }

    // The log folder made sure of at creation.
    QString LogFolder() const { return FLogFolder; }
    const ReplyAssembler &ReplyBuffer() const { return FReplyBuffer; }

    // Creation: the log folder made sure of (one level, failure ignored).
    void DataModuleCreate();
    void ToggleConnection();
    void ComPortAfterOpen();
    void ComPortBeforeClose();
    void ComPortAfterClose();
    void ComPortRxChar(int Count);
    void ComPortError(TComErrors Errors);
    void tmrTimeoutTimer();
    void ProcessReply(QString Line);
    void HandlePortError();
    void ClearPortBuffers();

private:
    void Log(const QString &text);

    TComPort *FComPort;
    QTimer tmrTimeout;
    TPoller FPoller; // after FComPort, which it talks through
    QString FPortErrorText;
    bool FAwaitingIdentification = false;
    QString FErrorPolicy = kErrorPolicyStop;
    TdmQ274Host *FHost = nullptr;
    ReplyAssembler FReplyBuffer;
    QString FLogFolder;
};

} // namespace q274
