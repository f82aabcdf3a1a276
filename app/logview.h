// The log view: a read-only QPlainTextEdit that takes lines at any rate and
// writes them at the screen's pace. Lines wait until the next frame and go in
// as one edit, so a flood costs one layout and one paint per frame, not per
// line; a line after a quiet frame goes in at the next event-loop turn.
// Reading the text through this class writes the waiting lines first.
//
// A text block of the document costs about 130 bytes and, once shown, its
// layout about 400 more, whatever its length; emptying a document costs per
// block too. So kBlockLines log lines share one block, split by line
// separators: the text, its look and its scrolling stay those of one line per
// block.
#pragma once

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPoint>
#include <QTimer>

#include <functional>

namespace q274 {

class TLogView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kBlockLines = 64;

    explicit TLogView(QWidget *parent = nullptr);

    // Adds a line (without its line break) at the end of the whole text and
    // puts the caret after it, wherever the user left it.
    void AppendLine(const QString &line);
    // Writes the waiting lines now.
    void Flush();
    qsizetype PendingLines() const { return FPendingLines; }

    // Shows these lines ("a\nb\n") alone, caret at the end.
    void Restart(const QString &text);

    // The text with every line written (hides QPlainTextEdit's).
    QString toPlainText() const;
    // Also drops the waiting lines (hides QPlainTextEdit's).
    void clear();

    // Milliseconds of a monotonic clock for the frame pace; empty: the
    // system's.
    std::function<qint64()> Clock;

protected:
    // A triple click selects the line under the mouse, as it did with a
    // block a line.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    qint64 Now() const;
    qint64 FrameMs() const;
    // Adds a line and its separator to text, counting it.
    void Add(QString &text, QStringView line);

    QString FPending; // lines with their separators
    qsizetype FPendingLines = 0;
    qsizetype FLastLineStart = 0; // in FPending
    qint64 FLines = 0;            // lines in the view and waiting
    QTimer FFrame;
    qint64 FLastFlush = -1;
    QElapsedTimer FSystemClock;
    QElapsedTimer FDoubleClick;
    QPoint FDoubleClickAt;
};

} // namespace q274
