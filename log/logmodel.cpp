#include "logmodel.h"

#include "logfiles.h"
#include "timestamp.h"

namespace q274 {

QString TLogModel::Text() const
{
    QString text;
    qsizetype size = 0;
    for (const QString &l : FLines)
        size += l.size() + 2;
    text.reserve(size);
    for (const QString &l : FLines) {
        text += l;
        text += QStringLiteral("\r\n");
    }
    return text;
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

void TLogModel::FlushRepeats()
{
    if (FRepeats == 0)
        return;
    const int n = FRepeats;
    FRepeats = 0;
    FRepeatWritten = Now();
    if (LogMessageDecision(Enabled, RepeatLimited).write)
        WriteMessage(RepeatLimited + QStringLiteral(" (repeated %1 times)").arg(n), true);
}

void TLogModel::WriteMessage(const QString &text, bool withMs)
{
    AppendLine(LogLine(FormatTimestamp(Now(), Locale, ShowMilliseconds && withMs), text));
}

void TLogModel::AppendLine(const QString &line)
{
    // A text with line breaks of its own becomes several lines, as the view
    // shows it.
    QString l = line;
    l.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    l.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString &part : l.split(QLatin1Char('\n'))) {
        FLines << part;
        if (OnAppend)
            OnAppend(part);
    }
}

void TLogModel::Restart(const QStringList &banner, const QString &indent)
{
    FLines.clear();
    for (const QString &line : banner)
        FLines << indent + line;
    FLines << QString() << QString();
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
