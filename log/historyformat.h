// Reading the timestamps of a log file back: the stamp is the writing
// locale's short date and long time, perhaps with "  (047)" milliseconds, and
// the file does not say which locale wrote it. A StampFormat is one locale's
// stamp compiled into a matcher fast enough for millions of lines; the
// detection tries every locale Qt knows on stamps taken from the file.
#pragma once

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

namespace q274 {

struct LocalStamp {
    QDate Date;
    int MsOfDay = 0; // local time of day, with the milliseconds when written
};

class StampFormat {
public:
    explicit StampFormat(const QLocale &locale);
    const QLocale &Locale() const { return FLocale; }
    // What tells two formats apart: locales with the same key read every
    // stamp alike.
    const QString &Key() const { return FKey; }
    // A whole stamp (the text before the line's first TAB). Digits of any
    // script are read.
    std::optional<LocalStamp> Parse(QStringView stamp) const;

private:
    enum class Kind { Literal, Space, Day, Month, MonthName, DayName, Year, Hour24, Hour12, Minute, Second, Milli, AmPm };
    struct Token {
        Kind What;
        QString Text; // a literal's text
    };
    static std::vector<Token> Compile(const QString &pattern);
    bool Match(const std::vector<Token> &tokens, QStringView s, qsizetype &at, int fields[8]) const;
    static qsizetype MatchWord(QStringView s, qsizetype at, const QStringList &words, int &index);

    QLocale FLocale;
    QString FKey;
    std::vector<Token> FDate, FTime;
    QStringList FMonths, FDays, FAmPm; // FAmPm: am texts at even, pm at odd places
};

// One reading of the stamps: the format and how the first stamp reads in it.
struct StampChoice {
    QLocale Locale;
    QString FirstStamp; // the first stamp as ISO date and time
};

// The locales whose format reads (nearly) every stamp given, one per way of
// reading them, best first: the one whose decimal separator the data lines
// use ("," or "." as decimalHint, empty when unknown), then the user's own
// locale. More than one: the stamps can be read in more ways and the user
// is asked.
std::vector<StampChoice> DetectStampLocales(const QStringList &stamps, const QString &decimalHint,
                                            const QLocale &userLocale = QLocale());

} // namespace q274
