#include "termiosmap.h"

#include <cerrno>

namespace q274 {

TLineSettings LineSettingsOf(const TCustomComPort &port)
{
    TLineSettings s;
    s.BaudRate = port.BaudRate();
    s.CustomBaudRate = port.CustomBaudRate();
    s.DataBits = port.DataBits();
    s.StopBits = port.StopBits();
    s.Parity = port.Parity().Bits();
    s.ParityCheck = port.Parity().Check();
    s.ParityReplace = port.Parity().Replace();
    const TComFlowControl &f = port.FlowControl();
    s.OutCTSFlow = f.OutCTSFlow();
    s.ControlDTR = f.ControlDTR();
    s.ControlRTS = f.ControlRTS();
    s.XonXoffOut = f.XonXoffOut();
    s.XonXoffIn = f.XonXoffIn();
    s.XonChar = f.XonChar();
    s.XoffChar = f.XoffChar();
    return s;
}

speed_t SpeedConstant(int rate)
{
    switch (rate) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return 0;
    }
}

void MakeRawLine(struct termios &t)
{
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~tcflag_t(HUPCL);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

TTermiosConfig BuildTermios(const TLineSettings &s, const struct termios &current)
{
    TTermiosConfig c;
    struct termios &t = c.Tio;
    t = current;
    MakeRawLine(t);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_iflag &= ~tcflag_t(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);

    switch (s.DataBits) {
    case dbFive: t.c_cflag |= CS5; break;
    case dbSix: t.c_cflag |= CS6; break;
    case dbSeven: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
    }

    switch (s.Parity) {
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }

    switch (s.StopBits) {
    case sbTwoStopBits: t.c_cflag |= CSTOPB; break;
    case sbOne5StopBits:
        // Linux gives one and a half stop bits only with 5 data bits (CSTOPB).
        if (s.DataBits != dbFive)
            throw EComPort(CError_SetStateFailed, EINVAL);
        t.c_cflag |= CSTOPB;
        break;
    default: break;
    }

    if (s.ParityCheck) {
        t.c_iflag |= INPCK;
        if (s.ParityReplace)
            t.c_iflag |= PARMRK; // marked bytes are replaced after reading
    } else {
        t.c_iflag |= IGNPAR;
    }

    if (s.OutCTSFlow || s.ControlRTS == rtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (s.XonXoffOut)
        t.c_iflag |= IXON;
    if (s.XonXoffIn)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(s.XonChar);
    t.c_cc[VSTOP] = cc_t(s.XoffChar);

    c.Rate = s.BaudRate == brCustom ? s.CustomBaudRate : BaudRateToInt(s.BaudRate);
    if (c.Rate <= 0)
        throw EComPort(CError_SetStateFailed, EINVAL);
    // The input speed follows the output speed: an input speed left in
    // CIBAUD by an earlier BOTHER rate would otherwise stay in force.
    t.c_cflag &= ~tcflag_t(CIBAUD);
    const speed_t sp = SpeedConstant(c.Rate);
    if (sp != 0) {
        cfsetispeed(&t, sp);
        cfsetospeed(&t, sp);
    } else {
        c.OtherRate = true; // the current speed stays until TCSETS2 sets it
    }

    c.Dtr = (s.ControlDTR == dtrDisable) ? TLineAction::Drop : TLineAction::Raise;
    switch (s.ControlRTS) {
    case rtsDisable: c.Rts = TLineAction::Drop; break;
    case rtsEnable: c.Rts = TLineAction::Raise; break;
    default: c.Rts = TLineAction::Leave; break; // the driver handles it
    }
    return c;
}

} // namespace q274
