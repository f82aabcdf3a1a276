// Port line settings -> struct termios plus what termios cannot carry (rates
// without a B* constant, the DTR/RTS lines). Plain functions, no device.
#pragma once

#include "comport.h"

#include <termios.h>

namespace q274 {

struct TLineSettings {
    TBaudRate BaudRate = br9600;
    int CustomBaudRate = 9600;
    TDataBits DataBits = dbEight;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;
    bool ParityCheck = false;
    bool ParityReplace = false;
    bool OutCTSFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    char XonChar = 17;
    char XoffChar = 19;
};

TLineSettings LineSettingsOf(const TCustomComPort &port);

// Raw line: no editing, echo or translation, reads return as soon as one
// byte is there, modem-control lines ignored and left up at close.
void MakeRawLine(struct termios &t);

enum class TLineAction { Leave, Raise, Drop };

struct TTermiosConfig {
    struct termios Tio {};
    int Rate = 0;           // bits per second
    bool OtherRate = false; // no B* constant: set through BOTHER
    TLineAction Dtr = TLineAction::Leave;
    TLineAction Rts = TLineAction::Leave;
};

// Builds the configuration from the device's current termios. Raises
// EComPort code 7 (EINVAL) for what the line cannot do: 1.5 stop bits with
// more than 5 data bits, a rate of 0 or less.
TTermiosConfig BuildTermios(const TLineSettings &s, const struct termios &current);

// The B* constant of a rate, or 0 when there is none.
speed_t SpeedConstant(int rate);

// Sets a rate without a B* constant through TCSETS2/BOTHER (termios2.cpp).
// Returns 0 or the errno of the failed call.
int SetOtherBaudRate(int fd, int rate);
// Reads the input and output rates back through TCGETS2; false on failure.
bool GetBaudRates2(int fd, int &input, int &output);

} // namespace q274
