#include "historyformat.h"

#include "timestamp.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>
#include <map>

namespace q274 {

namespace {

enum Field { kYear, kMonth, kDay, kHour, kMinute, kSecond, kMilli, kAmPm, kFields };

// Marks that only steer the direction of text (Arabic and Persian dates
// carry them around each separator) are not part of what is compared.
bool IsFormatMark(QChar c) { return c.category() == QChar::Other_Format; }

qsizetype SkipMarks(QStringView s, qsizetype at)
{
    while (at < s.size() && IsFormatMark(s[at]))
        ++at;
    return at;
}

int MaxDigits(int field) { return field == kYear ? 5 : field == kMilli ? 3 : 2; }

} // namespace

std::vector<StampFormat::Token> StampFormat::Compile(const QString &pattern)
{
    std::vector<Token> tokens;
    auto literal = [&tokens](QChar c) {
        if (IsFormatMark(c))
            return;
        if (c.isSpace()) {
            if (tokens.empty() || tokens.back().What != Kind::Space)
                tokens.push_back({Kind::Space, {}});
            return;
        }
        if (tokens.empty() || tokens.back().What != Kind::Literal)
            tokens.push_back({Kind::Literal, {}});
        tokens.back().Text += c;
    };
    for (qsizetype i = 0; i < pattern.size();) {
        const QChar c = pattern.at(i);
        if (c == u'\'') {
            // Quoted text; '' stands for one quote.
            qsizetype j = i + 1;
            if (j < pattern.size() && pattern.at(j) == u'\'') {
                literal(c);
                i = j + 1;
                continue;
            }
            for (; j < pattern.size(); ++j) {
                if (pattern.at(j) == u'\'') {
                    if (j + 1 < pattern.size() && pattern.at(j + 1) == u'\'') {
                        literal(c);
                        ++j;
                        continue;
                    }
                    break;
                }
                literal(pattern.at(j));
            }
            i = j + 1;
            continue;
        }
        qsizetype run = 1;
        while (i + run < pattern.size() && pattern.at(i + run) == c)
            ++run;
        std::optional<Kind> kind;
        switch (c.unicode()) {
        case u'd': kind = run >= 3 ? Kind::DayName : Kind::Day; break;
        case u'M': kind = run >= 3 ? Kind::MonthName : Kind::Month; break;
        case u'y': kind = Kind::Year; break;
        case u'H': kind = Kind::Hour24; break;
        case u'h': kind = Kind::Hour12; break;
        case u'm': kind = Kind::Minute; break;
        case u's': kind = Kind::Second; break;
        case u'z': kind = Kind::Milli; break;
        case u'A':
        case u'a':
            kind = Kind::AmPm;
            // "AP" and "ap" are one field.
            if (run == 1 && i + 1 < pattern.size() && (pattern.at(i + 1) == u'P' || pattern.at(i + 1) == u'p'))
                run = 2;
            break;
        default: break;
        }
        if (kind) {
            tokens.push_back({*kind, {}});
        } else {
            for (qsizetype k = 0; k < run; ++k)
                literal(c);
        }
        i += run;
    }
    return tokens;
}

StampFormat::StampFormat(const QLocale &locale) : FLocale(locale)
{
    const QString date = ShortDatePattern(locale), time = LongTimePattern(locale);
    FDate = Compile(date);
    FTime = Compile(time);
    FAmPm = {locale.amText(), locale.pmText(), QStringLiteral("AM"), QStringLiteral("PM")};
    FKey = date + QChar(0x1f) + time;
    if (time.contains(u'a') || time.contains(u'A'))
        FKey += QChar(0x1f) + FAmPm[0] + QChar(0x1f) + FAmPm[1];
    if (date.contains(QStringLiteral("MMM")) || date.contains(QStringLiteral("ddd"))) {
        for (int m = 1; m <= 12; ++m)
            for (const QLocale::FormatType f : {QLocale::LongFormat, QLocale::ShortFormat})
                FMonths << locale.monthName(m, f) << locale.standaloneMonthName(m, f);
        for (int d = 1; d <= 7; ++d)
            for (const QLocale::FormatType f : {QLocale::LongFormat, QLocale::ShortFormat})
                FDays << locale.dayName(d, f) << locale.standaloneDayName(d, f);
        FKey += QChar(0x1f) + FMonths.join(u',') + FDays.join(u',');
    }
}

qsizetype StampFormat::MatchWord(QStringView s, qsizetype at, const QStringList &words, int &index)
{
    // The longest word wins: "Juni" before "Jun".
    qsizetype best = 0;
    for (qsizetype w = 0; w < words.size(); ++w) {
        const QString &word = words[w];
        if (word.size() > best && !word.isEmpty()
            && s.mid(at).startsWith(word, Qt::CaseInsensitive)) {
            best = word.size();
            index = int(w);
        }
    }
    return best;
}

bool StampFormat::Match(const std::vector<Token> &tokens, QStringView s, qsizetype &at, int fields[]) const
{
    for (const Token &t : tokens) {
        at = SkipMarks(s, at);
        switch (t.What) {
        case Kind::Space: {
            const qsizetype from = at;
            while (at < s.size() && (s[at].isSpace() || IsFormatMark(s[at])))
                ++at;
            if (at == from)
                return false;
            break;
        }
        case Kind::Literal:
            for (const QChar c : t.Text) {
                at = SkipMarks(s, at);
                if (at >= s.size() || s[at] != c)
                    return false;
                ++at;
            }
            break;
        case Kind::MonthName:
        case Kind::DayName: {
            int index = -1;
            const qsizetype n = MatchWord(s, at, t.What == Kind::MonthName ? FMonths : FDays, index);
            if (n == 0)
                return false;
            at += n;
            if (t.What == Kind::MonthName)
                fields[kMonth] = index / 4 + 1;
            break;
        }
        case Kind::AmPm: {
            int index = -1;
            const qsizetype n = MatchWord(s, at, FAmPm, index);
            if (n == 0)
                return false;
            at += n;
            fields[kAmPm] = index % 2;
            break;
        }
        default: {
            const int field = t.What == Kind::Day      ? kDay
                              : t.What == Kind::Month  ? kMonth
                              : t.What == Kind::Year   ? kYear
                              : t.What == Kind::Minute ? kMinute
                              : t.What == Kind::Second ? kSecond
                              : t.What == Kind::Milli  ? kMilli
                                                       : kHour;
            int value = 0, digits = 0;
            while (at < s.size() && digits < MaxDigits(field)) {
                const int d = s[at].digitValue();
                if (d < 0)
                    break;
                value = value * 10 + d;
                ++digits;
                ++at;
            }
            if (digits == 0)
                return false;
            fields[field] = value;
        }
        }
    }
    return true;
}

std::optional<LocalStamp> StampFormat::Parse(QStringView stamp) const
{
    qsizetype end = stamp.size();
    while (end > 0 && (stamp[end - 1].isSpace() || IsFormatMark(stamp[end - 1])))
        --end;
    int ms = 0;
    // "  (047)": the milliseconds of the second shown.
    if (end >= 5 && stamp[end - 1] == u')' && stamp[end - 5] == u'(') {
        int value = 0;
        for (qsizetype i = end - 4; i < end - 1; ++i) {
            const int d = stamp[i].digitValue();
            if (d < 0)
                return std::nullopt;
            value = value * 10 + d;
        }
        ms = value;
        end -= 5;
        while (end > 0 && stamp[end - 1].isSpace())
            --end;
    }
    const QStringView s = stamp.first(end);
    int fields[kFields] = {0, 0, 0, 0, 0, 0, 0, -1};
    qsizetype at = 0;
    if (!Match(FDate, s, at, fields))
        return std::nullopt;
    // The first second of a day shows the date alone; else a blank and the time.
    at = SkipMarks(s, at);
    if (at < s.size()) {
        if (!s[at].isSpace())
            return std::nullopt;
        while (at < s.size() && (s[at].isSpace() || IsFormatMark(s[at])))
            ++at;
        if (!Match(FTime, s, at, fields))
            return std::nullopt;
    }
    if (SkipMarks(s, at) != s.size())
        return std::nullopt;
    int hour = fields[kHour];
    if (fields[kAmPm] >= 0) {
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (fields[kAmPm] == 1 ? 12 : 0);
    }
    if (hour > 23 || fields[kMinute] > 59 || fields[kSecond] > 59)
        return std::nullopt;
    const QDate date(fields[kYear], fields[kMonth], fields[kDay]);
    if (!date.isValid())
        return std::nullopt;
    return LocalStamp{date, ((hour * 60 + fields[kMinute]) * 60 + fields[kSecond]) * 1000 + ms};
}

std::vector<StampChoice> DetectStampLocales(const QStringList &stamps, const QString &decimalHint,
                                            const QLocale &userLocale)
{
    std::vector<StampChoice> choices;
    if (stamps.isEmpty())
        return choices;
    QList<QLocale> locales = QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
    locales.prepend(QLocale::c());
    locales.prepend(userLocale);

    // One group per way of reading the stamps; within it, the locales in the
    // order of preference.
    struct Group {
        QString Reading;
        std::vector<QLocale> Locales;
    };
    std::vector<Group> groups;
    QHash<QString, bool> tried;
    for (const QLocale &locale : locales) {
        const StampFormat format(locale);
        if (tried.contains(format.Key()))
            continue;
        tried.insert(format.Key(), true);
        if (!format.Parse(stamps.front()))
            continue;
        QString reading;
        int failed = 0;
        for (const QString &s : stamps) {
            const std::optional<LocalStamp> st = s.isEmpty() ? std::nullopt : format.Parse(s);
            if (!st) {
                ++failed;
                continue;
            }
            reading += st->Date.toString(Qt::ISODate) + QString::number(st->MsOfDay) + u';';
        }
        // A few broken lines do not rule a locale out.
        if (failed * 10 > stamps.size())
            continue;
        auto g = std::find_if(groups.begin(), groups.end(), [&](const Group &x) { return x.Reading == reading; });
        if (g == groups.end()) {
            groups.push_back({reading, {}});
            g = groups.end() - 1;
        }
        g->Locales.push_back(locale);
    }
    // Locales that share one reading only differ in what the stamps do not
    // show; pick the one with the data lines' separator, the user's first.
    auto rank = [&](const QLocale &l) {
        int r = 0;
        if (!decimalHint.isEmpty() && l.decimalPoint() != decimalHint)
            r += 2;
        if (l != userLocale)
            r += 1;
        return r;
    };
    std::vector<std::pair<int, StampChoice>> ranked;
    for (Group &g : groups) {
        std::stable_sort(g.Locales.begin(), g.Locales.end(),
                         [&](const QLocale &a, const QLocale &b) { return rank(a) < rank(b); });
        const StampFormat best(g.Locales.front());
        const std::optional<LocalStamp> first = best.Parse(stamps.front());
        const QDateTime at(first->Date, QTime::fromMSecsSinceStartOfDay(first->MsOfDay));
        ranked.push_back({rank(g.Locales.front()), {g.Locales.front(), at.toString(Qt::ISODate)}});
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    // A reading whose best locale lacks the data lines' separator is kept
    // only when no reading has it.
    const int bestRank = ranked.empty() ? 0 : ranked.front().first;
    for (auto &[r, choice] : ranked)
        if (r / 2 == bestRank / 2)
            choices.push_back(std::move(choice));
    return choices;
}

} // namespace q274
