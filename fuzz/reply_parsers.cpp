// The reply parsers and the read-out number rules on one line of arbitrary
// text, each checked against what its comment promises.
#include "fuzzcheck.h"
#include "protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

using namespace q274;

namespace {

void CheckLine(const QString &line, QChar sep, bool fahrenheit)
{
    const QString id = IdentificationText(line);
    if (IsIdentificationReply(line))
        FUZZ_CHECK(id.startsWith(QLatin1String("Temperature")) && line.endsWith(id));
    else
        FUZZ_CHECK(id == line);

    if (const std::optional<ChannelReply> r = ParseChannelReply(line)) {
        FUZZ_CHECK(r->Channel >= 1 && r->Channel <= 4);
        FUZZ_CHECK(line.at(1) == QChar(u'0' + r->Channel) && r->Value == line.mid(2));
    }

    const std::array<QString, 4> fields = SplitAllChannels(line);
    for (const QString &f : fields)
        FUZZ_CHECK(!f.contains(QChar('?')));
    for (int i = 0; i < 3; ++i)
        FUZZ_CHECK(!fields[std::size_t(i)].contains(QChar(',')));
    QString rest = line.mid(2);
    rest.replace(QChar('?'), QChar('-'));
    if (rest.count(QChar(',')) >= 3)
        FUZZ_CHECK(fields[0] + u',' + fields[1] + u',' + fields[2] + u',' + fields[3] == rest);

    for (const QString &noSensor : {QStringLiteral("?"), QStringLiteral("-")}) {
        const std::optional<QString> shown = ReadoutText(line, fahrenheit, sep, noSensor);
        if (line == noSensor) {
            FUZZ_CHECK(shown && *shown == QLatin1String(" -"));
            continue;
        }
        // Only a conversion may fail; every read-out starts with its blank.
        FUZZ_CHECK(shown || fahrenheit);
        if (!shown)
            continue;
        FUZZ_CHECK(shown->startsWith(QLatin1Char(' ')));
        if (fahrenheit)
            FUZZ_CHECK(ParseLocaleFloat(*shown, sep).has_value());
        else
            FUZZ_CHECK(shown->size() == line.size() + 1);
    }

    const std::optional<unsigned> relays = ParseRelayStatus(line);
    const QString t = TrimLine(line);
    if (relays) {
        FUZZ_CHECK(*relays < 16u);
        bool ok = false;
        FUZZ_CHECK(t.right(1).toUInt(&ok, 16) == *relays && ok);
    } else {
        bool hex = !t.isEmpty();
        for (QChar c : t)
            hex = hex && c.unicode() < 128 && std::isxdigit(c.unicode());
        FUZZ_CHECK(!hex);
    }
    FUZZ_CHECK(RelayStatusText(line) == line.mid(2));

    // Whatever reads as a number is finite.
    if (const std::optional<double> v = ParseLocaleFloat(line, sep))
        FUZZ_CHECK(std::isfinite(*v));
}

// A shown number reads back as the value, within half of its last decimal.
void CheckRoundTrip(double x, QChar sep)
{
    if (!std::isfinite(x))
        return;
    const QString text = FormatTwoDecimals(x, sep);
    const qsizetype at = text.indexOf(sep);
    FUZZ_CHECK(at > 0 && text.size() - at == 3 && text.count(sep) == 1);
    const std::optional<double> back = ParseLocaleFloat(text, sep);
    FUZZ_CHECK(back.has_value());
    const double m = std::fabs(x);
    const double shown = m < 1000 ? 0.005 : m < 10000 ? 0.05 : m < 100000 ? 0.5 : 0.005;
    FUZZ_CHECK(std::fabs(*back - x) <= shown + m * 1e-15);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::vector<QChar> &seps = DecimalSeparators();
    const QChar sep = seps[in.ConsumeIntegral<uint8_t>() % seps.size()];
    const bool fahrenheit = in.ConsumeBool();
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    // The line's first bytes double as an arbitrary number to show.
    double x = 0;
    std::memcpy(&x, bytes.data(), std::min(sizeof x, bytes.size()));
    // Lines reach the parsers one byte, one character; locale texts may hold more.
    CheckLine(QString::fromLatin1(bytes.data(), qsizetype(bytes.size())), sep, fahrenheit);
    CheckLine(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())), sep, fahrenheit);
    CheckRoundTrip(x, sep);
    if (const std::optional<double> v =
            ParseLocaleFloat(QString::fromLatin1(bytes.data(), qsizetype(bytes.size())), sep))
        CheckRoundTrip(*v, sep);
    return 0;
}
