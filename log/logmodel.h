// The log view's content apart from any widget: its lines, the filter that
// drops messages while logging is off, the timestamps, the restart with the
// banner, and the autosave bookkeeping. A view follows it through the two
// notifications.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace q274 {

class TLogModel {
public:
    bool Enabled = true;           // "Enable Logging"
    bool ShowMilliseconds = false; // timestamps carry "(047)"
    QLocale Locale;
    // The clock of the timestamps; empty: the system clock.
    std::function<QDateTime()> Clock;

    qsizetype Count() const { return FCount; }
    QString Line(qsizetype i) const;
    // Every line, made on demand.
    QStringList Lines() const;
    // The lines with CR LF after every one, as a log file holds them.
    QString Text() const;
    // The bytes of the log file, LogFileBytes(Text()), without building the
    // text: there when the system's 8-bit encoding is UTF-8, in which the
    // lines are kept.
    std::optional<QByteArray> FileBytes() const;

    // A message (or data) line with its timestamp; while logging is off only
    // a "Logging disabled" text gets through, without milliseconds. Returns
    // whether a line was written.
    bool LogMessage(const QString &text);
    // A message that can come in floods (a babbling line): written once, then
    // at most once a second with " (repeated N times)" counting the ones in
    // between. Empty: none.
    QString RepeatLimited;
    // The repeats held back since the last written one.
    int RepeatsPending() const { return FRepeats; }
    // Writes the count of held-back repeats once a second has passed since
    // the last one was written, so a flood that stops is still counted and
    // two lines never come within a second. Returns the milliseconds still
    // to wait before that (0: written, or nothing held back); the owner calls
    // again then.
    int FlushRepeats();

    // One line as it stands, whatever the logging state.
    void AppendLine(const QString &line);
    // Starts over: each banner line after the indent, then two empty lines.
    void Restart(const QStringList &banner, const QString &indent);

    // Every line appended, and every restart, for the view.
    std::function<void(const QString &line)> OnAppend;
    std::function<void()> OnRestart;

    // Autosave: due once the interval (in days) has passed since the last
    // one or since the connection opened.
    QDateTime LastAutosaveTime;
    double AutosaveInterval = 1.0;
    int AutosaveCount = 0;
    bool AutosaveDue(const QDateTime &now) const;
    // Counted and re-armed whether or not the save worked, so a broken folder
    // is tried again after the next interval, not at every data line.
    void AutosaveDone(const QDateTime &now);

private:
    QDateTime Now() const { return Clock ? Clock() : QDateTime::currentDateTime(); }
    void WriteMessage(const QString &text, bool withMs);
    void Store(const QString &line);
    // A day of lines: kept as one UTF-8 text with CR LF after every line
    // (Text() is then one conversion), not as a string per line, which would
    // cost more than the text itself. Where a line starts is marked for every
    // kMarkEvery-th line only (a mark for every line cost a quarter as much
    // as the text) and around a banner line holding a break of its own; the
    // lines in between are found by their CR LF.
    static constexpr qsizetype kMarkEvery = 64;
    struct Mark {
        qsizetype Line;
        qsizetype At;
    };
    using MarkIt = std::vector<Mark>::const_iterator;
    // Where line i, starting at start, ends; next: the first mark after it.
    qsizetype EndOf(qsizetype i, qsizetype start, MarkIt next) const;
    QByteArray FText;
    std::vector<Mark> FMarks;
    qsizetype FCount = 0;
    bool FAfterBreak = false;   // the last line held a break
    bool FBannerBreaks = false; // a banner line holds a line break
    QDateTime FRepeatWritten;   // when RepeatLimited was last written
    int FRepeats = 0;
};

} // namespace q274
