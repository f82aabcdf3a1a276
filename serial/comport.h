// The serial port component: settings of one port, opening and closing the
// device, byte-string transfers and line events reported through handlers.
//
// All operations are meant for the user-interface thread. The event thread
// (comthread.h) hands each batch of events over to that thread (smThreadSync),
// queues them there (smWindowSync) or runs the handlers itself (smNone).
#pragma once

#include "comerrors.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace q274 {

class TCustomComPort;
class TComThread;

enum TBaudRate : int {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TDataBits : int { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits : int { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : int { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : int { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : int { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : int { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod : int { smThreadSync, smWindowSync, smNone };
enum TComEvent : int { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };

// Set of TComEvent: bit n stands for the n-th event.
using TComEvents = std::uint16_t;
constexpr TComEvents ComEventBit(TComEvent e) { return TComEvents(1u << int(e)); }
inline constexpr TComEvents kAllComEvents = 0x03FF;
inline constexpr int kComEventCount = 10;

// Set of line errors, one byte.
using TComErrors = std::uint8_t;
inline constexpr TComErrors ceFrame = 0x01;
inline constexpr TComErrors ceRxParity = 0x02;
inline constexpr TComErrors ceOverrun = 0x04;
inline constexpr TComErrors ceBreak = 0x08;
inline constexpr TComErrors ceIO = 0x10;
inline constexpr TComErrors ceMode = 0x20;
inline constexpr TComErrors ceRxOver = 0x40;
inline constexpr TComErrors ceTxFull = 0x80;

// The driver's line-error counters (Linux TIOCGICOUNT); they only grow, and
// wrap around.
struct LineCounters {
    int Frame = 0, Parity = 0, Overrun = 0, Break = 0, BufOverrun = 0, Ring = 0;
};

// The line errors shown by the counters moving from before to now. A parity
// count matters only while the port checks parity.
TComErrors LineErrorsBetween(const LineCounters &before, const LineCounters &now, bool parityCheck);

// Set of modem input signals.
using TModemSignals = std::uint8_t;
inline constexpr TModemSignals msCTS = 0x01;
inline constexpr TModemSignals msDSR = 0x02;
inline constexpr TModemSignals msRing = 0x04;
inline constexpr TModemSignals msRLSD = 0x08;

// Event mask bits (EV_*): TComEvents as one number, for EventsToMask/MaskToEvents.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;

std::uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(std::uint32_t mask);

// Display texts for the setup dialog; the Str-to-value direction ignores
// case and gives nothing for an unknown text.
QString BaudRateToStr(TBaudRate v);
std::optional<TBaudRate> StrToBaudRate(const QString &s);
QString DataBitsToStr(TDataBits v);
std::optional<TDataBits> StrToDataBits(const QString &s);
QString StopBitsToStr(TStopBits v);
std::optional<TStopBits> StrToStopBits(const QString &s);
QString ParityToStr(TParityBits v);
std::optional<TParityBits> StrToParity(const QString &s);
QString FlowControlToStr(TFlowControl v);
std::optional<TFlowControl> StrToFlowControl(const QString &s);

// Bits per second of a named rate; 0 for brCustom.
int BaudRateToInt(TBaudRate v);
// The named rate for a number, brCustom when there is none.
TBaudRate IntToBaudRate(int rate);

// The device path of a port name: a name with "/" is a path, "COMn" is
// /dev/ttyS(n-1), anything else is looked up in /dev.
std::string DevicePathForPort(const QString &port);

// Settings objects. Each holds a plain back reference to its port; a change
// of a field applies the matching settings again. A copy made by the copy
// constructor is detached (no port); assigning to an attached object copies
// the fields and always applies again.
class TComParity {
public:
    explicit TComParity(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComParity(const TComParity &o);
    TComParity &operator=(const TComParity &o);

    TParityBits Bits() const { return FBits; }
    void SetBits(TParityBits v);
    bool Check() const { return FCheck; }
    void SetCheck(bool v);
    bool Replace() const { return FReplace; }
    void SetReplace(bool v);
    char ReplaceChar() const { return FReplaceChar; }
    void SetReplaceChar(char v);

private:
    void Changed();
    TCustomComPort *FComPort;
    TParityBits FBits = prNone;
    bool FCheck = false;
    bool FReplace = false;
    char FReplaceChar = 0;
};

class TComFlowControl {
public:
    explicit TComFlowControl(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComFlowControl(const TComFlowControl &o);
    TComFlowControl &operator=(const TComFlowControl &o);

    bool OutCTSFlow() const { return FOutCTSFlow; }
    void SetOutCTSFlow(bool v);
    bool OutDSRFlow() const { return FOutDSRFlow; }
    void SetOutDSRFlow(bool v);
    TDTRFlowControl ControlDTR() const { return FControlDTR; }
    void SetControlDTR(TDTRFlowControl v);
    TRTSFlowControl ControlRTS() const { return FControlRTS; }
    void SetControlRTS(TRTSFlowControl v);
    bool XonXoffOut() const { return FXonXoffOut; }
    void SetXonXoffOut(bool v);
    bool XonXoffIn() const { return FXonXoffIn; }
    void SetXonXoffIn(bool v);
    bool DSRSensitivity() const { return FDSRSensitivity; }
    void SetDSRSensitivity(bool v);
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetTxContinueOnXoff(bool v);
    char XonChar() const { return FXonChar; }
    void SetXonChar(char v);
    char XoffChar() const { return FXoffChar; }
    void SetXoffChar(char v);

    // The preset, derived from the fields; setting it always applies again.
    TFlowControl FlowControl() const;
    void SetFlowControl(TFlowControl v);

private:
    void Changed();
    TCustomComPort *FComPort;
    bool FOutCTSFlow = false;
    bool FOutDSRFlow = false;
    TDTRFlowControl FControlDTR = dtrDisable;
    TRTSFlowControl FControlRTS = rtsDisable;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDSRSensitivity = false;
    bool FTxContinueOnXoff = false;
    char FXonChar = 17;
    char FXoffChar = 19;
};

class TComTimeouts {
public:
    explicit TComTimeouts(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComTimeouts(const TComTimeouts &o);
    TComTimeouts &operator=(const TComTimeouts &o);

    int ReadInterval() const { return FReadInterval; }
    void SetReadInterval(int v);
    int ReadTotalMultiplier() const { return FReadTotalMultiplier; }
    void SetReadTotalMultiplier(int v);
    int ReadTotalConstant() const { return FReadTotalConstant; }
    void SetReadTotalConstant(int v);
    int WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
    void SetWriteTotalMultiplier(int v);
    int WriteTotalConstant() const { return FWriteTotalConstant; }
    void SetWriteTotalConstant(int v);

private:
    void Changed();
    TCustomComPort *FComPort;
    int FReadInterval = -1;
    int FReadTotalMultiplier = 0;
    int FReadTotalConstant = 0;
    int FWriteTotalMultiplier = 100;
    int FWriteTotalConstant = 1000;
};

class TComBuffer {
public:
    explicit TComBuffer(TCustomComPort *port = nullptr) : FComPort(port) {}
    TComBuffer(const TComBuffer &o);
    TComBuffer &operator=(const TComBuffer &o);

    // An odd positive size is stored one less.
    int InputSize() const { return FInputSize; }
    void SetInputSize(int v);
    int OutputSize() const { return FOutputSize; }
    void SetOutputSize(int v);

private:
    void Changed();
    TCustomComPort *FComPort;
    int FInputSize = 1024;
    int FOutputSize = 1024;
};

class TCustomComPort : public QObject {
public:
    explicit TCustomComPort(QObject *owner = nullptr);
    ~TCustomComPort() override;

    TCustomComPort(const TCustomComPort &) = delete;
    TCustomComPort &operator=(const TCustomComPort &) = delete;

    // Handlers (all optional).
    using TNotifyEvent = std::function<void(TCustomComPort &Sender)>;
    using TRxCharEvent = std::function<void(TCustomComPort &Sender, int Count)>;
    using TComSignalEvent = std::function<void(TCustomComPort &Sender, bool OnOff)>;
    using TComErrorEvent = std::function<void(TCustomComPort &Sender, TComErrors Errors)>;
    TNotifyEvent OnAfterOpen, OnAfterClose, OnBeforeOpen, OnBeforeClose;
    TRxCharEvent OnRxChar;
    TNotifyEvent OnTxEmpty, OnBreak, OnRing, OnRxFlag, OnRx80Full;
    TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
    TComErrorEvent OnError;

    // Operations.
    void OpenPort();
    void ClosePort();
    int WriteText(const std::string &Str);
    int ReadText(std::string &Str, int Count);
    void PurgeBuffers(bool Input, bool Output);
    int PendingInput();
    TModemSignals ModemSignals();
    void BeginSettingsUpdate();
    void EndSettingsUpdate();
    void EditSettings();
    // The setup dialog lives in a widget library; it installs itself here.
    static void SetEditSettingsHandler(std::function<void(TCustomComPort &)> handler);

    // Loading from a stored definition: setters only store, Connected only
    // records; EndLoading opens the port if Connected was stored true.
    void BeginLoading();
    void EndLoading();
    bool Loading() const { return FLoading; }

    bool Connected() const { return FLoading ? FStoredConnected : FConnected; }
    void SetConnected(bool v);

    // Settings.
    QString Port() const { return FPort; }
    void SetPort(const QString &v);
    TBaudRate BaudRate() const { return FBaudRate; }
    void SetBaudRate(TBaudRate v);
    int CustomBaudRate() const { return FCustomBaudRate; }
    void SetCustomBaudRate(int v);
    TDataBits DataBits() const { return FDataBits; }
    void SetDataBits(TDataBits v);
    TStopBits StopBits() const { return FStopBits; }
    void SetStopBits(TStopBits v);
    bool DiscardNull() const { return FDiscardNull; }
    void SetDiscardNull(bool v);
    char EventChar() const { return FEventChar; }
    void SetEventChar(char v);
    TComEvents Events() const { return FEvents; }
    void SetEvents(TComEvents v);
    TSyncMethod SyncMethod() const { return FSyncMethod; }
    void SetSyncMethod(TSyncMethod v);

    TComParity &Parity() { return FParity; }
    const TComParity &Parity() const { return FParity; }
    void SetParity(const TComParity &v) { FParity = v; }
    TComFlowControl &FlowControl() { return FFlowControl; }
    const TComFlowControl &FlowControl() const { return FFlowControl; }
    void SetFlowControl(const TComFlowControl &v) { FFlowControl = v; }
    TComTimeouts &Timeouts() { return FTimeouts; }
    const TComTimeouts &Timeouts() const { return FTimeouts; }
    void SetTimeouts(const TComTimeouts &v) { FTimeouts = v; }
    TComBuffer &Buffer() { return FBuffer; }
    const TComBuffer &Buffer() const { return FBuffer; }
    void SetBuffer(const TComBuffer &v) { FBuffer = v; }

    // Event dispatch (see comthread.h). DeliverEvents runs the handlers of one
    // batch in the fixed order; TakeLineErrors collects and clears the line
    // errors seen since the last call.
    void DeliverEvents(TComEvents Batch);
    TComErrors TakeLineErrors();

    // True when an apply step would reach the device now (open, no update
    // bracket, not loading).
    bool SettingsApplicable() const;
    // The device descriptor, -1 while closed.
    int Handle() const { return FHandle; }
    // The running event thread, if any (for diagnostics and tests).
    const TComThread *EventThread() const { return FEventThread.get(); }

    // Overridable steps.
    virtual void OpenDevice();
    virtual void CloseDevice();
    virtual void ApplyAllSettings();
    virtual void DoAfterClose();
    virtual void DoAfterOpen();
    virtual void DoBeforeClose();
    virtual void DoBeforeOpen();
    virtual void DoRxChar(int Count);
    virtual void DoTxEmpty();
    virtual void DoBreak();
    virtual void DoRing();
    virtual void DoRxFlag();
    virtual void DoCTSChange(bool OnOff);
    virtual void DoDSRChange(bool OnOff);
    virtual void DoError(TComErrors Errors);
    virtual void DoRLSDChange(bool OnOff);
    virtual void DoRx80Full();
    virtual void ApplyLineSettings();
    virtual void ApplyTimeoutSettings();
    virtual void ApplyBufferSizes();

protected:
    // Reads the driver's line-error counters: 0, or the errno of the failed
    // call (ENOTTY/EINVAL: the device keeps none). Called from the event
    // thread as well.
    virtual int ReadLineCounters(int fd, LineCounters &counters);

    // Closes the port for good; errors go to the general error handler. The
    // most-derived destructor calls it, so that an event thread running
    // handlers (smNone) has ended before any part of the object is gone.
    void CloseOnDestroy() noexcept;

private:
    friend class TComThread;

    void CancelTransfers();
    void StopThread();
    void FinishDeferredClose(unsigned generation);
    void DeliverFromThread(TComEvents batch);
    void DeliverBatch(TComEvents batch);
    void ForceRelease() noexcept;
    void DrainCancel();
    bool DeviceHungUp() const;
    // True (and remembered) when a failure with this errno means the line
    // was hung up.
    bool NoteHangUp(int e);
    void PostDeferredClose();
    std::string FilterInput(std::string raw);

    QString FPort = QStringLiteral("COM1");
    TBaudRate FBaudRate = br9600;
    int FCustomBaudRate = 9600;
    TDataBits FDataBits = dbEight;
    TStopBits FStopBits = sbOneStopBit;
    bool FDiscardNull = false;
    char FEventChar = 0;
    TComEvents FEvents = kAllComEvents;
    TSyncMethod FSyncMethod = smThreadSync;
    TComParity FParity{this};
    TComFlowControl FFlowControl{this};
    TComTimeouts FTimeouts{this};
    TComBuffer FBuffer{this};

    int FHandle = -1;
    int FCancelFd = -1; // eventfd that ends a transfer in progress
    bool FConnected = false;
    bool FLoading = false;
    bool FStoredConnected = false; // Connected as recorded while loading
    bool FClosing = false;
    int FUpdateCount = 0;
    std::unique_ptr<TComThread> FEventThread;
    bool FThreadCreated = false;

    // Session number: deferred work of an earlier session never touches a
    // later one.
    std::atomic<unsigned> FGeneration{0};
    // A close asked for inside a delivery; finished once the delivery returned.
    std::atomic<bool> FCloseRequested{false};
    std::atomic<bool> FClosePosted{false};
    // The thread running a delivery of this port, if any.
    std::atomic<std::thread::id> FDeliveringThread{};
    int FDeliveryDepth = 0; // touched only by the delivering thread
    // Lifetime token for queued calls.
    std::shared_ptr<int> FAlive = std::make_shared<int>(0);

    // Line-error bookkeeping, shared by the event thread and the handlers.
    std::mutex FErrorMutex;
    bool FHaveCounters = false;
    LineCounters FLastCounters;
    // The line was hung up in this session; the one ceIO report was made.
    std::atomic<bool> FHungUp{false};
    std::atomic<bool> FHangUpReported{false};

    // Bytes taken out of the driver's input queue so far (read or purged);
    // with the queue length it tells the event thread which bytes are new.
    std::atomic<std::uint64_t> FRxConsumed{0};
    std::atomic<bool> FRxResync{false};
    // Part of an error-mark sequence held back until its remaining bytes arrive.
    std::string FInputCarry;
};

class TComPort : public TCustomComPort {
public:
    explicit TComPort(QObject *owner = nullptr) : TCustomComPort(owner) {}
    ~TComPort() override;
};

} // namespace q274
