// Received bytes, in read-sized pieces, through reply assembly into the
// connection object's routing and on into the channels: read-outs in both
// units, the thermostat pass and the relay status, as the window does it.
// The connection reads its bytes from an open port, so the bytes go through
// the same assembler its receive handler uses and then into ProcessReply.
#include "channels.h"
#include "dmq274.h"
#include "fuzzcheck.h"
#include "protocol.h"
#include "uisync.h"

#include <QCoreApplication>
#include <QDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <memory>

using namespace q274;

namespace {

struct ChannelHost : TdmQ274Host {
    TChannels channels;
    bool fahrenheit = false;
    QChar sep = QChar('.');
    bool temperaturesEnabled = false;

    void LogMessage(const QString &) override {}
    void ShowConnected() override {}
    void ShowDisconnected() override {}
    void BoardIdentified() override {}

    void ShowRelayStatus(const QString &statusText) override
    {
        const std::array<bool, 4> before{channels.RelayOn(1), channels.RelayOn(2), channels.RelayOn(3),
                                         channels.RelayOn(4)};
        const std::optional<unsigned> bits = ParseRelayStatus(statusText);
        FUZZ_CHECK(channels.ApplyRelayStatus(statusText) == bits.has_value());
        for (int ch = 1; ch <= 4; ++ch)
            FUZZ_CHECK(channels.RelayOn(ch) == (bits ? ((*bits >> (ch - 1)) & 1u) != 0 : before[ch - 1]));
    }

    void HandleTemperatureReply(const QString &line) override
    {
        if (IsAllChannelReply(line)) {
            const std::array<QString, 4> fields = SplitAllChannels(line);
            for (int ch = 1; ch <= 4; ++ch)
                Show(ch, fields[std::size_t(ch - 1)], QStringLiteral("-"));
        } else {
            const std::optional<ChannelReply> reply = ParseChannelReply(line);
            if (!reply)
                return;
            FUZZ_CHECK(reply->Channel >= 1 && reply->Channel <= 4);
            Show(reply->Channel, reply->Value, QStringLiteral("?"));
        }
        if (temperaturesEnabled)
            RunControl();
    }

    void Show(int ch, const QString &value, const QString &noSensor)
    {
        const bool ok = channels.ShowValue(ch, value, noSensor, fahrenheit, sep);
        const QString &shown = channels.Readout(ch);
        // A read-out is " -" or a number the thermostat can read back.
        FUZZ_CHECK(shown.startsWith(QLatin1Char(' ')));
        if (TrimLine(shown) != QLatin1String("-"))
            FUZZ_CHECK(ParseLocaleFloat(shown, sep).has_value());
        if (!ok)
            FUZZ_CHECK(shown == QLatin1String(" -"));
    }

    void RunControl()
    {
        for (const ChannelDecision &d : channels.RunChannelControl(sep)) {
            FUZZ_CHECK(d.Channel >= 1 && d.Channel <= 4);
            FUZZ_CHECK(channels.Settings(d.Channel).Enabled);
            // Every read-out shown passed the number check above.
            FUZZ_CHECK(d.Kind == ChannelDecision::Switch);
            FUZZ_CHECK(d.Command.size() == 2 && (d.Command[0] == 'N' || d.Command[0] == 'F')
                       && d.Command[1] == char('0' + d.Channel));
            // On only from off, off only from on.
            FUZZ_CHECK((d.Command[0] == 'N') != channels.RelayOn(d.Channel));
        }
    }
};

TdmQ274 *Board = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The connection makes sure of a log folder: keep it in a throw-away home.
    static QByteArray home = QDir::tempPath().toUtf8() + "/q274-fuzz-XXXXXX";
    if (!mkdtemp(home.data()))
        std::abort();
    setenv("HOME", home.constData(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
    std::atexit([] { QDir(QString::fromUtf8(home)).removeRecursively(); });
    new QCoreApplication(*argc, *argv);
    // The timers hand their ticks to this thread, as the window's thread.
    UiSync::SetMainThread();
    // Kept to the end of the process, then taken apart as the program does:
    // its timers stop while their hand-offs still run here, so a tick that
    // waits for this thread cannot hold the exit.
    Board = new TdmQ274;
    std::atexit([] {
        delete Board;
        Board = nullptr;
    });
    DecimalSeparators();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    ChannelHost host;
    const unsigned flags = in.ConsumeIntegral<uint8_t>();
    host.fahrenheit = flags & 1u;
    Board->SetAwaitingIdentification(!(flags & 2u));
    host.temperaturesEnabled = !(flags & 4u);
    Board->Poller().TemperaturesEnabled = host.temperaturesEnabled;
    const std::vector<QChar> &seps = DecimalSeparators();
    host.sep = seps[in.ConsumeIntegral<uint8_t>() % seps.size()];
    for (int ch = 1; ch <= 4; ++ch) {
        ChannelSettings &s = host.channels.Settings(ch);
        const unsigned b = in.ConsumeIntegral<uint8_t>();
        s.Enabled = !(b & 1u);
        s.Mode = (b & 2u) ? kModeCool : kModeHeat;
        s.ManualOverrides = b & 4u;
        s.SetPoint = kSetPointMin + int(in.ConsumeIntegral<uint8_t>()) % (kSetPointMax - kSetPointMin + 1);
        s.Dropout = kDropoutMin + int(in.ConsumeIntegral<uint8_t>()) % (kDropoutMax - kDropoutMin + 1);
    }
    // 0: everything in one read; else reads of 1..15 bytes.
    const size_t piece = in.ConsumeIntegral<uint8_t>() % 16;
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    Board->SetHost(&host);
    ReplyAssembler rx;
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = piece ? std::min(piece, bytes.size() - at) : bytes.size();
        const ReplyAssembler::Result r = rx.Feed(bytes.substr(at, n));
        at += n;
        FUZZ_CHECK(rx.Buffer().size() <= ReplyAssembler::kMaxLength);
        if (r.Status != ReplyAssembler::LineStatus::Waiting)
            FUZZ_CHECK(rx.Buffer().isEmpty());
        if (r.Status != ReplyAssembler::LineStatus::Line)
            continue;
        FUZZ_CHECK(!r.Line.contains(QChar('\r')) && !r.Line.contains(QChar('\n')));
        FUZZ_CHECK(r.Line == TrimLine(r.Line));
        Board->Poller().LineReceived();
        // Not caught as the receive handler does: a throw here is a fault.
        Board->ProcessReply(r.Line);
    }
    Board->SetHost(nullptr);
    // An identification starts the 250 ms follow-up, whose tick would wait
    // for an event loop that never runs here; an input takes far less.
    Board->Poller().tmrTStatus->SetEnabled(false);
    // A tick that fell due during a slow input is dropped now, not left
    // waiting for this thread.
    UiSync::ProcessPending();
    return 0;
}
