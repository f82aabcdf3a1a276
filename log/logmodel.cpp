#include "logmodel.h"

#include "logfiles.h"
#include "timestamp.h"

#include <QStringEncoder>

#include <algorithm>
#include <thread>

namespace q274 {

qsizetype TLogModel::EndOf(qsizetype i, qsizetype start, MarkIt next) const
{
    // A line with a break of its own has the next one marked.
    return next != FMarks.end() && next->Line == i + 1 ? next->At - 2 : FText.indexOf("\r\n", start);
}

QString TLogModel::Line(qsizetype i) const
{
    auto next =
        std::upper_bound(FMarks.begin(), FMarks.end(), i, [](qsizetype line, const Mark &k) { return line < k.Line; });
    const MarkIt mark = next - 1; // line 0 is always marked
    qsizetype start = mark->At;
    for (qsizetype k = mark->Line; k < i; ++k)
        start = FText.indexOf("\r\n", start) + 2;
    return QString::fromUtf8(FText.constData() + start, EndOf(i, start, next) - start);
}

QStringList TLogModel::Lines() const
{
    QStringList lines;
    lines.reserve(Count());
    auto next = FMarks.cbegin();
    for (qsizetype i = 0, at = 0; i < Count(); ++i) {
        while (next != FMarks.end() && next->Line <= i)
            ++next;
        const qsizetype end = EndOf(i, at, next);
        lines << QString::fromUtf8(FText.constData() + at, end - at);
        at = end + 2;
    }
    return lines;
}

QString TLogModel::Text() const { return QString::fromUtf8(FText); }

std::optional<QByteArray> TLogModel::FileBytes() const
{
    static const bool systemIsUtf8 = QStringEncoder(QStringConverter::System).encode(QStringView(u"\u00e9\u20ac"))
                                     == QByteArray("\xc3\xa9\xe2\x82\xac");
    // A banner line with a break of its own breaks in the file as in a view.
    if (!systemIsUtf8 || FBannerBreaks)
        return std::nullopt;
    return FText;
}

bool TLogModel::LogMessage(const QString &text)
{
    const LogDecision d = LogMessageDecision(Enabled, text);
    if (!d.Write)
        return false;
    if (!RepeatLimited.isEmpty() && text == RepeatLimited) {
        const QDateTime now = Now();
        if (FRepeatWritten.isValid() && FRepeatWritten.msecsTo(now) < 1000 && FRepeatWritten <= now) {
            ++FRepeats;
            return false;
        }
        FRepeatWritten = now;
        if (FRepeats > 0) {
            const int n = FRepeats + 1;
            FRepeats = 0;
            WriteMessage(text + QStringLiteral(" (repeated %1 times)").arg(n), d.WithMsAllowed);
            return true;
        }
    }
    WriteMessage(text, d.WithMsAllowed);
    return true;
}

int TLogModel::FlushRepeats()
{
    if (FRepeats == 0)
        return 0;
    const qint64 since = FRepeatWritten.msecsTo(Now());
    if (since >= 0 && since < 1000)
        return int(1000 - since);
    const int n = FRepeats;
    FRepeats = 0;
    FRepeatWritten = Now();
    if (LogMessageDecision(Enabled, RepeatLimited).Write)
        WriteMessage(RepeatLimited + QStringLiteral(" (repeated %1 times)").arg(n), true);
    return 0;
}

void TLogModel::WriteMessage(const QString &text, bool withMs)
{
    AppendLine(LogLine(FormatTimestamp(Now(), Locale, ShowMilliseconds && withMs), text));
}

void TLogModel::Store(const QString &line)
{
    const bool breaks = line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r'));
    if (FCount % kMarkEvery == 0 || breaks || FAfterBreak)
        FMarks.push_back({FCount, FText.size()});
    FAfterBreak = breaks;
    FText += line.toUtf8();
    FText += "\r\n";
    ++FCount;
}

void TLogModel::AppendLine(const QString &line)
{
    // A text with line breaks of its own becomes several lines, as the view
    // shows it.
    if (!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r'))) {
        Store(line);
        if (OnAppend)
            OnAppend(line);
        return;
    }
    QString l = line;
    l.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    l.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString &part : l.split(QLatin1Char('\n'))) {
        Store(part);
        if (OnAppend)
            OnAppend(part);
    }
}

void TLogModel::Restart(const QStringList &banner, const QString &indent)
{
    // A day of lines is given back on a thread of its own: returning its
    // pages takes milliseconds.
    constexpr qsizetype kLong = 4 << 20;
    if (FText.size() > kLong)
        std::thread([text = std::move(FText)]() mutable { text = QByteArray(); }).detach();
    FText = QByteArray();
    FMarks = std::vector<Mark>();
    FCount = 0;
    FAfterBreak = false;
    FBannerBreaks = false;
    for (const QString &line : banner) {
        FBannerBreaks = FBannerBreaks || line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r'));
        Store(indent + line);
    }
    Store(QString());
    Store(QString());
    if (OnRestart)
        OnRestart();
}

bool TLogModel::AutosaveDue(const QDateTime &now) const
{
    return q274::AutosaveDue(now, LastAutosaveTime, AutosaveInterval);
}

void TLogModel::AutosaveDone(const QDateTime &now)
{
    LastAutosaveTime = now;
    ++AutosaveCount;
}

} // namespace q274
