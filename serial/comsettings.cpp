// Enumeration texts, event-mask mapping, device names and the settings
// objects of the port.
#include "comport.h"

#include <array>

namespace q274 {
namespace {

template <typename E, std::size_t N> std::optional<E> Lookup(const std::array<const char *, N> &texts, const QString &s)
{
    const QString t = s.trimmed();
    for (std::size_t i = 0; i < N; ++i)
        if (t.compare(QLatin1String(texts[i]), Qt::CaseInsensitive) == 0)
            return E(i);
    return std::nullopt;
}

template <std::size_t N> QString TextOf(const std::array<const char *, N> &texts, int v)
{
    if (v < 0 || std::size_t(v) >= N)
        return QString();
    return QLatin1String(texts[std::size_t(v)]);
}

const std::array<const char *, 16> kBaudTexts = {"Custom", "110",    "300",    "600",   "1200",  "2400",
                                                 "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                                 "57600",  "115200", "128000", "256000"};
const std::array<int, 16> kBaudRates = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
const std::array<const char *, 4> kDataBitsTexts = {"5", "6", "7", "8"};
const std::array<const char *, 3> kStopBitsTexts = {"1", "1.5", "2"};
const std::array<const char *, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
const std::array<const char *, 4> kFlowTexts = {"Hardware", "Software", "None", "Custom"};

// Platform bit of each event, in event order.
const std::array<std::uint32_t, kComEventCount> kEventBits = {EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_RING, EV_BREAK,
                                                             EV_CTS,    EV_DSR,     EV_ERR,    EV_RLSD, EV_RX80FULL};

} // namespace

QString BaudRateToStr(TBaudRate v) { return TextOf(kBaudTexts, v); }
std::optional<TBaudRate> StrToBaudRate(const QString &s) { return Lookup<TBaudRate>(kBaudTexts, s); }
QString DataBitsToStr(TDataBits v) { return TextOf(kDataBitsTexts, v); }
std::optional<TDataBits> StrToDataBits(const QString &s) { return Lookup<TDataBits>(kDataBitsTexts, s); }
QString StopBitsToStr(TStopBits v) { return TextOf(kStopBitsTexts, v); }
std::optional<TStopBits> StrToStopBits(const QString &s) { return Lookup<TStopBits>(kStopBitsTexts, s); }
QString ParityToStr(TParityBits v) { return TextOf(kParityTexts, v); }
std::optional<TParityBits> StrToParity(const QString &s) { return Lookup<TParityBits>(kParityTexts, s); }
QString FlowControlToStr(TFlowControl v) { return TextOf(kFlowTexts, v); }
std::optional<TFlowControl> StrToFlowControl(const QString &s) { return Lookup<TFlowControl>(kFlowTexts, s); }

int BaudRateToInt(TBaudRate v)
{
    if (v < 0 || std::size_t(v) >= kBaudRates.size())
        return 0;
    return kBaudRates[std::size_t(v)];
}

TBaudRate IntToBaudRate(int rate)
{
    for (std::size_t i = 1; i < kBaudRates.size(); ++i)
        if (kBaudRates[i] == rate)
            return TBaudRate(i);
    return brCustom;
}

std::uint32_t EventsToMask(TComEvents events)
{
    std::uint32_t mask = 0;
    for (int i = 0; i < kComEventCount; ++i)
        if (events & (1u << i))
            mask |= kEventBits[std::size_t(i)];
    return mask;
}

TComEvents MaskToEvents(std::uint32_t mask)
{
    TComEvents events = 0;
    for (int i = 0; i < kComEventCount; ++i)
        if (mask & kEventBits[std::size_t(i)])
            events |= TComEvents(1u << i);
    return events;
}

std::string DevicePathForPort(const QString &port)
{
    if (port.contains(QLatin1Char('/')))
        return port.toStdString();
    if (port.size() > 3 && port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) {
        bool ok = false;
        const int n = port.mid(3).toInt(&ok);
        if (ok && n >= 1 && port.mid(3) == QString::number(n))
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return "/dev/" + port.toStdString();
}

// ---- TComParity ----

TComParity::TComParity(const TComParity &o)
    : FComPort(nullptr), FBits(o.FBits), FCheck(o.FCheck), FReplace(o.FReplace), FReplaceChar(o.FReplaceChar)
{
}

TComParity &TComParity::operator=(const TComParity &o)
{
    FBits = o.FBits;
    FCheck = o.FCheck;
    FReplace = o.FReplace;
    FReplaceChar = o.FReplaceChar;
    Changed();
    return *this;
}

void TComParity::Changed()
{
    if (FComPort)
        FComPort->ApplyLineSettings();
}

#define Q274_SETTER(Class, Name, Type, Field)                                                                          \
    void Class::Set##Name(Type v)                                                                                      \
    {                                                                                                                  \
        if (Field == v)                                                                                                \
            return;                                                                                                    \
        Field = v;                                                                                                     \
        Changed();                                                                                                     \
    }

Q274_SETTER(TComParity, Bits, TParityBits, FBits)
Q274_SETTER(TComParity, Check, bool, FCheck)
Q274_SETTER(TComParity, Replace, bool, FReplace)
Q274_SETTER(TComParity, ReplaceChar, char, FReplaceChar)

// ---- TComFlowControl ----

TComFlowControl::TComFlowControl(const TComFlowControl &o)
    : FComPort(nullptr), FOutCTSFlow(o.FOutCTSFlow), FOutDSRFlow(o.FOutDSRFlow), FControlDTR(o.FControlDTR),
      FControlRTS(o.FControlRTS), FXonXoffOut(o.FXonXoffOut), FXonXoffIn(o.FXonXoffIn),
      FDSRSensitivity(o.FDSRSensitivity), FTxContinueOnXoff(o.FTxContinueOnXoff), FXonChar(o.FXonChar),
      FXoffChar(o.FXoffChar)
{
}

TComFlowControl &TComFlowControl::operator=(const TComFlowControl &o)
{
    FOutCTSFlow = o.FOutCTSFlow;
    FOutDSRFlow = o.FOutDSRFlow;
    FControlDTR = o.FControlDTR;
    FControlRTS = o.FControlRTS;
    FXonXoffOut = o.FXonXoffOut;
    FXonXoffIn = o.FXonXoffIn;
    FDSRSensitivity = o.FDSRSensitivity;
    FTxContinueOnXoff = o.FTxContinueOnXoff;
    FXonChar = o.FXonChar;
    FXoffChar = o.FXoffChar;
    Changed();
    return *this;
}

void TComFlowControl::Changed()
{
    if (FComPort)
        FComPort->ApplyLineSettings();
}

Q274_SETTER(TComFlowControl, OutCTSFlow, bool, FOutCTSFlow)
Q274_SETTER(TComFlowControl, OutDSRFlow, bool, FOutDSRFlow)
Q274_SETTER(TComFlowControl, ControlDTR, TDTRFlowControl, FControlDTR)
Q274_SETTER(TComFlowControl, ControlRTS, TRTSFlowControl, FControlRTS)
Q274_SETTER(TComFlowControl, XonXoffOut, bool, FXonXoffOut)
Q274_SETTER(TComFlowControl, XonXoffIn, bool, FXonXoffIn)
Q274_SETTER(TComFlowControl, DSRSensitivity, bool, FDSRSensitivity)
Q274_SETTER(TComFlowControl, TxContinueOnXoff, bool, FTxContinueOnXoff)
Q274_SETTER(TComFlowControl, XonChar, char, FXonChar)
Q274_SETTER(TComFlowControl, XoffChar, char, FXoffChar)

TFlowControl TComFlowControl::FlowControl() const
{
    if (FControlRTS == rtsHandshake && FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcHardware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut)
        return fcSoftware;
    if (FControlRTS == rtsDisable && !FOutCTSFlow && !FXonXoffIn && !FXonXoffOut)
        return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl v)
{
    if (v != fcCustom) {
        FControlRTS = rtsDisable;
        FOutCTSFlow = false;
        FXonXoffIn = false;
        FXonXoffOut = false;
        if (v == fcHardware) {
            FControlRTS = rtsHandshake;
            FOutCTSFlow = true;
        } else if (v == fcSoftware) {
            FXonXoffIn = true;
            FXonXoffOut = true;
        }
    }
    Changed(); // always, also when nothing changed
}

// ---- TComTimeouts ----

TComTimeouts::TComTimeouts(const TComTimeouts &o)
    : FComPort(nullptr), FReadInterval(o.FReadInterval), FReadTotalMultiplier(o.FReadTotalMultiplier),
      FReadTotalConstant(o.FReadTotalConstant), FWriteTotalMultiplier(o.FWriteTotalMultiplier),
      FWriteTotalConstant(o.FWriteTotalConstant)
{
}

TComTimeouts &TComTimeouts::operator=(const TComTimeouts &o)
{
    FReadInterval = o.FReadInterval;
    FReadTotalMultiplier = o.FReadTotalMultiplier;
    FReadTotalConstant = o.FReadTotalConstant;
    FWriteTotalMultiplier = o.FWriteTotalMultiplier;
    FWriteTotalConstant = o.FWriteTotalConstant;
    Changed();
    return *this;
}

void TComTimeouts::Changed()
{
    if (FComPort)
        FComPort->ApplyTimeoutSettings();
}

Q274_SETTER(TComTimeouts, ReadInterval, int, FReadInterval)
Q274_SETTER(TComTimeouts, ReadTotalMultiplier, int, FReadTotalMultiplier)
Q274_SETTER(TComTimeouts, ReadTotalConstant, int, FReadTotalConstant)
Q274_SETTER(TComTimeouts, WriteTotalMultiplier, int, FWriteTotalMultiplier)
Q274_SETTER(TComTimeouts, WriteTotalConstant, int, FWriteTotalConstant)

// ---- TComBuffer ----

TComBuffer::TComBuffer(const TComBuffer &o) : FComPort(nullptr), FInputSize(o.FInputSize), FOutputSize(o.FOutputSize) {}

TComBuffer &TComBuffer::operator=(const TComBuffer &o)
{
    FInputSize = o.FInputSize;
    FOutputSize = o.FOutputSize;
    Changed();
    return *this;
}

void TComBuffer::Changed()
{
    if (FComPort)
        FComPort->ApplyBufferSizes();
}

static int EvenSize(int v) { return (v > 0 && (v % 2) != 0) ? v - 1 : v; }

void TComBuffer::SetInputSize(int v)
{
    v = EvenSize(v);
    if (v == FInputSize)
        return;
    FInputSize = v;
    Changed();
}

void TComBuffer::SetOutputSize(int v)
{
    v = EvenSize(v);
    if (v == FOutputSize)
        return;
    FOutputSize = v;
    Changed();
}

} // namespace q274
