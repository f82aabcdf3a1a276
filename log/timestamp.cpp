#include "timestamp.h"

namespace q274 {
namespace {

bool IsCLocale(const QLocale &locale) { return locale.language() == QLocale::C; }

// Removes the time-zone fields ("t" runs outside quotes) and the blanks that
// separated them from the rest of the pattern.
QString WithoutZone(const QString &pattern)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && c == u't') {
            while (i + 1 < pattern.size() && pattern.at(i + 1) == u't')
                ++i;
            while (!out.isEmpty() && out.back().isSpace())
                out.chop(1);
            // Brackets that held only the zone ("H:mm:ss (t)") would show "()".
            if (out.endsWith(u'(') && i + 1 < pattern.size() && pattern.at(i + 1) == u')') {
                out.chop(1);
                ++i;
                while (!out.isEmpty() && out.back().isSpace())
                    out.chop(1);
            }
            // Blanks after the zone go too when nothing stands before it.
            if (out.isEmpty())
                while (i + 1 < pattern.size() && pattern.at(i + 1).isSpace())
                    ++i;
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

// Every run of 'y' outside quotes becomes "yyyy".
QString WithFourDigitYear(const QString &pattern)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u'y') {
            while (i + 1 < pattern.size() && pattern.at(i + 1) == u'y')
                ++i;
            out += QStringLiteral("yyyy");
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

QString ShortDatePattern(const QLocale &locale)
{
    // The C locale's own short date spells the month; use the ISO order.
    if (IsCLocale(locale))
        return QStringLiteral("yyyy-MM-dd");
    return WithFourDigitYear(locale.dateFormat(QLocale::ShortFormat));
}

QString LongTimePattern(const QLocale &locale)
{
    if (IsCLocale(locale))
        return QStringLiteral("HH:mm:ss");
    return WithoutZone(locale.timeFormat(QLocale::LongFormat));
}

QString FormatTimestamp(const QDateTime &local, const QLocale &locale, bool withMs, int ms)
{
    const QTime time = local.time();
    QString text = locale.toString(local.date(), ShortDatePattern(locale));
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        text += u' ';
        text += locale.toString(time, LongTimePattern(locale));
    }
    if (withMs) {
        const int clamped = ms < 0 ? 0 : (ms > 999 ? 999 : ms);
        text += QStringLiteral("  (%1)").arg(clamped, 3, 10, QLatin1Char('0'));
    }
    return text;
}

QString FormatTimestamp(const QDateTime &local, const QLocale &locale, bool withMs)
{
    return FormatTimestamp(local, locale, withMs, local.time().msec());
}

QString DateSeparator(const QLocale &locale)
{
    const QString pattern = ShortDatePattern(locale);
    bool quoted = false;
    for (const QChar c : pattern) {
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        // Arabic patterns put a right-to-left mark before each "/".
        if (quoted || c.isLetter() || c.isSpace() || c.category() == QChar::Other_Format)
            continue;
        return QString(c);
    }
    return QStringLiteral("/");
}

QString DecimalSeparator(const QLocale &locale) { return locale.decimalPoint(); }

QLocale UserLocale() { return QLocale::system(); }

LogDecision LogMessageDecision(bool loggingEnabled, const QString &text)
{
    if (loggingEnabled)
        return {true, true};
    if (text.contains(kLoggingDisabledText, Qt::CaseSensitive))
        return {true, false};
    return {false, false};
}

} // namespace q274
