// Port component rules that need no device: error texts, defaults, setters
// and apply steps, the flow-control preset, event masks, termios mapping.
#include "comport.h"
#include "termiosmap.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>

using namespace q274;

namespace {

// Counts apply steps, and how many of them would have reached a device.
class CountingPort : public TComPort {
public:
    int line = 0, timeouts = 0, buffers = 0, all = 0;
    int lineEffective = 0;
    void ApplyAllSettings() override
    {
        ++all;
        TComPort::ApplyAllSettings();
    }
    void ApplyLineSettings() override
    {
        ++line;
        if (SettingsApplicable())
            ++lineEffective;
        TComPort::ApplyLineSettings();
    }
    void ApplyTimeoutSettings() override
    {
        ++timeouts;
        TComPort::ApplyTimeoutSettings();
    }
    void ApplyBufferSizes() override
    {
        ++buffers;
        TComPort::ApplyBufferSizes();
    }
};

} // namespace

TEST(ComErrors, MessagesAndSystemCodeSuffix)
{
    EComPort open(1, 5);
    EXPECT_EQ(open.PortErrorCode(), 1);
    EXPECT_EQ(open.SystemErrorCode(), 5);
    EXPECT_STREQ(open.what(), "Unable to open com port (win error code: 5)");

    EComPort prop(CError_ConnChangeProp);
    EXPECT_EQ(prop.SystemErrorCode(), -1);
    EXPECT_STREQ(prop.what(), "Cannot set property while connected");

    EXPECT_EQ(ComErrorText(10), QStringLiteral("ClearCommError function failed"));
    EXPECT_EQ(ComErrorText(19), QStringLiteral("Cannot change led state if ComPort is selected"));
    EXPECT_EQ(ComErrorText(23), QStringLiteral("Registry error"));
    EXPECT_TRUE(ComErrorText(0).isEmpty());
    EXPECT_TRUE(ComErrorText(24).isEmpty());
    for (int code = 1; code <= kComErrorCodeCount; ++code) {
        const QString t = ComErrorText(code);
        EXPECT_FALSE(t.isEmpty()) << code;
        EXPECT_FALSE(t.endsWith(QLatin1Char('.'))) << code;
    }
    EXPECT_STREQ(EComPort(7, -3).what(), "SetCommState function failed (win error code: -3)");

    // The line after a failed open: the device, the system's reason, a way out.
    EXPECT_EQ(PortOpenAdvice(QStringLiteral("/dev/ttyUSB0"), EACCES),
              QStringLiteral("/dev/ttyUSB0: Permission denied \u2014 add your user to the dialout group and log in again"));
    EXPECT_TRUE(PortOpenAdvice(QStringLiteral("/dev/ttyS0"), EBUSY).contains(QStringLiteral("another program")));
    EXPECT_EQ(PortOpenAdvice(QStringLiteral("/dev/ttyS0"), EIO), QStringLiteral("/dev/ttyS0: Input/output error"));
}

TEST(ComPortSettings, DefaultsAndDisplayTexts)
{
    TComPort port(nullptr);
    EXPECT_EQ(port.Port(), QStringLiteral("COM1"));
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_FALSE(port.DiscardNull());
    EXPECT_EQ(port.EventChar(), '\0');
    EXPECT_EQ(port.Events(), kAllComEvents);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), -1);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_FALSE(port.Parity().Check());
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
    EXPECT_EQ(port.FlowControl().XonChar(), 17);
    EXPECT_EQ(port.FlowControl().XoffChar(), 19);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.Buffer().OutputSize(), 1024);

    EXPECT_EQ(BaudRateToStr(brCustom), QStringLiteral("Custom"));
    EXPECT_EQ(BaudRateToStr(br256000), QStringLiteral("256000"));
    EXPECT_EQ(StrToBaudRate(QStringLiteral("custom")), brCustom);
    EXPECT_EQ(StrToBaudRate(QStringLiteral("57600")), br57600);
    EXPECT_FALSE(StrToBaudRate(QStringLiteral("9601")).has_value());
    EXPECT_EQ(StopBitsToStr(sbOne5StopBits), QStringLiteral("1.5"));
    EXPECT_EQ(StrToParity(QStringLiteral("SPACE")), prSpace);
    EXPECT_EQ(StrToFlowControl(QStringLiteral("hardware")), fcHardware);
    EXPECT_EQ(StrToDataBits(QStringLiteral("7")), dbSeven);
    EXPECT_EQ(BaudRateToInt(br14400), 14400);
    EXPECT_EQ(IntToBaudRate(115200), br115200);
    EXPECT_EQ(IntToBaudRate(12345), brCustom);

    EXPECT_EQ(DevicePathForPort(QStringLiteral("COM1")), "/dev/ttyS0");
    EXPECT_EQ(DevicePathForPort(QStringLiteral("COM12")), "/dev/ttyS11");
    EXPECT_EQ(DevicePathForPort(QStringLiteral("ttyUSB0")), "/dev/ttyUSB0");
    EXPECT_EQ(DevicePathForPort(QStringLiteral("/tmp/q274-sim")), "/tmp/q274-sim");
}

TEST(ComPortSettings, SettersApplyOnlyOnChangeAndNeverWhileClosed)
{
    CountingPort port;
    port.SetBaudRate(br9600); // equal value: nothing
    EXPECT_EQ(port.line, 0);
    port.SetBaudRate(br19200);
    port.SetDataBits(dbSeven);
    port.Parity().SetBits(prEven);
    port.Parity().SetBits(prEven);
    EXPECT_EQ(port.line, 3);
    EXPECT_EQ(port.lineEffective, 0); // closed: nothing reaches a device
    port.SetEvents(ComEventBit(evRxChar));
    EXPECT_EQ(port.line + port.timeouts + port.buffers, 3);
    port.Timeouts().SetWriteTotalConstant(500);
    EXPECT_EQ(port.timeouts, 1);

    // Assigning a whole object always applies again, also when equal.
    TComParity copy = port.Parity();
    port.SetParity(copy);
    EXPECT_EQ(port.line, 4);
    EXPECT_EQ(port.Parity().Bits(), prEven);
    // A detached copy does not apply to the port it came from.
    copy.SetBits(prOdd);
    EXPECT_EQ(port.line, 4);
    EXPECT_EQ(port.Parity().Bits(), prEven);

    // A closed port accepts a new sync method.
    port.SetSyncMethod(smNone);
    EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST(ComPortSettings, UpdateBracketAndUnbalancedEnd)
{
    CountingPort port;
    port.EndSettingsUpdate(); // unbalanced at depth 0: nothing
    EXPECT_EQ(port.all, 0);
    port.BeginSettingsUpdate();
    port.BeginSettingsUpdate();
    EXPECT_FALSE(port.SettingsApplicable());
    port.EndSettingsUpdate();
    EXPECT_EQ(port.all, 0);
    port.EndSettingsUpdate();
    EXPECT_EQ(port.all, 1); // depth reached 0
    port.EndSettingsUpdate();
    EXPECT_EQ(port.all, 1);
}

TEST(ComPortSettings, FlowControlPresetBothWays)
{
    CountingPort port;
    TComFlowControl &f = port.FlowControl();
    f.SetControlDTR(dtrEnable);
    f.SetOutDSRFlow(true);
    const int before = port.line;
    f.SetFlowControl(fcHardware);
    EXPECT_EQ(f.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(f.OutCTSFlow());
    EXPECT_FALSE(f.XonXoffIn());
    EXPECT_EQ(f.FlowControl(), fcHardware);
    f.SetFlowControl(fcSoftware);
    EXPECT_EQ(f.ControlRTS(), rtsDisable);
    EXPECT_FALSE(f.OutCTSFlow());
    EXPECT_TRUE(f.XonXoffIn() && f.XonXoffOut());
    EXPECT_EQ(f.FlowControl(), fcSoftware);
    f.SetFlowControl(fcCustom); // changes nothing, still applies
    EXPECT_EQ(f.FlowControl(), fcSoftware);
    f.SetFlowControl(fcNone);
    EXPECT_EQ(f.FlowControl(), fcNone);
    EXPECT_EQ(port.line, before + 4);
    // Never touched by the preset.
    EXPECT_EQ(f.ControlDTR(), dtrEnable);
    EXPECT_TRUE(f.OutDSRFlow());

    f.SetFlowControl(fcHardware);
    f.SetXonXoffIn(true);
    EXPECT_EQ(f.FlowControl(), fcCustom);
    f.SetXonXoffIn(false);
    f.SetControlRTS(rtsEnable);
    EXPECT_EQ(f.FlowControl(), fcCustom);
}

TEST(ComPortSettings, OddBufferSizesStoreOneLess)
{
    CountingPort port;
    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.buffers, 0); // equal after rounding: nothing
    port.Buffer().SetInputSize(1001);
    EXPECT_EQ(port.Buffer().InputSize(), 1000);
    port.Buffer().SetOutputSize(7);
    EXPECT_EQ(port.Buffer().OutputSize(), 6);
    EXPECT_EQ(port.buffers, 2);
    EXPECT_EQ(port.line, 0); // sizes alone never apply the line settings
}

TEST(LineErrors, CounterChangesBecomeErrors)
{
    const LineCounters before{5, 7, 1, 0, 2, 0};
    LineCounters now = before;
    EXPECT_EQ(LineErrorsBetween(before, now, true), 0);

    // Frame and parity together: parity counts only while it is checked.
    now.Frame += 1;
    now.Parity += 3;
    EXPECT_EQ(LineErrorsBetween(before, now, false), ceFrame);
    EXPECT_EQ(LineErrorsBetween(before, now, true), ceFrame | ceRxParity);

    now = before;
    now.Overrun += 1;
    now.Break += 1;
    now.BufOverrun += 1;
    now.Ring += 1; // not an error
    EXPECT_EQ(LineErrorsBetween(before, now, false), ceOverrun | ceBreak | ceRxOver);

    // A counter that wrapped around has moved too.
    const LineCounters high{INT_MAX, 0, 0, 0, 0, 0};
    EXPECT_EQ(LineErrorsBetween(high, {INT_MIN, 0, 0, 0, 0, 0}, false), ceFrame);
}

TEST(ComEventMasks, MappingBothWays)
{
    const TComEvents stored = ComEventBit(evRxChar) | ComEventBit(evRxFlag) | ComEventBit(evBreak) | ComEventBit(evCTS)
                              | ComEventBit(evDSR) | ComEventBit(evError);
    EXPECT_EQ(EventsToMask(stored), 0x00DBu);
    EXPECT_EQ(MaskToEvents(0x00DB), stored);
    EXPECT_EQ(EventsToMask(ComEventBit(evTxEmpty)), EV_TXEMPTY);
    EXPECT_EQ(EventsToMask(ComEventBit(evRing)), EV_RING);
    EXPECT_EQ(EventsToMask(ComEventBit(evRx80Full)), EV_RX80FULL);
    EXPECT_EQ(MaskToEvents(EventsToMask(kAllComEvents)), kAllComEvents);
    EXPECT_EQ(MaskToEvents(0x0200 | 0x0800 | 0x8000), 0); // bits outside the table are dropped
    EXPECT_EQ(ComEventBit(evRx80Full), 0x200);
    EXPECT_EQ(ceFrame | ceRxParity | ceOverrun | ceBreak | ceIO | ceMode | ceRxOver | ceTxFull, 0xFF);
}

TEST(TermiosMapping, StoredConfiguration)
{
    TComPort port(nullptr);
    struct termios cur {};
    cur.c_cflag = HUPCL | CS7 | PARENB | (B19200 << 16); // a separate input speed (CIBAUD) set earlier
    cur.c_lflag = ICANON | ECHO;
    const TTermiosConfig c = BuildTermios(LineSettingsOf(port), cur);
    EXPECT_EQ(c.Tio.c_cflag & CIBAUD, 0u);
    EXPECT_EQ(c.Tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(c.Tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
    EXPECT_EQ(c.Tio.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(c.Tio.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(c.Tio.c_iflag & (IXON | IXOFF | INPCK), 0u);
    EXPECT_NE(c.Tio.c_iflag & IGNPAR, 0u);
    EXPECT_EQ(c.Tio.c_cc[VMIN], 1);
    EXPECT_EQ(c.Tio.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&c.Tio), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&c.Tio), speed_t(B9600));
    EXPECT_FALSE(c.OtherRate);
    EXPECT_EQ(c.Rate, 9600);
    EXPECT_EQ(c.Dtr, TLineAction::Drop);
    EXPECT_EQ(c.Rts, TLineAction::Drop);
}

TEST(TermiosMapping, ParityStopBitsRatesAndFlow)
{
    struct termios cur {};
    TLineSettings s;
    auto build = [&] { return BuildTermios(s, cur); };

    s.Parity = prOdd;
    EXPECT_EQ(build().Tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | PARODD));
    s.Parity = prEven;
    EXPECT_EQ(build().Tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB));
    s.Parity = prMark;
    EXPECT_EQ(build().Tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | PARODD | CMSPAR));
    s.Parity = prSpace;
    EXPECT_EQ(build().Tio.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | CMSPAR));

    s.ParityCheck = true;
    EXPECT_EQ(build().Tio.c_iflag & (INPCK | IGNPAR | PARMRK), tcflag_t(INPCK));
    s.ParityReplace = true;
    EXPECT_EQ(build().Tio.c_iflag & (INPCK | IGNPAR | PARMRK), tcflag_t(INPCK | PARMRK));

    s.StopBits = sbTwoStopBits;
    EXPECT_NE(build().Tio.c_cflag & CSTOPB, 0u);
    s.StopBits = sbOne5StopBits;
    try {
        build();
        ADD_FAILURE() << "1.5 stop bits with 8 data bits accepted";
    } catch (const EComPort &e) {
        EXPECT_EQ(e.PortErrorCode(), 7);
        EXPECT_EQ(e.SystemErrorCode(), EINVAL);
    }
    s.DataBits = dbFive;
    const TTermiosConfig five = build();
    EXPECT_EQ(five.Tio.c_cflag & CSIZE, tcflag_t(CS5));
    EXPECT_NE(five.Tio.c_cflag & CSTOPB, 0u);

    s.BaudRate = br14400;
    EXPECT_TRUE(build().OtherRate);
    s.BaudRate = brCustom;
    s.CustomBaudRate = 115200;
    const TTermiosConfig custom = build();
    EXPECT_FALSE(custom.OtherRate);
    EXPECT_EQ(cfgetospeed(&custom.Tio), speed_t(B115200));
    s.CustomBaudRate = 0;
    EXPECT_THROW(build(), EComPort);

    TComPort port(nullptr);
    port.FlowControl().SetFlowControl(fcHardware);
    TTermiosConfig hw = BuildTermios(LineSettingsOf(port), cur);
    EXPECT_NE(hw.Tio.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(hw.Rts, TLineAction::Leave);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.FlowControl().SetXonChar(0x11);
    TTermiosConfig sw = BuildTermios(LineSettingsOf(port), cur);
    EXPECT_EQ(sw.Tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(sw.Tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(sw.Tio.c_cc[VSTOP], 19);
    EXPECT_EQ(sw.Tio.c_cflag & CRTSCTS, 0u);
}
