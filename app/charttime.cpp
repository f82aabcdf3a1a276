#include "charttime.h"

#include "timestamp.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace q274 {

namespace {
constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
constexpr std::array<qint64, 20> kSteps = {
    kSecond,     2 * kSecond,  5 * kSecond,  10 * kSecond, 15 * kSecond, 30 * kSecond, kMinute,
    2 * kMinute, 5 * kMinute,  10 * kMinute, 15 * kMinute, 30 * kMinute, kHour,        2 * kHour,
    3 * kHour,   6 * kHour,    12 * kHour,   kDay,         2 * kDay,     7 * kDay};
} // namespace

TimeWindow FollowWindow(qint64 first, qint64 last, qint64 span, qint64 minSpan)
{
    first = std::min(first, last);
    TimeWindow w{span > 0 ? std::max(first, last - span) : first, last};
    if (w.To - w.From < minSpan)
        w.From = w.To - minSpan;
    return w;
}

qint64 TickStep(qint64 span, int maxTicks)
{
    maxTicks = std::max(maxTicks, 1);
    for (const qint64 step : kSteps)
        if (span / step < maxTicks)
            return step;
    // Beyond the list: whole weeks.
    const qint64 weeks = span / (7 * kDay) / maxTicks + 1;
    return weeks * 7 * kDay;
}

std::vector<qint64> TickTimes(qint64 from, qint64 to, qint64 step, const QTimeZone &zone)
{
    std::vector<qint64> ticks;
    if (to < from || step <= 0)
        return ticks;
    const QDateTime a = QDateTime::fromMSecsSinceEpoch(from, zone);
    const QDateTime b = QDateTime::fromMSecsSinceEpoch(to, zone);
    const QDate firstDay = a.date(), lastDay = b.date();
    for (QDate day = firstDay; day <= lastDay; day = day.addDays(1)) {
        if (step >= kDay) {
            // Day ticks count whole days from Julian day 0, a Monday.
            if (day.toJulianDay() % (step / kDay) == 0) {
                const qint64 t = QDateTime(day, QTime(0, 0), zone).toMSecsSinceEpoch();
                if (t >= from && t <= to)
                    ticks.push_back(t);
            }
            continue;
        }
        // Local wall-clock times of the day, so the ticks stay on the round
        // minutes across a change of summer time.
        const qint64 startOfDay = day == firstDay ? a.time().msecsSinceStartOfDay() : 0;
        const qint64 endOfDay = day == lastDay ? b.time().msecsSinceStartOfDay() : kDay - 1;
        for (qint64 ms = (startOfDay + step - 1) / step * step; ms <= endOfDay; ms += step) {
            const qint64 t = QDateTime(day, QTime::fromMSecsSinceStartOfDay(int(ms)), zone).toMSecsSinceEpoch();
            if (t >= from && t <= to)
                ticks.push_back(t);
        }
    }
    std::sort(ticks.begin(), ticks.end());
    ticks.erase(std::unique(ticks.begin(), ticks.end()), ticks.end());
    return ticks;
}

QString TickLabel(qint64 time, qint64 step, const QLocale &locale, const QTimeZone &zone)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(time, zone);
    const QString date = locale.toString(local.date(), locale.dateFormat(QLocale::ShortFormat));
    if (step >= kDay || local.time().msecsSinceStartOfDay() == 0)
        return date;
    // The long time pattern carries the seconds; the short one is the
    // locale's usual clock ("14:05", "2:05 PM").
    const QString pattern = step < kMinute ? LongTimePattern(locale) : locale.timeFormat(QLocale::ShortFormat);
    return locale.toString(local.time(), pattern);
}

} // namespace q274
