#include "textrules.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace q274 {

QString TrimLine(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

double CelsiusToFahrenheit(double celsius) { return double((long double)celsius * 1.8L + 32.0L); }

std::optional<double> ParseLocaleFloat(const QString &text, QChar decimalSep)
{
    const QString t = TrimLine(text);
    // Check the shape first, then hand a plain "." form to from_chars, which
    // ignores the process locale.
    std::string plain;
    plain.reserve(size_t(t.size()));
    qsizetype i = 0;
    const qsizetype n = t.size();
    auto isDigit = [&](qsizetype k) { return k < n && t.at(k) >= QChar('0') && t.at(k) <= QChar('9'); };
    if (i < n && (t.at(i) == QChar('+') || t.at(i) == QChar('-'))) {
        if (t.at(i) == QChar('-'))
            plain += '-';
        ++i;
    }
    int digits = 0;
    while (isDigit(i)) {
        plain += char(t.at(i++).unicode());
        ++digits;
    }
    // Only a "," locale turns the board's "." into its own separator; every
    // other locale keeps it in Celsius read-outs.
    const bool boardPointShown = decimalSep != QChar(',');
    if (i < n && (t.at(i) == decimalSep || (boardPointShown && t.at(i) == QChar('.')))) {
        plain += '.';
        ++i;
        while (isDigit(i)) {
            plain += char(t.at(i++).unicode());
            ++digits;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (t.at(i) == QChar('e') || t.at(i) == QChar('E'))) {
        plain += 'e';
        ++i;
        if (i < n && (t.at(i) == QChar('+') || t.at(i) == QChar('-')))
            plain += char(t.at(i++).unicode());
        if (!isDigit(i))
            return std::nullopt;
        while (isDigit(i))
            plain += char(t.at(i++).unicode());
    }
    if (i != n)
        return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString FormatTwoDecimals(double value, QChar decimalSep)
{
    // At most five significant digits and at most two decimals, rounded
    // once; then padded to exactly two decimals.
    const double magnitude = std::fabs(value);
    int intDigits = 0;
    // Infinity has no digit count; it keeps Qt's "inf" text.
    if (magnitude >= 1.0 && std::isfinite(magnitude))
        intDigits = int(std::floor(std::log10(magnitude))) + 1;
    const int decimals = intDigits > 5 ? 2 : std::clamp(5 - intDigits, 0, 2);
    QString text = QString::number(value, 'f', decimals);
    if (decimals == 0)
        text += QLatin1String(".00");
    else if (decimals == 1)
        text += QLatin1Char('0');
    // A reading that rounds to zero shows no sign.
    if (text.startsWith(QLatin1Char('-')) && text.count(QLatin1Char('0')) == text.size() - 2)
        text.remove(0, 1);
    text.replace(QChar('.'), decimalSep);
    return text;
}

} // namespace q274
