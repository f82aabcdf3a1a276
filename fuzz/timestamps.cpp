// Timestamps and log file names in any locale Qt knows, at any date and
// time, valid or not: no crash, and the shapes the log and the save rely on.
#include "fuzzcheck.h"
#include "logfiles.h"
#include "timestamp.h"

#include <QDateTime>
#include <QTimeZone>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

using namespace q274;

namespace {

const QList<QLocale> &Locales()
{
    static const QList<QLocale> all = [] {
        QList<QLocale> l = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        l.prepend(QLocale::c());
        return l;
    }();
    return all;
}

QLocale PickLocale(FuzzedDataProvider &in)
{
    if (in.ConsumeBool()) {
        const QList<QLocale> &all = Locales();
        return all[in.ConsumeIntegralInRange<qsizetype>(0, all.size() - 1)];
    }
    // Any language and territory pair, also ones Qt has no data for.
    const auto language = QLocale::Language(in.ConsumeIntegralInRange<int>(0, QLocale::LastLanguage));
    const auto territory = QLocale::Territory(in.ConsumeIntegralInRange<int>(0, QLocale::LastTerritory));
    return QLocale(language, territory);
}

QDate PickDate(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: // around now, the usual case
        return QDate(in.ConsumeIntegralInRange<int>(1970, 2100), in.ConsumeIntegralInRange<int>(1, 12),
                     in.ConsumeIntegralInRange<int>(1, 31));
    case 1: // any fields, invalid ones included
        return QDate(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>());
    default: // any day number, far outside the calendar included
        return QDate::fromJulianDay(in.ConsumeIntegral<qint64>());
    }
}

QTime PickTime(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return QTime(in.ConsumeIntegralInRange<int>(0, 23), in.ConsumeIntegralInRange<int>(0, 59),
                     in.ConsumeIntegralInRange<int>(0, 59), in.ConsumeIntegralInRange<int>(0, 999));
    return QTime(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>(),
                 in.ConsumeIntegral<int>());
}

bool HasLineBreak(const QString &s) { return s.contains(QChar('\r')) || s.contains(QChar('\n')); }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A zone with summer time, the same on every machine.
    setenv("TZ", "Europe/Berlin", 1);
    Locales();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QLocale locale = PickLocale(in);
    const QDate date = PickDate(in);
    const QTime time = PickTime(in);
    const int ms = in.ConsumeIntegral<int>();
    const bool withMs = in.ConsumeBool();
    const QDateTime local(date, time);

    const QString stamp = FormatTimestamp(local, locale, withMs, ms);
    FUZZ_CHECK(!HasLineBreak(stamp));
    if (withMs) {
        const int shown = ms < 0 ? 0 : ms > 999 ? 999 : ms;
        FUZZ_CHECK(stamp.endsWith(QStringLiteral("  (%1)").arg(shown, 3, 10, QLatin1Char('0'))));
    }
    FUZZ_CHECK(!HasLineBreak(FormatTimestamp(local, locale, withMs)));

    FUZZ_CHECK(!DateSeparator(locale).isEmpty());
    FUZZ_CHECK(!DecimalSeparator(locale).isEmpty());

    // The name is one file name in the log folder.
    const QString name = ManualLogName(date, time, locale);
    FUZZ_CHECK(name.startsWith(QLatin1String("Q274TC_")));
    FUZZ_CHECK(!name.contains(QChar('/')) && !name.contains(QChar(0)) && !HasLineBreak(name));
    const QString folder = QStringLiteral("/tmp/Q274");
    FUZZ_CHECK(AutosaveFileName(folder, date, time, locale) == folder + u'/' + name + QLatin1String(".log"));
    if (time.isValid())
        FUZZ_CHECK(LogFileTimePart(time).size() == 8);
    return 0;
}
