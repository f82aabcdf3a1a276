// The log view: a read-only QPlainTextEdit that takes lines at any rate and
// writes them at the screen's pace. Lines wait until the next frame and go in
// as one edit, so a flood costs one layout and one paint per frame, not per
// line; a line after a quiet frame goes in at the next event-loop turn.
// Reading the text through this class writes the waiting lines first.
//
// A text block of the document costs about 60 bytes and, once shown, its
// layout about 400 more, whatever its length. So lines well above the view
// come to share blocks, kBlockLines each, their breaks turned into line
// separators: the text, its copy and its scrolling stay those of a block a
// line. The lines near the end keep a block each, so the view following the
// end draws them exactly as before; among shared blocks a line may be drawn
// a pixel lower when the view starts in the middle of a block.
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
    // The fewest lines at the end that keep a block each.
    int TailLines = 256;

protected:
    // A triple click selects the line under the mouse, as it did with a
    // block a line.
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // A document for the view, set up as the one it shows.
    QTextDocument *NewDocument();
    // Forgets the waiting lines and the count of lines.
    void Drop();
    qint64 Now() const;
    qint64 FrameMs() const;
    // Lets the lines before the last TailLines share blocks; lines: the
    // lines the document holds.
    void ShareBlocks(qint64 lines);

    QString FPending; // lines with their separators
    qsizetype FPendingLines = 0;
    qsizetype FLastLineStart = 0; // in FPending
    qint64 FLines = 0;            // lines in the document
    qint64 FShared = 0;           // of them, the first ones sharing blocks
    QTimer FFrame;
    qint64 FLastFlush = -1;
    QElapsedTimer FSystemClock;
    QElapsedTimer FDoubleClick;
    QPoint FDoubleClickAt;
};

} // namespace q274
