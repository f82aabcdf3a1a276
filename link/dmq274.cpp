#include "dmq274.h"

#include "logfiles.h"
#include "rstrings.h"
#include "timestamp.h"

namespace q274 {

QString LineErrorMessage(TComErrors errors)
{
    // Later conditions override earlier ones, so the last present one wins.
    struct Row {
        TComErrors bit;
        const QString *text;
    };
    const Row rows[] = {
        {ceRxParity, &rs::sErrParity}, {ceFrame, &rs::sErrFrame},   {ceOverrun, &rs::sErrOverrun},
        {ceRxOver, &rs::sErrRxOver},   {ceTxFull, &rs::sErrTxFull}, {ceBreak, &rs::sErrBreak},
        {ceIO, &rs::sErrIO},           {ceMode, &rs::sErrMode},
    };
    QString message;
    for (const Row &r : rows)
        if (errors & r.bit)
            message = *r.text;
    return message;
}

TdmQ274::TdmQ274(QObject *owner, TComPort *port)
    : QObject(owner), ComPort(port ? port : new TComPort),
      Poller({[this] { return ComPort->Connected(); },
              [this](const std::string &command) { ComPort->WriteText(command); }})
{
    ComPort->setParent(this);
    setObjectName(QStringLiteral("dmQ274"));
    ComPort->setObjectName(QStringLiteral("ComPort"));
    // The board's line settings are the port's defaults apart from the events.
    ComPort->SetEvents(ComEventBit(evRxChar) | ComEventBit(evRxFlag) | ComEventBit(evBreak) | ComEventBit(evCTS)
                       | ComEventBit(evDSR) | ComEventBit(evError));
    ComPort->OnAfterOpen = [this](TCustomComPort &) { ComPortAfterOpen(); };
    ComPort->OnBeforeClose = [this](TCustomComPort &) { ComPortBeforeClose(); };
    ComPort->OnAfterClose = [this](TCustomComPort &) { ComPortAfterClose(); };
    ComPort->OnRxChar = [this](TCustomComPort &, int count) { ComPortRxChar(count); };
    ComPort->OnError = [this](TCustomComPort &, TComErrors errors) { ComPortError(errors); };

    tmrTimeout.setInterval(10000);
    tmrTimeout.setSingleShot(false);
    // A coarse timer may fire up to 5 % early or late: a silent board must be
    // dropped 10 s after the last line, not anywhere from 9.5 s to 10.5 s.
    tmrTimeout.setTimerType(Qt::PreciseTimer);
    connect(&tmrTimeout, &QTimer::timeout, this, [this] { tmrTimeoutTimer(); });

    DataModuleCreate();
}

void TdmQ274::DataModuleCreate()
{
    FReplyBuffer.Clear();
    AwaitingIdentification = false;
    ErrorPolicy = kErrorPolicyStop;
    FLogFolder = LogFolderPath();
    EnsureLogFolder(FLogFolder);
}

TdmQ274::~TdmQ274()
{
    // The host (the window) may already be gone: the closing handlers must
    // not reach it.
    FHost = nullptr;
    ComPort->OnAfterOpen = nullptr;
    ComPort->OnBeforeClose = nullptr;
    ComPort->OnAfterClose = nullptr;
    ComPort->OnRxChar = nullptr;
    ComPort->OnError = nullptr;
}

void TdmQ274::Log(const QString &text)
{
    if (FHost)
        FHost->LogMessage(MessageIndent + text);
}

void TdmQ274::ToggleConnection()
{
    if (ComPort->Connected())
        ComPort->ClosePort();
    else
        ComPort->OpenPort();
}

void TdmQ274::ComPortAfterOpen()
{
    if (FHost)
        FHost->ShowConnected();
    AwaitingIdentification = true;
    // Stop and wait holds from the first byte of every connection: nothing
    // queued may leave before the board has answered "?".
    Poller.ConnectionOpened();
    // An unfinished line of an earlier connection must not be glued to the
    // first reply of this one.
    FReplyBuffer.Clear();
    Log(rs::sConnecting);
    ClearPortBuffers();
    ComPort->WriteText("?");
    tmrTimeout.start();
}

void TdmQ274::ComPortBeforeClose()
{
    ClearPortBuffers();
    tmrTimeout.stop();
}

void TdmQ274::ComPortAfterClose()
{
    tmrTimeout.stop();
    Poller.ConnectionClosed();
    if (FHost)
        FHost->ShowDisconnected();
}

void TdmQ274::ClearPortBuffers() { ComPort->PurgeBuffers(true, true); }

void TdmQ274::ComPortRxChar(int Count)
{
    std::string bytes;
    ComPort->ReadText(bytes, Count);
    const ReplyAssembler::Result r = FReplyBuffer.Feed(bytes);
    if (r.Status == ReplyAssembler::LineStatus::Overflow) {
        Log(rs::sDataError);
        return;
    }
    if (r.Status != ReplyAssembler::LineStatus::Line)
        return;
    Poller.LineReceived();
    tmrTimeout.stop();
    try {
        ProcessReply(r.Line);
    } catch (...) {
        // One unusable line must not cost the connection: report it and keep
        // listening for the next one.
        Log(rs::sDataError);
    }
    // The port may have been closed while the line was handled.
    if (ComPort->Connected())
        tmrTimeout.start();
}

void TdmQ274::ProcessReply(QString Line)
{
    if (IsIdentificationReply(Line)) {
        if (AwaitingIdentification) {
            Line = IdentificationText(Line);
            Log(Line);
            AwaitingIdentification = false;
            Log(rs::sQ274Found);
            Poller.BoardIdentified();
            if (FHost)
                FHost->BoardIdentified();
        } else {
            Log(rs::sDataError);
        }
    }
    if (IsRelayStatusReply(Line) && FHost)
        FHost->ShowRelayStatus(RelayStatusText(Line));
    if (Poller.RoutesTemperature(Line) && FHost)
        FHost->HandleTemperatureReply(Line);
}

void TdmQ274::tmrTimeoutTimer()
{
    tmrTimeout.stop();
    Log(rs::sCouldNotConnect);
    Log(rs::sClosingPort);
    ComPort->ClosePort();
}

void TdmQ274::ComPortError(TComErrors Errors)
{
    PortErrorText = rs::sComPortPrefix + QStringLiteral("  ") + LineErrorMessage(Errors);
    HandlePortError();
}

void TdmQ274::HandlePortError()
{
    if (ErrorPolicy == kErrorPolicyLog) {
        Log(QStringLiteral("  ") + PortErrorText);
    } else if (ErrorPolicy == kErrorPolicyStop) {
        Log(QStringLiteral("  ") + PortErrorText);
        // Inside an event delivery the port finishes this close as soon as
        // the delivery has returned.
        if (ComPort->Connected())
            ComPort->ClosePort();
    }
}

} // namespace q274
