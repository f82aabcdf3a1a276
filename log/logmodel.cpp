#include "logmodel.h"

#include "logfiles.h"
#include "timestamp.h"

#include <QStringEncoder>

#include <thread>

namespace q274 {

QString TLogModel::Line(qsizetype i) const
{
    const qsizetype start = FStarts[std::size_t(i)];
    const qsizetype end = i + 1 < Count() ? FStarts[std::size_t(i + 1)] : FText.size();
    return QString::fromUtf8(FText.constData() + start, end - start - 2);
}

QStringList TLogModel::Lines() const
{
    QStringList lines;
    lines.reserve(Count());
    for (qsizetype i = 0; i < Count(); ++i)
        lines << Line(i);
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
    if (!d.write)
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
            WriteMessage(text + QStringLiteral(" (repeated %1 times)").arg(n), d.withMsAllowed);
            return true;
        }
    }
    WriteMessage(text, d.withMsAllowed);
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
    if (LogMessageDecision(Enabled, RepeatLimited).write)
        WriteMessage(RepeatLimited + QStringLiteral(" (repeated %1 times)").arg(n), true);
    return 0;
}

void TLogModel::WriteMessage(const QString &text, bool withMs)
{
    AppendLine(LogLine(FormatTimestamp(Now(), Locale, ShowMilliseconds && withMs), text));
}

void TLogModel::Store(const QString &line)
{
    FStarts.push_back(FText.size());
    FText += line.toUtf8();
    FText += "\r\n";
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
        std::thread([text = std::move(FText), starts = std::move(FStarts)]() mutable {
            text = QByteArray();
            starts = std::vector<qsizetype>();
        }).detach();
    FText = QByteArray();
    FStarts = std::vector<qsizetype>();
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
