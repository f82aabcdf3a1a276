// Port settings, set through the port's own setters from arbitrary bytes,
// mapped onto an arbitrary current termios: the mapping refuses only what
// its comment says and always leaves a raw line carrying the settings.
#include "comerrors.h"
#include "comport.h"
#include "fuzzcheck.h"
#include "termiosmap.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

using namespace q274;

namespace {

TComPort *Port = nullptr;

template <typename E> E Pick(FuzzedDataProvider &in, int count)
{
    return E(in.ConsumeIntegralInRange<int>(0, count - 1));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Port = new TComPort; // closed: the setters only store
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    struct termios current {};
    const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(sizeof current);
    if (!raw.empty())
        std::memcpy(&current, raw.data(), raw.size());

    Port->SetBaudRate(Pick<TBaudRate>(in, br256000 + 1));
    Port->SetCustomBaudRate(in.ConsumeIntegral<int>());
    Port->SetDataBits(Pick<TDataBits>(in, dbEight + 1));
    Port->SetStopBits(Pick<TStopBits>(in, sbTwoStopBits + 1));
    Port->Parity().SetBits(Pick<TParityBits>(in, prSpace + 1));
    Port->Parity().SetCheck(in.ConsumeBool());
    Port->Parity().SetReplace(in.ConsumeBool());
    TComFlowControl &flow = Port->FlowControl();
    const TFlowControl preset = Pick<TFlowControl>(in, fcCustom + 1);
    flow.SetFlowControl(preset);
    if (preset != fcCustom)
        FUZZ_CHECK(flow.FlowControl() == preset);
    if (preset == fcCustom) {
        flow.SetOutCTSFlow(in.ConsumeBool());
        flow.SetControlDTR(Pick<TDTRFlowControl>(in, dtrHandshake + 1));
        flow.SetControlRTS(Pick<TRTSFlowControl>(in, rtsToggle + 1));
        flow.SetXonXoffOut(in.ConsumeBool());
        flow.SetXonXoffIn(in.ConsumeBool());
    }
    flow.SetXonChar(in.ConsumeIntegral<char>());
    flow.SetXoffChar(in.ConsumeIntegral<char>());

    const TLineSettings s = LineSettingsOf(*Port);
    const int rate = s.BaudRate == brCustom ? s.CustomBaudRate : BaudRateToInt(s.BaudRate);
    const bool refused = (s.StopBits == sbOne5StopBits && s.DataBits != dbFive) || rate <= 0;
    TTermiosConfig c;
    try {
        c = BuildTermios(s, current);
    } catch (const EComPort &) {
        FUZZ_CHECK(refused);
        return 0;
    }
    FUZZ_CHECK(!refused);
    const struct termios &t = c.Tio;

    // Raw: no editing, echo, signals or output processing; reads return per byte.
    FUZZ_CHECK(!(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)));
    FUZZ_CHECK(!(t.c_oflag & OPOST));
    FUZZ_CHECK(!(t.c_iflag & (IGNBRK | BRKINT | ISTRIP | INLCR | IGNCR | ICRNL | IXANY)));
    FUZZ_CHECK((t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) && !(t.c_cflag & HUPCL));
    FUZZ_CHECK(t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0);

    // The settings, each where it belongs.
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    FUZZ_CHECK((t.c_cflag & CSIZE) == sizes[s.DataBits]);
    FUZZ_CHECK(bool(t.c_cflag & PARENB) == (s.Parity != prNone));
    FUZZ_CHECK(bool(t.c_cflag & CMSPAR) == (s.Parity == prMark || s.Parity == prSpace));
    FUZZ_CHECK(bool(t.c_cflag & PARODD) == (s.Parity == prOdd || s.Parity == prMark));
    FUZZ_CHECK(bool(t.c_cflag & CSTOPB) == (s.StopBits != sbOneStopBit));
    FUZZ_CHECK(bool(t.c_iflag & INPCK) == s.ParityCheck);
    FUZZ_CHECK(bool(t.c_iflag & PARMRK) == (s.ParityCheck && s.ParityReplace));
    FUZZ_CHECK(bool(t.c_cflag & CRTSCTS) == (s.OutCTSFlow || s.ControlRTS == rtsHandshake));
    FUZZ_CHECK(bool(t.c_iflag & IXON) == s.XonXoffOut && bool(t.c_iflag & IXOFF) == s.XonXoffIn);
    FUZZ_CHECK(t.c_cc[VSTART] == cc_t(s.XonChar) && t.c_cc[VSTOP] == cc_t(s.XoffChar));

    FUZZ_CHECK(c.Rate == rate);
    const speed_t sp = SpeedConstant(rate);
    FUZZ_CHECK(c.OtherRate == (sp == 0));
    if (sp != 0)
        FUZZ_CHECK(cfgetospeed(&t) == sp && cfgetispeed(&t) == sp && !(t.c_cflag & CIBAUD));
    FUZZ_CHECK(c.Dtr == (s.ControlDTR == dtrDisable ? TLineAction::Drop : TLineAction::Raise));
    return 0;
}
