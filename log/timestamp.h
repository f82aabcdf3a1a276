// Timestamps and the line rules of the log view.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include "rstrings.h" // MessageIndent

namespace q274 {

// The text whose presence lets a message through while logging is off.
inline const QString kLoggingDisabledText = QStringLiteral("Logging disabled");

// The locale's short date pattern with a four-digit year ("M/d/yyyy").
QString ShortDatePattern(const QLocale &locale);
// The locale's long time pattern without any time-zone part ("h:mm:ss AP").
QString LongTimePattern(const QLocale &locale);

// Short date, one blank, long time; the date alone in the first second after
// midnight. withMs appends two blanks and the milliseconds as "(047)".
QString FormatTimestamp(const QDateTime &local, const QLocale &locale, bool withMs, int ms);
// Same, with the milliseconds taken from local itself, so they always belong
// to the second shown.
QString FormatTimestamp(const QDateTime &local, const QLocale &locale, bool withMs);

// The separator of the locale's short date format ("/", ".", "-").
QString DateSeparator(const QLocale &locale);
// The locale's decimal separator ("." or ",").
QString DecimalSeparator(const QLocale &locale);
// The user's regional settings as the environment gives them (LC_ALL,
// LC_TIME, LANG).
QLocale UserLocale();

// A log line as it goes into the view (without the line break).
inline QString LogLine(const QString &timestamp, const QString &text) { return timestamp + text; }

struct LogDecision {
    bool Write = false;         // the line goes into the view
    bool WithMsAllowed = false; // the timestamp may carry milliseconds
};

// While logging is off only texts containing "Logging disabled" get through,
// and never with milliseconds.
LogDecision LogMessageDecision(bool loggingEnabled, const QString &text);

} // namespace q274
