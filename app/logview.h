// The log view: a read-only QPlainTextEdit that takes lines at any rate and
// writes them at the screen's pace. Lines wait until the next frame and go in
// as one edit, so a flood costs one layout and one paint per frame, not per
// line; a line after a quiet frame goes in at the next event-loop turn.
// Reading the text through this class writes the waiting lines first.
#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QTextDocument;

namespace q274 {

class TLogView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TLogView(QWidget *parent = nullptr);
    ~TLogView() override;

    // Adds a line (without its line break) at the end of the whole text and
    // puts the caret after it, wherever the user left it.
    void AppendLine(const QString &line);
    // Writes the waiting lines now.
    void Flush();
    qsizetype PendingLines() const { return FPendingLines; }

    // Shows text alone, caret at the end. A long old text is taken apart
    // over the following turns, a slice at a time, so the window stays free.
    void Restart(const QString &text);
    // Old documents still being taken apart.
    int Retiring() const { return int(FRetired.size()); }

    // The text with every line written (hides QPlainTextEdit's).
    QString toPlainText() const;
    // Also drops the waiting lines (hides QPlainTextEdit's).
    void clear();

    // Milliseconds of a monotonic clock for the frame pace; empty: the
    // system's.
    std::function<qint64()> Clock;

private:
    qint64 Now() const;
    qint64 FrameMs() const;
    void RetireSlice();

    QString FPending;
    qsizetype FPendingLines = 0;
    QTimer FFrame;
    qint64 FLastFlush = -1;
    QElapsedTimer FSystemClock;
    std::vector<std::unique_ptr<QTextDocument>> FRetired;
    QTimer FRetire;
};

} // namespace q274
