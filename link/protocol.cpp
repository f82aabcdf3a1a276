#include "protocol.h"

#include <cmath>

namespace q274 {

ReplyAssembler::Result ReplyAssembler::Feed(const std::string &bytes)
{
    FBuffer += QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    Result result;
    if (FBuffer.contains(QChar('\r')) || FBuffer.contains(QChar('\n'))) {
        QString line = FBuffer;
        FBuffer.clear();
        line.remove(QChar('\r'));
        line.remove(QChar('\n'));
        result.Status = LineStatus::Line;
        result.Line = TrimLine(line);
        FOverflowed = false;
    } else if (FBuffer.size() > kMaxLength) {
        // Without a line end the buffer would grow for as long as noise
        // arrives; drop it and let the next line start clean. One report
        // for one overlong line, not one per piece of it.
        FBuffer.clear();
        if (!FOverflowed)
            result.Status = LineStatus::Overflow;
        FOverflowed = true;
    }
    return result;
}

bool IsIdentificationReply(const QString &line) { return line.contains(QLatin1String("?Temperature")); }

QString IdentificationText(const QString &line)
{
    const qsizetype at = line.indexOf(QLatin1String("?Temperature"));
    if (at < 0)
        return line;
    return line.mid(at + 1);
}

bool IsRelayStatusReply(const QString &line) { return line.contains(QLatin1String("S0")); }

QString RelayStatusText(const QString &line) { return line.mid(2); }

bool IsTemperatureReply(const QString &line)
{
    for (const char *tag : {"T1", "T2", "T3", "T4", "T0"})
        if (line.contains(QLatin1String(tag)))
            return true;
    return false;
}

bool IsAllChannelReply(const QString &line) { return line.contains(QLatin1String("T0")); }

std::optional<ChannelReply> ParseChannelReply(const QString &line)
{
    if (line.size() < 2)
        return std::nullopt;
    const char16_t digit = line.at(1).unicode();
    if (digit < u'1' || digit > u'4')
        return std::nullopt;
    return ChannelReply{int(digit - u'0'), line.mid(2)};
}

std::array<QString, 4> SplitAllChannels(const QString &line)
{
    QString rest = line.mid(2);
    rest.replace(QChar('?'), QChar('-'));
    std::array<QString, 4> fields;
    for (int i = 0; i < 3; ++i) {
        const qsizetype comma = rest.indexOf(QChar(','));
        if (comma < 0)
            continue; // empty field, nothing consumed
        fields[i] = rest.left(comma);
        rest.remove(0, comma + 1);
    }
    fields[3] = rest;
    return fields;
}

std::optional<QString> ReadoutText(const QString &value, bool useFahrenheit, QChar decimalSep, const QString &noSensor)
{
    if (value == noSensor)
        return QStringLiteral(" -");
    QString v = value;
    if (decimalSep == QChar(',')) {
        const qsizetype dot = v.indexOf(QChar('.'));
        if (dot >= 0)
            v[dot] = QChar(',');
    }
    if (!useFahrenheit)
        return QLatin1Char(' ') + v;
    const std::optional<double> celsius = ParseLocaleFloat(v, decimalSep);
    if (!celsius)
        return std::nullopt;
    // A Celsius value near the top of the double range has no Fahrenheit one.
    const double fahrenheit = CelsiusToFahrenheit(*celsius);
    if (!std::isfinite(fahrenheit))
        return std::nullopt;
    return QLatin1Char(' ') + FormatTwoDecimals(fahrenheit, decimalSep);
}

std::optional<unsigned> ParseRelayStatus(const QString &text)
{
    const QString t = TrimLine(text);
    if (t.isEmpty())
        return std::nullopt;
    unsigned value = 0;
    for (QChar c : t) {
        const char16_t u = c.unicode();
        unsigned digit;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        else
            return std::nullopt;
        // Only the four relay bits matter, so long texts cannot overflow.
        value = ((value << 4) | digit) & 0xFu;
    }
    return value;
}

} // namespace q274
