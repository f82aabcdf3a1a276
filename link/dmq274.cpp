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
    : QObject(owner), FComPort(port ? port : new TComPort),
      FPoller({[this] { return FComPort->Connected(); },
              [this](const std::string &command) { FComPort->WriteText(command); }})
{
    FComPort->setParent(this);
    setObjectName(QStringLiteral("dmQ274"));
    FComPort->setObjectName(QStringLiteral("ComPort"));
    // The board's line settings are the port's defaults apart from the events.
    FComPort->SetEvents(ComEventBit(evRxChar) | ComEventBit(evRxFlag) | ComEventBit(evBreak) | ComEventBit(evCTS)
                       | ComEventBit(evDSR) | ComEventBit(evError));
    FComPort->OnAfterOpen = [this](TCustomComPort &) { ComPortAfterOpen(); };
    FComPort->OnBeforeClose = [this](TCustomComPort &) { ComPortBeforeClose(); };
    FComPort->OnAfterClose = [this](TCustomComPort &) { ComPortAfterClose(); };
    FComPort->OnRxChar = [this](TCustomComPort &, int count) { ComPortRxChar(count); };
    FComPort->OnError = [this](TCustomComPort &, TComErrors errors) { ComPortError(errors); };

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
    FAwaitingIdentification = false;
    FErrorPolicy = kErrorPolicyStop;
    FLogFolder = LogFolderPath();
    EnsureLogFolder(FLogFolder);
}

TdmQ274::~TdmQ274()
{
    // The host (the window) may already be gone: the closing handlers must
    // not reach it.
    FHost = nullptr;
    FComPort->OnAfterOpen = nullptr;
    FComPort->OnBeforeClose = nullptr;
    FComPort->OnAfterClose = nullptr;
    FComPort->OnRxChar = nullptr;
    FComPort->OnError = nullptr;
}

void TdmQ274::Log(const QString &text)
{
    if (FHost)
        FHost->LogMessage(MessageIndent + text);
}

void TdmQ274::ToggleConnection()
{
    if (FComPort->Connected())
        FComPort->ClosePort();
    else
        FComPort->OpenPort();
}

void TdmQ274::ComPortAfterOpen()
{
    if (FHost)
        FHost->ShowConnected();
    FAwaitingIdentification = true;
    // Stop and wait holds from the first byte of every connection: nothing
    // queued may leave before the board has answered "?".
    FPoller.ConnectionOpened();
    // An unfinished line of an earlier connection must not be glued to the
    // first reply of this one.
    FReplyBuffer.Clear();
    Log(rs::sConnecting);
    ClearPortBuffers();
    FComPort->WriteText("?");
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
    FPoller.ConnectionClosed();
    if (FHost)
        FHost->ShowDisconnected();
}

void TdmQ274::ClearPortBuffers() { FComPort->PurgeBuffers(true, true); }

void TdmQ274::ComPortRxChar(int Count)
{
    std::string bytes;
    FComPort->ReadText(bytes, Count);
    const ReplyAssembler::Result r = FReplyBuffer.Feed(bytes);
    if (r.Status == ReplyAssembler::LineStatus::Overflow) {
        Log(rs::sDataError);
        return;
    }
    if (r.Status != ReplyAssembler::LineStatus::Line)
        return;
    FPoller.LineReceived();
    tmrTimeout.stop();
    try {
        ProcessReply(r.Line);
    } catch (...) {
        // One unusable line must not cost the connection: report it and keep
        // listening for the next one.
        Log(rs::sDataError);
    }
    // The port may have been closed while the line was handled.
    if (FComPort->Connected())
        tmrTimeout.start();
}

void TdmQ274::ProcessReply(QString Line)
{
    if (IsIdentificationReply(Line)) {
        if (FAwaitingIdentification) {
            Line = IdentificationText(Line);
            Log(Line);
            FAwaitingIdentification = false;
            Log(rs::sQ274Found);
            FPoller.BoardIdentified();
            if (FHost)
                FHost->BoardIdentified();
        } else {
            Log(rs::sDataError);
        }
    }
    if (IsRelayStatusReply(Line) && FHost)
        FHost->ShowRelayStatus(RelayStatusText(Line));
    if (FPoller.RoutesTemperature(Line) && FHost)
        FHost->HandleTemperatureReply(Line);
}

void TdmQ274::tmrTimeoutTimer()
{
    tmrTimeout.stop();
    Log(rs::sCouldNotConnect);
    Log(rs::sClosingPort);
    FComPort->ClosePort();
}

void TdmQ274::ComPortError(TComErrors Errors)
{
    FPortErrorText = rs::sComPortPrefix + QStringLiteral("  ") + LineErrorMessage(Errors);
    HandlePortError();
}

void TdmQ274::HandlePortError()
{
    if (FErrorPolicy == kErrorPolicyLog) {
        Log(QStringLiteral("  ") + FPortErrorText);
    } else if (FErrorPolicy == kErrorPolicyStop) {
        Log(QStringLiteral("  ") + FPortErrorText);
        // Inside an event delivery the port finishes this close as soon as
        // the delivery has returned.
        if (FComPort->Connected())
            FComPort->ClosePort();
    }
}

} // namespace q274
