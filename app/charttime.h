// The chart's time axis as plain decisions: which stretch of time is shown
// while following the newest readings, where the ticks fall and how they
// are labelled.
#pragma once

#include <QLocale>
#include <QString>
#include <QTimeZone>
#include <QtGlobal>

#include <vector>

namespace q274 {

struct TimeWindow {
    qint64 From = 0;
    qint64 To = 0;
};

// The window shown while following: the last span ms up to last, or, while
// the readings since first do not fill that span yet, just the readings
// (at least minSpan wide), so a new run is not a sliver at the right edge.
// span 0 means everything from first.
TimeWindow FollowWindow(qint64 first, qint64 last, qint64 span, qint64 minSpan);

// The tick step for a window of span ms: the smallest round step (1, 2, 5,
// 10, 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2, 3, 6, 12 h; 1, 2, 7 days)
// that gives at most maxTicks ticks.
qint64 TickStep(qint64 span, int maxTicks);

// The ticks of step within from..to, on round local times in zone: whole
// multiples of the step counted from local midnight (from the local
// midnight of each day for steps below a day, from a fixed Monday for the
// week), so 5 min ticks fall on :00, :05, ... and day ticks on midnight.
std::vector<qint64> TickTimes(qint64 from, qint64 to, qint64 step, const QTimeZone &zone);

// The label of a tick: the locale's time format (with seconds when the step
// is below a minute); the short date for day steps and at midnight.
QString TickLabel(qint64 time, qint64 step, const QLocale &locale, const QTimeZone &zone);

} // namespace q274
